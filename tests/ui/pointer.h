// Real pointer clicks through the display server.
#pragma once

#include <gtk/gtk.h>

namespace tol_test {

// Moves the pointer to (x, y) in `widget`'s coordinates inside the toplevel
// `window` and clicks `button` there. False when the click could not be sent
// (no X11 display, no xdotool, widget not in the window).
bool click_widget(GtkWidget* window, GtkWidget* widget, double x, double y, int button);

}  // namespace tol_test
