// The key commands driven through their real widgets: the New key and Rename
// key dialogs, the Delete key? alert, what each writes to the file, the views
// after the reload, the undo journal, and a save that fails.
#include <gtest/gtest.h>

#include "../hive/peer_tools.h"
#include "edit_commands_util.h"
#include "ui/dialog.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

class KeyCommandsTest : public TwoPaneTest {
 protected:
  void open_sample() {
    open(left_, sample_tree(), "SOFTWARE");
    file_ = path("SOFTWARE");
  }

  // Runs `action` of the left pane and returns the dialog titled `title`.
  GtkWindow* run_action(const char* action, const char* title) {
    gtk_widget_activate_action(GTK_WIDGET(left_), action, nullptr);
    return wait_for_dialog(title);
  }

  // Real key presses in the left key tree.
  void press_in_tree(const std::vector<std::string>& keys) {
    tol_pane_focus_tree(left_);
    drain_main_loop();
    if (!press_keys(window_, keys))
      GTEST_SKIP() << "cannot send keys";
  }

  GtkWidget* tree_row(const std::string& name) { return find_label(tol_pane_get_key_tree_view(left_), name); }

  std::string file_;
};

constexpr char kNewKeyTitle[] = "New key (under the selected key)";

TEST_F(KeyCommandsTest, NewKeyCreatesUnderTheSelectionSelectsItAndSaves) {
  open_sample();
  select(left_, "Software\\Vendor");

  GtkWindow* dialog = run_action("pane.new-key", kNewKeyTitle);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(gtk_window_get_modal(dialog));
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(dialog_entry(dialog))), "NewKey");
  EXPECT_TRUE(TOL_IS_EDIT_DIALOG(dialog));
  // The key is taken from the selection when OK is pressed, not before.
  select(left_, "Software");
  answer_dialog(dialog, "Sub");

  EXPECT_TRUE(toast_taken(overlay_, "Created key \"Sub\""));
  EXPECT_EQ(shown_dialog(kNewKeyTitle), nullptr);
  EXPECT_EQ(selected_path(left_), "Software\\Sub");
  EXPECT_TRUE(key_on_disk(file_, "Software\\Sub"));
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_NE(tree_row("Sub"), nullptr);

  // Under the root, confirmed with Enter in the entry.
  select(left_, "");
  dialog = run_action("pane.new-key", kNewKeyTitle);
  ASSERT_NE(dialog, nullptr);
  gtk_editable_set_text(GTK_EDITABLE(dialog_entry(dialog)), "Top");
  g_signal_emit_by_name(dialog_entry(dialog), "activate");
  EXPECT_TRUE(toast_taken(overlay_, "Created key \"Top\""));
  EXPECT_EQ(selected_path(left_), "Top");
  EXPECT_TRUE(key_on_disk(file_, "Top"));
  EXPECT_EQ(snapshots(left_), 2u);

  TOL_REQUIRE_TOOL("hivexregedit");
  const auto exported = tol::test::run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const auto keys = tol::test::hivexregedit_keys(exported.out);
  EXPECT_TRUE(keys.count("\\Software\\Sub") == 1 && keys.count("\\Top") == 1) << exported.out.substr(0, 400);
}

TEST_F(KeyCommandsTest, NewKeyRefusesBadNamesAndKeepsTheDialogOpen) {
  open_sample();
  select(left_, "System");
  press_in_tree({"F7"});
  GtkWindow* dialog = wait_for_dialog(kNewKeyTitle);
  ASSERT_NE(dialog, nullptr);
  if (!press_keys(GTK_WIDGET(dialog), {"a", "backslash", "b", "Return"}))
    GTEST_SKIP() << "cannot send keys";
  EXPECT_TRUE(toast_taken(overlay_, "The name cannot contain \\ (path separator)"));
  EXPECT_EQ(shown_dialog(kNewKeyTitle), dialog);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(dialog_entry(dialog))), "a\\b");

  answer_dialog(dialog, "");
  EXPECT_TRUE(toast_taken(overlay_, "The name cannot be empty"));
  EXPECT_EQ(shown_dialog(kNewKeyTitle), dialog);
  // Stopped before the operation: no snapshot, nothing written.
  EXPECT_EQ(snapshots(left_), 0u);

  g_signal_emit_by_name(dialog_button(dialog, "Cancel"), "clicked");
  drain_main_loop();
  EXPECT_EQ(shown_dialog(kNewKeyTitle), nullptr);
  EXPECT_EQ(snapshots(left_), 0u);
  TolHivePtr disk = read_back(file_);
  EXPECT_TRUE(tol_hive_subkeys(*disk, *tol_hive_find_path(*disk, "System")).size() == 2);
}

