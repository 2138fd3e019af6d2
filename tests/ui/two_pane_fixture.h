// Two real panes side by side in a window, linked to each other and sharing a
// toast overlay as the main window links them, with builder hives opened in
// them from a private temporary directory.
#pragma once

#include <adwaita.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive_builder.h"
#include "ui/accels.h"
#include "ui/pane.h"
#include "ui/key_tree.h"
#include "ui/replace_popover.h"
#include "ui/search_popover.h"
#include "ui/tab_bar.h"
#include "ui/value_list.h"
#include "ui_test_util.h"

namespace tol_test {

using tol::test::key;
using tol::test::val;

// The pane's selected key path, "<none>" without a selection.
inline std::string selected_path(TolPane* pane) {
  std::string out;
  return tol_pane_get_selected_key_path(pane, out) ? out : std::string("<none>");
}

// The drawn label below `root` whose text is `text`, or null.
inline GtkWidget* find_label(GtkWidget* root, const std::string& text) {
  for (GtkWidget* label : find_all(root, GTK_TYPE_LABEL)) {
    if (gtk_widget_is_visible(label) && text == gtk_label_get_text(GTK_LABEL(label)))
      return label;
  }
  return nullptr;
}

// A toast's title is drawn as a label inside the overlay.
inline bool toast_shown(AdwToastOverlay* overlay, const std::string& text) {
  return iterate_until([&] { return find_label(GTK_WIDGET(overlay), text) != nullptr; });
}

class TwoPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    GError* error = nullptr;
    char* dir = g_dir_make_tmp("tolvane-ui-XXXXXX", &error);
    ASSERT_NE(dir, nullptr) << error->message;
    dir_ = dir;
    g_free(dir);

    window_ = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window_), 1400, 700);
    overlay_ = ADW_TOAST_OVERLAY(adw_toast_overlay_new());
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(box), TRUE);
    left_ = tol_pane_new("left pane");
    right_ = tol_pane_new("right pane");
    gtk_widget_set_hexpand(GTK_WIDGET(left_), TRUE);
    gtk_widget_set_hexpand(GTK_WIDGET(right_), TRUE);
    gtk_box_append(GTK_BOX(box), GTK_WIDGET(left_));
    gtk_box_append(GTK_BOX(box), GTK_WIDGET(right_));
    tol_pane_set_other(left_, right_);
    tol_pane_set_other(right_, left_);
    tol_pane_set_toast_overlay(left_, overlay_);
    tol_pane_set_toast_overlay(right_, overlay_);
    adw_toast_overlay_set_child(overlay_, box);
    gtk_window_set_child(GTK_WINDOW(window_), GTK_WIDGET(overlay_));
    // The window's keys, as the main window binds them.
    gtk_widget_add_controller(window_, tol_accels_controller_new());
    gtk_window_present(GTK_WINDOW(window_));
    iterate_until([&] { return gtk_widget_get_mapped(window_); });
  }

  void TearDown() override {
    destroy_all_windows();
    for (const std::string& f : files_)
      g_remove(f.c_str());
    if (!dir_.empty())
      g_rmdir(dir_.c_str());
  }

  // A fresh path in the test's directory, removed at the end.
  std::string path(const std::string& name) {
    std::string p = dir_ + "/" + name;
    files_.push_back(p);
    return p;
  }

  std::string write_hive(const tol::test::KeySpec& root, const std::string& name) {
    tol::test::HiveBuilder builder;
    builder.tree(root);
    std::string p = path(name);
    builder.write_file(p);
    return p;
  }

  // Opens a builder hive in a new tab of `pane`.
  void open(TolPane* pane, const tol::test::KeySpec& root, const std::string& name) {
    std::string p = write_hive(root, name);
    GFile* file = g_file_new_for_path(p.c_str());
    tol_pane_open_file(pane, file);
    g_object_unref(file);
    ASSERT_NE(tol_pane_get_hive(pane), nullptr) << "the pane did not load " << p;
    drain_main_loop();
  }

  void select(TolPane* pane, const char* key_path) {
    tol_pane_select_path(pane, key_path);
    std::string selected;
    ASSERT_TRUE(tol_pane_get_selected_key_path(pane, selected));
    ASSERT_EQ(selected, key_path);
    drain_main_loop();
  }

  std::string clipboard_text() {
    GdkClipboard* clipboard = gtk_widget_get_clipboard(window_);
    struct Read {
      bool done = false;
      std::string text;
    } read;
    gdk_clipboard_read_text_async(
        clipboard, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* r = static_cast<Read*>(data);
          char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
          r->text = text != nullptr ? text : "";
          g_free(text);
          r->done = true;
        },
        &read);
    EXPECT_TRUE(iterate_until([&] { return read.done; }));
    return read.text;
  }

  GtkWidget* window_ = nullptr;
  AdwToastOverlay* overlay_ = nullptr;
  TolPane* left_ = nullptr;
  TolPane* right_ = nullptr;
  std::string dir_;
  std::vector<std::string> files_;
};

}  // namespace tol_test
