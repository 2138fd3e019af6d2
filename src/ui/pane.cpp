// The pane: construction in display order, its action group and toolbar, the
// key tree's shortcuts and context menu, the clipboard copy of a key path,
// toasts and the public command functions.
#include "ui/pane_private.h"

#include <glib/gi18n-lib.h>

#include "ui/commands.h"
#include "ui/key_tree.h"

G_DEFINE_FINAL_TYPE(TolPane, tol_pane, GTK_TYPE_BOX)

TolDragRecord tol_drag_record;

namespace {

constexpr int kToastSeconds = 4;
constexpr int kPanedPosition = 260;

// ---- Actions -----------------------------------------------------------------

void on_export(GSimpleAction*, GVariant*, gpointer pane) { tol_pane_export_reg(TOL_PANE(pane)); }
void on_copy_name(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_copy_key_path(TOL_PANE(pane));
}
void on_new_key(GSimpleAction*, GVariant*, gpointer pane) { tol_pane_show_new_key(TOL_PANE(pane)); }
void on_new_value(GSimpleAction*, GVariant* type, gpointer pane) {
  tol_pane_new_value_quick(TOL_PANE(pane), g_variant_get_string(type, nullptr));
}
void on_rename_key(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_show_rename_key(TOL_PANE(pane));
}
void on_delete_key(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_confirm_delete_key(TOL_PANE(pane));
}
void on_permissions(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_edit_security(TOL_PANE(pane));
}
void on_check_hive(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_show_check_report(TOL_PANE(pane));
}
void on_repair_hive(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_repair_to_new_tab(TOL_PANE(pane));
}
void on_value_modify(GSimpleAction*, GVariant*, gpointer pane) {
  auto* self = TOL_PANE(pane);
  guint position = gtk_single_selection_get_selected(self->value_selection);
  if (position != GTK_INVALID_LIST_POSITION)
    tol_pane_modify_value(self, position);
}
void on_value_rename(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_show_rename_value(TOL_PANE(pane));
}
void on_value_delete(GSimpleAction*, GVariant*, gpointer pane) {
  tol_pane_confirm_delete_value(TOL_PANE(pane));
}

const GActionEntry kActions[] = {
    {"new-key", on_new_key, nullptr, nullptr, nullptr, {}},
    {"new-value", on_new_value, "s", nullptr, nullptr, {}},
    {"rename-key", on_rename_key, nullptr, nullptr, nullptr, {}},
    {"delete-key", on_delete_key, nullptr, nullptr, nullptr, {}},
    {"export", on_export, nullptr, nullptr, nullptr, {}},
    {"copy-name", on_copy_name, nullptr, nullptr, nullptr, {}},
    {"permissions", on_permissions, nullptr, nullptr, nullptr, {}},
    {"check-hive", on_check_hive, nullptr, nullptr, nullptr, {}},
    {"repair-hive", on_repair_hive, nullptr, nullptr, nullptr, {}},
    {"value-modify", on_value_modify, nullptr, nullptr, nullptr, {}},
    {"value-rename", on_value_rename, nullptr, nullptr, nullptr, {}},
    {"value-delete", on_value_delete, nullptr, nullptr, nullptr, {}},
};

void build_actions(TolPane* self) {
  self->actions = g_simple_action_group_new();
  g_action_map_add_action_entries(G_ACTION_MAP(self->actions), kActions, G_N_ELEMENTS(kActions),
                                  self);
  gtk_widget_insert_action_group(GTK_WIDGET(self), "pane", G_ACTION_GROUP(self->actions));
}

// ---- Toolbar -------------------------------------------------------------------

void on_search_clicked(GtkButton*, gpointer pane) { tol_pane_show_search(TOL_PANE(pane)); }
void on_replace_clicked(GtkButton*, gpointer pane) { tol_pane_show_replace(TOL_PANE(pane)); }
void on_export_clicked(GtkButton*, gpointer pane) { tol_pane_export_reg(TOL_PANE(pane)); }
void on_undo_clicked(GtkButton*, gpointer pane) { tol_pane_undo(TOL_PANE(pane), true); }
void on_import_clicked(GtkButton*, gpointer pane) { tol_pane_import_reg(TOL_PANE(pane)); }
void on_delete_clicked(GtkButton*, gpointer pane) { tol_pane_confirm_delete_key(TOL_PANE(pane)); }
void on_rename_clicked(GtkButton*, gpointer pane) { tol_pane_show_rename_key(TOL_PANE(pane)); }
void on_new_key_clicked(GtkButton*, gpointer pane) { tol_pane_show_new_key(TOL_PANE(pane)); }
void on_new_value_clicked(GtkButton*, gpointer pane) { tol_pane_show_new_value(TOL_PANE(pane)); }
void on_security_clicked(GtkButton*, gpointer pane) { tol_pane_edit_security(TOL_PANE(pane)); }

GtkWidget* toolbar_button(GtkWidget* row, const char* icon, const char* tooltip, GCallback clicked,
                          TolPane* self) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon);
  gtk_widget_add_css_class(button, "flat");
  gtk_widget_set_tooltip_text(button, tooltip);
  g_signal_connect(button, "clicked", clicked, self);
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

  self->search_button = toolbar_button(row, "edit-find-symbolic", _("Search in this pane"),
                                       G_CALLBACK(on_search_clicked), self);
  self->replace_button =
      toolbar_button(row, "edit-find-replace-symbolic",
                     _("Find and replace in the selected subtree"), G_CALLBACK(on_replace_clicked), self);
  self->export_button =
      toolbar_button(row, "document-save-symbolic", _("Export the selected key to a .reg file"),
                     G_CALLBACK(on_export_clicked), self);
  self->import_button = toolbar_button(row, "document-open-symbolic",
                                       _("Import a .reg file into the selected key"), G_CALLBACK(on_import_clicked), self);
  self->delete_button = toolbar_button(row, "user-trash-symbolic",
                                       _("Delete the selected key and its subtree"), G_CALLBACK(on_delete_clicked), self);
  self->undo_button = toolbar_button(row, "edit-undo-symbolic", _("Undo the last change in this tab"),
                                     G_CALLBACK(on_undo_clicked), self);
  self->rename_button = toolbar_button(row, "document-edit-symbolic",
                                       _("Rename the selected key (F2)"), G_CALLBACK(on_rename_clicked), self);
  self->new_key_button = toolbar_button(row, "folder-new-symbolic",
                                        _("Create a subkey under the selected key"), G_CALLBACK(on_new_key_clicked), self);
  self->new_value_button = toolbar_button(row, "list-add-symbolic",
                                          _("Create a value in the selected key"), G_CALLBACK(on_new_value_clicked), self);
  self->security_button =
      toolbar_button(row, "security-high-symbolic",
                     _("Security descriptor / ACL of the selected key"), G_CALLBACK(on_security_clicked), self);
  return row;
}

