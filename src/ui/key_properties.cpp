// The key properties window: one row per detail of the key record.
#include "ui/key_properties.h"

#include <glib/gi18n-lib.h>

#include "hive/details.h"
#include "ui/commit.h"
#include "ui/pane.h"

struct _TolKeyProperties {
  AdwWindow parent_instance;
  GtkWidget* group;  // AdwPreferencesGroup of AdwActionRows
};

G_DEFINE_FINAL_TYPE(TolKeyProperties, tol_key_properties, ADW_TYPE_WINDOW)

namespace {

void add_row(TolKeyProperties* self, const char* title, const std::string& text, const std::string& tooltip = {}) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title);
  adw_action_row_set_subtitle(ADW_ACTION_ROW(row), text.empty() ? "—" : text.c_str());
  if (!tooltip.empty()) gtk_widget_set_tooltip_text(row, tooltip.c_str());
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(self->group), row);
}

GtkWidget* find_row(TolKeyProperties* self, const char* title) {
  // The group keeps its rows in a list box of its own.
  std::vector<GtkWidget*> stack{GTK_WIDGET(self->group)};
  while (!stack.empty()) {
    GtkWidget* w = stack.back();
    stack.pop_back();
    if (ADW_IS_ACTION_ROW(w) && g_strcmp0(adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w)), title) == 0)
      return w;
    for (GtkWidget* c = gtk_widget_get_first_child(w); c != nullptr; c = gtk_widget_get_next_sibling(c))
      stack.push_back(c);
  }
  return nullptr;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

std::string cell_text(std::uint32_t offset) {
  return offset == TOL_NO_CELL ? std::string() : tol_format("0x%X", offset);
}

}  // namespace

static void tol_key_properties_class_init(TolKeyPropertiesClass* klass) {
  gtk_widget_class_add_binding_action(GTK_WIDGET_CLASS(klass), GDK_KEY_Escape, GdkModifierType(0), "window.close",
                                      nullptr);
}

static void tol_key_properties_init(TolKeyProperties* self) {
  gtk_window_set_default_size(GTK_WINDOW(self), 520, 640);
  gtk_window_set_modal(GTK_WINDOW(self), TRUE);
  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(content), adw_header_bar_new());
  GtkWidget* page = adw_preferences_page_new();
  gtk_widget_set_vexpand(page, TRUE);
  self->group = adw_preferences_group_new();
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(self->group));
  gtk_box_append(GTK_BOX(content), page);
  adw_window_set_content(ADW_WINDOW(self), content);
}

std::string tol_filetime_local_text(std::uint64_t filetime) {
  if (filetime == 0) return {};
  g_autoptr(GDateTime) utc = g_date_time_new_from_unix_utc(tol_filetime_unix_seconds(filetime));
  if (utc == nullptr) return tol_filetime_iso8601(filetime);  // beyond what GDateTime holds
  g_autoptr(GDateTime) local = g_date_time_to_local(utc);
  g_autofree char* text = g_date_time_format(local, "%Y-%m-%d %H:%M:%S");
  return text != nullptr ? text : tol_filetime_iso8601(filetime);
}

TolKeyProperties* tol_key_properties_new(GtkWindow* parent, const TolHive& hive, std::uint32_t nk, GError** error) {
  const std::optional<TolKeyDetails> d = tol_hive_key_details(hive, nk, error);
  if (!d) return nullptr;
  auto* self = TOL_KEY_PROPERTIES(g_object_new(TOL_TYPE_KEY_PROPERTIES, nullptr));
  if (parent != nullptr) gtk_window_set_transient_for(GTK_WINDOW(self), parent);
  const std::string name = tol_hive_key_name(hive, nk);
  g_autofree char* title = g_strdup_printf(_("Properties of %s"), name.c_str());
  gtk_window_set_title(GTK_WINDOW(self), title);
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(self->group), name.c_str());

  add_row(self, _("Path"), "\\" + tol_hive_key_path(hive, nk));
  add_row(self, _("Last written"), tol_filetime_local_text(d->last_write),
          d->last_write != 0 ? tol_filetime_iso8601(d->last_write, true) : std::string());
  add_row(self, _("Class name"), d->class_name.value_or(std::string()));
  add_row(self, _("Flags"),
          d->flags == 0 ? std::string(_("none")) : tol_format("%s (0x%04X)", joined(tol_key_flag_names(d->flags)).c_str(), d->flags));
  add_row(self, _("Subkeys"), tol_format("%u", d->subkey_count),
          d->volatile_subkey_count != 0 ? tol_format(_("and %u volatile"), d->volatile_subkey_count) : std::string());
  add_row(self, _("Values"), tol_format("%u", d->value_count));
  add_row(self, _("Longest subkey name"), tol_format(_("%u bytes"), d->max_subkey_name));
  add_row(self, _("Longest class name"), tol_format(_("%u bytes"), d->max_class_name));
  add_row(self, _("Longest value name"), tol_format(_("%u bytes"), d->max_value_name));
  add_row(self, _("Largest value data"), tol_format(_("%u bytes"), d->max_value_data));
  std::string security = cell_text(d->security_offset);
  if (d->security_refcount)
    security += tol_format(ngettext(", shared by %u key", ", shared by %u keys", *d->security_refcount),
                           *d->security_refcount);
  if (d->security_length) security += tol_format(_(", %u bytes"), *d->security_length);
  add_row(self, _("Security record"), security);
  add_row(self, _("Key record"), cell_text(d->offset));
  if (!d->problems.empty()) add_row(self, _("Damage"), joined(d->problems));
  return self;
}

std::string tol_key_properties_get_text(TolKeyProperties* self, const char* title) {
  g_return_val_if_fail(TOL_IS_KEY_PROPERTIES(self), std::string());
  GtkWidget* row = find_row(self, title);
  const char* text = row != nullptr ? adw_action_row_get_subtitle(ADW_ACTION_ROW(row)) : nullptr;
  return text != nullptr ? text : "";
}

std::string tol_key_properties_get_tooltip(TolKeyProperties* self, const char* title) {
  g_return_val_if_fail(TOL_IS_KEY_PROPERTIES(self), std::string());
  GtkWidget* row = find_row(self, title);
  const char* text = row != nullptr ? gtk_widget_get_tooltip_text(row) : nullptr;
  return text != nullptr ? text : "";
}

void tol_pane_show_key_properties(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  TolHive* hive = tol_pane_get_hive(self);
  const std::uint32_t key = hive != nullptr ? tol_pane_get_selected_key(self) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(self, _("No key selected"));
    return;
  }
  g_autoptr(GError) error = nullptr;
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(self));
  TolKeyProperties* window = tol_key_properties_new(GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr, *hive, key, &error);
  if (window == nullptr) {
    tol_pane_toast(self, error != nullptr ? error->message : _("The key cannot be read"));
    return;
  }
  gtk_window_present(GTK_WINDOW(window));
}
