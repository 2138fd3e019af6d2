// The comparison panel: the rows of a comparison, their widgets, activation,
// the trees' marks, export, apply, and following both documents.
#include "ui/diff_panel.h"

#include <glib/gi18n-lib.h>

#include <unordered_set>
#include <vector>

#include "reg/diff.h"
#include "reg/import.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/key_tree.h"
#include "ui/pane.h"
#include "ui/weak_ref.h"

namespace {

constexpr std::size_t kKeyRow = static_cast<std::size_t>(-1);

// One row of the list: an entry, or the key a run of value and detail
// entries belongs to.
struct Row {
  std::size_t entry = kKeyRow;
  std::string path;  // the key's path below the compared keys
};

// ---- A list model over the rows, with items made when the view asks --------------

struct RowItem {
  GObject parent_instance;
  guint position;
};
struct RowItemClass {
  GObjectClass parent_class;
};

G_DEFINE_TYPE(RowItem, row_item, G_TYPE_OBJECT)
void row_item_class_init(RowItemClass*) {}
void row_item_init(RowItem*) {}

struct RowModel {
  GObject parent_instance;
  guint count;
};
struct RowModelClass {
  GObjectClass parent_class;
};

GType row_model_item_type(GListModel*) { return row_item_get_type(); }
guint row_model_n_items(GListModel* model) { return reinterpret_cast<RowModel*>(model)->count; }
gpointer row_model_get_item(GListModel* model, guint position) {
  if (position >= reinterpret_cast<RowModel*>(model)->count) return nullptr;
  auto* item = static_cast<RowItem*>(g_object_new(row_item_get_type(), nullptr));
  item->position = position;
  return item;
}
void row_model_list_init(GListModelInterface* iface) {
  iface->get_item_type = row_model_item_type;
  iface->get_n_items = row_model_n_items;
  iface->get_item = row_model_get_item;
}

G_DEFINE_TYPE_WITH_CODE(RowModel, row_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_LIST_MODEL, row_model_list_init))
void row_model_class_init(RowModelClass*) {}
void row_model_init(RowModel*) {}

void row_model_set_count(RowModel* model, guint count) {
  const guint before = model->count;
  model->count = count;
  g_list_model_items_changed(G_LIST_MODEL(model), 0, before, count);
}

// ---- Texts ------------------------------------------------------------------------

std::string shown_path(const std::string& path) { return "\\" + path; }

std::string value_label(const std::string& name) {
  return name.empty() ? std::string(_("(Default)")) : tol_format("“%s”", name.c_str());
}

std::string entry_text(const TolDiffEntry& e) {
  switch (e.kind) {
    case TolDiffKind::key_only_left:
    case TolDiffKind::key_only_right: {
      const char* side = e.kind == TolDiffKind::key_only_left ? _("Only on the left") : _("Only on the right");
      g_autofree char* keys = g_strdup_printf(ngettext("%u key", "%u keys", e.subtree_keys), e.subtree_keys);
      g_autofree char* values =
          g_strdup_printf(ngettext("%u value", "%u values", e.subtree_values), e.subtree_values);
      return tol_format("%s — %s: %s, %s", shown_path(e.path).c_str(), side, keys, values);
    }
    case TolDiffKind::value_only_left:
      return tol_format(_("Value %s only on the left"), value_label(e.value).c_str());
    case TolDiffKind::value_only_right:
      return tol_format(_("Value %s only on the right"), value_label(e.value).c_str());
    case TolDiffKind::value_changed:
      return tol_format(e.type_differs && e.data_differs ? _("Value %s: type and data differ")
                        : e.type_differs                 ? _("Value %s: type differs")
                                                         : _("Value %s: data differ"),
                        value_label(e.value).c_str());
    case TolDiffKind::class_changed: return _("Class name differs");
    case TolDiffKind::security_changed: return _("Permissions differ");
    case TolDiffKind::time_changed: return _("Last-write time differs");
  }
  return {};
}

const char* entry_icon(const TolDiffEntry& e) {
  switch (e.kind) {
    case TolDiffKind::key_only_left:
    case TolDiffKind::key_only_right: return "folder-symbolic";
    case TolDiffKind::value_only_left:
    case TolDiffKind::value_only_right:
    case TolDiffKind::value_changed: return "text-x-generic-symbolic";
    default: return "document-properties-symbolic";
  }
}

