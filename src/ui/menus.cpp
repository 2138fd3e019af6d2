#include "ui/menus.h"

#include <glib/gi18n-lib.h>

#include "ui/accels.h"

namespace {

void append(GMenu* menu, const char* label, const char* action) {
  g_autoptr(GMenuItem) item = g_menu_item_new(label, action);
  if (const char* accel = tol_accel_for_menu(action)) g_menu_item_set_attribute(item, "accel", "s", accel);
  g_menu_append_item(menu, item);
}

void append_section(GMenu* menu, GMenu* section) {
  g_menu_append_section(menu, nullptr, G_MENU_MODEL(section));
  g_object_unref(section);
}

void append_submenu(GMenu* menu, const char* label, GMenu* submenu) {
  g_menu_append_submenu(menu, label, G_MENU_MODEL(submenu));
  g_object_unref(submenu);
}

GMenu* new_submenu() {
  GMenu* menu = g_menu_new();
  append(menu, _("Key"), "pane.new-key");
  GMenu* types = g_menu_new();
  append(types, _("String value (REG__SZ)"), "pane.new-value::REG_SZ");
  append(types, _("Expandable value (REG__EXPAND__SZ)"), "pane.new-value::REG_EXPAND_SZ");
  append(types, _("Binary value (REG__BINARY)"), "pane.new-value::REG_BINARY");
  append(types, _("DWORD value (REG__DWORD)"), "pane.new-value::REG_DWORD");
  append(types, _("QWORD value (REG__QWORD)"), "pane.new-value::REG_QWORD");
  append(types, _("Multi-string value (REG__MULTI__SZ)"), "pane.new-value::REG_MULTI_SZ");
  append_section(menu, types);
  return menu;
}

// The toggle shows as a check item: its action has a boolean state.
GMenu* deleted_section() {
  GMenu* menu = g_menu_new();
  append(menu, _("Show deleted items"), "pane.show-deleted");
  append(menu, _("Restore"), "pane.restore");
  append(menu, _("Restore to…"), "pane.restore-to");
  return menu;
}

}  // namespace

GMenuModel* tol_menu_key_tree() {
  GMenu* menu = g_menu_new();
  append_submenu(menu, _("New"), new_submenu());
  GMenu* edit = g_menu_new();
  append(edit, _("Rename"), "pane.rename-key");
  append(edit, _("Delete"), "pane.delete-key");
  append_section(menu, edit);
  GMenu* more = g_menu_new();
  append(more, _("Export..."), "pane.export");
  append(more, _("Copy key name"), "pane.copy-name");
  append(more, _("Permissions..."), "pane.permissions");
  append(more, _("Properties"), "pane.properties");
  append_section(menu, more);
  append_section(menu, deleted_section());
  GMenu* hive = g_menu_new();
  append(hive, _("Check hive…"), "pane.check-hive");
  append(hive, _("Repair or compact…"), "pane.repair-hive");
  append_section(menu, hive);
  return G_MENU_MODEL(menu);
}

GMenuModel* tol_menu_value_list() {
  GMenu* menu = g_menu_new();
  append(menu, _("Modify..."), "pane.value-modify");
  append_submenu(menu, _("New"), new_submenu());
  GMenu* edit = g_menu_new();
  append(edit, _("Rename"), "pane.value-rename");
  append(edit, _("Delete"), "pane.value-delete");
  append_section(menu, edit);
  GMenu* deleted = g_menu_new();
  append(deleted, _("Restore"), "pane.restore");
  append(deleted, _("Restore to…"), "pane.restore-to");
  append_section(menu, deleted);
  return G_MENU_MODEL(menu);
}
