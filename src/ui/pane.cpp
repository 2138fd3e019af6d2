// The pane: construction in display order, its tabs and the documents they
// show, keeping the views in step with a document's changes, toasts, the
// clipboard and the commands that act on a key or a value by focus.
#include "ui/pane_private.h"

#include <glib/gi18n-lib.h>

#include <map>

#include "hive/logs.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/key_tree.h"
#include "ui/replace_popover.h"
#include "ui/search_popover.h"
#include "ui/tab_bar.h"
#include "ui/value_item.h"
#include "ui/value_list.h"
#include "ui/widget_util.h"

G_DEFINE_FINAL_TYPE(TolPane, tol_pane, GTK_TYPE_BOX)

namespace {

constexpr int kToastSeconds = 4;
constexpr int kPanedPosition = 260;

// ---- Open documents ---------------------------------------------------------------

// Every open document by the file it shows, so that all tabs of all panes and
// windows showing one file share it, with its one undo history; without that
// an undo in one view could take back another's change.
std::map<std::string, TolDocument*>& open_documents() {
  static std::map<std::string, TolDocument*> documents;  // weak
  return documents;
}

// The same file under any spelling of its path.
std::string file_key(const std::string& path) {
  g_autofree char* real = realpath(path.c_str(), nullptr);
  if (real != nullptr) return real;
  g_autofree char* canonical = g_canonicalize_filename(path.c_str(), nullptr);
  return canonical;
}

void forget_document(gpointer key, GObject*) {
  auto* name = static_cast<std::string*>(key);
  open_documents().erase(*name);
  delete name;
}

// A new reference to the document of `path`, opened when no view has it
// open; `fresh` says which.
TolDocument* open_document(const std::string& path, bool& fresh, GError** error) {
  const std::string key = file_key(path);
  auto& documents = open_documents();
  fresh = false;
  if (auto it = documents.find(key); it != documents.end())
    return TOL_DOCUMENT(g_object_ref(it->second));
  TolDocument* document = tol_document_open(path, TolLogPolicy::apply, error);
  if (document == nullptr) return nullptr;
  documents.emplace(key, document);
  g_object_weak_ref(G_OBJECT(document), forget_document, new std::string(key));
  fresh = true;
  return document;
}

// ---- Toolbar -------------------------------------------------------------------

GtkWidget* toolbar_button(GtkWidget* row, const char* icon, const char* tooltip, const char* action) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon);
  gtk_widget_add_css_class(button, "flat");
  gtk_widget_set_tooltip_text(button, tooltip);
  gtk_actionable_set_action_name(GTK_ACTIONABLE(button), action);
  gtk_box_append(GTK_BOX(row), button);
  return button;
}