bool passes(TolDiffFilter filter, TolDiffKind kind) {
  switch (filter) {
    case TolDiffFilter::all: return true;
    case TolDiffFilter::keys: return kind == TolDiffKind::key_only_left || kind == TolDiffKind::key_only_right;
    case TolDiffFilter::values:
      return kind == TolDiffKind::value_only_left || kind == TolDiffKind::value_only_right;
    case TolDiffFilter::changed: return kind == TolDiffKind::value_changed;
    case TolDiffFilter::details:
      return kind == TolDiffKind::class_changed || kind == TolDiffKind::security_changed ||
             kind == TolDiffKind::time_changed;
  }
  return true;
}

std::string summary_text(const TolDiffCounts& c) {
  if (c.total() == 0) return _("The compared keys are equal");
  auto count = [&](TolDiffKind k) { return c.by_kind[static_cast<int>(k)]; };
  std::string text = tol_format(ngettext("%u difference", "%u differences", c.total()), c.total());
  const std::uint32_t only_keys = count(TolDiffKind::key_only_left) + count(TolDiffKind::key_only_right);
  const std::uint32_t only_values = count(TolDiffKind::value_only_left) + count(TolDiffKind::value_only_right);
  const std::uint32_t changed = count(TolDiffKind::value_changed);
  const std::uint32_t details =
      count(TolDiffKind::class_changed) + count(TolDiffKind::security_changed) + count(TolDiffKind::time_changed);
  std::vector<std::string> parts;
  if (only_keys > 0) parts.push_back(tol_format(ngettext("%u key on one side", "%u keys on one side", only_keys), only_keys));
  if (only_values > 0)
    parts.push_back(tol_format(ngettext("%u value on one side", "%u values on one side", only_values), only_values));
  if (changed > 0) parts.push_back(tol_format(ngettext("%u changed value", "%u changed values", changed), changed));
  if (details > 0) parts.push_back(tol_format(ngettext("%u key detail", "%u key details", details), details));
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? ": " : ", ") + parts[i];
  return text;
}

std::string join_path(const std::string& base, const std::string& rel) {
  if (base.empty()) return rel;
  if (rel.empty()) return base;
  return base + "\\" + rel;
}

std::string parent_path(const std::string& path) {
  const std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

struct PanelState {
  TolDiff diff;
  std::vector<Row> rows;
  std::string left_path, right_path;  // the compared keys
  TolDiffFilter filter = TolDiffFilter::all;
  bool active = false;
  std::string problem;  // why the comparison could not be made again
};

struct _TolDiffPanel {
  GtkWidget parent_instance;
  GtkWidget* box;  // the only child
  GtkWidget* title;
  GtkWidget* summary;
  GtkWidget* filter;
  GtkWidget* view;
  GtkSingleSelection* selection;  // owned by the view
  RowModel* model;                // owned by the selection
  TolPane* left;                  // borrowed
  TolPane* right;                 // borrowed
  TolDocument* left_doc;          // owned while comparing
  TolDocument* right_doc;         // owned while comparing
  gulong left_handler, right_handler;
  guint idle;
  PanelState* state;
};

G_DEFINE_FINAL_TYPE(TolDiffPanel, tol_diff_panel, GTK_TYPE_WIDGET)

namespace {

void schedule_refresh(TolDocument*, gpointer, gpointer panel);

void disconnect_documents(TolDiffPanel* self) {
  if (self->left_doc != nullptr && self->left_handler != 0) g_signal_handler_disconnect(self->left_doc, self->left_handler);
  if (self->right_doc != nullptr && self->right_handler != 0)
    g_signal_handler_disconnect(self->right_doc, self->right_handler);
  self->left_handler = self->right_handler = 0;
  g_clear_object(&self->left_doc);
  g_clear_object(&self->right_doc);
  g_clear_handle_id(&self->idle, g_source_remove);
}

void rebuild_rows(TolDiffPanel* self) {
  PanelState& s = *self->state;
  s.rows.clear();
  const std::string* group = nullptr;
  for (std::size_t i = 0; i < s.diff.entries.size(); ++i) {
    const TolDiffEntry& e = s.diff.entries[i];
    if (!passes(s.filter, e.kind)) continue;
    if (e.kind == TolDiffKind::key_only_left || e.kind == TolDiffKind::key_only_right) {
      s.rows.push_back({i, e.path});
      group = nullptr;
      continue;
    }
    if (group == nullptr || *group != e.path) {
      s.rows.push_back({kKeyRow, e.path});
      group = &e.path;
    }
    s.rows.push_back({i, e.path});
  }
  row_model_set_count(self->model, static_cast<guint>(s.rows.size()));
}

// Marks, in each tree, the keys with differences and every key above them.
void mark_trees(TolDiffPanel* self) {
  std::unordered_set<std::uint32_t> marks[2];
  if (self->state->active) {
    TolHive* hives[2] = {&tol_document_get_hive(self->left_doc), &tol_document_get_hive(self->right_doc)};
    for (const TolDiffEntry& e : self->state->diff.entries) {
      const std::uint32_t keys[2] = {e.left_key, e.right_key};
      for (int side = 0; side < 2; ++side) {
        std::uint32_t key = keys[side];
        // Bounded like every walk up a damaged hive's parent links.
        for (int depth = 0; key != TOL_NO_CELL && depth < 1024; ++depth) {
          if (!marks[side].insert(key).second) break;
          key = tol_hive_key_parent(*hives[side], key).value_or(TOL_NO_CELL);
        }
      }
    }
  }
  tol_key_tree_set_marks(tol_pane_get_key_tree(self->left), self->left_doc, std::move(marks[0]));
  tol_key_tree_set_marks(tol_pane_get_key_tree(self->right), self->right_doc, std::move(marks[1]));
}

void update_actions(TolDiffPanel* self) {
  const bool any = self->state->active && self->state->diff.counts.total() > 0;
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "diff.apply-left", any);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "diff.apply-right", any);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "diff.export", any);
}

