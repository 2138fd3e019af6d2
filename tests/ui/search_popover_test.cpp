// The search and replace popovers of a real pane: their widgets and defaults,
// searches run from them, the result rows and what activating one does.
#include "two_pane_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tol_test {
namespace {

using tol::test::le32;
using tol::test::utf16le_sz;

struct Hit {
  std::string label;
  std::string detail;
  bool operator==(const Hit&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Hit& hit) {
  return os << "{" << hit.label << " | " << hit.detail << "}";
}

std::vector<GtkWidget*> children(GtkWidget* widget) {
  std::vector<GtkWidget*> out;
  for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c))
    out.push_back(c);
  return out;
}

GtkWidget* check_labelled(GtkWidget* root, const char* label) {
  for (GtkWidget* check : find_all(root, GTK_TYPE_CHECK_BUTTON)) {
    const char* text = gtk_check_button_get_label(GTK_CHECK_BUTTON(check));
    if (text != nullptr && std::string(text) == label)
      return check;
  }
  return nullptr;
}

GtkWidget* button_labelled(GtkWidget* root, const char* label) {
  for (GtkWidget* button : find_all(root, GTK_TYPE_BUTTON)) {
    const char* text = gtk_button_get_label(GTK_BUTTON(button));
    if (!GTK_IS_CHECK_BUTTON(button) && text != nullptr && std::string(text) == label)
      return button;
  }
  return nullptr;
}

const char* placeholder_of(GtkWidget* entry) {
  char* text = nullptr;
  g_object_get(entry, "placeholder-text", &text, nullptr);
  static std::string kept;
  kept = text != nullptr ? text : "";
  g_free(text);
  return kept.c_str();
}

bool focus_inside(GtkWidget* widget) {
  GtkRoot* root = gtk_widget_get_root(widget);
  GtkWidget* focus = GTK_IS_WINDOW(root) ? gtk_window_get_focus(GTK_WINDOW(root)) : nullptr;
  return focus != nullptr && (focus == widget || gtk_widget_is_ancestor(focus, widget));
}

class SearchPopoverTest : public TwoPaneTest {
 protected:
  void open_sample() {
    open(left_,
         key("ROOT",
             {key("Software", {key("Run", {},
                                   {val("RunOnce", 4, le32(1)), val("Cmd", 1, utf16le_sz("C:\\RUNNER.exe")),
                                    val("Count", 4, le32(0x72756e))}),
                               key("Runway")}),
              key("Other", {}, {val("", 1, utf16le_sz("run here")), val("Bin", 3, utf16le_sz("run"))})}),
         "search.hiv");
  }

  // Sets the query and the five options, then runs it as the "Search" button does.
  void search(const char* text, bool keys = true, bool values = true, bool data = true,
              bool whole = false, bool regex = false) {
    gtk_editable_set_text(GTK_EDITABLE(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)), text);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::keys)), keys);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::values)), values);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::data)), data);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::whole)), whole);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::regex)), regex);
    g_signal_emit_by_name(button_labelled(GTK_WIDGET(tol_pane_get_search_popover(left_)), "Search"), "clicked");
  }

  std::vector<GtkWidget*> rows() { return children(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::results)); }

  std::vector<Hit> hits() {
    std::vector<Hit> out;
    for (GtkWidget* row : rows()) {
      GtkWidget* box = gtk_list_box_row_get_child(GTK_LIST_BOX_ROW(row));
      std::vector<GtkWidget*> labels = children(box);
      EXPECT_EQ(labels.size(), 2u);
      if (labels.size() != 2)
        continue;
      EXPECT_TRUE(gtk_widget_has_css_class(labels[1], "dim-label"));
      EXPECT_TRUE(gtk_widget_has_css_class(labels[1], "caption"));
      out.push_back({gtk_label_get_text(GTK_LABEL(labels[0])), gtk_label_get_text(GTK_LABEL(labels[1]))});
    }
    return out;
  }

  std::string status() { return gtk_label_get_text(GTK_LABEL(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::status))); }
};