TEST_F(KeyCommandsTest, NewKeyWithASiblingsNameSelectsThatSibling) {
  open_sample();
  select(left_, "Software");
  GtkWindow* dialog = run_action("pane.new-key", kNewKeyTitle);
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "VENDOR");
  EXPECT_TRUE(toast_taken(overlay_, "Created key \"VENDOR\""));
  EXPECT_EQ(selected_path(left_), "Software\\Vendor");
  EXPECT_EQ(snapshots(left_), 0u) << "nothing changed, so there is nothing to undo";
  TolHivePtr disk = read_back(file_);
  EXPECT_EQ(tol_hive_subkeys(*disk, *tol_hive_find_path(*disk, "Software")).size(), 2u);
}

TEST_F(KeyCommandsTest, CommandsWithoutAHiveOrSelectionOpenNothing) {
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.new-key", nullptr);
  EXPECT_TRUE(toast_taken(overlay_, "Open a hive file in this pane first"));
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.rename-key", nullptr);
  EXPECT_TRUE(toast_taken(overlay_, "Nothing is selected"));
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.delete-key", nullptr);
  EXPECT_TRUE(toast_taken(overlay_, "Nothing is selected"));

  open_sample();
  select(left_, "");
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.rename-key", nullptr);
  EXPECT_TRUE(toast_taken(overlay_, "The hive root cannot be renamed"));
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.delete-key", nullptr);
  EXPECT_TRUE(toast_taken(overlay_, "The hive root cannot be deleted"));
  EXPECT_EQ(shown_dialog("Rename key"), nullptr);
  EXPECT_EQ(shown_alert(), nullptr);
  EXPECT_EQ(snapshots(left_), 0u);
}

TEST_F(KeyCommandsTest, RenameKeyWithF2AndACollision) {
  open_sample();
  select(left_, "Software\\Vendor");
  press_in_tree({"F2"});
  GtkWindow* dialog = wait_for_dialog("Rename key");
  ASSERT_NE(dialog, nullptr);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(dialog_entry(dialog))), "Vendor");
  answer_dialog(dialog, "Maker");
  EXPECT_TRUE(toast_taken(overlay_, "Renamed to \"Maker\""));
  EXPECT_EQ(shown_dialog("Rename key"), nullptr);
  EXPECT_EQ(selected_path(left_), "Software\\Maker");
  EXPECT_TRUE(key_on_disk(file_, "Software\\Maker\\App"));
  EXPECT_FALSE(key_on_disk(file_, "Software\\Vendor"));
  EXPECT_EQ(snapshots(left_), 1u);

  // A collision reaches the operation, which refuses it: no undo step, the
  // dialog closes.
  dialog = run_action("pane.rename-key", "Rename key");
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "classes");
  EXPECT_TRUE(toast_taken(overlay_, "Failed to rename the key: a key named \"Classes\" already exists"));
  EXPECT_EQ(shown_dialog("Rename key"), nullptr);
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_TRUE(key_on_disk(file_, "Software\\Maker"));

  // Directly below the root the new path is the name alone.
  select(left_, "System");
  dialog = run_action("pane.rename-key", "Rename key");
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "a\\b");
  EXPECT_TRUE(toast_taken(overlay_, "The name cannot contain \\ (path separator)"));
  answer_dialog(dialog, "Sys");
  EXPECT_TRUE(toast_taken(overlay_, "Renamed to \"Sys\""));
  EXPECT_EQ(selected_path(left_), "Sys");
  EXPECT_TRUE(key_on_disk(file_, "Sys\\Setup"));
}