// Finds the compared keys again (an edit may have moved them) and compares.
bool recompare(TolDiffPanel* self) {
  PanelState& s = *self->state;
  s.diff = {};
  s.problem.clear();
  const TolHive& left = tol_document_get_hive(self->left_doc);
  const TolHive& right = tol_document_get_hive(self->right_doc);
  const auto lk = tol_hive_find_path(left, s.left_path);
  const auto rk = tol_hive_find_path(right, s.right_path);
  g_autoptr(GError) error = nullptr;
  if (!lk || !rk)
    s.problem = tol_format(_("The compared key %s is no longer there"),
                           shown_path(!lk ? s.left_path : s.right_path).c_str());
  else if (!tol_compare(left, *lk, right, *rk, TolDiffOptions{}, s.diff, &error))
    s.problem = error != nullptr ? error->message : "?";
  gtk_label_set_text(GTK_LABEL(self->summary),
                     s.problem.empty() ? summary_text(s.diff.counts).c_str() : s.problem.c_str());
  g_autofree char* left_file = g_path_get_basename(tol_document_get_path(self->left_doc).c_str());
  g_autofree char* right_file = g_path_get_basename(tol_document_get_path(self->right_doc).c_str());
  g_autofree char* title = g_strdup_printf(_("%s %s  ↔  %s %s"), left_file, shown_path(s.left_path).c_str(),
                                           right_file, shown_path(s.right_path).c_str());
  gtk_label_set_text(GTK_LABEL(self->title), title);
  rebuild_rows(self);
  mark_trees(self);
  update_actions(self);
  return s.problem.empty();
}

gboolean refresh_idle(gpointer panel) {
  auto* self = TOL_DIFF_PANEL(panel);
  self->idle = 0;
  if (self->state->active) recompare(self);
  return G_SOURCE_REMOVE;
}

// Edits come in bursts (an import, undo of several keys); one comparison after
// the burst is enough.
void schedule_refresh(TolDocument*, gpointer, gpointer panel) {
  auto* self = TOL_DIFF_PANEL(panel);
  if (self->idle == 0) self->idle = g_idle_add_full(G_PRIORITY_LOW, refresh_idle, self, nullptr);
}

// ---- Row widgets -----------------------------------------------------------------

void row_setup(GtkSignalListItemFactory*, GtkListItem* item, gpointer) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* sign = gtk_label_new(nullptr);
  gtk_widget_add_css_class(sign, "tol-diff-sign");
  gtk_widget_set_size_request(sign, 16, -1);
  GtkWidget* icon = gtk_image_new();
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_box_append(GTK_BOX(box), sign);
  gtk_box_append(GTK_BOX(box), icon);
  gtk_box_append(GTK_BOX(box), label);
  gtk_list_item_set_child(item, box);
}

