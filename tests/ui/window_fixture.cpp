// The fixture's log capture and real key presses.
#include "window_fixture.h"

#include <string>
#include <vector>

namespace tol_test {

namespace {

WarningCapture* active_capture = nullptr;

GLogWriterOutput write_log(GLogLevelFlags level, const GLogField* fields, gsize n_fields, gpointer data) {
  constexpr auto kCaptured = GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING);
  if (active_capture == nullptr || (level & kCaptured) == 0)
    return g_log_writer_default(level, fields, n_fields, data);
  for (gsize i = 0; i < n_fields; ++i) {
    if (g_strcmp0(fields[i].key, "MESSAGE") == 0) {
      const char* text = static_cast<const char*>(fields[i].value);
      active_capture->add(fields[i].length < 0 ? std::string(text)
                                                : std::string(text, static_cast<std::size_t>(fields[i].length)));
    }
  }
  return G_LOG_WRITER_HANDLED;
}

}  // namespace

WarningCapture::WarningCapture() {
  // The writer can be set once per process only.
  static const bool installed = (g_log_set_writer_func(write_log, nullptr, nullptr), true);
  (void)installed;
  active_capture = this;
}

WarningCapture::~WarningCapture() {
  active_capture = nullptr;
}

bool press_keys(GtkWidget* window, const std::vector<std::string>& keys) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface))
    return false;
  std::vector<std::string> args = {"xdotool", "windowfocus", "--sync",
                                   std::to_string(gdk_x11_surface_get_xid(surface)),
                                   "key", "--delay", "30"};
  args.insert(args.end(), keys.begin(), keys.end());
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = -1;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                    nullptr, &status, nullptr) ||
      !g_spawn_check_wait_status(status, nullptr))
    return false;
  // The events come back through the server; round trips make sure they
  // have arrived before the loop is run dry, also on a busy machine.
  Display* display = gdk_x11_display_get_xdisplay(gtk_widget_get_display(window));
  for (int round = 0; round < 3; ++round) {
    XSync(display, False);
    drain_main_loop();
    g_usleep(20000);
  }
  drain_main_loop();
  return true;
}

}  // namespace tol_test