GtkWidget* build_toolbar(TolPane* self) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  gtk_widget_set_margin_start(row, 8);
  gtk_widget_set_margin_end(row, 8);
  gtk_widget_set_margin_top(row, 6);
  gtk_widget_set_margin_bottom(row, 6);

  self->path_label = gtk_label_new(_("(no hive loaded)"));
  gtk_label_set_xalign(GTK_LABEL(self->path_label), 0.0f);
  gtk_widget_set_halign(self->path_label, GTK_ALIGN_START);
  gtk_widget_add_css_class(self->path_label, "dim-label");
  gtk_widget_set_hexpand(self->path_label, TRUE);
  gtk_label_set_ellipsize(GTK_LABEL(self->path_label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_box_append(GTK_BOX(row), self->path_label);

  // The popovers hang from their buttons.
  GtkWidget* search = toolbar_button(row, "edit-find-symbolic", _("Search in this pane"), "pane.search");
  GtkWidget* replace = toolbar_button(row, "edit-find-replace-symbolic",
                                      _("Find and replace in the selected subtree"), "pane.replace");
  toolbar_button(row, "document-save-symbolic", _("Export the selected key to a .reg file"), "pane.export");
  toolbar_button(row, "document-open-symbolic", _("Import a .reg file into the selected key"), "pane.import");
  toolbar_button(row, "user-trash-symbolic", _("Delete the selected key and its subtree"), "pane.delete-key");
  toolbar_button(row, "edit-undo-symbolic", _("Undo the last change to this file"), "pane.undo");
  toolbar_button(row, "edit-redo-symbolic", _("Redo the last undone change (Ctrl+Shift+Z)"), "pane.redo");
  toolbar_button(row, "document-edit-symbolic", _("Rename the selected key (F2)"), "pane.rename-key");
  toolbar_button(row, "folder-new-symbolic", _("Create a subkey under the selected key"), "pane.new-key");
  toolbar_button(row, "list-add-symbolic", _("Create a value in the selected key"), "pane.new-value-dialog");
  toolbar_button(row, "security-high-symbolic", _("Security descriptor / ACL of the selected key"),
                 "pane.permissions");

  self->search = tol_search_popover_new();
  gtk_widget_set_parent(GTK_WIDGET(self->search), search);
  self->replace = tol_replace_popover_new();
  gtk_widget_set_parent(GTK_WIDGET(self->replace), replace);
  return row;
}

// ---- Tabs and documents --------------------------------------------------------------

bool valid_index(TolPane* self, int index) {
  return index >= 0 && index < static_cast<int>(self->tabs->tabs.size());
}

TolTab* tab_at(TolPane* self, int index) {
  return valid_index(self, index) ? self->tabs->tabs[static_cast<std::size_t>(index)].get() : nullptr;
}

void rebuild_tab_bar(TolPane* self) {
  std::vector<TolTabInfo> infos;
  for (const auto& tab : self->tabs->tabs) infos.push_back({tab->label, !tab->path});
  tol_tab_bar_set_tabs(self->tab_bar, infos, self->tabs->active);
}

void refresh_other(TolPane* self) {
  if (self->other != nullptr) tol_pane_refresh_values(self->other);
}

void on_document_changed(TolDocument*, gpointer change, gpointer pane);

// Shows `document` (null: none) in the views and follows its changes.
void show_document(TolPane* self, TolDocument* document) {
  TolPaneTabs& t = *self->tabs;
  if (t.shown != nullptr && t.changed_handler != 0) g_signal_handler_disconnect(t.shown, t.changed_handler);
  t.changed_handler = 0;
  t.shown = document;
  if (document != nullptr)
    t.changed_handler = g_signal_connect(document, "changed", G_CALLBACK(on_document_changed), self);
  tol_key_tree_set_document(self->key_tree, document);
  if (document == nullptr) {
    gtk_label_set_text(GTK_LABEL(self->path_label), _("(no hive loaded)"));
    gtk_widget_set_tooltip_text(self->path_label, nullptr);
  }
  tol_pane_refresh_values(self);
  refresh_other(self);
  tol_pane_update_actions(self);
}

void show_error(TolPane* self, const char* title, const char* description) {
  tol_pane_show_status(self, TOL_STATUS_ERROR, "dialog-error-symbolic", title, description);
}

void show_empty(TolPane* self) {
  tol_pane_show_status(self, TOL_STATUS_EMPTY, "drive-harddisk-symbolic", _("Empty pane"),
                       _("Open a SYSTEM, SOFTWARE, SAM, SECURITY or NTUSER.DAT file"));
}

// Windows keeps recent changes in the .LOG1/.LOG2 files until it merges
// them. Opening applies them as Windows would, and says so once; a hive whose
// logs could not be applied is shown as the primary file has it, which is
// older, and the warning says why.
void announce_logs(TolPane* self, TolTab& tab, const TolHive& hive, const char* path) {
  const TolLogReport& logs = hive.logs;
  if (tol_hive_has_pending_log(hive)) {
    const std::string reason = logs.examined ? logs.problem : std::string();
    tab.tooltip = tol_format(
        "%s\n\n%s", path,
        tol_format(_("Warning: this hive has changes recorded only in its transaction logs "
                     "(.LOG1/.LOG2) that could not be applied (%s). They are not shown, and "
                     "saving would discard them."),
                   reason.c_str())
            .c_str());
    tol_pane_toast(self, tol_format(_("This hive has changes recorded only in its transaction "
                                      "logs that could not be applied (%s); they are not shown, "
                                      "and saving would discard them"),
                                    reason.c_str())
                             .c_str());
    return;
  }
  if (logs.applied == 0 && !logs.base_from_log) return;
  g_autofree char* message =
      g_strdup_printf(ngettext("Applied %u change from the transaction logs",
                               "Applied %u changes from the transaction logs", logs.applied),
                      logs.applied);
  tab.tooltip = tol_format("%s\n\n%s (%s)", path, message, tol_log_summary(logs).c_str());
  tol_pane_toast(self, message);
}

// Shows the active tab: its document, opened on first use.
void load_active_tab(TolPane* self) {
  TolTab* tab = tab_at(self, self->tabs->active);
  if (tab == nullptr) {
    show_document(self, nullptr);
    show_empty(self);
    return;
  }
  if (!tab->path) {
    show_document(self, nullptr);
    g_autofree char* description = g_strdup_printf(_("File %s was not found in this location"), tab->label.c_str());
    tol_pane_show_status(self, TOL_STATUS_MISSING, "dialog-warning-symbolic", _("File unavailable"),
                         description);
    return;
  }
  bool fresh = false;
  if (tab->document == nullptr) {
    g_autoptr(GError) error = nullptr;
    tab->document = open_document(*tab->path, fresh, &error);
    if (tab->document == nullptr) {
      show_document(self, nullptr);
      show_error(self, _("Failed to open the file"), error != nullptr ? error->message : nullptr);
      return;
    }
    tab->tooltip = *tab->path;
  }
  gtk_label_set_text(GTK_LABEL(self->path_label), tab->path->c_str());
  if (fresh) {
    announce_logs(self, *tab, tol_document_get_hive(tab->document), tab->path->c_str());
    tol_pane_announce_damage(self, tab->path->c_str());
  }
  gtk_widget_set_tooltip_text(self->path_label, tab->tooltip.c_str());
  show_document(self, tab->document);
  gtk_stack_set_visible_child_name(GTK_STACK(self->stack), "loaded");
  if (!tab->last_key.empty()) tol_pane_select_path(self, tab->last_key.c_str());
}

// ---- Following the document ----------------------------------------------------------

void on_document_changed(TolDocument*, gpointer data, gpointer pane) {
  auto* self = TOL_PANE(pane);
  const TolChange& change = *static_cast<const TolChange*>(data);
  const std::uint32_t before = tol_pane_get_selected_key(self);
  // A tree whose selection moves says so, and that refreshes the values.
  tol_key_tree_apply_change(self->key_tree, change);
  const std::uint32_t key = tol_pane_get_selected_key(self);
  const bool values_changed = change.kind == TolChangeKind::subtree || change.kind == TolChangeKind::image ||
                              (change.kind == TolChangeKind::values && change.key == key);
  // A tree showing deleted items builds its rows again, and says so.
  if (values_changed && key == before && !self->show_deleted) {
    tol_pane_refresh_values(self);
    refresh_other(self);
  }
  tol_pane_update_actions(self);
}

void on_tree_selection_changed(TolKeyTree*, gpointer pane) {
  auto* self = TOL_PANE(pane);
  tol_pane_refresh_values(self);
  refresh_other(self);
}

gboolean on_key_dropped(TolKeyTree*, gpointer pane) { return tol_pane_drop_key(TOL_PANE(pane)); }

void set_clipboard_text(TolPane* self, const char* text) {
  gdk_clipboard_set_text(gtk_widget_get_clipboard(GTK_WIDGET(self)), text);
}

}  // namespace

