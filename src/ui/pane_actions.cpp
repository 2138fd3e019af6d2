// The pane's commands as actions of its class ("pane.*"): the toolbar, the
// tab bar, the context menus, the popovers and the window's accelerators all
// run them.
#include <glib/gi18n-lib.h>

#include "ui/commands.h"
#include "ui/key_properties.h"
#include "ui/open_dialogs.h"
#include "ui/pane_private.h"
#include "ui/value_list.h"

namespace {

TolPane* pane_of(GtkWidget* widget) { return TOL_PANE(widget); }

void new_key(GtkWidget* w, const char*, GVariant*) { tol_pane_show_new_key(pane_of(w)); }
void new_value(GtkWidget* w, const char*, GVariant* type) {
  tol_pane_new_value_quick(pane_of(w), g_variant_get_string(type, nullptr));
}
void new_value_dialog(GtkWidget* w, const char*, GVariant*) { tol_pane_show_new_value(pane_of(w)); }
void rename(GtkWidget* w, const char*, GVariant*) { tol_pane_rename_selected(pane_of(w)); }
void remove(GtkWidget* w, const char*, GVariant*) { tol_pane_delete_selected(pane_of(w)); }
void copy(GtkWidget* w, const char*, GVariant*) { tol_pane_copy_selected(pane_of(w)); }
void rename_key(GtkWidget* w, const char*, GVariant*) { tol_pane_show_rename_key(pane_of(w)); }
void delete_key(GtkWidget* w, const char*, GVariant*) { tol_pane_confirm_delete_key(pane_of(w)); }
void export_reg(GtkWidget* w, const char*, GVariant*) { tol_pane_export_reg(pane_of(w)); }
void import_reg(GtkWidget* w, const char*, GVariant*) { tol_pane_import_reg(pane_of(w)); }
void copy_name(GtkWidget* w, const char*, GVariant*) { tol_pane_copy_key_path(pane_of(w)); }
void permissions(GtkWidget* w, const char*, GVariant*) { tol_pane_edit_security(pane_of(w)); }
void properties(GtkWidget* w, const char*, GVariant*) { tol_pane_show_key_properties(pane_of(w)); }
void check_hive(GtkWidget* w, const char*, GVariant*) { tol_pane_show_check_report(pane_of(w)); }
void repair_hive(GtkWidget* w, const char*, GVariant*) { tol_pane_repair_to_new_tab(pane_of(w)); }
void value_modify(GtkWidget* w, const char*, GVariant*) {
  TolPane* self = pane_of(w);
  const guint position = gtk_single_selection_get_selected(tol_value_list_get_selection(self->value_list));
  if (position != GTK_INVALID_LIST_POSITION) tol_pane_modify_value(self, position);
}
void value_rename(GtkWidget* w, const char*, GVariant*) { tol_pane_show_rename_value(pane_of(w)); }
void value_delete(GtkWidget* w, const char*, GVariant*) { tol_pane_confirm_delete_value(pane_of(w)); }
void restore(GtkWidget* w, const char*, GVariant*) { tol_pane_restore_selected(pane_of(w)); }
void restore_to(GtkWidget* w, const char*, GVariant*) { tol_pane_restore_selected_to(pane_of(w)); }
void undo(GtkWidget* w, const char*, GVariant*) { tol_pane_undo(pane_of(w), true); }
void redo(GtkWidget* w, const char*, GVariant*) { tol_pane_redo(pane_of(w), true); }
// The keys' undo and redo say nothing when they work: the views show it.
void undo_quietly(GtkWidget* w, const char*, GVariant*) { tol_pane_undo(pane_of(w), false); }
void redo_quietly(GtkWidget* w, const char*, GVariant*) { tol_pane_redo(pane_of(w), false); }
void search(GtkWidget* w, const char*, GVariant*) { tol_pane_show_search(pane_of(w)); }
void replace(GtkWidget* w, const char*, GVariant*) { tol_pane_show_replace(pane_of(w)); }
void select_path(GtkWidget* w, const char*, GVariant* path) {
  tol_pane_select_path(pane_of(w), g_variant_get_string(path, nullptr));
}
void switch_tab(GtkWidget* w, const char*, GVariant* index) {
  TolPane* self = pane_of(w);
  const int target = g_variant_get_int32(index);
  if (target != tol_pane_get_active_tab(self) && target >= 0 && target < tol_pane_get_tab_count(self))
    tol_pane_switch_tab(self, target);
}
void close_tab(GtkWidget* w, const char*, GVariant* index) {
  tol_pane_close_tab(pane_of(w), g_variant_get_int32(index));
}
void open_file(GtkWidget* w, const char*, GVariant*) { tol_pane_open_file_dialog(pane_of(w)); }

struct Entry {
  const char* name;
  const char* parameter;
  GtkWidgetActionActivateFunc run;
};

constexpr Entry kActions[] = {
    {"pane.new-key", nullptr, new_key},
    {"pane.new-value", "s", new_value},
    {"pane.new-value-dialog", nullptr, new_value_dialog},
    {"pane.rename", nullptr, rename},
    {"pane.delete", nullptr, remove},
    {"pane.copy", nullptr, copy},
    {"pane.rename-key", nullptr, rename_key},
    {"pane.delete-key", nullptr, delete_key},
    {"pane.export", nullptr, export_reg},
    {"pane.import", nullptr, import_reg},
    {"pane.copy-name", nullptr, copy_name},
    {"pane.permissions", nullptr, permissions},
    {"pane.properties", nullptr, properties},
    {"pane.check-hive", nullptr, check_hive},
    {"pane.repair-hive", nullptr, repair_hive},
    {"pane.value-modify", nullptr, value_modify},
    {"pane.value-rename", nullptr, value_rename},
    {"pane.value-delete", nullptr, value_delete},
    {"pane.restore", nullptr, restore},
    {"pane.restore-to", nullptr, restore_to},
    {"pane.undo", nullptr, undo},
    {"pane.redo", nullptr, redo},
    {"pane.undo-quietly", nullptr, undo_quietly},
    {"pane.redo-quietly", nullptr, redo_quietly},
    {"pane.search", nullptr, search},
    {"pane.replace", nullptr, replace},
    {"pane.select-path", "s", select_path},
    {"pane.switch-tab", "i", switch_tab},
    {"pane.close-tab", "i", close_tab},
    {"pane.open-file", nullptr, open_file},
};

}  // namespace

void tol_pane_class_install_actions(GtkWidgetClass* widget_class) {
  for (const Entry& entry : kActions)
    gtk_widget_class_install_action(widget_class, entry.name, entry.parameter, entry.run);
  // A check item in the menus; activating it flips the property.
  gtk_widget_class_install_property_action(widget_class, "pane.show-deleted", "show-deleted");
}
