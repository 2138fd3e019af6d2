// The replace popover of a real pane: its entries, check buttons and its
// "Preview" and "Replace all" buttons, with the hive file, the views and the
// undo journal afterwards.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../hive/peer_tools.h"
#include "edit_commands_util.h"
#include "hive/hive.h"
#include "two_pane_fixture.h"
#include "ui/commit.h"
#include "ui/value_item.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::le32;
using tol::test::utf16le_sz;

// The image the pane holds now: base block and bins, as a save would write them.
Bytes image_of(const TolHive& hive) {
  Bytes bytes(hive.base().span().begin(), hive.base().span().end());
  bytes.insert(bytes.end(), hive.bins().span().begin(), hive.bins().span().end());
  return bytes;
}

// The data of the value `name` at `key_path` in the file on disk; "(none)"
// when there is no such value.
Bytes data_on_disk(const std::string& file, const std::string& key_path, const std::string& name) {
  TolHivePtr hive = read_back(file);
  if (hive == nullptr)
    return {};
  std::optional<std::uint32_t> key = tol_hive_find_path(*hive, key_path);
  if (!key)
    return {};
  for (std::uint32_t i = 0; i < tol_hive_value_count(*hive, *key); ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(*hive, *key, i, value) && value.name == name)
      return value.data;
  }
  return {'(', 'n', 'o', 'n', 'e', ')'};
}

class ReplaceTest : public TwoPaneTest {
 protected:
  void open_sample() {
    open(left_,
         key("ROOT", {key("Soft", {key("Inner", {}, {val("Deep", 1, utf16le_sz("foo inside"))})},
                          {val("Text", 1, utf16le_sz("Foo foo")), val("Num", 4, le32(7)),
                           val("List", 7, tol::test::multi_sz({"foo", "bar"}))}),
                      key("Other", {}, {val("Untouched", 1, utf16le_sz("foo"))})}),
         "replace.hiv");
    file_ = path("replace.hiv");
  }

  void fill(const char* find, const char* with) {
    tol_pane_show_replace(left_);
    gtk_editable_set_text(GTK_EDITABLE(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::find)), find);
    gtk_editable_set_text(GTK_EDITABLE(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::with)), with);
  }
  static void check(GtkWidget* button, bool on) {
    gtk_check_button_set_active(GTK_CHECK_BUTTON(button), on);
  }
  // Presses the popover's button labelled `label`, as a click does.
  void press(const char* label) {
    GtkWidget* button = nullptr;
    for (GtkWidget* b : find_all(GTK_WIDGET(tol_pane_get_replace_popover(left_)), GTK_TYPE_BUTTON)) {
      const char* l = gtk_button_get_label(GTK_BUTTON(b));
      if (l != nullptr && std::string(l) == label)
        button = b;
    }
    ASSERT_NE(button, nullptr) << label;
    g_signal_emit_by_name(button, "clicked");
    drain_main_loop();
  }
  std::string result() const { return gtk_label_get_text(GTK_LABEL(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::report))); }

  // The data text the value list shows for `name`.
  std::string shown_data(const std::string& name) {
    GListModel* model = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(left_)));
    for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
      auto* item = static_cast<TolValueItem*>(g_list_model_get_item(model, i));
      std::string found = tol_value_item_get_name(item) == name ? tol_value_item_get_data_text(item) : "";
      g_object_unref(item);
      if (!found.empty())
        return found;
    }
    return "(none)";
  }

  // With TOL_UI_SHOTS set, a picture of the screen for a person to look at.
  static void shot(const std::string& name) {
    const char* dir = g_getenv("TOL_UI_SHOTS");
    if (dir == nullptr)
      return;
    g_mkdir_with_parents(dir, 0755);
    drain_main_loop();
    g_usleep(300000);
    drain_main_loop();
    const std::string command = std::string("import -window root ") + dir + "/" + name + ".png";
    g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr);
  }

  std::string file_;
};

