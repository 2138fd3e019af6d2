// The edit dialog: its two forms, the text it gives back, its buttons, and
// its apply function: run on OK and Enter while the pane lives, kept open when
// it refuses, and gone with the window however it closes.
#include "ui/dialog.h"

#include <memory>

#include "window_fixture.h"

namespace tol_test {
namespace {

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

  TolEditDialog* shown(const char* title, const char* text, bool multiline) {
    TolEditDialog* dialog = tol_edit_dialog_new(pane_, title, text, multiline);
    tol_edit_dialog_present(dialog);
    return dialog;
  }

  // The Cancel and OK buttons, in the order shown.
  static std::vector<GtkWidget*> buttons(TolEditDialog* dialog) {
    return find_all(GTK_WIDGET(dialog), GTK_TYPE_BUTTON);
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
  TolEditDialog* dialog = shown("Rename key", "Services", false);
  EXPECT_EQ(tol_edit_dialog_get_buffer(dialog), nullptr);
  GtkWidget* entry = tol_edit_dialog_get_entry(dialog);
  ASSERT_NE(entry, nullptr);
  GtkWindow* window = GTK_WINDOW(dialog);
  EXPECT_STREQ(gtk_window_get_title(window), "Rename key");
  EXPECT_TRUE(gtk_window_get_modal(window));
  EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(parent_));
  int width = 0, height = 0;
  gtk_window_get_default_size(window, &width, &height);
  EXPECT_EQ(width, 440);
  // Its natural height: an entry and a row of buttons.
  EXPECT_LT(height, 200);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(dialog)));

  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(entry)), "Services");
  EXPECT_TRUE(is_inside(focus_of(GTK_WIDGET(dialog)), entry));
  int start = -1, end = -1;
  ASSERT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end));
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 8);
  // Typing replaces the selection.
  drain_main_loop();
  if (!press_keys(GTK_WIDGET(dialog), {"x", "y"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(tol_edit_dialog_get_text(dialog), "xy");
}

TEST_F(DialogTest, EnterInASingleLineDialogAppliesAndARefusalKeepsItOpen) {
  TolEditDialog* dialog = shown("New key", "", false);
  std::vector<std::string> seen;
  bool accept = false;
  tol_edit_dialog_set_apply(dialog, [&](TolPane* pane, TolEditDialog* d) {
    EXPECT_EQ(pane, pane_);
    seen.push_back(tol_edit_dialog_get_text(d));
    return accept;
  });
  GtkWidget* window = GTK_WIDGET(dialog);
  watch(window);
  drain_main_loop();
  if (!press_keys(window, {"a", "Return"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(seen, std::vector<std::string>{"a"});
  EXPECT_TRUE(gtk_widget_get_visible(window)) << "a refused text stays for another try";
  accept = true;
  g_signal_emit_by_name(tol_edit_dialog_get_ok(dialog), "clicked");
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_TRUE(destroyed(window));
}

TEST_F(DialogTest, MultiLineDialogTakesLineBreaksAndIsMonospace) {
  TolEditDialog* dialog = shown("Edit multi-string", "one\ntwo", true);
  EXPECT_EQ(tol_edit_dialog_get_entry(dialog), nullptr);
  GtkTextBuffer* buffer = tol_edit_dialog_get_buffer(dialog);
  ASSERT_NE(buffer, nullptr);
  int width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(dialog), &width, &height);
  EXPECT_EQ(width, 440);
  EXPECT_EQ(height, 300);
  GtkWidget* view = find_first(GTK_WIDGET(dialog), GTK_TYPE_TEXT_VIEW);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(gtk_text_view_get_monospace(GTK_TEXT_VIEW(view)));
  GtkWidget* scrolled = gtk_widget_get_ancestor(view, GTK_TYPE_SCROLLED_WINDOW);
  ASSERT_NE(scrolled, nullptr);
  EXPECT_TRUE(gtk_widget_get_vexpand(scrolled));
  EXPECT_EQ(tol_edit_dialog_get_text(dialog), "one\ntwo");

  // Enter breaks the line; nothing applies.
  int applied = 0;
  tol_edit_dialog_set_apply(dialog, [&](TolPane*, TolEditDialog*) { return ++applied, false; });
  gtk_widget_grab_focus(view);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_place_cursor(buffer, &end);
  drain_main_loop();
  if (!press_keys(GTK_WIDGET(dialog), {"Return", "3"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(tol_edit_dialog_get_text(dialog), "one\ntwo\n3");
  EXPECT_EQ(applied, 0);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(dialog)));
}

TEST_F(DialogTest, TextOfABufferLeavesOutHiddenCharactersAndAMissingTextIsEmpty) {
  TolEditDialog* dialog = shown("Edit", "visible hidden end", true);
  GtkTextBuffer* buffer = tol_edit_dialog_get_buffer(dialog);
  GtkTextTag* hidden = gtk_text_buffer_create_tag(buffer, nullptr, "invisible", TRUE, nullptr);
  GtkTextIter start, stop;
  gtk_text_buffer_get_iter_at_offset(buffer, &start, 7);
  gtk_text_buffer_get_iter_at_offset(buffer, &stop, 14);
  gtk_text_buffer_apply_tag(buffer, hidden, &start, &stop);
  EXPECT_EQ(tol_edit_dialog_get_text(dialog), "visible end");
  EXPECT_EQ(tol_edit_dialog_get_text(shown("a", nullptr, false)), "");
  EXPECT_EQ(tol_edit_dialog_get_text(shown("b", nullptr, true)), "");
}

TEST_F(DialogTest, ButtonsAreCancelThenASuggestedOkAtTheEnd) {
  TolEditDialog* dialog = shown("New key", "x", false);
  std::vector<GtkWidget*> row = buttons(dialog);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(row[0])), "Cancel");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(row[1])), "OK");
  EXPECT_EQ(row[1], tol_edit_dialog_get_ok(dialog));
  EXPECT_TRUE(gtk_widget_has_css_class(row[1], "suggested-action"));
  EXPECT_FALSE(gtk_widget_has_css_class(row[0], "suggested-action"));
}

TEST_F(DialogTest, TheApplyFunctionGoesWithTheWindowHoweverItCloses) {
  auto alive = std::make_shared<int>(0);
  std::weak_ptr<int> watched = alive;
  int applied = 0;
  const auto open = [&] {
    TolEditDialog* dialog = shown("New key", "x", false);
    tol_edit_dialog_set_apply(dialog, [&applied, hold = alive](TolPane*, TolEditDialog*) {
      ++applied;
      return true;
    });
    return GTK_WIDGET(dialog);
  };
  // Cancel.
  GtkWidget* window = open();
  alive.reset();
  watch(window);
  g_signal_emit_by_name(buttons(TOL_EDIT_DIALOG(window))[0], "clicked");
  ASSERT_TRUE(destroyed(window));
  EXPECT_TRUE(watched.expired());

  // Closed by the window manager.
  alive = std::make_shared<int>(0);
  watched = alive;
  window = open();
  alive.reset();
  watch(window);
  gtk_window_close(GTK_WINDOW(window));
  ASSERT_TRUE(destroyed(window));
  EXPECT_TRUE(watched.expired());

  // Escape, like Cancel.
  alive = std::make_shared<int>(0);
  watched = alive;
  window = open();
  alive.reset();
  watch(window);
  drain_main_loop();
  if (press_keys(window, {"Escape"})) {
    ASSERT_TRUE(destroyed(window));
    EXPECT_TRUE(watched.expired());
  }
  EXPECT_EQ(applied, 0);
}

TEST_F(DialogTest, OkAfterThePaneWentClosesWithoutApplying) {
  TolPane* pane = TOL_PANE(g_object_ref_sink(tol_pane_new("lone pane")));
  TolEditDialog* dialog = tol_edit_dialog_new(pane, "New key", "x", false);
  tol_edit_dialog_present(dialog);
  int applied = 0;
  tol_edit_dialog_set_apply(dialog, [&](TolPane*, TolEditDialog*) { return ++applied, true; });
  GtkWidget* window = GTK_WIDGET(dialog);
  watch(window);
  g_object_unref(pane);  // the pane goes
  g_signal_emit_by_name(tol_edit_dialog_get_ok(dialog), "clicked");
  EXPECT_TRUE(destroyed(window));
  EXPECT_EQ(applied, 0);
}

}  // namespace
}  // namespace tol_test