void row_bind(GtkSignalListItemFactory*, GtkListItem* item, gpointer panel) {
  auto* self = TOL_DIFF_PANEL(panel);
  auto* row_item = static_cast<RowItem*>(gtk_list_item_get_item(item));
  GtkWidget* box = gtk_list_item_get_child(item);
  GtkWidget* sign = gtk_widget_get_first_child(box);
  GtkWidget* icon = gtk_widget_get_next_sibling(sign);
  GtkWidget* label = gtk_widget_get_next_sibling(icon);
  for (const char* cls : {"tol-diff-only", "tol-diff-changed", "heading"}) {
    gtk_widget_remove_css_class(sign, cls);
    gtk_widget_remove_css_class(label, cls);
  }
  if (row_item == nullptr || row_item->position >= self->state->rows.size()) return;
  const Row& row = self->state->rows[row_item->position];
  if (row.entry == kKeyRow) {
    gtk_label_set_text(GTK_LABEL(sign), "");
    gtk_image_set_from_icon_name(GTK_IMAGE(icon), "folder-symbolic");
    gtk_label_set_text(GTK_LABEL(label), shown_path(row.path).c_str());
    gtk_widget_add_css_class(label, "heading");
    gtk_widget_set_margin_start(box, 0);
    return;
  }
  const TolDiffEntry& e = self->state->diff.entries[row.entry];
  const bool key_row = e.kind == TolDiffKind::key_only_left || e.kind == TolDiffKind::key_only_right;
  gtk_label_set_text(GTK_LABEL(sign), tol_diff_sign(e.kind));
  gtk_widget_add_css_class(sign, *tol_diff_sign(e.kind) == '~' ? "tol-diff-changed" : "tol-diff-only");
  gtk_image_set_from_icon_name(GTK_IMAGE(icon), entry_icon(e));
  gtk_label_set_text(GTK_LABEL(label), entry_text(e).c_str());
  if (key_row) gtk_widget_add_css_class(label, "heading");
  gtk_widget_set_margin_start(box, key_row ? 0 : 24);
}

void on_activate(GtkListView*, guint position, gpointer panel) {
  tol_diff_panel_activate_row(TOL_DIFF_PANEL(panel), position);
}

void on_filter_changed(GtkDropDown* drop, GParamSpec*, gpointer panel) {
  tol_diff_panel_set_filter(TOL_DIFF_PANEL(panel), static_cast<TolDiffFilter>(gtk_drop_down_get_selected(drop)));
}

GtkWidget* action_button_new(const char* label, const char* tooltip, const char* action) {
  GtkWidget* button = gtk_button_new_with_mnemonic(label);
  gtk_widget_set_tooltip_text(button, tooltip);
  gtk_actionable_set_action_name(GTK_ACTIONABLE(button), action);
  return button;
}

}  // namespace

static void tol_diff_panel_dispose(GObject* object) {
  TolDiffPanel* self = TOL_DIFF_PANEL(object);
  disconnect_documents(self);
  g_clear_pointer(&self->box, gtk_widget_unparent);
  G_OBJECT_CLASS(tol_diff_panel_parent_class)->dispose(object);
}

static void tol_diff_panel_finalize(GObject* object) {
  delete TOL_DIFF_PANEL(object)->state;
  G_OBJECT_CLASS(tol_diff_panel_parent_class)->finalize(object);
}

static void tol_diff_panel_class_init(TolDiffPanelClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  object_class->dispose = tol_diff_panel_dispose;
  object_class->finalize = tol_diff_panel_finalize;
  gtk_widget_class_set_layout_manager_type(widget_class, GTK_TYPE_BIN_LAYOUT);
  gtk_widget_class_set_css_name(widget_class, "tol-diff-panel");
  gtk_widget_class_install_action(widget_class, "diff.apply-left", nullptr, [](GtkWidget* w, const char*, GVariant*) {
    tol_diff_panel_apply(TOL_DIFF_PANEL(w), true);
  });
  gtk_widget_class_install_action(widget_class, "diff.apply-right", nullptr, [](GtkWidget* w, const char*, GVariant*) {
    tol_diff_panel_apply(TOL_DIFF_PANEL(w), false);
  });
  gtk_widget_class_install_action(widget_class, "diff.export", nullptr, [](GtkWidget* w, const char*, GVariant*) {
    tol_diff_panel_export(TOL_DIFF_PANEL(w));
  });
  gtk_widget_class_install_action(widget_class, "diff.close", nullptr, [](GtkWidget* w, const char*, GVariant*) {
    tol_diff_panel_close(TOL_DIFF_PANEL(w));
  });
}

