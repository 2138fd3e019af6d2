// The value commands on real panes: the Delete value? alert, the Rename value
// dialog, the New value dialog's apply and the quick creation from the menu,
// each checked in its texts, the file on disk, both value lists and the undo
// journal.
#include "value_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/commands.h"
#include "ui/compat.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::le32;
using tol::test::utf16le_sz;

using ::testing::ElementsAre;

class ValueCommandsTest : public ValueTest {
 protected:
  // Left: Key with the default value, A and B. Right: a Key with A alone.
  void open_both() {
    open(left_,
         key("ROOT", {key("Key", {},
                          {val("", 1, utf16le_sz("dflt")), val("A", 4, le32(1)), val("B", 3, {1, 2})}),
                      key("Empty")}),
         "left.hiv");
    file_ = path("left.hiv");
    open(right_, key("ROOT", {key("Key", {}, {val("A", 4, le32(1))})}), "right.hiv");
    select(left_, "Key");
    select(right_, "Key");
  }

  TolDiffMark right_mark(const std::string& name) { return tol_value_item_get_diff(row(right_, name)); }

  std::string file_;
};

// ---- Delete ----------------------------------------------------------------------

TEST_F(ValueCommandsTest, DeleteAsksThenDeletesAndRefreshesBothLists) {
  open_both();
  select_value(left_, "A");
  ASSERT_TRUE(tol_pane_confirm_delete_value(left_));
  GtkWidget* alert = value_alert();
  ASSERT_NE(alert, nullptr);
  EXPECT_NE(find_label(alert, "Delete value?"), nullptr);
  EXPECT_NE(find_label(alert, "Value \"A\" will be deleted. This can be undone."), nullptr);
  EXPECT_EQ(snapshots(left_), 0u) << "nothing is recorded before the answer";
  EXPECT_EQ(right_mark("A"), TOL_DIFF_NONE);

  tol_compat_alert_respond(alert, "delete");
  EXPECT_TRUE(toast_shown(overlay_, "Deleted value \"A\""));
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "B"));
  EXPECT_THAT(row_names(left_), ElementsAre("", "B"));
  EXPECT_EQ(right_mark("A"), TOL_DIFF_ONLY) << "the other pane was not refreshed";
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_EQ(snapshots(right_), 0u);
}

TEST_F(ValueCommandsTest, DeletingTheDefaultValueNamesItAndDeletesTheEmptyName) {
  open_both();
  select_value(left_, "");
  ASSERT_TRUE(tol_pane_confirm_delete_value(left_));
  GtkWidget* alert = value_alert();
  ASSERT_NE(alert, nullptr);
  EXPECT_NE(find_label(alert, "Value \"(Default)\" will be deleted. This can be undone."), nullptr);
  tol_compat_alert_respond(alert, "delete");
  EXPECT_TRUE(toast_shown(overlay_, "Deleted value \"(Default)\""));
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("A", "B"));
}

TEST_F(ValueCommandsTest, CancelOrNoSelectionDeletesNothingAndRecordsNothing) {
  EXPECT_FALSE(tol_pane_confirm_delete_value(left_)) << "no hive";
  open_both();
  EXPECT_FALSE(tol_pane_confirm_delete_value(left_)) << "no row selected";

  select_value(left_, "B");
  ASSERT_TRUE(tol_pane_confirm_delete_value(left_));
  GtkWidget* alert = value_alert();
  ASSERT_NE(alert, nullptr);
  tol_compat_alert_respond(alert, "cancel");
  drain_main_loop();
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "A", "B"));
  EXPECT_EQ(snapshots(left_), 0u);
}

TEST_F(ValueCommandsTest, DeleteOfAValueTheKeyNoLongerHasFailsAndRecordsNothing) {
  open_both();
  select_value(left_, "B");
  ASSERT_TRUE(tol_pane_confirm_delete_value(left_));
  GtkWidget* alert = value_alert();
  ASSERT_NE(alert, nullptr);
  // The command acts in the key selected when the answer comes.
  select(left_, "Empty");
  tol_compat_alert_respond(alert, "delete");
  EXPECT_TRUE(toast_shown(overlay_, "Failed to delete the value: there is no value named \"B\""));
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "A", "B"));
}

TEST_F(ValueCommandsTest, AFailedSaveLeavesTheListsAsTheyWere) {
  open_both();
  select_value(left_, "A");
  tol_pane_get_hive(left_)->path = dir_ + "/gone/left.hiv";
  ASSERT_TRUE(tol_pane_confirm_delete_value(left_));
  GtkWidget* alert = value_alert();
  ASSERT_NE(alert, nullptr);
  tol_compat_alert_respond(alert, "delete");
  EXPECT_TRUE(iterate_until([&] {
    for (GtkWidget* label : find_all(GTK_WIDGET(overlay_), GTK_TYPE_LABEL))
      if (std::string(gtk_label_get_text(GTK_LABEL(label))).rfind("Saving after deletion failed: ", 0) == 0)
        return true;
    return false;
  }));
  EXPECT_THAT(row_names(left_), ElementsAre("", "A", "B"));
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty) << "the image is as the file";
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "A", "B"));
}

// ---- Rename ----------------------------------------------------------------------