TEST_F(ReplaceTest, PreviewCountsAndChangesNothingThenReplaceAllSavesAndReloads) {
  open_sample();
  select(left_, "Soft");
  const Bytes before = read_file(file_);

  fill("foo", "bar");
  press("Preview");
  EXPECT_EQ(result(), "Preview: 3 values, 4 replacements");
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_EQ(read_file(file_), before);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
  shot("replace-preview");

  press("Replace all");
  EXPECT_EQ(result(), "Done: 3 values, 4 replacements");
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_EQ(data_on_disk(file_, "Soft", "Text"), utf16le_sz("bar bar"));
  EXPECT_EQ(data_on_disk(file_, "Soft", "List"), tol::test::multi_sz({"bar", "bar"}));
  EXPECT_EQ(data_on_disk(file_, "Soft\\Inner", "Deep"), utf16le_sz("bar inside"));
  EXPECT_EQ(data_on_disk(file_, "Soft", "Num"), le32(7));
  EXPECT_EQ(data_on_disk(file_, "Other", "Untouched"), utf16le_sz("foo")) << "outside the subtree";
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_replace_popover(left_)))) << "the result is read in the popover";
  shot("replace-done");

  // The views show the saved file, with the same key selected.
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
  EXPECT_EQ(selected_path(left_), "Soft");
  EXPECT_EQ(shown_data("Text"), "bar bar");

  TOL_REQUIRE_TOOL("hivexregedit");
  const auto exported = tol::test::run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  // hivexregedit writes strings as their UTF-16 bytes.
  auto hex = [](const std::string& text) {
    std::string out = "hex(1):";
    for (std::uint8_t b : utf16le_sz(text))
      out += tol_format("%02x,", b);
    out.pop_back();
    return out;
  };
  EXPECT_NE(exported.out.find("\"Text\"=" + hex("bar bar") + "\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("\"Untouched\"=" + hex("foo") + "\n"), std::string::npos);
}

TEST_F(ReplaceTest, RefusesToStartWithoutTextKeyOrTarget) {
  // Without a hive nothing can be selected.
  fill("foo", "bar");
  press("Replace all");
  EXPECT_EQ(result(), "Select a key");

  open_sample();
  select(left_, "Soft");
  const Bytes before = read_file(file_);
  fill("", "bar");
  press("Replace all");
  EXPECT_EQ(result(), "Enter text to find");

  fill("foo", "bar");
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::data), false);
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::names), false);
  press("Replace all");
  EXPECT_EQ(result(), "Select names or data");
  EXPECT_EQ(snapshots(left_), 0u) << "stopped before any change";
  EXPECT_EQ(read_file(file_), before);
}

TEST_F(ReplaceTest, TheOptionsComeFromTheCheckButtons) {
  open(left_,
       key("ROOT", {key("K", {}, {val("item12", 1, utf16le_sz("item12")), val("ABC", 4, le32(1)),
                                  val("abcd", 1, utf16le_sz("x")), val("b", 1, utf16le_sz("y")),
                                  val("a", 1, utf16le_sz("z"))})}),
       "options.hiv");
  file_ = path("options.hiv");
  select(left_, "K");

  // Literal by default: the expression's characters match only themselves.
  fill("(\\d+)", "[\\1]");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 0 values, 0 replacements");
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::regex), true);
  press("Replace all");
  EXPECT_EQ(result(), "Done: 1 values, 1 replacements");
  EXPECT_EQ(data_on_disk(file_, "K", "item12"), utf16le_sz("item[12]"));
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::regex), false);

  // Names only, whole text, caseless: "ABC" (a REG_DWORD) but not "abcd".
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::names), true);
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::data), false);
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::whole), true);
  fill("abc", "renamed");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 1 values, 1 replacements");
  EXPECT_EQ(data_on_disk(file_, "K", "renamed"), le32(1));
  EXPECT_EQ(data_on_disk(file_, "K", "abcd"), utf16le_sz("x"));

  // With match case the upper-case text no longer matches.
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::match_case), true);
  fill("RENAMED", "again");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 0 values, 0 replacements");
  EXPECT_EQ(snapshots(left_), 2u) << "one per run that changed something";
}

