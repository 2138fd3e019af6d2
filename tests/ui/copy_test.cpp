// Copying keys between the panes of the real window: F5 and Shift+F5, the
// copy buttons, a drop onto a key tree, the merge as the file shows it, copies
// that fail (nothing left behind) and copies that succeed only in part.
#include <gtest/gtest.h>

#include "../hive/peer_tools.h"
#include "edit_commands_util.h"
#include "hive/edit.h"
#include "ui/commit.h"
#include "ui/key_item.h"
#include "ui/key_tree.h"
#include "ui/window.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::KeySpec;
using tol::test::le32;
using tol::test::utf16le_sz;

KeySpec vendor_tree() {
  return key("ROOT", {key("Software", {key("Vendor", {key("a"), key("b", {key("b1"), key("b2")}), key("c")},
                                           {val("dw", 4, le32(42))})})});
}

KeySpec target_tree() {
  return key("ROOT", {key("Target"), key("Solo", {}, {val("x", 4, le32(7))})});
}

// Top with two good keys below it and one whose record has no name, which
// cannot be copied.
std::string write_damaged(const std::string& file) {
  tol::test::HiveBuilder builder;
  const tol::test::BuiltTree tree = builder.tree(key("ROOT", {key("Top", {key("Good", {key("Deep")}), key("Bad")})}));
  builder.patch_u16(tree.key("Top\\Bad"), 0x48, 0);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  builder.write_file(file);
  return file;
}

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
    left_ = tol_window_get_left_pane(window_);
    right_ = tol_window_get_right_pane(window_);
    overlay_ = tol_window_get_toast_overlay(window_);
  }
  void TearDown() override {
    tol_hive_save_set_io(nullptr);
    tol_key_tree_set_dragged_key(nullptr, TOL_NO_CELL);
    destroy_all_windows();
  }

  std::string open(TolPane* pane, const KeySpec& root, const std::string& name) {
    std::string file = write_hive(dir_.file(name), root);
    open_file(pane, file);
    return file;
  }
  void open_file(TolPane* pane, const std::string& file) {
    open_path(pane, file);
    EXPECT_NE(tol_pane_get_hive(pane), nullptr) << file;
    show(GTK_WIDGET(window_));
  }

  void select(TolPane* pane, const char* key_path) {
    tol_pane_select_path(pane, key_path);
    ASSERT_EQ(selected_path(pane), key_path);
    drain_main_loop();
  }

  void keys(const std::vector<std::string>& names) {
    tol_pane_focus_tree(left_);
    drain_main_loop();
    if (!press_keys(GTK_WIDGET(window_), names))
      GTEST_SKIP() << "cannot send keys";
    drain_main_loop();
  }

  GtkWidget* copy_button(const char* tooltip) {
    for (GtkWidget* button : find_all(GTK_WIDGET(window_), GTK_TYPE_BUTTON)) {
      const char* text = gtk_widget_get_tooltip_text(button);
      if (text != nullptr && g_strcmp0(text, tooltip) == 0)
        return button;
    }
    return nullptr;
  }
  void click_copy_right() {
    g_signal_emit_by_name(copy_button("Copy the selection to the right pane (F5)"), "clicked");
    drain_main_loop();
  }

  // Drops the key at `key_path` of `from` onto the key tree of `onto`, the
  // way the drag source and drop target hand it over.
  bool drop(TolPane* from, const char* key_path, TolPane* onto) {
    TolHive* hive = tol_pane_get_hive(from);
    tol_key_tree_set_dragged_key(tol_pane_get_document(from), *tol_hive_find_path(*hive, key_path));
    const bool accepted = tol_pane_drop_key(onto);
    tol_key_tree_set_dragged_key(nullptr, TOL_NO_CELL);
    drain_main_loop();
    return accepted;
  }

  TempDir dir_;
  TolWindow* window_ = nullptr;
  TolPane* left_ = nullptr;
  TolPane* right_ = nullptr;
  AdwToastOverlay* overlay_ = nullptr;
};