// ---- Key tree shortcuts and menu ----------------------------------------------

using PaneShortcut = bool (*)(TolPane*);

struct ShortcutEntry {
  guint keyval;
  GdkModifierType modifiers;
  PaneShortcut run;
};

// F2, Delete and F7 are always consumed in the tree, so that they never reach
// the view's own bindings.
bool key_rename(TolPane* self) {
  tol_pane_rename_selected(self);
  return true;
}
bool key_delete(TolPane* self) {
  tol_pane_delete_selected(self);
  return true;
}
bool key_new_key(TolPane* self) {
  tol_pane_new_key(self);
  return true;
}
bool key_undo(TolPane* self) { return tol_pane_undo(self, false); }
bool key_search(TolPane* self) {
  tol_pane_show_search(self);
  return true;
}
bool key_replace(TolPane* self) {
  tol_pane_show_replace(self);
  return true;
}

const ShortcutEntry kTreeShortcuts[] = {
    {GDK_KEY_F2, GdkModifierType(0), key_rename},
    {GDK_KEY_Delete, GdkModifierType(0), key_delete},
    {GDK_KEY_c, GDK_CONTROL_MASK, tol_pane_copy_key_path},
    {GDK_KEY_z, GDK_CONTROL_MASK, key_undo},
    {GDK_KEY_f, GDK_CONTROL_MASK, key_search},
    {GDK_KEY_h, GDK_CONTROL_MASK, key_replace},
    {GDK_KEY_F7, GdkModifierType(0), key_new_key},
    {GDK_KEY_Left, GdkModifierType(0), tol_key_tree_collapse_or_parent},
    {GDK_KEY_KP_Subtract, GdkModifierType(0), tol_key_tree_collapse_or_parent},
    {GDK_KEY_Right, GdkModifierType(0), tol_key_tree_expand_or_child},
    {GDK_KEY_KP_Add, GdkModifierType(0), tol_key_tree_expand_or_child},
    {GDK_KEY_KP_Multiply, GdkModifierType(0), tol_key_tree_expand_subtree},
};