TEST_F(ReplaceTest, ANameTakenAlreadyIsACollision) {
  open(left_, key("ROOT", {key("K", {}, {val("a", 1, utf16le_sz("1")), val("b", 1, utf16le_sz("2")),
                                         val("ax", 1, utf16le_sz("3"))})}),
       "collide.hiv");
  file_ = path("collide.hiv");
  select(left_, "K");
  fill("a", "b");
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::names), true);
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::data), false);
  press("Preview");
  // A preview cannot foresee the refusal.
  EXPECT_EQ(result(), "Preview: 2 values, 2 replacements");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 1 values, 1 replacements, name collisions: 1");
  EXPECT_EQ(data_on_disk(file_, "K", "a"), utf16le_sz("1"));
  EXPECT_EQ(data_on_disk(file_, "K", "b"), utf16le_sz("2"));
  EXPECT_EQ(data_on_disk(file_, "K", "bx"), utf16le_sz("3"));
  EXPECT_EQ(selected_path(left_), "K");
}

TEST_F(ReplaceTest, NoMatchSavesNothing) {
  open_sample();
  select(left_, "Other");
  const Bytes before = read_file(file_);
  fill("absent", "x");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 0 values, 0 replacements");
  EXPECT_EQ(read_file(file_), before);
  EXPECT_EQ(snapshots(left_), 0u);
}

// A walk that stops half way puts the image back: the values it had already
// rewritten must not reach the file with the next command's save.
TEST_F(ReplaceTest, AWalkThatFailsHalfWayLeavesHiveFileAndJournalAsTheyWere) {
  tol::test::KeySpec chain = key("d");
  for (int i = 0; i < 257; ++i)
    chain = key("d", {chain});
  open(left_,
       key("ROOT", {key("top", {chain}, {val("v", 1, utf16le_sz("t"))}),
                    key("side", {}, {val("w", 1, utf16le_sz("t"))})}),
       "deep.hiv");
  file_ = path("deep.hiv");
  select(left_, "top");
  const Bytes before = read_file(file_);
  const Bytes image = image_of(*tol_pane_get_hive(left_));

  fill("t", "u");
  press("Preview");
  EXPECT_EQ(result(), "Maximum hive depth exceeded");
  press("Replace all");
  EXPECT_EQ(result(), "Maximum hive depth exceeded");
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_EQ(image_of(*tol_pane_get_hive(left_)), image);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
  EXPECT_EQ(read_file(file_), before);

  // The next successful command saves only its own change.
  select(left_, "side");
  press("Replace all");
  EXPECT_EQ(result(), "Done: 1 values, 1 replacements");
  EXPECT_EQ(data_on_disk(file_, "side", "w"), utf16le_sz("u"));
  EXPECT_EQ(data_on_disk(file_, "top", "v"), utf16le_sz("t"));

  // An expression error also counts as a failure and takes nothing.
  check(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::regex), true);
  fill("(", "x");
  press("Replace all");
  EXPECT_NE(result().find("missing terminating )"), std::string::npos) << result();
  EXPECT_EQ(snapshots(left_), 1u);
}

TEST_F(ReplaceTest, AFailedSaveShowsTheSavesMessageAndTakesTheChangeBack) {
  open_sample();
  select(left_, "Soft");
  const Bytes before = read_file(file_);
  fill("foo", "bar");
  {
    FailingSave failing;
    press("Replace all");
  }
  EXPECT_NE(result().find("Permission denied"), std::string::npos) << result();
  EXPECT_EQ(result().rfind("Done", 0), std::string::npos);
  EXPECT_EQ(read_file(file_), before);
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty) << "the image is as the file";
  EXPECT_EQ(shown_data("Text"), "Foo foo");
}

}  // namespace
}  // namespace tol_test