TEST_F(CopyTest, F5AndShiftF5CopyIntoTheOtherPaneAndOnlyItsJournal) {
  const std::string left = open(left_, vendor_tree(), "left/SOFTWARE");
  const std::string right = open(right_, target_tree(), "right/SYSTEM");
  select(left_, "Software\\Vendor");
  select(right_, "Target");
  const Bytes left_before = read_file(left);

  keys({"F5"});
  EXPECT_TRUE(toast_taken(overlay_, "Copied \"Vendor\" → right pane (6 keys)"));
  EXPECT_TRUE(key_on_disk(right, "Target\\Vendor\\b\\b2"));
  EXPECT_EQ(read_file(left), left_before);
  EXPECT_EQ(snapshots(right_), 1u);
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_EQ(selected_path(right_), "Target");

  select(right_, "Solo");
  select(left_, "Software");
  keys({"shift+F5"});
  EXPECT_TRUE(toast_taken(overlay_, "Copied \"Solo\" → left pane (1 key)"));
  TolHivePtr disk = read_back(left);
  const auto solo = tol_hive_find_path(*disk, "Software\\Solo");
  ASSERT_TRUE(solo.has_value());
  TolHiveValue value;
  ASSERT_TRUE(tol_hive_read_value(*disk, *solo, 0, value));
  EXPECT_EQ(value.name, "x");
  EXPECT_EQ(value.data, le32(7));
  EXPECT_EQ(snapshots(left_), 1u);

  // Undo in the pane that received the copy takes it out again.
  EXPECT_TRUE(tol_pane_undo(right_, true));
  EXPECT_TRUE(toast_taken(overlay_, "Last change undone"));
  EXPECT_FALSE(key_on_disk(right, "Target\\Vendor"));
  EXPECT_TRUE(key_on_disk(left, "Software\\Solo"));

  TOL_REQUIRE_TOOL("hivexregedit");
  const auto exported = tol::test::run({"hivexregedit", "--export", left, "\\"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(tol::test::hivexregedit_keys(exported.out).count("\\Software\\Solo"), 1u);
}

TEST_F(CopyTest, TheCopyButtonNeedsASourceAndADestination) {
  show(GTK_WIDGET(window_));
  ASSERT_NE(copy_button("Copy the selection to the right pane (F5)"), nullptr);
  click_copy_right();
  EXPECT_TRUE(toast_taken(overlay_, "Nothing is selected"));

  open(left_, vendor_tree(), "left/SOFTWARE");
  select(left_, "Software\\Vendor");
  click_copy_right();
  EXPECT_TRUE(toast_taken(overlay_, "The destination pane is empty — open a hive file in it"));
  EXPECT_EQ(snapshots(left_), 0u);
}

TEST_F(CopyTest, ACopyMergesIntoAKeyOfTheSameName) {
  open(left_, key("ROOT", {key("Run", {}, {val("PATH", 4, le32(5)), val("new", 3, {1, 2, 3})})}), "left/NTUSER.DAT");
  const std::string right =
      open(right_, key("ROOT", {key("run", {}, {val("Path", 1, utf16le_sz("old")), val("keep", 4, le32(9))})}),
           "right/NTUSER.DAT");
  select(left_, "Run");
  select(right_, "");
  click_copy_right();
  EXPECT_TRUE(toast_taken(overlay_, "Copied \"Run\" → right pane (1 key)"));

  TolHivePtr disk = read_back(right);
  ASSERT_EQ(tol_hive_subkeys(*disk, disk->root_cell).size(), 1u);
  const std::uint32_t run = tol_hive_subkeys(*disk, disk->root_cell)[0];
  EXPECT_EQ(tol_hive_key_name(*disk, run), "run");
  std::vector<std::tuple<std::string, std::uint32_t, Bytes>> values;
  for (std::uint32_t i = 0; i < tol_hive_value_count(*disk, run); ++i) {
    TolHiveValue v;
    ASSERT_TRUE(tol_hive_read_value(*disk, run, i, v));
    values.emplace_back(v.name, v.type, v.data);
  }
  EXPECT_EQ(values, (decltype(values){{"Path", 4, le32(5)}, {"keep", 4, le32(9)}, {"new", 3, Bytes{1, 2, 3}}}));
}

// Both panes on one file: the pane that did not save must not keep the image
// it read before, or its next save would write that image over the copy.
TEST_F(CopyTest, ThePaneShowingTheSameFileReadsItAgain) {
  const std::string file = open(left_, vendor_tree(), "SOFTWARE");
  open_file(right_, file);
  select(left_, "Software\\Vendor");
  select(right_, "");
  click_copy_right();
  EXPECT_TRUE(toast_taken(overlay_, "Copied \"Vendor\" → right pane (6 keys)"));
  EXPECT_EQ(selected_path(left_), "Software\\Vendor");
  EXPECT_TRUE(tol_hive_find_path(*tol_pane_get_hive(left_), "Vendor\\b\\b2").has_value());

  // An edit in the left pane now keeps the copy on disk.
  TolCommit commit;
  commit.operation = [](TolHive& hive, GError**) {
    return tol_hive_create_key(hive, hive.root_cell, "Later").has_value();
  };
  ASSERT_EQ(tol_pane_commit(left_, commit), TolCommitResult::kDone);
  EXPECT_TRUE(key_on_disk(file, "Later"));
  EXPECT_TRUE(key_on_disk(file, "Vendor\\b\\b2"));
}

// A copy that fails leaves nothing behind: not in the image, not in the
// journal, not in the file.
TEST_F(CopyTest, FailedCopiesAndDropsLeaveHiveAndJournalAsTheyWere) {
  const std::string left = open(left_, vendor_tree(), "left/SOFTWARE");
  const std::string right = open(right_, target_tree(), "right/SYSTEM");
  const Bytes left_before = read_file(left);
  const Bytes right_before = read_file(right);

  // Into its own subtree, by a drop in the same pane.
  select(left_, "Software\\Vendor\\b");
  EXPECT_FALSE(drop(left_, "Software\\Vendor", left_));
  EXPECT_TRUE(toast_taken(overlay_, "a key cannot be copied into itself or its descendant"));
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
  EXPECT_EQ(read_file(left), left_before);

  // With a full journal the failed command pushes out no step.
  for (int i = 0; i < 10; ++i) {
    TolCommit commit;
    commit.operation = [i](TolHive& hive, GError** error) {
      return tol_hive_create_key(hive, hive.root_cell, "K" + std::to_string(i), error).has_value();
    };
    commit.change = TolChange{TolChangeKind::subkeys, tol_pane_get_hive(left_)->root_cell};
    commit.report = [](const std::string&) {};
    ASSERT_EQ(tol_pane_commit(left_, commit), TolCommitResult::kDone);
  }
  const std::size_t cost = tol_document_journal_cost(tol_pane_get_document(left_));
  EXPECT_FALSE(drop(left_, "Software\\Vendor", left_));
  EXPECT_TRUE(toast_taken(overlay_, "a key cannot be copied into itself or its descendant"));
  EXPECT_EQ(snapshots(left_), 10u);
  EXPECT_EQ(tol_document_journal_cost(tol_pane_get_document(left_)), cost);
  ASSERT_TRUE(tol_pane_undo(left_, false));
  EXPECT_FALSE(tol_hive_find_path(*tol_pane_get_hive(left_), "K9").has_value());
  EXPECT_TRUE(tol_hive_find_path(*tol_pane_get_hive(left_), "K8").has_value());

  // A drop without a drag is refused without a word.
  tol_key_tree_set_dragged_key(nullptr, TOL_NO_CELL);
  EXPECT_FALSE(tol_pane_drop_key(right_));

  // A top key that cannot be copied: its record has no name.
  open_file(left_, write_damaged(dir_.file("left/damaged")));
  select(left_, "Top");
  ASSERT_TRUE(tol_key_tree_expand_or_child(tol_pane_get_key_tree(left_)));
  TolHive* source = tol_pane_get_hive(left_);
  const std::uint32_t bad = tol_hive_subkeys(*source, *tol_hive_find_path(*source, "Top"))[0];
  ASSERT_EQ(tol_hive_key_name(*source, bad), "");
  GListModel* rows = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)));
  for (guint i = 0; i < g_list_model_get_n_items(rows); ++i) {
    auto* row = static_cast<GtkTreeListRow*>(g_list_model_get_item(rows, i));
    auto* item = static_cast<TolKeyItem*>(gtk_tree_list_row_get_item(row));
    if (tol_key_item_get_offset(item) == bad)
      gtk_single_selection_set_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)), i);
    g_object_unref(item);
    g_object_unref(row);
  }
  ASSERT_EQ(tol_pane_get_selected_key(left_), bad);
  select(right_, "Target");
  click_copy_right();
  EXPECT_TRUE(toast_taken(overlay_, "Copying \"\" failed: failed to create key \"\""));
  tol_key_tree_set_dragged_key(tol_pane_get_document(left_), bad);
  EXPECT_FALSE(tol_pane_drop_key(right_));
  tol_key_tree_set_dragged_key(nullptr, TOL_NO_CELL);
  EXPECT_TRUE(toast_taken(overlay_, "failed to create key \"\""));
  EXPECT_EQ(snapshots(right_), 0u);
  EXPECT_FALSE(tol_pane_get_hive(right_)->dirty);
  EXPECT_EQ(read_file(right), right_before);
}