// ---- Construction and lifetime ----------------------------------------------

static void tol_pane_dispose(GObject* object) {
  TolPane* self = TOL_PANE(object);
  // The other pane must not reach this one any more, nor this one's tree it.
  if (self->other != nullptr && self->other->other == self) self->other->other = nullptr;
  self->other = nullptr;
  if (self->key_tree != nullptr) g_signal_handlers_disconnect_by_data(self->key_tree, self);
  if (self->tabs != nullptr) {
    TolPaneTabs& t = *self->tabs;
    if (t.shown != nullptr && t.changed_handler != 0) g_signal_handler_disconnect(t.shown, t.changed_handler);
    t.changed_handler = 0;
    t.shown = nullptr;
  }
  // The views let go of the documents before the tabs do.
  if (self->key_tree != nullptr) tol_key_tree_set_document(self->key_tree, nullptr);
  if (self->search != nullptr) gtk_widget_unparent(GTK_WIDGET(self->search));
  if (self->replace != nullptr) gtk_widget_unparent(GTK_WIDGET(self->replace));
  self->search = nullptr;
  self->replace = nullptr;
  if (self->tabs != nullptr) self->tabs->tabs.clear();
  self->other = nullptr;
  self->toast_overlay = nullptr;
  G_OBJECT_CLASS(tol_pane_parent_class)->dispose(object);
  // The children are gone; a second dispose must not reach them.
  self->key_tree = nullptr;
  self->value_list = nullptr;
}

