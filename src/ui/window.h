// The main window. Each activation of the application and each request to
// open files gets a window of its own.
#pragma once

#include <adwaita.h>

G_BEGIN_DECLS

#define TOL_TYPE_WINDOW (tol_window_get_type())
G_DECLARE_FINAL_TYPE(TolWindow, tol_window, TOL, WINDOW, AdwApplicationWindow)

G_END_DECLS

TolWindow* tol_window_new(GtkApplication* application);

// The first file goes to the left pane, the second to the right pane; any
// further files are ignored.
void tol_window_open_files(TolWindow* self, GFile** files, int n_files);

// The file given to the left or right pane, or null; owned by the window.
GFile* tol_window_get_left_file(TolWindow* self);
GFile* tol_window_get_right_file(TolWindow* self);
