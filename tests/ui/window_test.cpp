// The main window: its parts, the active-pane rule, its shortcuts pressed for
// real, and how it hands files to the panes.
#include "ui/window.h"

#include <filesystem>
#include <string>

#include "hive/edit.h"
#include "hive/save.h"
#include "ui/compat.h"
#include "window_fixture.h"
#include "ui/commit.h"

namespace tol_test {
namespace {

std::vector<GtkWidget*> children(GtkWidget* widget) {
  std::vector<GtkWidget*> out;
  for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c))
    out.push_back(c);
  return out;
}

std::vector<GtkWidget*> with_class(GtkWidget* root, const char* css_class) {
  std::vector<GtkWidget*> out;
  for (GtkWidget* w : find_all(root, GTK_TYPE_WIDGET))
    if (gtk_widget_has_css_class(w, css_class))
      out.push_back(w);
  return out;
}

std::string tooltip(GtkWidget* widget) {
  const char* text = gtk_widget_get_tooltip_text(widget);
  return text != nullptr ? text : "";
}

std::string icon(GtkWidget* button) {
  const char* name = gtk_button_get_icon_name(GTK_BUTTON(button));
  return name != nullptr ? name : "";
}

// How many toasts the overlay shows right now.
int toast_count(AdwToastOverlay* overlay) {
  GType toast_widget = g_type_from_name("AdwToastWidget");
  return toast_widget == 0 ? 0 : static_cast<int>(find_all(GTK_WIDGET(overlay), toast_widget).size());
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
    left_ = tol_window_get_left_pane(window_);
    right_ = tol_window_get_right_pane(window_);
  }
  void TearDown() override { destroy_all_windows(); }

  GtkWidget* widget() { return GTK_WIDGET(window_); }

  // Both panes with a hive, the window on screen.
  void open_both() {
    open_path(left_, write_hive(dir_.file("left/SOFTWARE")));
    open_path(right_, write_hive(dir_.file("right/SYSTEM")));
    show(widget());
  }

  void keys(const std::vector<std::string>& names) {
    if (!press_keys(widget(), names))
      GTEST_SKIP() << "keys cannot be pressed on this display";
  }

  GtkWidget* shortcut_bar() {
    std::vector<GtkWidget*> bars = with_class(widget(), "tol-shortcut-bar");
    return bars.size() == 1 ? bars[0] : nullptr;
  }

  GtkWidget* bar_button(const std::string& key_text) {
    for (GtkWidget* button : children(shortcut_bar()))
      for (GtkWidget* label : find_all(button, GTK_TYPE_LABEL))
        if (key_text == gtk_label_get_text(GTK_LABEL(label)))
          return button;
    return nullptr;
  }

  // A click on a bar button, as the button reports it.
  void click_bar(const std::string& key_text) {
    g_signal_emit_by_name(bar_button(key_text), "clicked");
    drain_main_loop();
  }

  TempDir dir_;
  TolWindow* window_ = nullptr;
  TolPane* left_ = nullptr;
  TolPane* right_ = nullptr;
};

// ---- Structure ------------------------------------------------------------------

TEST_F(WindowTest, IsAnApplicationWindowWithItsTitleSizeAndIcon) {
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(window_), "TolWindow");
  EXPECT_TRUE(g_type_is_a(TOL_TYPE_WINDOW, ADW_TYPE_APPLICATION_WINDOW));
  int width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(window_), &width, &height);
  EXPECT_EQ(width, 1400);
  EXPECT_EQ(height, 800);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_)), "Tolvane");
  EXPECT_STREQ(gtk_window_get_icon_name(GTK_WINDOW(window_)), "org.tolvane.Tolvane");
}