static void tol_pane_finalize(GObject* object) {
  delete TOL_PANE(object)->tabs;
  G_OBJECT_CLASS(tol_pane_parent_class)->finalize(object);
}

enum { kPropShowDeleted = 1, kProps };
static GParamSpec* g_pane_props[kProps];

static void tol_pane_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  if (id == kPropShowDeleted)
    tol_pane_set_show_deleted(TOL_PANE(object), g_value_get_boolean(value));
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void tol_pane_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  if (id == kPropShowDeleted)
    g_value_set_boolean(value, TOL_PANE(object)->show_deleted);
  else
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

static void tol_pane_class_init(TolPaneClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->dispose = tol_pane_dispose;
  object_class->finalize = tol_pane_finalize;
  object_class->set_property = tol_pane_set_property;
  object_class->get_property = tol_pane_get_property;
  g_pane_props[kPropShowDeleted] =
      g_param_spec_boolean("show-deleted", nullptr, nullptr, FALSE,
                           static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_EXPLICIT_NOTIFY |
                                                    G_PARAM_STATIC_STRINGS));
  g_object_class_install_properties(object_class, kProps, g_pane_props);
  // After the property, which one of the actions stands for.
  tol_pane_class_install_actions(GTK_WIDGET_CLASS(klass));
}

static void tol_pane_init(TolPane* self) {
  self->tabs = new TolPaneTabs();
  gtk_orientable_set_orientation(GTK_ORIENTABLE(self), GTK_ORIENTATION_VERTICAL);

  gtk_box_append(GTK_BOX(self), build_toolbar(self));
  gtk_box_append(GTK_BOX(self), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));

  self->tab_bar = tol_tab_bar_new();
  GtkWidget* tab_scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(tab_scroller), GTK_POLICY_EXTERNAL, GTK_POLICY_NEVER);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(tab_scroller), GTK_WIDGET(self->tab_bar));
  gtk_box_append(GTK_BOX(self), tab_scroller);

  gtk_box_append(GTK_BOX(self), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  self->stack = gtk_stack_new();
  gtk_widget_set_vexpand(self->stack, TRUE);
  gtk_box_append(GTK_BOX(self), self->stack);
  self->status_page = adw_status_page_new();
  gtk_stack_add_named(GTK_STACK(self->stack), self->status_page, "empty");

  self->key_tree = tol_key_tree_new();
  g_signal_connect(self->key_tree, "selection-changed", G_CALLBACK(on_tree_selection_changed), self);
  g_signal_connect(self->key_tree, "key-dropped", G_CALLBACK(on_key_dropped), self);
  self->value_list = tol_value_list_new();
  GtkWidget* paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_paned_set_start_child(GTK_PANED(paned), GTK_WIDGET(self->key_tree));
  gtk_paned_set_end_child(GTK_PANED(paned), GTK_WIDGET(self->value_list));
  gtk_paned_set_resize_start_child(GTK_PANED(paned), TRUE);
  gtk_paned_set_resize_end_child(GTK_PANED(paned), TRUE);
  gtk_paned_set_position(GTK_PANED(paned), kPanedPosition);
  gtk_stack_add_named(GTK_STACK(self->stack), paned, "loaded");

  show_empty(self);
  tol_pane_update_actions(self);
}

