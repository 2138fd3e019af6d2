// The edit dialog builder: its two forms, the text it gives back, its
// buttons and the context record that lives as long as the dialog.
#include "ui/dialog.h"

#include "window_fixture.h"

namespace tol_test {
namespace {

struct Context {
  bool* freed;
  explicit Context(bool* flag) : freed(flag) {}
  ~Context() { *freed = true; }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    parent_ = gtk_window_new();
    pane_ = tol_pane_new("left pane");
    gtk_window_set_child(GTK_WINDOW(parent_), GTK_WIDGET(pane_));
    show(parent_);
  }
  void TearDown() override { destroy_all_windows(); }

  // The Cancel and OK buttons, in the order shown.
  std::vector<GtkWidget*> buttons(const TolDialog& dialog) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* b : find_all(dialog.window, GTK_TYPE_BUTTON))
      out.push_back(b);
    return out;
  }

  // Waits until the dialog window is gone for good.
  static bool destroyed(GtkWidget*& window) {
    return iterate_until([&] { return window == nullptr; });
  }
  static void watch(GtkWidget*& window) {
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  }

  GtkWidget* parent_ = nullptr;
  TolPane* pane_ = nullptr;
};

TEST_F(DialogTest, SingleLineDialogSelectsItsTextForTyping) {
  TolDialog dialog = tol_dialog_new(pane_, "Rename key", "Services", false);
  ASSERT_NE(dialog.window, nullptr);
  EXPECT_EQ(dialog.buffer, nullptr);
  ASSERT_NE(dialog.entry, nullptr);
  GtkWindow* window = GTK_WINDOW(dialog.window);
  EXPECT_STREQ(gtk_window_get_title(window), "Rename key");
  EXPECT_TRUE(gtk_window_get_modal(window));
  EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(parent_));
  int width = 0, height = 0;
  gtk_window_get_default_size(window, &width, &height);
  EXPECT_EQ(width, 440);
  // Its natural height: an entry and a row of buttons.
  EXPECT_LT(height, 200);
  EXPECT_TRUE(gtk_widget_get_visible(dialog.window));

  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(dialog.entry)), "Services");
  EXPECT_TRUE(is_inside(focus_of(dialog.window), dialog.entry));
  int start = -1, end = -1;
  ASSERT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(dialog.entry), &start, &end));
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 8);
  // Typing replaces the selection.
  drain_main_loop();
  if (!press_keys(dialog.window, {"x", "y"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(tol_dialog_get_text(dialog), "xy");
}

TEST_F(DialogTest, EnterInASingleLineDialogApplies) {
  TolDialog dialog = tol_dialog_new(pane_, "New key", "", false);
  int applied = 0;
  g_signal_connect_swapped(dialog.entry, "activate", G_CALLBACK(+[](int* n) { ++*n; }), &applied);
  drain_main_loop();
  if (!press_keys(dialog.window, {"a", "Return"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(tol_dialog_get_text(dialog), "a");
}

TEST_F(DialogTest, MultiLineDialogTakesLineBreaksAndIsMonospace) {
  TolDialog dialog = tol_dialog_new(pane_, "Edit multi-string", "one\ntwo", true);
  EXPECT_EQ(dialog.entry, nullptr);
  ASSERT_NE(dialog.buffer, nullptr);
  int width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(dialog.window), &width, &height);
  EXPECT_EQ(width, 440);
  EXPECT_EQ(height, 300);
  GtkWidget* view = find_first(dialog.window, GTK_TYPE_TEXT_VIEW);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), dialog.buffer);
  EXPECT_TRUE(gtk_text_view_get_monospace(GTK_TEXT_VIEW(view)));
  GtkWidget* scrolled = gtk_widget_get_ancestor(view, GTK_TYPE_SCROLLED_WINDOW);
  ASSERT_NE(scrolled, nullptr);
  EXPECT_TRUE(gtk_widget_get_vexpand(scrolled));
  EXPECT_EQ(tol_dialog_get_text(dialog), "one\ntwo");

  // Enter breaks the line; nothing applies.
  int applied = 0;
  g_signal_connect_swapped(dialog.ok, "clicked", G_CALLBACK(+[](int* n) { ++*n; }), &applied);
  gtk_widget_grab_focus(view);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(dialog.buffer, &end);
  gtk_text_buffer_place_cursor(dialog.buffer, &end);
  drain_main_loop();
  if (!press_keys(dialog.window, {"Return", "3"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(tol_dialog_get_text(dialog), "one\ntwo\n3");
  EXPECT_EQ(applied, 0);
  EXPECT_TRUE(gtk_widget_get_visible(dialog.window));
}

TEST_F(DialogTest, TextOfABufferLeavesOutHiddenCharacters) {
  TolDialog dialog = tol_dialog_new(pane_, "Edit", "visible hidden end", true);
  GtkTextTag* hidden = gtk_text_buffer_create_tag(dialog.buffer, nullptr, "invisible", TRUE, nullptr);
  GtkTextIter start, stop;
  gtk_text_buffer_get_iter_at_offset(dialog.buffer, &start, 7);
  gtk_text_buffer_get_iter_at_offset(dialog.buffer, &stop, 14);
  gtk_text_buffer_apply_tag(dialog.buffer, hidden, &start, &stop);
  EXPECT_EQ(tol_dialog_get_text(dialog), "visible end");
  // The buffer wins over an entry, and with neither the text is empty.
  TolDialog single = tol_dialog_new(pane_, "Rename", "entry", false);
  EXPECT_EQ(tol_dialog_get_text(single.entry, dialog.buffer), "visible end");
  EXPECT_EQ(tol_dialog_get_text(single.entry, nullptr), "entry");
  EXPECT_EQ(tol_dialog_get_text(nullptr, nullptr), "");
}

TEST_F(DialogTest, AMissingTextIsEmpty) {
  EXPECT_EQ(tol_dialog_get_text(tol_dialog_new(pane_, "a", nullptr, false)), "");
  EXPECT_EQ(tol_dialog_get_text(tol_dialog_new(pane_, "b", nullptr, true)), "");
}

TEST_F(DialogTest, ButtonsAreCancelThenASuggestedOkAtTheEnd) {
  TolDialog dialog = tol_dialog_new(pane_, "New key", "x", false);
  std::vector<GtkWidget*> row = buttons(dialog);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(row[0])), "Cancel");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(row[1])), "OK");
  EXPECT_EQ(row[1], dialog.ok);
  EXPECT_TRUE(gtk_widget_has_css_class(dialog.ok, "suggested-action"));
  EXPECT_FALSE(gtk_widget_has_css_class(row[0], "suggested-action"));
  // The OK button only does what its caller connects.
  g_signal_emit_by_name(dialog.ok, "clicked");
  drain_main_loop();
  EXPECT_TRUE(gtk_widget_get_visible(dialog.window));
}

TEST_F(DialogTest, TheContextGoesWithTheWindowHoweverItCloses) {
  bool freed = false;
  int applied = 0;
  // Cancel.
  TolDialog dialog = tol_dialog_new(pane_, "New key", "x", false);
  tol_dialog_set_context(dialog.window, std::make_unique<Context>(&freed));
  EXPECT_NE(tol_dialog_get_context<Context>(dialog.window), nullptr);
  g_signal_connect_swapped(dialog.ok, "clicked", G_CALLBACK(+[](int* n) { ++*n; }), &applied);
  GtkWidget* window = dialog.window;
  watch(window);
  g_signal_emit_by_name(buttons(dialog)[0], "clicked");
  ASSERT_TRUE(destroyed(window));
  EXPECT_TRUE(freed);

  // Closed by the window manager.
  freed = false;
  dialog = tol_dialog_new(pane_, "New key", "x", false);
  tol_dialog_set_context(dialog.window, std::make_unique<Context>(&freed), TOL_SECURITY_CONTEXT);
  EXPECT_EQ(tol_dialog_get_context<Context>(dialog.window), nullptr);
  EXPECT_NE(tol_dialog_get_context<Context>(dialog.window, TOL_SECURITY_CONTEXT), nullptr);
  g_signal_connect_swapped(dialog.ok, "clicked", G_CALLBACK(+[](int* n) { ++*n; }), &applied);
  window = dialog.window;
  watch(window);
  gtk_window_close(GTK_WINDOW(window));
  ASSERT_TRUE(destroyed(window));
  EXPECT_TRUE(freed);

  // Escape, like Cancel.
  freed = false;
  dialog = tol_dialog_new(pane_, "New key", "x", false);
  tol_dialog_set_context(dialog.window, std::make_unique<Context>(&freed));
  window = dialog.window;
  watch(window);
  drain_main_loop();
  if (press_keys(window, {"Escape"})) {
    ASSERT_TRUE(destroyed(window));
    EXPECT_TRUE(freed);
  }
  EXPECT_EQ(applied, 0);
}

}  // namespace
}  // namespace tol_test
