// The comparison panel in the real window: what it lists for the selected
// keys, activation in both panes, the trees' marks, the filter, export, apply
// with undo, and following edits of either document.
#include "ui/diff_panel.h"

#include <fstream>
#include <sstream>

#include "hive/edit.h"
#include "ui/commit.h"
#include "ui/window.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

using tol::test::utf16le_sz;

tol::test::KeySpec left_tree() {
  return key("ROOT", {key("Software", {key("Vendor", {key("App")}, {val("Mode", 4, {1, 0, 0, 0})}),
                                       key("Old", {key("Inner")})},
                          {val("Greeting", 1, utf16le_sz("hello")), val("Gone", 1, utf16le_sz("x"))}),
                      key("System")});
}

tol::test::KeySpec right_tree() {
  return key("ROOT", {key("SOFTWARE", {key("Vendor", {key("App"), key("New")}, {val("Mode", 4, {2, 0, 0, 0})})},
                          {val("Greeting", 1, utf16le_sz("bye"))}),
                      key("System")});
}

class DiffPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
    left_ = tol_window_get_left_pane(window_);
    right_ = tol_window_get_right_pane(window_);
    panel_ = tol_window_get_diff_panel(window_);
    open_path(left_, write_hive(dir_.file("left/SOFTWARE"), left_tree()));
    open_path(right_, write_hive(dir_.file("right/SOFTWARE"), right_tree()));
    show(GTK_WIDGET(window_));
    tol_pane_select_path(left_, "Software");
    tol_pane_select_path(right_, "Software");
  }
  void TearDown() override { destroy_all_windows(); }

  void compare() {
    ASSERT_TRUE(gtk_widget_activate_action(GTK_WIDGET(window_), "win.compare", nullptr));
    ASSERT_TRUE(tol_diff_panel_is_active(panel_));
  }

  // Each row as the list shows it: "path" for a key row, "path SIGN noun value".
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    for (guint i = 0; i < tol_diff_panel_get_row_count(panel_); ++i) {
      const TolDiffEntry* e = tol_diff_panel_get_row_entry(panel_, i);
      std::string row = "\\" + tol_diff_panel_get_row_path(panel_, i);
      if (e != nullptr) row += std::string(" ") + tol_diff_sign(e->kind) + tol_diff_noun(e->kind) + " " + e->value;
      out.push_back(row);
    }
    return out;
  }

  bool marked(TolPane* pane, const char* path) {
    const auto key = tol_hive_find_path(*tol_pane_get_hive(pane), path);
    return key && tol_key_tree_is_marked(tol_pane_get_key_tree(pane), *key);
  }

  std::size_t row_of(const std::string& text) {
    const auto all = rows();
    return static_cast<std::size_t>(std::find(all.begin(), all.end(), text) - all.begin());
  }

  TempDir dir_;
  TolWindow* window_ = nullptr;
  TolPane* left_ = nullptr;
  TolPane* right_ = nullptr;
  TolDiffPanel* panel_ = nullptr;
};

TEST_F(DiffPanelTest, ListsTheDifferencesGroupedByKeyAndMarksTheTrees) {
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(panel_)));
  compare();
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(panel_)));
  // Names match case-insensitively (Software / SOFTWARE); a key only on one
  // side is one row; values group under their key.
  EXPECT_EQ(rows(), (std::vector<std::string>{"\\", "\\ -value Gone", "\\ ~value Greeting", "\\Old -key ",
                                              "\\Vendor", "\\Vendor ~value Mode", "\\Vendor\\New +key "}));
  EXPECT_EQ(tol_diff_panel_get_diff(panel_).counts.total(), 5u);
  EXPECT_NE(std::string(gtk_label_get_text(GTK_LABEL(tol_diff_panel_get_summary_label(panel_)))).find("5 differences"),
            std::string::npos);
  EXPECT_TRUE(is_inside(focus_of(GTK_WIDGET(window_)), tol_diff_panel_get_list_view(panel_)));

  // Keys with differences at or below them, up to the root, are marked.
  for (const char* path : {"", "Software", "Software\\Vendor", "Software\\Old"}) EXPECT_TRUE(marked(left_, path)) << path;
  EXPECT_FALSE(marked(left_, "System"));
  EXPECT_FALSE(marked(left_, "Software\\Vendor\\App"));
  EXPECT_TRUE(marked(right_, "Software\\Vendor\\New"));

  tol_diff_panel_set_filter(panel_, TolDiffFilter::changed);
  EXPECT_EQ(rows(), (std::vector<std::string>{"\\", "\\ ~value Greeting", "\\Vendor", "\\Vendor ~value Mode"}));
  tol_diff_panel_set_filter(panel_, TolDiffFilter::keys);
  EXPECT_EQ(rows(), (std::vector<std::string>{"\\Old -key ", "\\Vendor\\New +key "}));

  tol_diff_panel_close(panel_);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(panel_)));
  EXPECT_FALSE(marked(left_, "Software"));
}