gboolean run_tree_shortcut(GtkWidget* view, GVariant*, gpointer entry) {
  GtkWidget* pane = gtk_widget_get_ancestor(view, TOL_TYPE_PANE);
  if (pane == nullptr)
    return FALSE;
  return static_cast<const ShortcutEntry*>(entry)->run(TOL_PANE(pane));
}

void on_tree_secondary_press(GtkGestureClick* gesture, int, double x, double y, gpointer pane) {
  auto* self = TOL_PANE(pane);
  if (!self->d->hive)
    return;  // nothing to act on: leave the press to others
  gtk_widget_grab_focus(self->key_tree_view);
  GdkRectangle at = {static_cast<int>(x), static_cast<int>(y), 1, 1};
  gtk_popover_set_pointing_to(GTK_POPOVER(self->key_tree_menu), &at);
  gtk_popover_popup(GTK_POPOVER(self->key_tree_menu));
  gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
}

void unparent(GtkWidget*& widget) {
  if (widget != nullptr && gtk_widget_get_parent(widget) != nullptr)
    gtk_widget_unparent(widget);
  widget = nullptr;
}

void set_clipboard_text(TolPane* self, const char* text) {
  gdk_clipboard_set_text(gtk_widget_get_clipboard(GTK_WIDGET(self)), text);
}

}  // namespace

GtkEventController* tol_pane_key_tree_shortcuts() {
  GtkEventController* controller = gtk_shortcut_controller_new();
  gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
  for (const ShortcutEntry& entry : kTreeShortcuts) {
    GtkShortcutAction* action =
        gtk_callback_action_new(run_tree_shortcut, const_cast<ShortcutEntry*>(&entry), nullptr);
    GtkShortcut* shortcut =
        gtk_shortcut_new(gtk_keyval_trigger_new(entry.keyval, entry.modifiers), action);
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(controller), shortcut);
  }
  return controller;
}

void tol_pane_key_tree_menu_attach(TolPane* self) {
  GMenuModel* model = tol_pane_key_tree_menu_model();
  self->key_tree_menu = gtk_popover_menu_new_from_model(model);
  g_object_unref(model);
  gtk_widget_set_parent(self->key_tree_menu, self->key_tree_view);
  gtk_popover_set_has_arrow(GTK_POPOVER(self->key_tree_menu), FALSE);
  gtk_widget_set_halign(self->key_tree_menu, GTK_ALIGN_START);

  GtkGesture* click = gtk_gesture_click_new();
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_SECONDARY);
  g_signal_connect(click, "pressed", G_CALLBACK(on_tree_secondary_press), self);
  gtk_widget_add_controller(self->key_tree_view, GTK_EVENT_CONTROLLER(click));
}

// ---- Construction and lifetime ----------------------------------------------

static void tol_pane_dispose(GObject* object) {
  TolPane* self = TOL_PANE(object);
  if (self->d != nullptr) {
    // The tree's rows point into the hive: drop them before the hive goes.
    if (self->key_tree_selection != nullptr)
      tol_key_tree_set_hive(self, nullptr);
    if (self->d->hive != nullptr && tol_drag_record.hive == self->d->hive.get())
      tol_drag_record = TolDragRecord{};
    tol_hive_close(std::move(self->d->hive));
    self->d->search_results.reset();
    self->d->tabs.clear();
    self->d->type_ahead.clear();
    self->d->type_ahead.shrink_to_fit();
  }
  unparent(self->key_tree_menu);
  unparent(self->value_list_menu);
  unparent(self->search_popover);
  unparent(self->replace_popover);
  self->other = nullptr;
  self->toast_overlay = nullptr;
  g_clear_object(&self->actions);
  G_OBJECT_CLASS(tol_pane_parent_class)->dispose(object);
  // The views went with the children; a second dispose must not reach them.
  self->key_tree_selection = nullptr;
  self->key_tree_view = nullptr;
  self->value_list_view = nullptr;
}

static void tol_pane_finalize(GObject* object) {
  TolPane* self = TOL_PANE(object);
  delete self->d;
  self->d = nullptr;
  G_OBJECT_CLASS(tol_pane_parent_class)->finalize(object);
}