TolPane* tol_pane_new(const char* tooltip) {
  return TOL_PANE(g_object_new(TOL_TYPE_PANE, "tooltip-text", tooltip, nullptr));
}

void tol_pane_update_actions(TolPane* self) {
  TolDocument* document = self->tabs->shown;
  const bool undo = document != nullptr && tol_document_can_undo(document);
  const bool redo = document != nullptr && tol_document_can_redo(document);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "pane.undo", undo);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "pane.undo-quietly", undo);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "pane.redo", redo);
  gtk_widget_action_set_enabled(GTK_WIDGET(self), "pane.redo-quietly", redo);
}

// ---- Wiring ------------------------------------------------------------------------

void tol_pane_set_other(TolPane* self, TolPane* other) {
  g_return_if_fail(TOL_IS_PANE(self));
  self->other = other;
}

TolPane* tol_pane_get_other(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->other;
}

void tol_pane_set_toast_overlay(TolPane* self, AdwToastOverlay* overlay) {
  g_return_if_fail(TOL_IS_PANE(self));
  self->toast_overlay = overlay;
}

void tol_pane_toast(TolPane* self, const char* message) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->toast_overlay == nullptr) return;
  AdwToast* toast = adw_toast_new(message);
  adw_toast_set_timeout(toast, kToastSeconds);
  adw_toast_overlay_add_toast(self->toast_overlay, toast);  // takes the toast
}

// ---- Status page ----------------------------------------------------------------

void tol_pane_show_status(TolPane* self, TolStatusKind kind, const char* icon_name, const char* title,
                          const char* description) {
  g_return_if_fail(TOL_IS_PANE(self));
  static const char* const kClasses[] = {"tol-empty", "tol-missing", "tol-error"};
  for (const char* css : kClasses) gtk_widget_remove_css_class(self->status_page, css);
  const int k = static_cast<int>(kind);
  if (k >= 0 && k < static_cast<int>(G_N_ELEMENTS(kClasses))) gtk_widget_add_css_class(self->status_page, kClasses[k]);
  auto* page = ADW_STATUS_PAGE(self->status_page);
  adw_status_page_set_icon_name(page, icon_name);
  adw_status_page_set_title(page, title);
  adw_status_page_set_description(page, description);
  gtk_stack_set_visible_child_name(GTK_STACK(self->stack), "empty");
}

// ---- Tabs -----------------------------------------------------------------------------

int tol_pane_add_tab(TolPane* self, const char* label, const char* path, bool is_user) {
  g_return_val_if_fail(TOL_IS_PANE(self), -1);
  auto& tabs = self->tabs->tabs;
  if (tabs.size() >= static_cast<std::size_t>(TOL_MAX_TABS)) return -1;
  auto tab = std::make_unique<TolTab>();
  tab->label = label != nullptr ? label : "";
  if (path != nullptr) tab->path = path;
  tab->is_user = is_user;
  tabs.push_back(std::move(tab));
  return static_cast<int>(tabs.size()) - 1;
}

void tol_pane_switch_tab(TolPane* self, int index) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(valid_index(self, index));
  TolTab* left = tab_at(self, self->tabs->active);
  std::string selected;
  if (left != nullptr && left->document != nullptr && tol_pane_get_selected_key_path(self, selected))
    left->last_key = selected;
  self->tabs->active = index;
  load_active_tab(self);
  rebuild_tab_bar(self);
}

void tol_pane_close_tab(TolPane* self, int index) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (!valid_index(self, index)) return;
  auto& tabs = self->tabs->tabs;
  const int active = self->tabs->active;
  // The views let go of a document before its tab does.
  std::unique_ptr<TolTab> closing = std::move(tabs[static_cast<std::size_t>(index)]);
  tabs.erase(tabs.begin() + index);
  const int remaining = static_cast<int>(tabs.size());
  if (index == active) {
    self->tabs->active = -1;
    if (remaining > 0) {
      tol_pane_switch_tab(self, index < remaining ? index : remaining - 1);
      return;
    }
    load_active_tab(self);
  } else if (index < active) {
    --self->tabs->active;
  }
  rebuild_tab_bar(self);
}