TEST_F(SearchPopoverTest, IsBuiltWithItsTextsAndDefaults) {
  GtkWidget* popover = GTK_WIDGET(tol_pane_get_search_popover(left_));
  ASSERT_TRUE(GTK_IS_POPOVER(popover));
  EXPECT_EQ(gtk_widget_get_parent(popover), toolbar_button(left_, "pane.search"));
  EXPECT_TRUE(GTK_IS_SEARCH_ENTRY(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)));
  EXPECT_STREQ(placeholder_of(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)), "Search…");
  const std::pair<const char*, bool> checks[] = {{"Keys", true},        {"Values", true},
                                                 {"Data", true},        {"Whole text", false},
                                                 {"Regex (PCRE2)", false}};
  for (const auto& [label, active] : checks) {
    GtkWidget* check = check_labelled(popover, label);
    ASSERT_NE(check, nullptr) << label;
    EXPECT_EQ(gtk_check_button_get_active(GTK_CHECK_BUTTON(check)), active) << label;
  }
  GtkWidget* run = button_labelled(popover, "Search");
  ASSERT_NE(run, nullptr);
  EXPECT_TRUE(gtk_widget_has_css_class(run, "suggested-action"));
  EXPECT_EQ(status(), "");
  EXPECT_EQ(gtk_list_box_get_selection_mode(GTK_LIST_BOX(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::results))), GTK_SELECTION_NONE);

  tol_pane_show_search(left_);
  EXPECT_TRUE(gtk_widget_get_visible(popover));
  EXPECT_TRUE(focus_inside(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)));
}

TEST_F(SearchPopoverTest, ReportsAMissingHiveAndIgnoresAnEmptyQuery) {
  search("run");
  EXPECT_EQ(status(), "No hive loaded");
  EXPECT_TRUE(rows().empty());

  open_sample();
  search("run");
  ASSERT_FALSE(rows().empty());
  search("");
  EXPECT_EQ(status(), "");
  EXPECT_TRUE(rows().empty()) << "the previous rows go with every run";
}

TEST_F(SearchPopoverTest, ListsHitsInTreeOrderUnderTheCheckedOptions) {
  open_sample();
  search("run");
  // Subkeys come in the order of their list, which Windows keeps sorted.
  const std::vector<Hit> all = {
      {"(Default) = \\Other", "REG_SZ"},      {"\\Software\\Run", "key"},
      {"RunOnce = \\Software\\Run", "REG_DWORD"}, {"Cmd = \\Software\\Run", "REG_SZ"},
      {"\\Software\\Runway", "key"},
  };
  EXPECT_EQ(hits(), all);
  EXPECT_EQ(status(), "Found: 5");
  EXPECT_EQ(tol_search_popover_result_count(tol_pane_get_search_popover(left_)), 5u)
      << "the popover keeps the results its rows point into";

  search("run", /*keys=*/false, /*values=*/true, /*data=*/false);
  EXPECT_EQ(hits(), (std::vector<Hit>{{"RunOnce = \\Software\\Run", "REG_DWORD"}}));
  EXPECT_EQ(status(), "Found: 1");

  search("run", true, true, true, /*whole=*/true);
  EXPECT_EQ(hits(), (std::vector<Hit>{{"\\Software\\Run", "key"}}));

  search("run", false, false, false);
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(status(), "Found: 0");
}

TEST_F(SearchPopoverTest, RegexOptionAndItsErrors) {
  open_sample();
  search("^run(way)?$", true, false, false, false, /*regex=*/true);
  EXPECT_EQ(hits(), (std::vector<Hit>{{"\\Software\\Run", "key"}, {"\\Software\\Runway", "key"}}));

  // A pattern that matches the empty name finds the root, shown as "\".
  search("^$", true, false, false, false, true);
  ASSERT_FALSE(hits().empty());
  EXPECT_EQ(hits().front(), (Hit{"\\", "key"}));

  search("(", true, true, true, false, true);
  EXPECT_TRUE(rows().empty());
  EXPECT_FALSE(status().empty());
  EXPECT_EQ(status().find("Found"), std::string::npos) << status();
}