TEST_F(KeyCommandsTest, DeleteKeyAsksFirstAndEscapeDeletesNothing) {
  open_sample();
  select(left_, "System\\Setup");
  press_in_tree({"Delete"});
  GtkWidget* alert = wait_for_alert();
  ASSERT_NE(alert, nullptr);
  const std::vector<std::string> texts = label_texts(alert);
  for (const char* expected :
       {"Delete key?", "Key \"Setup\" and its entire subtree (subkeys and values) will be deleted. This can be undone.",
        "Cancel", "Delete"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
  if (!press_keys(alert, {"Escape"}))
    GTEST_SKIP() << "cannot send keys";
  EXPECT_TRUE(iterate_until([] { return shown_alert() == nullptr; }));
  drain_main_loop();
  EXPECT_TRUE(key_on_disk(file_, "System\\Setup"));
  EXPECT_EQ(snapshots(left_), 0u);

  // The toolbar's delete button, answered "Delete".
  g_signal_emit_by_name(toolbar_button(left_, "pane.delete-key"), "clicked");
  alert = wait_for_alert();
  ASSERT_NE(alert, nullptr);
  tol_compat_alert_respond(alert, "delete");
  EXPECT_TRUE(toast_taken(overlay_, "Deleted key \"Setup\""));
  EXPECT_FALSE(key_on_disk(file_, "System\\Setup"));
  EXPECT_TRUE(key_on_disk(file_, "System\\Select"));
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_FALSE(tol_hive_find_path(*tol_pane_get_hive(left_), "System\\Setup").has_value());
  // The deleted key's parent takes over the selection, still open.
  EXPECT_EQ(selected_path(left_), "System");
  EXPECT_EQ(tree_row("Setup"), nullptr);
  EXPECT_TRUE(iterate_until([&] { return tree_row("Select") != nullptr; }));

  TOL_REQUIRE_TOOL("hivexregedit");
  const auto exported = tol::test::run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const auto keys = tol::test::hivexregedit_keys(exported.out);
  EXPECT_EQ(keys.count("\\System\\Setup"), 0u);
  EXPECT_EQ(keys.count("\\System\\Select"), 1u);
}

// A failed save takes the change back: the image, the views and the file stay
// as they were, and the next save writes only its own change.
TEST_F(KeyCommandsTest, AFailedSaveTakesTheChangeBackAndTheNextSaveWritesOnlyItsOwn) {
  open_sample();
  select(left_, "");
  {
    FailingSave failing;
    GtkWindow* dialog = run_action("pane.new-key", kNewKeyTitle);
    ASSERT_NE(dialog, nullptr);
    answer_dialog(dialog, "Later");
    EXPECT_EQ(take_toast(overlay_, "Save failed: "), "Save failed: cannot create temporary file: Permission denied");
    EXPECT_EQ(shown_dialog(kNewKeyTitle), nullptr);
  }
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_FALSE(key_on_disk(file_, "Later"));
  EXPECT_FALSE(tol_hive_find_path(*tol_pane_get_hive(left_), "Later").has_value());
  drain_main_loop();
  EXPECT_EQ(tree_row("Later"), nullptr);
  EXPECT_EQ(selected_path(left_), "");

  GtkWindow* dialog = run_action("pane.new-key", kNewKeyTitle);
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "Next");
  EXPECT_TRUE(toast_taken(overlay_, "Created key \"Next\""));
  EXPECT_FALSE(key_on_disk(file_, "Later"));
  EXPECT_TRUE(key_on_disk(file_, "Next"));
  EXPECT_EQ(snapshots(left_), 1u);
  drain_main_loop();
  EXPECT_NE(tree_row("Next"), nullptr);

  // Deleting with the save failing has its own message.
  select(left_, "Next");
  FailingSave failing;
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.delete-key", nullptr);
  GtkWidget* alert = wait_for_alert();
  ASSERT_NE(alert, nullptr);
  tol_compat_alert_respond(alert, "delete");
  EXPECT_EQ(take_toast(overlay_, "Saving after deletion failed: "),
            "Saving after deletion failed: cannot create temporary file: Permission denied");
  EXPECT_TRUE(key_on_disk(file_, "Next"));
  EXPECT_TRUE(tol_hive_find_path(*tol_pane_get_hive(left_), "Next").has_value());
}

}  // namespace
}  // namespace tol_test