TEST_F(ValueCommandsTest, RenameToTheEmptyNameMakesTheDefaultValue) {
  open(left_, key("ROOT", {key("Key", {}, {val("A", 4, le32(7)), val("B", 3, {1})})}), "rename.hiv");
  std::string file = path("rename.hiv");
  select(left_, "Key");
  select_value(left_, "A");
  ASSERT_TRUE(tol_pane_show_rename_value(left_));
  GtkWidget* dialog = dialog_titled("Rename value");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(text_of(dialog), "A");
  set_text(dialog, "");
  g_signal_emit_by_name(entry_of(dialog), "activate");
  drain_main_loop();
  EXPECT_TRUE(toast_shown(overlay_, "Value renamed to \"(Default)\""));
  EXPECT_FALSE(dialog_open("Rename value"));
  // The renamed value goes to the end of the list.
  EXPECT_THAT(names_on_disk(file, "Key"), ElementsAre("B", ""));
  EXPECT_EQ(value_on_disk(file, "Key", "")->data, le32(7));
  EXPECT_THAT(row_names(left_), ElementsAre("B", ""));
  EXPECT_EQ(snapshots(left_), 1u);
}

TEST_F(ValueCommandsTest, TheDefaultValueIsRenamedByItsEmptyName) {
  open_both();
  select_value(left_, "");
  ASSERT_TRUE(tol_pane_show_rename_value(left_));
  GtkWidget* dialog = dialog_titled("Rename value");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(text_of(dialog), "(Default)");
  // Confirmed as shown, the text stands for the default value itself.
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Value renamed to \"(Default)\""));
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "A", "B"));
  EXPECT_EQ(snapshots(left_), 0u) << "the name did not change";

  select_value(left_, "");
  ASSERT_TRUE(tol_pane_show_rename_value(left_));
  dialog = dialog_titled("Rename value");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "Named");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Value renamed to \"Named\""));
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("A", "B", "Named"));
  EXPECT_EQ(value_on_disk(file_, "Key", "Named")->data, utf16le_sz("dflt"));
  EXPECT_EQ(snapshots(left_), 1u);
}

TEST_F(ValueCommandsTest, RenameOntoAnotherValuesNameFailsAndRecordsNothing) {
  open_both();
  select_value(left_, "A");
  ASSERT_TRUE(tol_pane_show_rename_value(left_));
  GtkWidget* dialog = dialog_titled("Rename value");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "b");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Failed to rename the value: a value named \"b\" already exists"));
  EXPECT_FALSE(dialog_open("Rename value"));
  EXPECT_THAT(names_on_disk(file_, "Key"), ElementsAre("", "A", "B"));
  EXPECT_EQ(snapshots(left_), 0u);

  EXPECT_FALSE(tol_pane_show_rename_value(right_)) << "no row selected";
}

// ---- Creation --------------------------------------------------------------------

TEST_F(ValueCommandsTest, QuickCreationTakesTheNextFreeNumberAndOpensTheRename) {
  open(left_,
       key("ROOT", {key("Key", {}, {val("New value #1", 1, utf16le_sz("x")), val("new value #2", 4, le32(2))})}),
       "quick.hiv");
  std::string file = path("quick.hiv");
  select(left_, "Key");
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.new-value", "s", "REG_DWORD");
  GtkWidget* dialog = dialog_titled("Rename value");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(text_of(dialog), "New value #3");
  std::optional<TolHiveValue> created = value_on_disk(file, "Key", "New value #3");
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->type, 4u);
  EXPECT_EQ(created->data, Bytes(4, 0));
  TolValueItem* selected = tol_pane_get_selected_value(left_);
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(tol_value_item_get_name(selected), "New value #3");
  EXPECT_EQ(snapshots(left_), 1u);
  drain_main_loop();
  EXPECT_EQ(find_label(GTK_WIDGET(overlay_), "Created value \"New value #3\""), nullptr)
      << "the rename dialog is the feedback";

  // Naming it there is the second command.
  set_text(dialog, "Counter");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Value renamed to \"Counter\""));
  EXPECT_TRUE(value_on_disk(file, "Key", "Counter").has_value());
  EXPECT_EQ(snapshots(left_), 2u);
}

TEST_F(ValueCommandsTest, QuickCreationOfAnUnknownTypeMakesAnEmptyString) {
  open(left_, key("ROOT", {key("Key")}), "foo.hiv");
  std::string file = path("foo.hiv");
  select(left_, "Key");
  tol_pane_new_value_quick(left_, "REG_FOO");
  ASSERT_NE(dialog_titled("Rename value"), nullptr);
  std::optional<TolHiveValue> created = value_on_disk(file, "Key", "New value #1");
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->type, 1u);
  EXPECT_EQ(created->data, Bytes(2, 0));
}

TEST_F(ValueCommandsTest, QuickCreationWithoutAHiveRecordsNothing) {
  tol_pane_new_value_quick(left_, "REG_SZ");
  EXPECT_TRUE(toast_shown(overlay_, "Nothing is selected"));
  EXPECT_FALSE(dialog_open("Rename value"));
}

TEST_F(ValueCommandsTest, NewValueOfAnExistingNameResetsItUnderItsOwnSpelling) {
  open(left_, key("ROOT", {key("Key", {}, {val("PATH", 1, utf16le_sz("C:\\"))})}), "path.hiv");
  std::string file = path("path.hiv");
  select(left_, "Key");
  tol_pane_show_new_value(left_);
  GtkWidget* dialog = dialog_titled("New value");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "Path");
  gtk_drop_down_set_selected(GTK_DROP_DOWN(find_first(dialog, GTK_TYPE_DROP_DOWN)), 3);
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Created value \"Path\""));
  EXPECT_FALSE(dialog_open("New value"));
  std::vector<TolHiveValue> values = values_on_disk(file, "Key");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "PATH");
  EXPECT_EQ(values[0].type, 4u);
  EXPECT_EQ(values[0].data, Bytes(4, 0));
  EXPECT_EQ(snapshots(left_), 1u);
}

}  // namespace
}  // namespace tol_test