TEST_F(SearchPopoverTest, StopsAtFiveHundredHits) {
  std::vector<tol::test::KeySpec> many;
  for (int i = 0; i < 520; ++i)
    many.push_back(key("item" + std::to_string(i)));
  open(left_, key("ROOT", {key("Many", many)}), "many.hiv");
  search("item", true, false, false);
  EXPECT_EQ(rows().size(), 500u);
  EXPECT_EQ(status(), "Found 500 or more (narrow the query)");

  search("item1", true, false, false);
  EXPECT_EQ(status(), "Found: " + std::to_string(rows().size()));
  EXPECT_EQ(rows().size(), 1u + 10u + 100u);
}

TEST_F(SearchPopoverTest, EnterInTheEntryRunsTheSearch) {
  open_sample();
  gtk_editable_set_text(GTK_EDITABLE(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)), "runway");
  g_signal_emit_by_name(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry), "activate");
  EXPECT_EQ(hits(), (std::vector<Hit>{{"\\Software\\Runway", "key"}}));
}

TEST_F(SearchPopoverTest, ActivatingAHitSelectsItsKeyAndClosesThePopover) {
  open_sample();
  select(left_, "");
  tol_pane_show_search(left_);
  search("here");  // the default value of Other
  ASSERT_EQ(rows().size(), 1u);
  ASSERT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));

  g_signal_emit_by_name(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::results), "row-activated", rows()[0]);
  std::string selected;
  ASSERT_TRUE(tol_pane_get_selected_key_path(left_, selected));
  EXPECT_EQ(selected, "Other");
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));
  EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(left_)))), 2u)
      << "the value list shows the hit's key";

  // The rows outlive the hive they came from: in another hive without that
  // key the selection stays where it was, and the popover still closes.
  search("Cmd");
  ASSERT_EQ(rows().size(), 1u);
  open(left_, key("ROOT", {key("Software")}), "other.hiv");
  select(left_, "Software");
  tol_pane_show_search(left_);
  g_signal_emit_by_name(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::results), "row-activated", rows()[0]);
  ASSERT_TRUE(tol_pane_get_selected_key_path(left_, selected));
  EXPECT_EQ(selected, "Software");
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));
}

TEST_F(SearchPopoverTest, ReplacePopoverWidgetsAndTheirState) {
  GtkWidget* popover = GTK_WIDGET(tol_pane_get_replace_popover(left_));
  EXPECT_STREQ(placeholder_of(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::find)), "Find…");
  EXPECT_STREQ(placeholder_of(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::with)), "Replace with…");
  const std::pair<const char*, bool> checks[] = {{"Value names", false}, {"Text data", true},
                                                 {"Match case", false},  {"Whole text", false},
                                                 {"Regex", false}};
  for (const auto& [label, active] : checks) {
    GtkWidget* check = check_labelled(popover, label);
    ASSERT_NE(check, nullptr) << label;
    EXPECT_EQ(gtk_check_button_get_active(GTK_CHECK_BUTTON(check)), active) << label;
  }

  GtkWidget* preview = button_labelled(popover, "Preview");
  GtkWidget* replace_all = button_labelled(popover, "Replace all");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(replace_all, nullptr);
  EXPECT_TRUE(gtk_widget_get_sensitive(preview));
  EXPECT_TRUE(gtk_widget_get_sensitive(replace_all));

  tol_pane_show_replace(left_);
  EXPECT_TRUE(gtk_widget_get_visible(popover));
  EXPECT_TRUE(focus_inside(tol_replace_popover_get_part(tol_pane_get_replace_popover(left_), TolReplacePart::find)));
}

}  // namespace
}  // namespace tol_test
