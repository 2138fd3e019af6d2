// Helpers for driving real widgets in-process under a display server.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace tol_test {

// Runs the main loop until `done` holds. Gives up after a long wait so that a
// fault shows as a failed expectation rather than a hung test run.
inline bool iterate_until(const std::function<bool()>& done) {
  gint64 give_up = g_get_monotonic_time() + 30 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > give_up)
      return false;
    if (!g_main_context_iteration(nullptr, FALSE))
      g_usleep(2000);
  }
  return true;
}

// Lets pending idle work (layout, drawing, destruction) run.
inline void drain_main_loop() {
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
}

// Depth-first search of the widget tree below `root` for widgets of `type`.
inline std::vector<GtkWidget*> find_all(GtkWidget* root, GType type) {
  std::vector<GtkWidget*> found;
  std::function<void(GtkWidget*)> walk = [&](GtkWidget* w) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(w, type))
      found.push_back(w);
    for (GtkWidget* c = gtk_widget_get_first_child(w); c != nullptr; c = gtk_widget_get_next_sibling(c))
      walk(c);
  };
  walk(root);
  return found;
}

inline GtkWidget* find_first(GtkWidget* root, GType type) {
  std::vector<GtkWidget*> all = find_all(root, type);
  return all.empty() ? nullptr : all.front();
}

// Every toplevel window; the pointers are valid until a window is destroyed.
// The button below `root`, outside popovers, that runs `action`, or null.
inline GtkWidget* toolbar_button(gpointer root, const char* action) {
  for (GtkWidget* button : find_all(GTK_WIDGET(root), GTK_TYPE_BUTTON)) {
    const char* name = gtk_actionable_get_action_name(GTK_ACTIONABLE(button));
    if (name != nullptr && g_str_equal(name, action) &&
        gtk_widget_get_ancestor(button, GTK_TYPE_POPOVER) == nullptr)
      return button;
  }
  return nullptr;
}

inline std::vector<GtkWindow*> toplevels() {
  std::vector<GtkWindow*> out;
  GListModel* list = gtk_window_get_toplevels();
  for (guint i = 0; i < g_list_model_get_n_items(list); ++i) {
    auto* window = static_cast<GtkWindow*>(g_list_model_get_item(list, i));
    out.push_back(window);
    g_object_unref(window);
  }
  return out;
}

// Destroys every toplevel window, one at a time since destroying one may
// destroy others, and lets the destruction finish.
inline void destroy_all_windows() {
  GListModel* list = gtk_window_get_toplevels();
  for (int guard = 0; guard < 1000 && g_list_model_get_n_items(list) > 0; ++guard) {
    auto* window = static_cast<GtkWindow*>(g_list_model_get_item(list, 0));
    // A popover still shown when its window goes can keep the keyboard
    // grabbed, and later tests' windows would get no keys.
    for (GtkWidget* popover : find_all(GTK_WIDGET(window), GTK_TYPE_POPOVER))
      gtk_popover_popdown(GTK_POPOVER(popover));
    gtk_window_destroy(window);
    g_object_unref(window);
    drain_main_loop();
  }
}

// Records the critical and warning messages logged while it exists.
class LogCapture {
 public:
  LogCapture() {
    handler_ = g_log_set_handler(nullptr,
                                 static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                                             G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                                 &LogCapture::record, this);
  }
  ~LogCapture() { g_log_remove_handler(nullptr, handler_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void record(const char*, GLogLevelFlags, const char* message, gpointer self) {
    static_cast<LogCapture*>(self)->messages_.emplace_back(message);
  }
  guint handler_ = 0;
  std::vector<std::string> messages_;
};

}  // namespace tol_test