TEST_F(WindowTest, HeaderBarHoldsTheOpenButtonsOfBothPanes) {
  GtkWidget* view = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window_));
  GtkWidget* header = find_first(view, ADW_TYPE_HEADER_BAR);
  ASSERT_NE(header, nullptr);
  EXPECT_FALSE(gtk_widget_is_ancestor(header, tol_compat_toolbar_view_get_content(view)));
  std::vector<GtkWidget*> groups = with_class(header, "linked");
  ASSERT_EQ(groups.size(), 2u);
  std::vector<GtkWidget*> start = children(groups[0]);
  std::vector<GtkWidget*> end = children(groups[1]);
  ASSERT_EQ(start.size(), 2u);
  ASSERT_EQ(end.size(), 2u);
  EXPECT_EQ(icon(start[0]), "document-open-symbolic");
  EXPECT_EQ(tooltip(start[0]), "Open a hive file in the left pane");
  EXPECT_EQ(icon(start[1]), "folder-symbolic");
  EXPECT_EQ(tooltip(start[1]), "Open a Windows installation directory in the left pane");
  EXPECT_EQ(icon(end[0]), "folder-symbolic");
  EXPECT_EQ(tooltip(end[0]), "Open a Windows installation directory in the right pane");
  EXPECT_EQ(icon(end[1]), "document-open-symbolic");
  EXPECT_EQ(tooltip(end[1]), "Open a hive file in the right pane");

  // The start group is drawn left of the end group.
  show(widget());
  graphene_point_t a, b;
  ASSERT_TRUE(gtk_widget_compute_point(groups[0], widget(), graphene_point_zero(), &a));
  ASSERT_TRUE(gtk_widget_compute_point(groups[1], widget(), graphene_point_zero(), &b));
  EXPECT_LT(a.x, b.x);
}

TEST_F(WindowTest, TheMainMenuOpensTheAboutWindowWithTheVersion) {
  GtkWidget* view = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window_));
  GtkWidget* menu = find_first(find_first(view, ADW_TYPE_HEADER_BAR), GTK_TYPE_MENU_BUTTON);
  ASSERT_NE(menu, nullptr);
  GMenuModel* model = gtk_menu_button_get_menu_model(GTK_MENU_BUTTON(menu));
  ASSERT_EQ(g_menu_model_get_n_items(model), 1);
  g_autofree char* action = nullptr;
  ASSERT_TRUE(g_menu_model_get_item_attribute(model, 0, G_MENU_ATTRIBUTE_ACTION, "s", &action));
  EXPECT_STREQ(action, "win.about");

  show(widget());
  gtk_widget_activate_action(widget(), "win.about", nullptr);
  AdwAboutWindow* about = nullptr;
  ASSERT_TRUE(iterate_until([&] {
    for (GtkWindow* window : toplevels())
      if (ADW_IS_ABOUT_WINDOW(window)) about = ADW_ABOUT_WINDOW(window);
    return about != nullptr;
  }));
  EXPECT_STREQ(adw_about_window_get_version(about), TOL_VERSION);
  EXPECT_STREQ(adw_about_window_get_application_name(about), "Tolvane");
  EXPECT_STREQ(adw_about_window_get_website(about), "https://tolvane.org/");
  EXPECT_EQ(adw_about_window_get_license_type(about), GTK_LICENSE_GPL_3_0);
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(about)), GTK_WINDOW(window_));
}

TEST_F(WindowTest, ShortcutBarListsTheTenCommands) {
  GtkWidget* bar = shortcut_bar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(gtk_widget_get_halign(bar), GTK_ALIGN_CENTER);
  GtkWidget* view = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window_));
  EXPECT_FALSE(gtk_widget_is_ancestor(bar, tol_compat_toolbar_view_get_content(view)));

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"F2", "Rename"}, {"F5", "Copy →"},  {"Shift+F5", "← Copy"}, {"F7", "New key"}, {"Del", "Delete"},
      {"Ctrl+C", "Copy"}, {"Ctrl+Z", "Undo"}, {"Ctrl+F", "Search"}, {"Ctrl+H", "Replace"}, {"Tab", "Pane"}};
  std::vector<GtkWidget*> buttons = children(bar);
  ASSERT_EQ(buttons.size(), expected.size());
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    ASSERT_TRUE(GTK_IS_BUTTON(buttons[i]));
    EXPECT_TRUE(gtk_widget_has_css_class(buttons[i], "flat"));
    GtkWidget* content = gtk_button_get_child(GTK_BUTTON(buttons[i]));
    ASSERT_TRUE(GTK_IS_BOX(content));
    std::vector<GtkWidget*> labels = children(content);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(labels[0])), expected[i].first);
    EXPECT_TRUE(gtk_widget_has_css_class(labels[0], "tol-shortcut-key"));
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(labels[1])), expected[i].second);
  }
  for (const char* key : {"F2", "F5", "Shift+F5", "F7", "Del", "Ctrl+C", "Ctrl+Z", "Ctrl+F",
                          "Ctrl+H", "Tab"})
    EXPECT_TRUE(gtk_widget_get_sensitive(bar_button(key))) << key;
}

