// The main window: two panes side by side, the header bar with the buttons
// that open hives, the copy column between the panes, the shortcut bar along
// the bottom and the one toast overlay both panes report in. Each activation
// of the application and each request to open files gets a window of its own.
#pragma once

#include <adwaita.h>

#include "ui/pane.h"

typedef struct _TolDiffPanel TolDiffPanel;

G_BEGIN_DECLS

#define TOL_TYPE_WINDOW (tol_window_get_type())
G_DECLARE_FINAL_TYPE(TolWindow, tol_window, TOL, WINDOW, AdwApplicationWindow)

G_END_DECLS

// The new window has restored the session's tabs.
TolWindow* tol_window_new(GtkApplication* application);

// The first file opens in the left pane, the second in the right pane, each
// as a new tab; any further files are ignored.
void tol_window_open_files(TolWindow* self, GFile** files, int n_files);

TolPane* tol_window_get_left_pane(TolWindow* self);
TolPane* tol_window_get_right_pane(TolWindow* self);
AdwToastOverlay* tol_window_get_toast_overlay(TolWindow* self);
// The comparison panel below the panes ("win.compare", Ctrl+D).
TolDiffPanel* tol_window_get_diff_panel(TolWindow* self);

// The pane that commands not bound to a pane act on: the right pane while the
// keyboard focus is inside it, otherwise the left pane.
TolPane* tol_window_get_active_pane(TolWindow* self);

// F5 / Shift+F5 and the copy buttons: copies the key selected in `source`
// with its subtree under the key selected in `destination`; `direction` is
// the text the toast names the direction with ("→ right pane").
void tol_window_copy_between_panes(TolWindow* self, TolPane* source, TolPane* destination,
                                   const char* direction);

// The About window ("win.about" and the main menu's "About Tolvane"): name,
// version, license, website and credits.
GtkWidget* tol_window_show_about(TolWindow* self);

// Undoes the last change of the active pane's document, without a toast; true
// when there was a change to undo.
bool tol_window_undo(TolWindow* self);