void tol_pane_open_file(TolPane* self, GFile* file) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(G_IS_FILE(file));
  g_autofree char* path = g_file_get_path(file);
  if (path == nullptr) {
    show_error(self, _("Unsupported location"), _("Tolvane supports local files only."));
    return;
  }
  g_autofree char* base = g_path_get_basename(path);
  const int index = tol_pane_add_tab(self, base, path, false);
  if (index < 0) {
    show_error(self, _("Too many tabs"), _("This pane has reached the 16-tab limit — close a tab."));
    return;
  }
  tol_pane_switch_tab(self, index);
}

int tol_pane_get_tab_count(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), 0);
  return static_cast<int>(self->tabs->tabs.size());
}

int tol_pane_get_active_tab(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), -1);
  return self->tabs->active;
}

const char* tol_pane_get_tab_label(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr ? tab->label.c_str() : nullptr;
}

const char* tol_pane_get_tab_path(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr && tab->path ? tab->path->c_str() : nullptr;
}

const char* tol_pane_get_tab_last_key(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr ? tab->last_key.c_str() : nullptr;
}

bool tol_pane_get_tab_is_user(TolPane* self, int index) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolTab* tab = tab_at(self, index);
  return tab != nullptr && tab->is_user;
}

void tol_pane_set_tab_last_key(TolPane* self, int index, const char* key_path) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (TolTab* tab = tab_at(self, index)) tab->last_key = key_path != nullptr ? key_path : "";
}

TolDocument* tol_pane_get_document(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->tabs->shown;
}

TolHive* tol_pane_get_hive(TolPane* self) {
  TolDocument* document = tol_pane_get_document(self);
  return document != nullptr ? &tol_document_get_hive(document) : nullptr;
}

// ---- Key tree and value list ----------------------------------------------------------

std::uint32_t tol_pane_get_selected_key(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), TOL_NO_CELL);
  return self->key_tree != nullptr ? tol_key_tree_get_selected_key(self->key_tree) : TOL_NO_CELL;
}

bool tol_pane_get_selected_key_path(TolPane* self, std::string& out) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return self->key_tree != nullptr && tol_key_tree_get_selected_path(self->key_tree, out);
}

void tol_pane_select_path(TolPane* self, const char* path) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->key_tree != nullptr) tol_key_tree_select_path(self->key_tree, path);
}

void tol_pane_refresh_values(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->value_list == nullptr) return;
  TolPane* other = self->other;
  TolDeletedRows deleted;
  if (self->show_deleted && self->key_tree != nullptr) {
    deleted.scan = tol_key_tree_get_deleted_scan(self->key_tree);
    if (deleted.scan != nullptr) deleted.values = tol_key_tree_get_selected_deleted_values(self->key_tree);
  }
  tol_value_list_show(self->value_list, tol_pane_get_hive(self), tol_pane_get_selected_key(self),
                      other != nullptr ? tol_pane_get_hive(other) : nullptr,
                      other != nullptr ? tol_pane_get_selected_key(other) : TOL_NO_CELL, deleted);
}

void tol_pane_set_show_deleted(TolPane* self, bool show) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->show_deleted == show) return;
  self->show_deleted = show;
  // The tree says its selection changed, which shows the values again.
  if (self->key_tree != nullptr) tol_key_tree_set_show_deleted(self->key_tree, show);
  g_object_notify_by_pspec(G_OBJECT(self), g_pane_props[kPropShowDeleted]);
}

bool tol_pane_get_show_deleted(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return self->show_deleted;
}

std::optional<std::size_t> tol_pane_get_selected_deleted_key(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), std::nullopt);
  return self->key_tree != nullptr ? tol_key_tree_get_selected_deleted_key(self->key_tree) : std::nullopt;
}

TolValueItem* tol_pane_get_selected_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->value_list != nullptr ? tol_value_list_get_selected(self->value_list) : nullptr;
}

bool tol_pane_focus_in_value_list(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return self->value_list != nullptr && tol_focus_inside(tol_value_list_get_view(self->value_list));
}

// ---- Commands ------------------------------------------------------------------

void tol_pane_show_search(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->search != nullptr) tol_search_popover_show(self->search);
}

void tol_pane_show_replace(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->replace != nullptr) tol_replace_popover_show(self->replace);
}

