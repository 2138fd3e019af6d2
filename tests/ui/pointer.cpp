// Kept apart from the tests because the X headers define names that clash
// with the test framework's.
#include "pointer.h"

#include <gdk/x11/gdkx.h>

#include <string>

#include "ui_test_util.h"

namespace tol_test {

namespace {

// Widgets made since the last frame have no place yet; a painted frame gives
// them one.
void wait_for_frame(GtkWidget* window) {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window);
  if (clock == nullptr)
    return;
  bool painted = false;
  gulong id = g_signal_connect_swapped(clock, "after-paint",
                                       G_CALLBACK(+[](bool* done) { *done = true; }), &painted);
  gtk_widget_queue_draw(window);
  iterate_until([&] { return painted; });
  g_signal_handler_disconnect(clock, id);
}

}  // namespace

bool click_widget(GtkWidget* window, GtkWidget* widget, double x, double y, int button) {
  wait_for_frame(window);
  double wx = 0, wy = 0, sx = 0, sy = 0;
  if (!gtk_widget_translate_coordinates(widget, window, x, y, &wx, &wy))
    return false;
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface))
    return false;
  // Widget coordinates of the window start inside its shadow margin.
  gtk_native_get_surface_transform(GTK_NATIVE(window), &sx, &sy);
  std::string id = std::to_string(gdk_x11_surface_get_xid(surface));
  std::string px = std::to_string(static_cast<int>(wx + sx));
  std::string py = std::to_string(static_cast<int>(wy + sy));
  std::string b = std::to_string(button);
  const char* argv[] = {"xdotool", "mousemove", "--sync", "--window", id.c_str(), px.c_str(),
                        py.c_str(), "click", b.c_str(), nullptr};
  int status = -1;
  if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                    nullptr, nullptr, nullptr, &status, nullptr) ||
      !g_spawn_check_wait_status(status, nullptr))
    return false;
  XSync(gdk_x11_display_get_xdisplay(gtk_widget_get_display(window)), False);
  drain_main_loop();
  return true;
}

}  // namespace tol_test