static void tol_pane_class_init(TolPaneClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = tol_pane_dispose;
  G_OBJECT_CLASS(klass)->finalize = tol_pane_finalize;
}

static void tol_pane_init(TolPane* self) {
  self->d = new TolPaneData();
  gtk_orientable_set_orientation(GTK_ORIENTABLE(self), GTK_ORIENTATION_VERTICAL);

  build_actions(self);

  gtk_box_append(GTK_BOX(self), build_toolbar(self));
  gtk_box_append(GTK_BOX(self), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));

  self->tab_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  gtk_widget_set_margin_start(self->tab_box, 4);
  gtk_widget_set_margin_end(self->tab_box, 4);
  gtk_widget_set_margin_top(self->tab_box, 3);
  gtk_widget_set_margin_bottom(self->tab_box, 3);
  GtkWidget* tab_scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(tab_scroller), GTK_POLICY_EXTERNAL,
                                 GTK_POLICY_NEVER);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(tab_scroller), self->tab_box);
  gtk_box_append(GTK_BOX(self), tab_scroller);
  tol_pane_rebuild_tab_bar(self);

  tol_pane_search_popover_build(self);
  tol_pane_replace_popover_build(self);

  gtk_box_append(GTK_BOX(self), gtk_separator_new(GTK_ORIENTATION_HORIZONTAL));
  self->stack = gtk_stack_new();
  gtk_widget_set_vexpand(self->stack, TRUE);
  gtk_box_append(GTK_BOX(self), self->stack);
  self->status_page = adw_status_page_new();
  gtk_stack_add_named(GTK_STACK(self->stack), self->status_page, "empty");

  GtkWidget* tree = tol_pane_key_tree_build(self);
  GtkWidget* values = tol_pane_value_list_build(self);

  GtkWidget* paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_paned_set_start_child(GTK_PANED(paned), tree);
  gtk_paned_set_end_child(GTK_PANED(paned), values);
  gtk_paned_set_resize_start_child(GTK_PANED(paned), TRUE);
  gtk_paned_set_resize_end_child(GTK_PANED(paned), TRUE);
  gtk_paned_set_position(GTK_PANED(paned), kPanedPosition);
  gtk_stack_add_named(GTK_STACK(self->stack), paned, "loaded");

  tol_pane_show_status(self, TOL_STATUS_EMPTY, "drive-harddisk-symbolic", _("Empty pane"),
                       _("Open a SYSTEM, SOFTWARE, SAM, SECURITY or NTUSER.DAT file"));
}

TolPane* tol_pane_new(const char* tooltip) {
  return TOL_PANE(g_object_new(TOL_TYPE_PANE, "tooltip-text", tooltip, nullptr));
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
  if (self->toast_overlay == nullptr)
    return;
  AdwToast* toast = adw_toast_new(message);
  adw_toast_set_timeout(toast, kToastSeconds);
  adw_toast_overlay_add_toast(self->toast_overlay, toast);
}

TolHive* tol_pane_get_hive(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->d->hive.get();
}

GtkWidget* tol_pane_get_key_tree_view(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->key_tree_view;
}

GtkWidget* tol_pane_get_value_list_view(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), nullptr);
  return self->value_list_view;
}

bool tol_focus_inside(GtkWidget* widget) {
  GtkRoot* root = widget != nullptr ? gtk_widget_get_root(widget) : nullptr;
  GtkWidget* focus = GTK_IS_WINDOW(root) ? gtk_window_get_focus(GTK_WINDOW(root)) : nullptr;
  return focus != nullptr && (focus == widget || gtk_widget_is_ancestor(focus, widget));
}

bool tol_pane_focus_in_value_list(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  return tol_focus_inside(self->value_list_view);
}

// ---- Clipboard -------------------------------------------------------------------

bool tol_pane_copy_key_path(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  std::string path;
  if (!tol_pane_get_selected_key_path(self, path))
    return false;
  // An empty text would look like a failed copy; the root is written as the
  // separator alone.
  set_clipboard_text(self, path.empty() ? "\\" : path.c_str());
  tol_pane_toast(self, _("Key path copied"));
  return true;
}

// ---- Commands ------------------------------------------------------------------

void tol_pane_focus_tree(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  gtk_widget_grab_focus(self->key_tree_view);
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