static void tol_diff_panel_init(TolDiffPanel* self) {
  self->state = new PanelState();
  self->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_parent(self->box, GTK_WIDGET(self));

  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  for (auto set : {gtk_widget_set_margin_start, gtk_widget_set_margin_end, gtk_widget_set_margin_top,
                   gtk_widget_set_margin_bottom})
    set(bar, 6);
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_hexpand(texts, TRUE);
  self->title = gtk_label_new(nullptr);
  gtk_widget_add_css_class(self->title, "heading");
  self->summary = gtk_label_new(nullptr);
  gtk_widget_add_css_class(self->summary, "dim-label");
  for (GtkWidget* label : {self->title, self->summary}) {
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_box_append(GTK_BOX(texts), label);
  }
  gtk_box_append(GTK_BOX(bar), texts);

  static const char* const filters[] = {N_("All differences"), N_("Keys on one side"), N_("Values on one side"),
                                        N_("Changed values"), N_("Key details"), nullptr};
  const char* translated[G_N_ELEMENTS(filters)];
  for (std::size_t i = 0; i < G_N_ELEMENTS(filters); ++i) translated[i] = filters[i] != nullptr ? _(filters[i]) : nullptr;
  self->filter = gtk_drop_down_new_from_strings(translated);
  gtk_widget_set_tooltip_text(self->filter, _("Show only differences of one kind"));
  gtk_widget_set_valign(self->filter, GTK_ALIGN_CENTER);
  g_signal_connect(self->filter, "notify::selected", G_CALLBACK(on_filter_changed), self);
  gtk_box_append(GTK_BOX(bar), self->filter);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_valign(buttons, GTK_ALIGN_CENTER);
  gtk_box_append(GTK_BOX(buttons), action_button_new(_("_Export differences as .reg…"),
                                                     _("Write a .reg file that turns the left key into the right one"),
                                                     "diff.export"));
  gtk_box_append(GTK_BOX(buttons), action_button_new(_("Apply to _left"),
                                                     _("Change the left key so that it equals the right one"),
                                                     "diff.apply-left"));
  gtk_box_append(GTK_BOX(buttons), action_button_new(_("Apply to _right"),
                                                     _("Change the right key so that it equals the left one"),
                                                     "diff.apply-right"));
  GtkWidget* close = gtk_button_new_from_icon_name("window-close-symbolic");
  gtk_widget_add_css_class(close, "flat");
  gtk_widget_set_tooltip_text(close, _("Close the comparison"));
  gtk_actionable_set_action_name(GTK_ACTIONABLE(close), "diff.close");
  gtk_box_append(GTK_BOX(buttons), close);
  gtk_box_append(GTK_BOX(bar), buttons);
  gtk_box_append(GTK_BOX(self->box), bar);
  gtk_box_append(GTK_BOX(self->box), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));

  self->model = static_cast<RowModel*>(g_object_new(row_model_get_type(), nullptr));
  self->selection = gtk_single_selection_new(G_LIST_MODEL(self->model));
  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(row_setup), nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(row_bind), self);
  self->view = gtk_list_view_new(GTK_SELECTION_MODEL(self->selection), factory);
  gtk_widget_add_css_class(self->view, "navigation-sidebar");
  g_signal_connect(self->view, "activate", G_CALLBACK(on_activate), self);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_widget_set_vexpand(scrolled, TRUE);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), self->view);
  gtk_box_append(GTK_BOX(self->box), scrolled);

  gtk_widget_set_size_request(GTK_WIDGET(self), -1, 160);
  gtk_widget_set_visible(GTK_WIDGET(self), FALSE);
  update_actions(self);
}

TolDiffPanel* tol_diff_panel_new(TolPane* left, TolPane* right) {
  auto* self = TOL_DIFF_PANEL(g_object_new(TOL_TYPE_DIFF_PANEL, nullptr));
  self->left = left;
  self->right = right;
  return self;
}

