// Undo of the editing commands: ten steps deep per tab, each tab with its own
// journal, and an undo whose save fails keeping its step for another try.
#include <gtest/gtest.h>

#include "edit_commands_util.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

class UndoTest : public TwoPaneTest {
 protected:
  // The New key command as the user runs it, on the root of the left pane.
  void create_key(const std::string& name) {
    select(left_, "");
    gtk_widget_activate_action(GTK_WIDGET(left_), "pane.new-key", nullptr);
    GtkWindow* dialog = wait_for_dialog("New key (under the selected key)");
    ASSERT_NE(dialog, nullptr);
    answer_dialog(dialog, name);
    ASSERT_TRUE(toast_taken(overlay_, "Created key \"" + name + "\""));
  }

  void click_undo() {
    g_signal_emit_by_name(toolbar_button(left_, "pane.undo"), "clicked");
    drain_main_loop();
  }
};

TEST_F(UndoTest, TenStepsDeepAndTheEleventhHasNothingToUndo) {
  open(left_, sample_tree(), "SYSTEM");
  const std::string file = path("SYSTEM");
  for (int i = 0; i <= 10; ++i)
    create_key("K" + std::to_string(i));
  EXPECT_EQ(snapshots(left_), 10u);

  for (int i = 10; i >= 1; --i) {
    SCOPED_TRACE(i);
    click_undo();
    ASSERT_TRUE(toast_taken(overlay_, "Last change undone"));
    EXPECT_FALSE(key_on_disk(file, "K" + std::to_string(i)));
    EXPECT_TRUE(key_on_disk(file, "K" + std::to_string(i - 1)));
    EXPECT_EQ(snapshots(left_), static_cast<std::size_t>(i - 1));
  }
  EXPECT_FALSE(gtk_widget_get_sensitive(toolbar_button(left_, "pane.undo")));
  EXPECT_FALSE(tol_pane_undo(left_, true));
  EXPECT_TRUE(toast_taken(overlay_, "Nothing to undo"));
  // The first change's step fell out of the journal: it stays.
  EXPECT_TRUE(key_on_disk(file, "K0"));
  EXPECT_FALSE(tol_hive_find_path(*tol_pane_get_hive(left_), "K1").has_value());
}

TEST_F(UndoTest, EachTabUndoesItsOwnChangesAcrossSwitches) {
  open(left_, sample_tree(), "first.hiv");
  const std::string first = path("first.hiv");
  create_key("InFirst");
  open(left_, sample_tree(), "second.hiv");
  const std::string second = path("second.hiv");
  create_key("InSecond");
  ASSERT_EQ(tol_pane_get_active_tab(left_), 1);

  tol_pane_switch_tab(left_, 0);
  drain_main_loop();
  EXPECT_EQ(snapshots(left_), 1u);
  click_undo();
  EXPECT_TRUE(toast_taken(overlay_, "Last change undone"));
  EXPECT_FALSE(key_on_disk(first, "InFirst"));
  EXPECT_TRUE(key_on_disk(second, "InSecond"));
  EXPECT_FALSE(tol_pane_undo(left_, true));
  EXPECT_TRUE(toast_taken(overlay_, "Nothing to undo"));

  tol_pane_switch_tab(left_, 1);
  drain_main_loop();
  EXPECT_EQ(snapshots(left_), 1u);
  tol_pane_focus_tree(left_);
  drain_main_loop();
  if (!press_keys(window_, {"ctrl+z"}))
    GTEST_SKIP() << "cannot send keys";
  EXPECT_TRUE(iterate_until([&] { return !key_on_disk(second, "InSecond"); }));
  EXPECT_EQ(snapshots(left_), 0u);
}

// The restored image that cannot be saved is not an undone change: the step
// stays, the file and the view stay as they are, and a later undo works.
TEST_F(UndoTest, AnUndoWhoseSaveFailsKeepsItsStep) {
  open(left_, sample_tree(), "NTUSER.DAT");
  const std::string file = path("NTUSER.DAT");
  create_key("Kept");
  ASSERT_EQ(snapshots(left_), 1u);
  {
    FailingSave failing;
    WarningCapture quiet;  // the failure is also logged
    click_undo();
    EXPECT_EQ(take_toast(overlay_, "Undo failed: "), "Undo failed: cannot create temporary file: Permission denied");
  }
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_TRUE(key_on_disk(file, "Kept"));
  EXPECT_TRUE(tol_hive_find_path(*tol_pane_get_hive(left_), "Kept").has_value());
  drain_main_loop();
  EXPECT_NE(find_label(tol_pane_get_key_tree_view(left_), "Kept"), nullptr);

  click_undo();
  EXPECT_TRUE(toast_taken(overlay_, "Last change undone"));
  EXPECT_FALSE(key_on_disk(file, "Kept"));
  EXPECT_EQ(snapshots(left_), 0u);
}

}  // namespace
}  // namespace tol_test