TEST_F(WindowTest, PanesSitLeftAndRightOfTheCopyColumnInsideTheToastOverlay) {
  GtkWidget* view = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window_));
  GtkWidget* content = tol_compat_toolbar_view_get_content(view);
  ASSERT_TRUE(ADW_IS_TOAST_OVERLAY(content));
  EXPECT_EQ(ADW_TOAST_OVERLAY(content), tol_window_get_toast_overlay(window_));
  // Below the panes, the comparison panel, shown while a comparison is open.
  GtkWidget* split = adw_toast_overlay_get_child(ADW_TOAST_OVERLAY(content));
  ASSERT_TRUE(GTK_IS_PANED(split));
  EXPECT_EQ(gtk_paned_get_end_child(GTK_PANED(split)), GTK_WIDGET(tol_window_get_diff_panel(window_)));
  EXPECT_FALSE(gtk_widget_get_visible(gtk_paned_get_end_child(GTK_PANED(split))));
  GtkWidget* row = gtk_paned_get_start_child(GTK_PANED(split));
  std::vector<GtkWidget*> parts = children(row);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0], GTK_WIDGET(left_));
  EXPECT_TRUE(GTK_IS_SEPARATOR(parts[1]));
  EXPECT_TRUE(GTK_IS_SEPARATOR(parts[3]));
  EXPECT_EQ(parts[4], GTK_WIDGET(right_));
  EXPECT_EQ(tooltip(GTK_WIDGET(left_)), "left pane");
  EXPECT_EQ(tooltip(GTK_WIDGET(right_)), "right pane");
  EXPECT_EQ(tol_pane_get_other(left_), right_);
  EXPECT_EQ(tol_pane_get_other(right_), left_);

  GtkWidget* column = parts[2];
  std::vector<GtkWidget*> copy = children(column);
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_EQ(icon(copy[0]), "go-next-symbolic");
  EXPECT_EQ(tooltip(copy[0]), "Copy the selection to the right pane (F5)");
  EXPECT_EQ(icon(copy[1]), "go-previous-symbolic");
  EXPECT_EQ(tooltip(copy[1]), "Copy the selection to the left pane (Shift+F5)");
  for (GtkWidget* button : copy)
    EXPECT_TRUE(gtk_widget_get_sensitive(button));

  // Both panes report in the window's one overlay.
  show(widget());
  tol_pane_toast(right_, "from the right");
  tol_pane_toast(left_, "from the left");
  EXPECT_TRUE(iterate_until([&] { return find_label(content, "from the right") != nullptr; }));
}

TEST_F(WindowTest, PanesAlwaysHaveTheSameWidth) {
  // However wide one pane wants to be, the other follows.
  gtk_widget_set_size_request(tol_pane_get_path_label(left_), 1200, -1);
  show(widget());
  ASSERT_TRUE(iterate_until([&] { return gtk_widget_get_width(GTK_WIDGET(left_)) >= 1200; }));
  EXPECT_EQ(gtk_widget_get_width(GTK_WIDGET(right_)), gtk_widget_get_width(GTK_WIDGET(left_)));
}

// ---- Active pane and shortcuts --------------------------------------------------

TEST_F(WindowTest, TheActivePaneIsTheRightOneOnlyWhileItHasTheFocus) {
  open_both();
  gtk_window_set_focus(GTK_WINDOW(window_), nullptr);
  EXPECT_EQ(tol_window_get_active_pane(window_), left_);
  tol_pane_focus_tree(right_);
  ASSERT_TRUE(is_inside(focus_of(widget()), GTK_WIDGET(right_)));
  EXPECT_EQ(tol_window_get_active_pane(window_), right_);
  ASSERT_TRUE(gtk_widget_grab_focus(tol_pane_get_value_list_view(right_)));
  EXPECT_EQ(tol_window_get_active_pane(window_), right_);
  GtkWidget* header_button = with_class(widget(), "linked")[1];
  ASSERT_TRUE(gtk_widget_grab_focus(gtk_widget_get_first_child(header_button)));
  EXPECT_EQ(tol_window_get_active_pane(window_), left_);
  tol_pane_focus_tree(left_);
  EXPECT_EQ(tol_window_get_active_pane(window_), left_);
}

TEST_F(WindowTest, OpensWithTheFocusOnTheLeftKeyTree) {
  open_both();
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), tol_pane_get_key_tree_view(left_)); }));
}

