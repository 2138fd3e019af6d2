// Every keyboard accelerator of the window, in one table. The window's one
// shortcut controller, the shortcut bar and the menus' accelerator labels are
// all built from it, so no key is bound twice and what a menu shows is what
// the key does.
#pragma once

#include <gtk/gtk.h>

#include <span>

// Where the keyboard focus must be for an accelerator to act; elsewhere the
// key goes on to the focused widget.
enum class TolAccelScope {
  anywhere,
  not_editing,      // not while a text field has the focus (its own Ctrl+Z)
  views,            // in a pane's key tree or value list
  tree,             // in a pane's key tree
  not_in_controls,  // not in a popover or the comparison panel, whose controls Tab walks
};

struct TolAccel {
  const char* action;   // "pane.*" on the active pane, "tree.*" on its tree, "win.*"
  const char* trigger;  // as gtk_shortcut_trigger_parse_string reads it
  TolAccelScope scope;
  const char* bar_key;   // the key as the shortcut bar shows it; null: not on the bar
  const char* bar_text;  // translatable; shown with bar_key
  // Menu items that run the same command on a part of the pane, and show
  // this accelerator (the tree's "Rename" for F2, ...).
  const char* menu_actions[2];
};

std::span<const TolAccel> tol_accels();

// The accelerator shown beside a menu item for `action`, or null.
const char* tol_accel_for_menu(const char* action);

// The window's shortcut controller: runs each entry's action on the widget the
// entry names, when its scope holds.
GtkEventController* tol_accels_controller_new();

// Runs an entry's action on the widget it names; false when nothing could run
// it, or when `in_scope` asks for its scope and the focus is outside it. The
// shortcut bar's buttons run theirs wherever the focus is.
bool tol_accel_run(GtkWidget* window, const TolAccel& accel, bool in_scope);