TEST_F(DiffPanelTest, ActivatingARowSelectsItsKeyInBothPanes) {
  compare();
  ASSERT_TRUE(tol_diff_panel_activate_row(panel_, row_of("\\Vendor ~value Mode")));
  EXPECT_EQ(selected_path(left_), "Software\\Vendor");
  EXPECT_EQ(selected_path(right_), "SOFTWARE\\Vendor");

  // A key only on the right: the left pane shows where it would go.
  ASSERT_TRUE(tol_diff_panel_activate_row(panel_, row_of("\\Vendor\\New +key ")));
  EXPECT_EQ(selected_path(left_), "Software\\Vendor");
  EXPECT_EQ(selected_path(right_), "SOFTWARE\\Vendor\\New");
  ASSERT_TRUE(tol_diff_panel_activate_row(panel_, row_of("\\Old -key ")));
  EXPECT_EQ(selected_path(left_), "Software\\Old");
  EXPECT_EQ(selected_path(right_), "SOFTWARE");

  // Enter on the list activates the selected row.
  gtk_widget_grab_focus(tol_diff_panel_get_list_view(panel_));
  gtk_single_selection_set_selected(
      GTK_SINGLE_SELECTION(gtk_list_view_get_model(GTK_LIST_VIEW(tol_diff_panel_get_list_view(panel_)))),
      static_cast<guint>(row_of("\\Vendor")));
  g_signal_emit_by_name(tol_diff_panel_get_list_view(panel_), "activate", static_cast<guint>(row_of("\\Vendor")));
  EXPECT_EQ(selected_path(left_), "Software\\Vendor");
  EXPECT_FALSE(tol_diff_panel_activate_row(panel_, 999));
}

TEST_F(DiffPanelTest, ApplyMakesOneSideEqualAsOneUndoableChange) {
  compare();
  TolDocument* left_doc = tol_pane_get_document(left_);
  const std::size_t steps = tol_document_undo_steps(left_doc);
  ASSERT_TRUE(gtk_widget_activate_action(GTK_WIDGET(panel_), "diff.apply-left", nullptr));
  EXPECT_EQ(tol_document_undo_steps(left_doc), steps + 1);
  // The panel follows the document once the change is through.
  ASSERT_TRUE(iterate_until([&] { return tol_diff_panel_get_diff(panel_).counts.total() == 0; }));
  EXPECT_TRUE(rows().empty());
  EXPECT_FALSE(marked(left_, "Software"));
  EXPECT_FALSE(gtk_widget_is_sensitive(toolbar_button(panel_, "diff.apply-right")));

  ASSERT_TRUE(tol_pane_undo(left_, false));
  ASSERT_TRUE(iterate_until([&] { return tol_diff_panel_get_diff(panel_).counts.total() == 5; }));

  // The other way round changes the right file only.
  TolDocument* right_doc = tol_pane_get_document(right_);
  ASSERT_TRUE(tol_diff_panel_apply(panel_, false));
  ASSERT_TRUE(iterate_until([&] { return tol_diff_panel_get_diff(panel_).counts.total() == 0; }));
  EXPECT_TRUE(tol_hive_find_path(tol_document_get_hive(right_doc), "Software\\Old\\Inner").has_value());
  EXPECT_FALSE(tol_hive_find_path(tol_document_get_hive(right_doc), "Software\\Vendor\\New").has_value());
  EXPECT_EQ(tol_document_undo_steps(left_doc), steps);
}

TEST_F(DiffPanelTest, FollowsEditsAndExportsTheDifferences) {
  compare();
  TolHive* right = tol_pane_get_hive(right_);
  TolCommit commit;
  const std::uint32_t system = *tol_hive_find_path(*right, "Software");
  commit.operation = [&](TolHive& h, GError** error) {
    return tol_hive_create_key(h, system, "Added", error).has_value();
  };
  commit.change = TolChange{TolChangeKind::subkeys, system};
  commit.report = [](const std::string&) {};
  tol_pane_commit(right_, commit);
  ASSERT_TRUE(iterate_until([&] { return tol_diff_panel_get_diff(panel_).counts.total() == 6; }));
  EXPECT_LT(row_of("\\Added +key "), rows().size());

  const std::string out = dir_.file("diff.reg");
  g_autoptr(GError) error = nullptr;
  ASSERT_TRUE(tol_diff_panel_export_to(panel_, out.c_str(), &error)) << error->message;
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Windows Registry Editor Version 5.00"), std::string::npos);
  EXPECT_NE(text.str().find("[-Old]"), std::string::npos);
  EXPECT_NE(text.str().find("\"Gone\"=-"), std::string::npos);
}

TEST_F(DiffPanelTest, CompareNeedsAKeyInEachPane) {
  tol_pane_close_tab(right_, tol_pane_get_active_tab(right_));
  EXPECT_FALSE(tol_diff_panel_compare(panel_));
  EXPECT_TRUE(toast_shown(tol_window_get_toast_overlay(window_), "Select a key in the right pane to compare"));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(panel_)));
}

}  // namespace
}  // namespace tol_test
