// The menu models of the pane's context menus, with the accelerators the
// window's table gives their commands. A doubled underscore is the menu's
// escape for a literal one: "REG__SZ" shows as REG_SZ.
#pragma once

#include <gio/gio.h>

// New references.
GMenuModel* tol_menu_key_tree();
GMenuModel* tol_menu_value_list();