TEST_F(WindowTest, OpensWithTheFocusOnTheRightKeyTreeWhenOnlyTheRightHasAHive) {
  open_path(right_, write_hive(dir_.file("right/SYSTEM")));
  show(widget());
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), tol_pane_get_key_tree_view(right_)); }));
}

TEST_F(WindowTest, TabAndShiftTabMoveBetweenTheKeyTrees) {
  open_both();
  GtkWidget* left_tree = tol_pane_get_key_tree_view(left_);
  GtkWidget* right_tree = tol_pane_get_key_tree_view(right_);
  tol_pane_focus_tree(left_);
  keys({"Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), right_tree); }));
  keys({"Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), left_tree); }));
  keys({"shift+Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), right_tree); }));
  keys({"shift+Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), left_tree); }));
  // From anywhere in the left pane, the right key tree is next.
  ASSERT_TRUE(gtk_widget_grab_focus(tol_pane_get_value_list_view(left_)));
  keys({"Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), right_tree); }));
}

// Tab inside the search popover moves on to its options and hits instead of
// leaving for the other pane.
TEST_F(WindowTest, TabInsideAnOpenPopoverStaysInThePopover) {
  open_both();
  tol_pane_focus_tree(right_);
  tol_pane_show_search(right_);
  drain_main_loop();
  ASSERT_TRUE(is_inside(focus_of(widget()), tol_search_popover_get_part(tol_pane_get_search_popover(right_), TolSearchPart::entry)));
  keys({"Tab"});
  ASSERT_TRUE(iterate_until([&] { return !is_inside(focus_of(widget()), tol_search_popover_get_part(tol_pane_get_search_popover(right_), TolSearchPart::entry)); }));
  EXPECT_TRUE(is_inside(focus_of(widget()), GTK_WIDGET(tol_pane_get_search_popover(right_))));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(right_))));
  // Once the popover is closed Tab switches panes again.
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(right_))));
  tol_pane_focus_tree(right_);
  keys({"Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), tol_pane_get_key_tree_view(left_)); }));
}

TEST_F(WindowTest, CtrlFOpensTheSearchOfThePaneWithTheFocus) {
  open_both();
  ASSERT_TRUE(gtk_widget_grab_focus(tol_pane_get_value_list_view(right_)));
  keys({"ctrl+f"});
  EXPECT_TRUE(iterate_until([&] { return gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(right_))); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), tol_search_popover_get_part(tol_pane_get_search_popover(right_), TolSearchPart::entry)); }));
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(right_))));
  drain_main_loop();

  // With the focus outside both panes the left pane is meant.
  GtkWidget* header_button = gtk_widget_get_first_child(with_class(widget(), "linked")[1]);
  ASSERT_TRUE(gtk_widget_grab_focus(header_button));
  keys({"ctrl+f"});
  EXPECT_TRUE(iterate_until([&] { return gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(right_))));
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(left_))));

  // Ctrl+H likewise, for the replace popover.
  tol_pane_focus_tree(right_);
  keys({"ctrl+h"});
  EXPECT_TRUE(iterate_until([&] { return gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_replace_popover(right_))); }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_replace_popover(left_))));
}

TEST_F(WindowTest, UndoActsOnTheTabOfThePaneWithTheFocus) {
  std::string left_path = write_hive(dir_.file("left/SOFTWARE"));
  std::string right_path = write_hive(dir_.file("right/SYSTEM"));
  open_path(left_, left_path);
  open_path(right_, right_path);
  show(widget());

  auto change = [](TolPane* pane) {
    TolCommit commit;
    commit.operation = [](TolHive& hive, GError** error) {
      return tol_hive_create_key(hive, hive.root_cell, "Added", error).has_value();
    };
    commit.change = TolChange{TolChangeKind::subkeys, tol_pane_get_hive(pane)->root_cell};
    ASSERT_EQ(tol_pane_commit(pane, commit), TolCommitResult::kDone);
  };
  change(left_);
  change(right_);
  auto has_added = [](TolPane* pane) {
    return tol_hive_find_path(*tol_pane_get_hive(pane), "Added").has_value();
  };
  ASSERT_TRUE(has_added(left_) && has_added(right_));

  tol_pane_focus_tree(right_);
  EXPECT_TRUE(tol_window_undo(window_));
  EXPECT_FALSE(has_added(right_));
  EXPECT_TRUE(is_inside(focus_of(widget()), GTK_WIDGET(right_))) << "the undo took the focus away";
  EXPECT_TRUE(has_added(left_));
  EXPECT_FALSE(tol_window_undo(window_)) << "the right tab had one change";

  // The key and the bar's button run the same undo, without a toast.
  tol_pane_focus_tree(left_);
  int toasts = toast_count(tol_window_get_toast_overlay(window_));
  keys({"ctrl+z"});
  EXPECT_TRUE(iterate_until([&] { return !has_added(left_); }));
  click_bar("Ctrl+Z");  // nothing left to undo
  EXPECT_EQ(toast_count(tol_window_get_toast_overlay(window_)), toasts);
}