TEST_F(CopyTest, APartialCopyReportsTheCountAndTheFirstError) {
  open_file(left_, write_damaged(dir_.file("left/damaged")));
  const std::string right = open(right_, target_tree(), "right/SYSTEM");
  select(left_, "Top");
  select(right_, "Target");
  click_copy_right();
  EXPECT_TRUE(toast_taken(
      overlay_, "Copied \"Top\" → right pane (3 keys), but some keys failed: failed to create key \"\""));
  EXPECT_TRUE(key_on_disk(right, "Target\\Top\\Good\\Deep"));
  EXPECT_EQ(tol_hive_subkeys(*read_back(right), *tol_hive_find_path(*read_back(right), "Target\\Top")).size(), 1u);

  select(right_, "Solo");
  EXPECT_TRUE(drop(left_, "Top", right_));
  EXPECT_TRUE(toast_taken(overlay_, "Dragged and copied 3 keys, but some keys failed: failed to create key \"\""));
  EXPECT_TRUE(key_on_disk(right, "Solo\\Top\\Good"));
  EXPECT_EQ(snapshots(right_), 2u);
}

TEST_F(CopyTest, ADropCopiesUnderTheSelectedKeyAndAFailedSaveIsReported) {
  open(left_, vendor_tree(), "left/SOFTWARE");
  const std::string right = open(right_, target_tree(), "right/SYSTEM");
  select(right_, "Target");
  EXPECT_TRUE(drop(left_, "Software\\Vendor", right_));
  EXPECT_TRUE(toast_taken(overlay_, "Dragged and copied 6 keys"));
  EXPECT_TRUE(key_on_disk(right, "Target\\Vendor\\c"));
  EXPECT_EQ(selected_path(right_), "Target");

  select(right_, "Solo");
  {
    FailingSave failing;
    EXPECT_FALSE(drop(left_, "Software\\Vendor", right_));
    EXPECT_TRUE(toast_taken(overlay_, "cannot create temporary file: Permission denied"));
    select(left_, "Software");
    click_copy_right();
    EXPECT_TRUE(toast_taken(overlay_, "Saving the hive file failed: cannot create temporary file: Permission denied"));
  }
  // The failed saves took their copies back: no undo steps, nothing in the image.
  EXPECT_FALSE(key_on_disk(right, "Solo\\Vendor"));
  EXPECT_FALSE(tol_hive_find_path(*tol_pane_get_hive(right_), "Solo\\Vendor").has_value());
  EXPECT_EQ(snapshots(right_), 1u);
}

}  // namespace
}  // namespace tol_test
