// A damaged hive in the window: announced once when it is loaded, the check's
// report on request, and repair into a new file that opens in a new tab.
#include <gmock/gmock.h>

#include "edit_commands_util.h"
#include "hive/check.h"
#include "two_pane_fixture.h"
#include "ui/commands.h"

namespace tol_test {
namespace {

using ::testing::HasSubstr;

// The shared list, the subkey count B's list then misses, and the security
// record's count of the keys below B.
constexpr char kDamaged[] =
    "This hive is damaged (3 problems); edits that would spread the damage are refused";

class HiveHealthTest : public TwoPaneTest {
 protected:
  // Keys A and B share one subkey list: the check reports it.
  std::string write_damaged(const std::string& name) {
    tol::test::HiveBuilder b;
    const tol::test::BuiltTree t = b.tree(key("ROOT", {key("A", {key("a1")}), key("B", {key("b1")})}));
    b.patch_u32(t.key("B"), 0x1C, t.lists.at("A"));
    const std::string p = path(name);
    b.write_file(p);
    return p;
  }

  GtkWindow* window_titled(const char* title) {
    GtkWindow* found = nullptr;
    iterate_until([&] {
      for (GtkWindow* w : toplevels())
        if (g_strcmp0(gtk_window_get_title(w), title) == 0) found = w;
      return found != nullptr;
    });
    return found;
  }

  std::string text_of(GtkWindow* window) {
    GtkWidget* view = find_first(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
    if (view == nullptr) return "";
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    g_autofree char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    return text;
  }
};

TEST_F(HiveHealthTest, DamageIsAnnouncedOnceAndReportedInFull) {
  const std::string file = write_damaged("damaged.hiv");
  g_autoptr(GFile) gfile = g_file_new_for_path(file.c_str());
  tol_pane_open_file(left_, gfile);
  ASSERT_TRUE(toast_taken(overlay_, kDamaged));
  const char* tooltip = gtk_widget_get_tooltip_text(tol_pane_get_path_label(left_));
  EXPECT_THAT(tooltip, HasSubstr("already used as the subkey list of \\A"));

  // The refusal names the damage in the command's toast, and the damage is
  // not announced again.
  select(left_, "B");
  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.new-key", nullptr);
  GtkWindow* dialog = wait_for_dialog("New key (under the selected key)");
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "New");
  const std::string refusal = take_toast(overlay_, "Failed to create the key: ");
  EXPECT_THAT(refusal, HasSubstr("the hive is damaged here: the subkey list at"));
  drain_main_loop();
  // The census the refused edit took is still there for the next one.
  ASSERT_NE(tol_pane_get_hive(left_), nullptr);
  EXPECT_TRUE(tol_pane_get_hive(left_)->census.has_value());
  EXPECT_EQ(find_label(GTK_WIDGET(overlay_), kDamaged), nullptr);

  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.check-hive", nullptr);
  GtkWindow* report = window_titled("Check hive");
  ASSERT_NE(report, nullptr);
  EXPECT_THAT(text_of(report), HasSubstr("3 problems"));
  EXPECT_THAT(text_of(report), HasSubstr("\\B: subkey list at"));
}

TEST_F(HiveHealthTest, RepairWritesANewFileAndOpensItInANewTab) {
  const std::string file = write_damaged("broken.hiv");
  g_autoptr(GFile) gfile = g_file_new_for_path(file.c_str());
  tol_pane_open_file(left_, gfile);
  drain_main_loop();
  const int tabs = tol_pane_get_tab_count(left_);

  gtk_widget_activate_action(GTK_WIDGET(left_), "pane.repair-hive", nullptr);
  ASSERT_EQ(tol_pane_get_tab_count(left_), tabs + 1);
  const std::string repaired = tol_pane_get_tab_path(left_, tol_pane_get_active_tab(left_));
  files_.push_back(repaired);
  EXPECT_EQ(repaired, dir_ + "/broken (repaired).hiv");
  // What was dropped is listed; the new file is sound and the old one untouched.
  GtkWindow* report = window_titled("Repair or compact");
  ASSERT_NE(report, nullptr);
  EXPECT_THAT(text_of(report), HasSubstr("1 items dropped"));
  ASSERT_NE(tol_pane_get_hive(left_), nullptr);
  EXPECT_TRUE(tol_hive_check(*tol_pane_get_hive(left_)).ok());
  TolHivePtr original = tol_hive_open(file, nullptr);
  ASSERT_NE(original, nullptr);
  EXPECT_FALSE(tol_hive_check(*original).ok());
}

}  // namespace
}  // namespace tol_test