TEST_F(WindowTest, CtrlZWithNothingToUndoShowsNoToast) {
  open_both();
  tol_pane_focus_tree(right_);
  keys({"ctrl+z"});
  gtk_window_set_focus(GTK_WINDOW(window_), nullptr);
  keys({"ctrl+z"});
  EXPECT_EQ(toast_count(tol_window_get_toast_overlay(window_)), 0);
}

TEST_F(WindowTest, BarButtonsActOnThePaneTheUserWasIn) {
  open_both();
  tol_pane_focus_tree(right_);
  click_bar("Ctrl+F");
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(right_))));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(right_))));

  tol_pane_focus_tree(right_);
  click_bar("Tab");
  EXPECT_TRUE(is_inside(focus_of(widget()), tol_pane_get_key_tree_view(left_)));
  click_bar("Tab");
  EXPECT_TRUE(is_inside(focus_of(widget()), tol_pane_get_key_tree_view(right_)));
  // Clicking a bar button leaves the focus where it was.
  EXPECT_FALSE(gtk_widget_get_focus_on_click(bar_button("Ctrl+H")));
}

// Some toolkit versions leave the keyboard grabbed by a popover whose window
// went while it was shown; no other window of the program got keys after.
TEST_F(WindowTest, ClosingAWindowWithAnOpenPopoverLeavesTheKeysToTheOthers) {
  TolWindow* other = tol_window_new(nullptr);
  show(GTK_WIDGET(other));
  tol_pane_show_search(tol_window_get_right_pane(other));
  drain_main_loop();
  ASSERT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(tol_window_get_right_pane(other)))));
  gtk_window_destroy(GTK_WINDOW(other));
  drain_main_loop();

  open_both();
  tol_pane_focus_tree(left_);
  keys({"Tab"});
  EXPECT_TRUE(iterate_until([&] { return is_inside(focus_of(widget()), tol_pane_get_key_tree_view(right_)); }));
}

// ---- Files ----------------------------------------------------------------------

TEST_F(WindowTest, OpensTheFirstFileLeftAndTheSecondRight) {
  std::string a = write_hive(dir_.file("NTUSER.DAT"));
  std::string b = write_hive(dir_.file("SYSTEM"));
  std::string c = write_hive(dir_.file("SAM"));
  GFile* files[] = {g_file_new_for_path(a.c_str()), g_file_new_for_path(b.c_str()),
                    g_file_new_for_path(c.c_str())};
  tol_window_open_files(window_, files, 3);
  ASSERT_EQ(tol_pane_get_tab_count(left_), 1);
  ASSERT_EQ(tol_pane_get_tab_count(right_), 1);
  EXPECT_STREQ(tol_pane_get_tab_path(left_, 0), a.c_str());
  EXPECT_STREQ(tol_pane_get_tab_path(right_, 0), b.c_str());
  EXPECT_EQ(tol_pane_get_hive(right_)->path, b);
  for (GFile* f : files)
    g_object_unref(f);
}

TEST_F(WindowTest, RejectsAnythingButAWindow) {
  GFile* file = g_file_new_for_path("/hives/SYSTEM");
  GtkWidget* not_a_window = gtk_label_new("x");
  g_object_ref_sink(not_a_window);
  {
    LogCapture log;
    tol_window_open_files(nullptr, &file, 1);
    tol_window_open_files(reinterpret_cast<TolWindow*>(not_a_window), &file, 1);
    EXPECT_EQ(tol_window_get_active_pane(nullptr), nullptr);
    EXPECT_FALSE(tol_window_undo(nullptr));
    ASSERT_EQ(log.messages().size(), 4u);
    for (const std::string& m : log.messages())
      EXPECT_NE(m.find("TOL_IS_WINDOW(self)"), std::string::npos) << m;
  }
  g_object_unref(not_a_window);
  g_object_unref(file);
}

}  // namespace
}  // namespace tol_test