void tol_pane_focus_tree(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  gtk_widget_grab_focus(tol_pane_get_key_tree_view(self));
}

void tol_pane_copy_selected(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_focus_in_value_list(self))
    tol_pane_copy_value(self);
  else
    tol_pane_copy_key_path(self);
}

void tol_pane_new_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  tol_pane_show_new_key(self);
}

void tol_pane_delete_selected(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_focus_in_value_list(self))
    tol_pane_confirm_delete_value(self);
  else
    tol_pane_confirm_delete_key(self);
}

void tol_pane_rename_selected(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_focus_in_value_list(self))
    tol_pane_show_rename_value(self);
  else
    tol_pane_show_rename_key(self);
}

bool tol_pane_copy_key_path(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  std::string path;
  if (!tol_pane_get_selected_key_path(self, path)) return false;
  // An empty text would look like a failed copy; the root is written as the
  // separator alone.
  set_clipboard_text(self, path.empty() ? "\\" : path.c_str());
  tol_pane_toast(self, _("Key path copied"));
  return true;
}

bool tol_pane_copy_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolValueItem* item = tol_pane_get_selected_value(self);
  if (item == nullptr) return false;
  const std::string name = tol_value_item_get_display_name(item);
  g_autofree char* text = g_strdup_printf(_("%s\t%s\t%s"), name.c_str(), tol_value_item_get_type_text(item).c_str(),
                                          tol_value_item_get_data_text(item).c_str());
  set_clipboard_text(self, text);
  tol_pane_toast(self, _("Value copied to the clipboard"));
  return true;
}

namespace {

bool travel(TolPane* self, bool toast, bool back) {
  TolDocument* document = tol_pane_get_document(self);
  const bool possible = document != nullptr && (back ? tol_document_can_undo(document) : tol_document_can_redo(document));
  if (!possible) {
    if (toast) tol_pane_toast(self, back ? _("Nothing to undo") : _("Nothing to redo"));
    return false;
  }
  g_autoptr(TolPane) hold = TOL_PANE(g_object_ref(self));
  g_autoptr(GError) error = nullptr;
  if (back ? tol_document_undo(document, &error) : tol_document_redo(document, &error)) {
    if (toast) tol_pane_toast(self, back ? _("Last change undone") : _("Last undone change redone"));
    return true;
  }
  // Shown also for the keyboard's silent undo: a step that did not happen
  // must not look as if it had. The step stays for another try.
  const char* reason = error != nullptr && error->message != nullptr ? error->message : _("unknown error");
  tol_pane_toast(self, tol_format(back ? _("Undo failed: %s") : _("Redo failed: %s"), reason).c_str());
  return true;
}

}  // namespace

bool tol_pane_undo(TolPane* self, bool toast) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return travel(self, toast, true);
}

bool tol_pane_redo(TolPane* self, bool toast) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return travel(self, toast, false);
}

// ---- Parts -------------------------------------------------------------------------

TolKeyTree* tol_pane_get_key_tree(TolPane* self) { return self->key_tree; }
TolValueList* tol_pane_get_value_list(TolPane* self) { return self->value_list; }
TolSearchPopover* tol_pane_get_search_popover(TolPane* self) { return self->search; }
TolReplacePopover* tol_pane_get_replace_popover(TolPane* self) { return self->replace; }
TolTabBar* tol_pane_get_tab_bar(TolPane* self) { return self->tab_bar; }
GtkWidget* tol_pane_get_path_label(TolPane* self) { return self->path_label; }
GtkWidget* tol_pane_get_status_page(TolPane* self) { return self->status_page; }

bool tol_pane_shows_views(TolPane* self) {
  const char* page = gtk_stack_get_visible_child_name(GTK_STACK(self->stack));
  return g_strcmp0(page, "loaded") == 0;
}

GtkWidget* tol_pane_get_key_tree_view(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->key_tree != nullptr ? tol_key_tree_get_view(self->key_tree) : nullptr;
}

GtkWidget* tol_pane_get_value_list_view(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->value_list != nullptr ? tol_value_list_get_view(self->value_list) : nullptr;
}