bool tol_diff_panel_compare(TolDiffPanel* self) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), false);
  std::string paths[2];
  TolPane* panes[2] = {self->left, self->right};
  for (int side = 0; side < 2; ++side) {
    if (tol_pane_get_document(panes[side]) == nullptr || !tol_pane_get_selected_key_path(panes[side], paths[side])) {
      tol_pane_toast(panes[side], side == 0 ? _("Select a key in the left pane to compare")
                                            : _("Select a key in the right pane to compare"));
      return false;
    }
  }
  disconnect_documents(self);
  PanelState& s = *self->state;
  s.left_path = paths[0];
  s.right_path = paths[1];
  s.active = true;
  self->left_doc = TOL_DOCUMENT(g_object_ref(tol_pane_get_document(self->left)));
  self->right_doc = TOL_DOCUMENT(g_object_ref(tol_pane_get_document(self->right)));
  self->left_handler = g_signal_connect(self->left_doc, "changed", G_CALLBACK(schedule_refresh), self);
  if (self->right_doc != self->left_doc)
    self->right_handler = g_signal_connect(self->right_doc, "changed", G_CALLBACK(schedule_refresh), self);
  gtk_widget_set_visible(GTK_WIDGET(self), TRUE);
  recompare(self);
  gtk_widget_grab_focus(self->view);
  return true;
}

void tol_diff_panel_close(TolDiffPanel* self) {
  g_return_if_fail(TOL_IS_DIFF_PANEL(self));
  if (!self->state->active) return;
  self->state->active = false;
  self->state->diff = {};
  mark_trees(self);  // with nothing active: clears both trees' marks
  rebuild_rows(self);
  disconnect_documents(self);
  update_actions(self);
  gtk_widget_set_visible(GTK_WIDGET(self), FALSE);
  tol_pane_focus_tree(self->left);
}

bool tol_diff_panel_is_active(TolDiffPanel* self) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), false);
  return self->state->active;
}

const TolDiff& tol_diff_panel_get_diff(TolDiffPanel* self) { return self->state->diff; }
const std::string& tol_diff_panel_get_left_path(TolDiffPanel* self) { return self->state->left_path; }
const std::string& tol_diff_panel_get_right_path(TolDiffPanel* self) { return self->state->right_path; }

void tol_diff_panel_set_filter(TolDiffPanel* self, TolDiffFilter filter) {
  g_return_if_fail(TOL_IS_DIFF_PANEL(self));
  if (self->state->filter == filter) return;
  self->state->filter = filter;
  if (gtk_drop_down_get_selected(GTK_DROP_DOWN(self->filter)) != static_cast<guint>(filter))
    gtk_drop_down_set_selected(GTK_DROP_DOWN(self->filter), static_cast<guint>(filter));
  rebuild_rows(self);
}

guint tol_diff_panel_get_row_count(TolDiffPanel* self) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), 0);
  return static_cast<guint>(self->state->rows.size());
}

const TolDiffEntry* tol_diff_panel_get_row_entry(TolDiffPanel* self, guint row) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), nullptr);
  if (row >= self->state->rows.size() || self->state->rows[row].entry == kKeyRow) return nullptr;
  return &self->state->diff.entries[self->state->rows[row].entry];
}

std::string tol_diff_panel_get_row_path(TolDiffPanel* self, guint row) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), std::string());
  return row < self->state->rows.size() ? self->state->rows[row].path : std::string();
}

bool tol_diff_panel_activate_row(TolDiffPanel* self, guint row) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), false);
  PanelState& s = *self->state;
  if (!s.active || row >= s.rows.size()) return false;
  const TolDiffEntry* e = tol_diff_panel_get_row_entry(self, row);
  const std::string& rel = s.rows[row].path;
  // A key only on one side: the other side shows its parent, where it would go.
  const std::string left_rel = e != nullptr && e->kind == TolDiffKind::key_only_right ? parent_path(rel) : rel;
  const std::string right_rel = e != nullptr && e->kind == TolDiffKind::key_only_left ? parent_path(rel) : rel;
  bool shown = false;
  if (tol_pane_get_document(self->left) == self->left_doc) {
    tol_pane_select_path(self->left, join_path(s.left_path, left_rel).c_str());
    shown = true;
  }
  if (tol_pane_get_document(self->right) == self->right_doc) {
    tol_pane_select_path(self->right, join_path(s.right_path, right_rel).c_str());
    shown = true;
  }
  if (!shown) tol_pane_toast(self->left, _("The panes no longer show the compared files"));
  gtk_single_selection_set_selected(self->selection, row);
  return shown;
}

