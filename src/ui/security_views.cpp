// The security descriptor's list and SDDL views, kept in step with its hex.
#include "ui/security_views.h"

#include <glib/gi18n-lib.h>

#include "hive/sddl.h"
#include "ui/commit.h"
#include "value/codec.h"

namespace {

constexpr int kColumns = 5;

struct ViewsState {
  std::vector<std::array<std::string, kColumns>> rows;
  std::string sddl_error;
  bool sddl_pending = false;
  bool updating = false;  // a view being rewritten by the other: not an edit
};

}  // namespace

struct _TolSecurityViews {
  GtkBox parent_instance;
  GtkTextBuffer* hex;  // owned
  GtkWidget* summary;
  GtkWidget* grid;
  GtkWidget* sddl;
  GtkWidget* error;
  ViewsState* state;
};

G_DEFINE_FINAL_TYPE(TolSecurityViews, tol_security_views, GTK_TYPE_BOX)

namespace {

std::string hex_text(GtkTextBuffer* buffer) {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  g_autofree char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  return text;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

std::string owner_group(const TolSecurityDescriptor& sd) {
  const std::string none = _("none");
  return tol_format(_("Owner: %s · Group: %s"), sd.owner ? tol_sid_display(*sd.owner).c_str() : none.c_str(),
                    sd.group ? tol_sid_display(*sd.group).c_str() : none.c_str());
}

void show_rows(TolSecurityViews* self, const std::optional<TolSecurityDescriptor>& sd, const std::string& problem) {
  ViewsState& s = *self->state;
  s.rows.clear();
  for (GtkWidget* c = gtk_widget_get_first_child(self->grid); c != nullptr;) {
    GtkWidget* next = gtk_widget_get_next_sibling(c);
    gtk_grid_remove(GTK_GRID(self->grid), c);
    c = next;
  }
  static const char* const headers[kColumns] = {N_("Principal"), N_("Access"), N_("Rights"), N_("Applies to"),
                                                N_("Inherited")};
  for (int col = 0; col < kColumns; ++col) {
    GtkWidget* label = gtk_label_new(_(headers[col]));
    gtk_widget_add_css_class(label, "heading");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_grid_attach(GTK_GRID(self->grid), label, col, 0, 1, 1);
  }
  if (!sd) {
    gtk_label_set_text(GTK_LABEL(self->summary), problem.c_str());
    return;
  }
  std::string summary = owner_group(*sd);
  if (sd->dacl.state == TolAclState::absent || sd->dacl.state == TolAclState::null_acl)
    summary += std::string(" · ") + _("No access list: everyone has full control");
  else if (sd->dacl.aces.empty())
    summary += std::string(" · ") + _("An empty access list: nobody has access");
  gtk_label_set_text(GTK_LABEL(self->summary), summary.c_str());
  for (const TolAce& ace : sd->dacl.aces) {
    const std::array<std::string, kColumns> row = {
        tol_sid_display(ace.sid), tol_ace_type_name(ace.type), joined(tol_access_mask_names(ace.mask)),
        tol_ace_applies_to(ace.flags), (ace.flags & TOL_ACE_INHERITED) != 0 ? _("Yes") : _("No")};
    const int y = static_cast<int>(s.rows.size()) + 1;
    for (int col = 0; col < kColumns; ++col) {
      GtkWidget* label = gtk_label_new(row[col].c_str());
      gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
      gtk_label_set_wrap(GTK_LABEL(label), TRUE);
      gtk_label_set_selectable(GTK_LABEL(label), TRUE);
      gtk_grid_attach(GTK_GRID(self->grid), label, col, y, 1, 1);
    }
    s.rows.push_back(row);
  }
}

void show_sddl_error(TolSecurityViews* self, const std::string& text) {
  self->state->sddl_error = text;
  gtk_label_set_text(GTK_LABEL(self->error), text.c_str());
  gtk_widget_set_visible(self->error, !text.empty());
  if (text.empty())
    gtk_widget_remove_css_class(self->sddl, "error");
  else
    gtk_widget_add_css_class(self->sddl, "error");
}

void on_hex_changed(GtkTextBuffer* buffer, gpointer views) {
  auto* self = TOL_SECURITY_VIEWS(views);
  if (self->state->updating) return;
  self->state->sddl_pending = false;
  g_autoptr(GError) error = nullptr;
  std::optional<TolSecurityDescriptor> sd;
  if (auto bytes = tol_value_hex_parse(hex_text(buffer).c_str(), &error)) sd = tol_sd_decode(*bytes, &error);
  std::optional<std::string> sddl;
  if (sd) sddl = tol_sddl_print(*sd, error == nullptr ? &error : nullptr);
  self->state->updating = true;
  gtk_editable_set_text(GTK_EDITABLE(self->sddl), sddl.value_or("").c_str());
  self->state->updating = false;
  show_sddl_error(self, {});
  show_rows(self, sd, error != nullptr ? error->message : "");
}

void on_sddl_changed(GtkEditable* entry, gpointer views) {
  auto* self = TOL_SECURITY_VIEWS(views);
  if (self->state->updating) return;
  g_autoptr(GError) error = nullptr;
  const std::optional<TolSecurityDescriptor> sd = tol_sddl_parse(gtk_editable_get_text(entry), &error);
  std::optional<std::vector<std::uint8_t>> bytes;
  if (sd) bytes = tol_sd_encode(*sd, &error);
  self->state->sddl_pending = !bytes;
  show_sddl_error(self, bytes ? std::string() : std::string(error != nullptr ? error->message : "?"));
  if (!bytes) return;
  self->state->updating = true;
  gtk_text_buffer_set_text(self->hex, tol_value_hex_format(*bytes).c_str(), -1);
  self->state->updating = false;
  show_rows(self, sd, {});
}

}  // namespace

static void tol_security_views_dispose(GObject* object) {
  TolSecurityViews* self = TOL_SECURITY_VIEWS(object);
  if (self->hex != nullptr) g_signal_handlers_disconnect_by_data(self->hex, self);
  g_clear_object(&self->hex);
  G_OBJECT_CLASS(tol_security_views_parent_class)->dispose(object);
}

static void tol_security_views_finalize(GObject* object) {
  delete TOL_SECURITY_VIEWS(object)->state;
  G_OBJECT_CLASS(tol_security_views_parent_class)->finalize(object);
}

static void tol_security_views_class_init(TolSecurityViewsClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = tol_security_views_dispose;
  G_OBJECT_CLASS(klass)->finalize = tol_security_views_finalize;
}

static void tol_security_views_init(TolSecurityViews* self) {
  self->state = new ViewsState();
  gtk_orientable_set_orientation(GTK_ORIENTABLE(self), GTK_ORIENTATION_VERTICAL);
  gtk_box_set_spacing(GTK_BOX(self), 6);

  GtkWidget* heading = gtk_label_new(_("Permissions"));
  gtk_widget_add_css_class(heading, "title-4");
  gtk_label_set_xalign(GTK_LABEL(heading), 0.0f);
  gtk_box_append(GTK_BOX(self), heading);
  self->summary = gtk_label_new(nullptr);
  gtk_label_set_xalign(GTK_LABEL(self->summary), 0.0f);
  gtk_label_set_wrap(GTK_LABEL(self->summary), TRUE);
  gtk_box_append(GTK_BOX(self), self->summary);
  self->grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(self->grid), 18);
  gtk_grid_set_row_spacing(GTK_GRID(self->grid), 4);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), self->grid);
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scrolled), 140);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_vexpand(scrolled, TRUE);
  gtk_box_append(GTK_BOX(self), scrolled);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* label = gtk_label_new_with_mnemonic(_("_SDDL"));
  gtk_widget_add_css_class(label, "heading");
  self->sddl = gtk_entry_new();
  gtk_widget_set_hexpand(self->sddl, TRUE);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), self->sddl);
  gtk_box_append(GTK_BOX(row), label);
  gtk_box_append(GTK_BOX(row), self->sddl);
  gtk_box_append(GTK_BOX(self), row);
  self->error = gtk_label_new(nullptr);
  gtk_widget_add_css_class(self->error, "error");
  gtk_label_set_xalign(GTK_LABEL(self->error), 0.0f);
  gtk_label_set_wrap(GTK_LABEL(self->error), TRUE);
  gtk_widget_set_visible(self->error, FALSE);
  gtk_box_append(GTK_BOX(self), self->error);

  GtkWidget* hex = gtk_label_new(_("Hex (self-relative descriptor)"));
  gtk_widget_add_css_class(hex, "heading");
  gtk_label_set_xalign(GTK_LABEL(hex), 0.0f);
  gtk_box_append(GTK_BOX(self), hex);
}

TolSecurityViews* tol_security_views_new(GtkTextBuffer* hex) {
  auto* self = TOL_SECURITY_VIEWS(g_object_new(TOL_TYPE_SECURITY_VIEWS, nullptr));
  self->hex = GTK_TEXT_BUFFER(g_object_ref(hex));
  g_signal_connect(hex, "changed", G_CALLBACK(on_hex_changed), self);
  g_signal_connect(self->sddl, "changed", G_CALLBACK(on_sddl_changed), self);
  on_hex_changed(hex, self);
  return self;
}

GtkWidget* tol_security_views_get_sddl_entry(TolSecurityViews* self) { return self->sddl; }
std::string tol_security_views_get_sddl_error(TolSecurityViews* self) { return self->state->sddl_error; }
bool tol_security_views_sddl_pending(TolSecurityViews* self) { return self->state->sddl_pending; }
std::vector<std::array<std::string, 5>> tol_security_views_get_rows(TolSecurityViews* self) {
  return self->state->rows;
}
std::string tol_security_views_get_summary(TolSecurityViews* self) {
  return gtk_label_get_text(GTK_LABEL(self->summary));
}
