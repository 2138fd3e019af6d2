// Shared pieces of the window, session, dialog and opening tests: a private
// temporary directory for builder hives and session files, real key presses
// through the display server, and small lookups in the widget tree.
#pragma once

#include <adwaita.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hive_builder.h"
#include "two_pane_fixture.h"
#include "temp_dir.h"
#include "ui_test_util.h"

// Last: the X headers define names such as None and Bool that the test
// framework's headers use, so these must have been read before.
#include <gdk/x11/gdkx.h>

namespace tol_test {

using tol::test::TempDir;

// A small hive with a few levels, the same in every test that needs one.
inline tol::test::KeySpec sample_tree() {
  return key("ROOT", {key("Software", {key("Vendor", {key("App")}), key("Classes")}),
                      key("System", {key("Select"), key("Setup")})},
             {val("Greeting", 1, tol::test::utf16le_sz("hello"))});
}

inline std::string write_hive(const std::string& path, const tol::test::KeySpec& root = sample_tree()) {
  tol::test::HiveBuilder builder;
  builder.tree(root);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  builder.write_file(path);
  return path;
}

inline void open_path(TolPane* pane, const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  tol_pane_open_file(pane, file);
  g_object_unref(file);
}

// The title on the pane's status page.
inline std::string status_title(TolPane* pane) {
  const char* title = adw_status_page_get_title(ADW_STATUS_PAGE(tol_pane_get_status_page(pane)));
  return title != nullptr ? title : "";
}

inline std::string visible_page(TolPane* pane) {
  const char* name = gtk_stack_get_visible_child_name(GTK_STACK(GTK_WIDGET(gtk_widget_get_ancestor(tol_pane_get_key_tree_view(pane), GTK_TYPE_STACK))));
  return name != nullptr ? name : "";
}

inline bool is_inside(GtkWidget* widget, GtkWidget* ancestor) {
  return widget != nullptr && (widget == ancestor || gtk_widget_is_ancestor(widget, ancestor));
}

inline GtkWidget* focus_of(GtkWidget* window) {
  return gtk_root_get_focus(GTK_ROOT(window));
}

// Presents the window and waits until it is on the screen.
inline void show(GtkWidget* window) {
  gtk_window_present(GTK_WINDOW(window));
  ASSERT_TRUE(iterate_until([&] { return gtk_widget_get_mapped(window); }));
  drain_main_loop();
}

// Records the warnings and critical messages logged while it exists, also
// those of code that logs through the structured log API, which the log
// handlers of LogCapture never see.
class WarningCapture {
 public:
  WarningCapture();
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  const std::vector<std::string>& messages() const { return messages_; }
  void add(std::string message) { messages_.push_back(std::move(message)); }

 private:
  std::vector<std::string> messages_;
};

// Presses keys for real: gives the window the X input focus and types the
// keys (xdotool names such as "Tab", "shift+Tab", "ctrl+f") through the
// display server, then lets the events arrive. False when the keys could not
// be sent (no X11 display, no xdotool).
bool press_keys(GtkWidget* window, const std::vector<std::string>& keys);

}  // namespace tol_test