bool tol_diff_panel_apply(TolDiffPanel* self, bool to_left) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), false);
  PanelState& s = *self->state;
  if (!s.active) return false;
  TolDocument* target = to_left ? self->left_doc : self->right_doc;
  TolDocument* source = to_left ? self->right_doc : self->left_doc;
  const std::string& target_path = to_left ? s.left_path : s.right_path;
  const std::string& source_path = to_left ? s.right_path : s.left_path;
  TolPane* pane = to_left ? self->left : self->right;
  const TolHive& source_hive = tol_document_get_hive(source);
  const auto target_key = tol_hive_find_path(tol_document_get_hive(target), target_path);
  const auto source_key = tol_hive_find_path(source_hive, source_path);
  g_autoptr(GError) error = nullptr;
  TolDiff diff;
  if (!target_key || !source_key ||
      !tol_compare(tol_document_get_hive(target), *target_key, source_hive, *source_key, TolDiffOptions{}, diff,
                   &error)) {
    tol_pane_toast(pane, error != nullptr ? error->message : _("The compared keys are no longer there"));
    return false;
  }
  if (diff.counts.total() == 0) {
    tol_pane_toast(pane, _("There is nothing to apply"));
    return false;
  }
  const std::string text = tol_reg_diff_text(tol_document_get_hive(target), source_hive, diff);
  TolRegImportCounts counts;
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  const bool done = tol_document_change(
      target, TolChange{TolChangeKind::subtree, *target_key},
      [&](TolHive& hive, GError** err) {
        if (!tol_reg_import(hive, *target_key, bytes, counts, err)) return false;
        // Half a change would leave neither side as it was nor as asked.
        if (counts.errors == 0) return true;
        g_set_error(err, G_FILE_ERROR, G_FILE_ERROR_FAILED,
                    ngettext("%u difference could not be applied", "%u differences could not be applied",
                             counts.errors),
                    counts.errors);
        return false;
      },
      &error);
  if (!done) {
    tol_pane_toast(pane, tol_format(_("Nothing was applied: %s"), error != nullptr ? error->message : "?").c_str());
    return false;
  }
  tol_pane_toast(pane, tol_format(to_left ? _("Applied to the left pane. %s") : _("Applied to the right pane. %s"),
                                  tol_reg_import_summary(counts).c_str())
                           .c_str());
  return true;
}

void tol_diff_panel_export(TolDiffPanel* self) {
  g_return_if_fail(TOL_IS_DIFF_PANEL(self));
  if (!self->state->active) return;
  TolFileRequest request;
  request.action = TolFileAction::save;
  request.title = _("Export differences as .reg");
  request.initial_name = _("differences.reg");
  request.filters = {{_(".reg files"), {"*.reg"}}};
  request.error_format = "zapis roznic .reg: %s";
  TolWeakRef<TolDiffPanel> ref(self);
  tol_compat_file_dialog(GTK_WIDGET(self), request, [ref](GFile* file) {
    g_autoptr(TolDiffPanel) panel = ref.get();
    g_autofree char* path = file != nullptr ? g_file_get_path(file) : nullptr;
    if (panel == nullptr || path == nullptr) return;
    g_autoptr(GError) error = nullptr;
    if (!tol_diff_panel_export_to(panel, path, &error))
      tol_pane_toast(panel->left, tol_format(_("Export failed: %s"), error->message).c_str());
  });
}

bool tol_diff_panel_export_to(TolDiffPanel* self, const char* path, GError** error) {
  g_return_val_if_fail(TOL_IS_DIFF_PANEL(self), false);
  if (!self->state->active || !self->state->problem.empty()) {
    g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, "%s", _("There is no comparison to export"));
    return false;
  }
  return tol_reg_diff_file(tol_document_get_hive(self->left_doc), tol_document_get_hive(self->right_doc),
                           self->state->diff, path, error);
}

GtkWidget* tol_diff_panel_get_list_view(TolDiffPanel* self) { return self->view; }
GtkWidget* tol_diff_panel_get_summary_label(TolDiffPanel* self) { return self->summary; }
