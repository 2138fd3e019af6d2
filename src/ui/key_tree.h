// Pieces of the key tree shared between the pane's own files (construction,
// tabs, key tree). Not for use outside the pane.
#pragma once

#include <gtk/gtk.h>

#include "ui/pane.h"

// key_tree.cpp
// Gives the tree a fresh model holding the hive's root key, expanded; null
// leaves it empty. Does not select or refresh anything.
void tol_key_tree_set_hive(TolPane* self, TolHive* hive);
// The selected row, or null (borrowed).
GtkTreeListRow* tol_key_tree_selected_row(TolPane* self);
// Keyboard handlers; each returns whether it handled the key.
bool tol_key_tree_collapse_or_parent(TolPane* self);
bool tol_key_tree_expand_or_child(TolPane* self);
bool tol_key_tree_expand_subtree(TolPane* self);

// pane.cpp
// The key tree's shortcut controller (capture phase); each entry finds its
// pane from the view it runs on.
GtkEventController* tol_pane_key_tree_shortcuts();
// Creates the key tree's context menu and the secondary-button gesture that
// opens it, and adds the gesture to the view.
void tol_pane_key_tree_menu_attach(TolPane* self);
