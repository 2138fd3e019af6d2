// The value list of real panes: rows, their texts and icons, the tint against
// the other pane's selected key, copying a value and the list's keys and menu.
#include "edit_commands_util.h"
#include "two_pane_fixture.h"
#include "ui/value_item.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::bytes_of;
using tol::test::le32;
using tol::test::multi_sz;
using tol::test::utf16le_sz;

constexpr std::uint32_t kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4, kDwordBe = 5, kMultiSz = 7,
                        kQword = 11;

struct Row {
  std::string name;
  std::string type;
  std::string data;
  TolDiffMark diff;
};

std::vector<Row> rows_of(TolPane* pane) {
  std::vector<Row> rows;
  GListModel* model = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(pane)));
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
    auto* item = TOL_VALUE_ITEM(g_list_model_get_item(model, i));
    rows.push_back({tol_value_item_get_display_name(item), tol_value_item_get_type_text(item),
                    tol_value_item_get_data_text(item), tol_value_item_get_diff(item)});
    g_object_unref(item);
  }
  return rows;
}

std::map<std::string, TolDiffMark> marks_of(TolPane* pane) {
  std::map<std::string, TolDiffMark> marks;
  for (const Row& row : rows_of(pane))
    marks[row.name] = row.diff;
  return marks;
}

// The cell boxes of the drawn row whose name cell shows `name`: one per column.
std::vector<GtkWidget*> drawn_row(GtkWidget* view, const std::string& name) {
  std::vector<GtkWidget*> boxes;
  GtkWidget* label = find_label(view, name);
  if (label == nullptr)
    return boxes;
  GtkWidget* row = gtk_widget_get_parent(gtk_widget_get_parent(gtk_widget_get_parent(label)));
  for (GtkWidget* cell = gtk_widget_get_first_child(row); cell != nullptr;
       cell = gtk_widget_get_next_sibling(cell))
    boxes.push_back(gtk_widget_get_first_child(cell));
  return boxes;
}

std::string diff_class(GtkWidget* box) {
  bool only = gtk_widget_has_css_class(box, "tol-diff-only");
  bool changed = gtk_widget_has_css_class(box, "tol-diff-changed");
  if (only && changed)
    return "both";
  return only ? "only" : changed ? "changed" : "";
}

// A key pressed with the focus in the value list, as the window's accelerator
// table runs it; returns whether a command took it.
bool press(TolPane* pane, guint keyval, GdkModifierType modifiers = GdkModifierType(0)) {
  gtk_widget_grab_focus(tol_pane_get_value_list_view(pane));
  GtkWidget* window = GTK_WIDGET(gtk_widget_get_root(GTK_WIDGET(pane)));
  for (const TolAccel& accel : tol_accels()) {
    g_autoptr(GtkShortcutTrigger) trigger = gtk_shortcut_trigger_parse_string(accel.trigger);
    if (gtk_keyval_trigger_get_keyval(GTK_KEYVAL_TRIGGER(trigger)) == keyval &&
        gtk_keyval_trigger_get_modifiers(GTK_KEYVAL_TRIGGER(trigger)) == modifiers)
      return tol_accel_run(window, accel, true);
  }
  ADD_FAILURE() << "no accelerator for key " << keyval;
  return false;
}

GtkGesture* secondary_gesture(GtkWidget* view) {
  GListModel* controllers = gtk_widget_observe_controllers(view);
  GtkGesture* found = nullptr;
  for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
    auto* controller = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
    if (GTK_IS_GESTURE_CLICK(controller) &&
        gtk_gesture_single_get_button(GTK_GESTURE_SINGLE(controller)) == GDK_BUTTON_SECONDARY)
      found = GTK_GESTURE(controller);
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  return found;
}

class ValueListTest : public TwoPaneTest {
 protected:
  // The comparison pair: the same key in two hives, differing value by value.
  void open_pair() {
    open(left_,
         key("Root", {key("Cmp", {},
                          {val("", kSz, utf16le_sz("abc")), val("Same", kDword, le32(1)),
                           val("Changed", kSz, utf16le_sz("one")), val("Longer", kBinary, {1, 2}),
                           val("Retyped", kBinary, {1, 2, 3, 4}), val("Path", kSz, utf16le_sz("x")),
                           val("Mine", kBinary, {9}), val("Empty", kBinary, {})}),
                      key("Bare")}),
         "left.hiv");
    open(right_,
         key("Root", {key("Cmp", {},
                          {val("", kSz, utf16le_sz("abc")), val("Same", kDword, le32(1)),
                           val("Changed", kSz, utf16le_sz("two")), val("Longer", kBinary, {1, 2, 3}),
                           val("Retyped", kDword, {1, 2, 3, 4}), val("PATH", kSz, utf16le_sz("x")),
                           val("Path", kSz, utf16le_sz("y")), val("Empty", kBinary, {}),
                           val("Theirs", kBinary, {})}),
                      key("Bare")}),
         "right.hiv");
  }
};

TEST_F(ValueListTest, RowsFollowTheKeysValueListWithTypeAndDataTexts) {
  std::string long_text(250, 'x');
  open(left_,
       key("Root", {key("Types", {},
                        {val("", kSz, utf16le_sz("abc")), val("Long", kSz, utf16le_sz(long_text.c_str())),
                         val("Env", kExpandSz, utf16le_sz("%PATH%")),
                         val("List", kMultiSz, multi_sz({"a", "b"})), val("Count", kDword, le32(7)),
                         val("Short", kDword, {1, 2, 3}), val("Big", kDwordBe, {0, 0, 1, 0}),
                         val("Quad", kQword, {1, 0, 0, 0, 0, 0, 0, 0}), val("Nothing", kBinary, {}),
                         val("Odd", 0x100, {0xab})})}),
       "types.hiv");
  select(left_, "Types");

  std::vector<Row> rows = rows_of(left_);
  ASSERT_EQ(rows.size(), 10u);
  const std::vector<std::vector<std::string>> expected = {
      {"(Default)", "REG_SZ", "abc"},
      {"Long", "REG_SZ", std::string(200, 'x') + "..."},
      {"Env", "REG_EXPAND_SZ", "%PATH%"},
      {"List", "REG_MULTI_SZ", "a, b"},
      {"Count", "REG_DWORD", "0x00000007 (7)"},
      {"Short", "REG_DWORD", "01 02 03 (3 B)"},
      {"Big", "REG_DWORD_BIG_ENDIAN", "0x00000100 (256)"},
      {"Quad", "REG_QWORD", "0x0000000000000001 (1)"},
      {"Nothing", "REG_BINARY", "(no data)"},
      {"Odd", "REG_UNKNOWN", "ab (1 B)"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].name, expected[i][0]) << i;
    EXPECT_EQ(rows[i].type, expected[i][1]) << i;
    EXPECT_EQ(rows[i].data, expected[i][2]) << i;
    EXPECT_EQ(rows[i].diff, TOL_DIFF_NONE) << "the other pane shows no hive: " << rows[i].name;
  }

  // The drawn cells: the name column carries the type's icon, the others none.
  GtkWidget* view = tol_pane_get_value_list_view(left_);
  ASSERT_TRUE(iterate_until([&] { return find_label(view, "Odd") != nullptr; }));
  const std::map<std::string, std::pair<std::string, std::string>> icons = {
      {"(Default)", {"insert-text-symbolic", "tol-icon-string"}},
      {"Env", {"insert-text-symbolic", "tol-icon-string"}},
      {"List", {"view-list-symbolic", "tol-icon-string"}},
      {"Count", {"accessories-calculator-symbolic", "tol-icon-number"}},
      {"Quad", {"accessories-calculator-symbolic", "tol-icon-number"}},
      {"Big", {"media-flash-symbolic", "tol-icon-binary"}},
      {"Nothing", {"media-flash-symbolic", "tol-icon-binary"}},
      {"Odd", {"media-flash-symbolic", "tol-icon-binary"}},
  };
  for (const auto& [name, icon] : icons) {
    std::vector<GtkWidget*> cells = drawn_row(view, name);
    ASSERT_EQ(cells.size(), 3u) << name;
    GtkWidget* image = gtk_widget_get_first_child(cells[0]);
    ASSERT_TRUE(GTK_IS_IMAGE(image)) << name;
    EXPECT_TRUE(gtk_widget_get_visible(image)) << name;
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(image)), icon.first.c_str()) << name;
    int icon_classes = 0;
    for (const char* css : {"tol-icon-string", "tol-icon-number", "tol-icon-binary"})
      icon_classes += gtk_widget_has_css_class(image, css) ? 1 : 0;
    EXPECT_EQ(icon_classes, 1) << name;
    EXPECT_TRUE(gtk_widget_has_css_class(image, icon.second.c_str())) << name;
    EXPECT_FALSE(gtk_widget_get_visible(gtk_widget_get_first_child(cells[1]))) << name;
    EXPECT_FALSE(gtk_widget_get_visible(gtk_widget_get_first_child(cells[2]))) << name;
  }
}

TEST_F(ValueListTest, MarksValuesAgainstTheOtherPanesKey) {
  open_pair();
  select(left_, "Cmp");
  select(right_, "Cmp");

  const std::map<std::string, TolDiffMark> left_expected = {
      {"(Default)", TOL_DIFF_NONE}, {"Same", TOL_DIFF_NONE},       {"Changed", TOL_DIFF_CHANGED},
      {"Longer", TOL_DIFF_CHANGED}, {"Retyped", TOL_DIFF_CHANGED}, {"Path", TOL_DIFF_NONE},
      {"Mine", TOL_DIFF_ONLY},      {"Empty", TOL_DIFF_NONE},
  };
  EXPECT_EQ(marks_of(left_), left_expected);
  // PATH and Path are one name: each is compared with the left's only "Path".
  const std::map<std::string, TolDiffMark> right_expected = {
      {"(Default)", TOL_DIFF_NONE}, {"Same", TOL_DIFF_NONE},       {"Changed", TOL_DIFF_CHANGED},
      {"Longer", TOL_DIFF_CHANGED}, {"Retyped", TOL_DIFF_CHANGED}, {"PATH", TOL_DIFF_NONE},
      {"Path", TOL_DIFF_CHANGED},   {"Empty", TOL_DIFF_NONE},      {"Theirs", TOL_DIFF_ONLY},
  };
  EXPECT_EQ(marks_of(right_), right_expected);

  // Every cell of a row carries the row's tint.
  GtkWidget* view = tol_pane_get_value_list_view(left_);
  ASSERT_TRUE(iterate_until([&] { return find_label(view, "Mine") != nullptr; }));
  for (const auto& [name, tint] : std::map<std::string, std::string>{
           {"Mine", "only"}, {"Changed", "changed"}, {"Same", ""}, {"(Default)", ""}}) {
    std::vector<GtkWidget*> cells = drawn_row(view, name);
    ASSERT_EQ(cells.size(), 3u) << name;
    for (GtkWidget* cell : cells)
      EXPECT_EQ(diff_class(cell), tint) << name;
  }
}

TEST_F(ValueListTest, SelectingInOnePaneRemarksTheOther) {
  open_pair();
  select(left_, "Cmp");
  select(right_, "Cmp");
  ASSERT_EQ(marks_of(left_)["Same"], TOL_DIFF_NONE);

  // A key without values on the other side: everything here is only here.
  select(right_, "Bare");
  std::map<std::string, TolDiffMark> marks = marks_of(left_);
  ASSERT_EQ(marks.size(), 8u);
  for (const auto& [name, mark] : marks)
    EXPECT_EQ(mark, TOL_DIFF_ONLY) << name;
  EXPECT_TRUE(rows_of(right_).empty());

  // The drawn rows follow the new marks.
  GtkWidget* view = tol_pane_get_value_list_view(left_);
  ASSERT_TRUE(iterate_until([&] {
    std::vector<GtkWidget*> cells = drawn_row(view, "Same");
    return cells.size() == 3 && diff_class(cells[0]) == "only";
  }));
  select(right_, "Cmp");
  ASSERT_TRUE(iterate_until([&] {
    std::vector<GtkWidget*> cells = drawn_row(view, "Same");
    return cells.size() == 3 && diff_class(cells[0]).empty() && diff_class(cells[2]).empty();
  }));
}

TEST_F(ValueListTest, NoTintWithoutAHiveInTheOtherPane) {
  open_pair();
  select(left_, "Cmp");
  tol_pane_close_tab(right_, 0);
  tol_pane_refresh_values(left_);
  for (const Row& row : rows_of(left_))
    EXPECT_EQ(row.diff, TOL_DIFF_NONE) << row.name;
}

TEST_F(ValueListTest, CopiesTheSelectedValueAsShown) {
  std::string long_text(250, 'y');
  open(left_,
       key("Root", {}, {val("", kSz, utf16le_sz("abc")), val("Long", kSz, utf16le_sz(long_text.c_str()))}),
       "copy.hiv");
  select(left_, "");
  gdk_clipboard_set_text(gtk_widget_get_clipboard(window_), "before");

  // Nothing selected: the clipboard is kept.
  press(left_, GDK_KEY_c, GDK_CONTROL_MASK);
  EXPECT_EQ(clipboard_text(), "before");

  gtk_selection_model_select_item(GTK_SELECTION_MODEL(tol_value_list_get_selection(tol_pane_get_value_list(left_))), 0, TRUE);
  EXPECT_TRUE(press(left_, GDK_KEY_c, GDK_CONTROL_MASK));
  EXPECT_EQ(clipboard_text(), "(Default)\tREG_SZ\tabc");
  EXPECT_TRUE(iterate_until(
      [&] { return find_label(GTK_WIDGET(overlay_), "Value copied to the clipboard") != nullptr; }));

  // The data as the list shows it, cut after 200 characters; and the window's
  // copy command picks the value because the focus is in the list.
  gtk_selection_model_select_item(GTK_SELECTION_MODEL(tol_value_list_get_selection(tol_pane_get_value_list(left_))), 1, TRUE);
  ASSERT_TRUE(tol_pane_focus_in_value_list(left_));
  tol_pane_copy_selected(left_);
  EXPECT_EQ(clipboard_text(), "Long\tREG_SZ\t" + std::string(200, 'y') + "...");
}

TEST_F(ValueListTest, KeysInTheListActOnTheSelectedValue) {
  open(left_, key("Root", {}, {val("A", kSz, utf16le_sz("a"))}), "keys.hiv");
  select(left_, "");
  ASSERT_EQ(gtk_single_selection_get_selected(tol_value_list_get_selection(tol_pane_get_value_list(left_))), GTK_INVALID_LIST_POSITION)
      << "a refreshed list starts without a selected value";

  // Without a selected value F2 and Delete open nothing.
  press(left_, GDK_KEY_F2);
  press(left_, GDK_KEY_Delete);
  drain_main_loop();
  EXPECT_EQ(shown_dialog("Rename value"), nullptr);
  EXPECT_EQ(shown_alert(), nullptr);
  EXPECT_TRUE(press(left_, GDK_KEY_F7));
  GtkWidget* dialog = GTK_WIDGET(wait_for_dialog("New key (under the selected key)"));
  ASSERT_NE(dialog, nullptr);
  gtk_window_destroy(GTK_WINDOW(dialog));

  gtk_selection_model_select_item(GTK_SELECTION_MODEL(tol_value_list_get_selection(tol_pane_get_value_list(left_))), 0, TRUE);
  EXPECT_TRUE(press(left_, GDK_KEY_F2));
  dialog = GTK_WIDGET(wait_for_dialog("Rename value"));
  ASSERT_NE(dialog, nullptr);
  gtk_window_destroy(GTK_WINDOW(dialog));
  EXPECT_TRUE(press(left_, GDK_KEY_Delete));
  GtkWidget* alert = wait_for_alert();
  ASSERT_NE(alert, nullptr);
  tol_compat_alert_respond(alert, "cancel");
  EXPECT_EQ(rows_of(left_).size(), 1u);

  EXPECT_TRUE(press(left_, GDK_KEY_f, GDK_CONTROL_MASK));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_search_popover(left_))));
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(left_))));
  EXPECT_TRUE(press(left_, GDK_KEY_h, GDK_CONTROL_MASK));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(tol_pane_get_replace_popover(left_))));
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_replace_popover(left_))));
}

TEST_F(ValueListTest, SecondaryClickOpensTheMenuOnlyWithAHive) {
  GtkWidget* view = tol_pane_get_value_list_view(left_);
  GtkGesture* gesture = secondary_gesture(view);
  ASSERT_NE(gesture, nullptr);
  GtkWidget* menu = tol_value_list_get_menu(tol_pane_get_value_list(left_));
  ASSERT_TRUE(GTK_IS_POPOVER_MENU(menu));
  EXPECT_EQ(gtk_widget_get_parent(menu), view);
  EXPECT_FALSE(gtk_popover_get_has_arrow(GTK_POPOVER(menu)));

  g_signal_emit_by_name(gesture, "pressed", 1, 20.0, 30.0);
  EXPECT_FALSE(gtk_widget_get_visible(menu));

  open(left_, key("Root", {}, {val("A", kSz, utf16le_sz("a")), val("B", kSz, utf16le_sz("b"))}),
       "menu.hiv");
  select(left_, "");
  gtk_selection_model_select_item(GTK_SELECTION_MODEL(tol_value_list_get_selection(tol_pane_get_value_list(left_))), 1, TRUE);
  g_signal_emit_by_name(gesture, "pressed", 1, 20.0, 30.0);
  EXPECT_TRUE(gtk_widget_get_visible(menu));
  GdkRectangle at{};
  ASSERT_TRUE(gtk_popover_get_pointing_to(GTK_POPOVER(menu), &at));
  EXPECT_EQ(at.x, 20);
  EXPECT_EQ(at.y, 30);
  EXPECT_EQ(at.width, 1);
  EXPECT_EQ(gtk_single_selection_get_selected(tol_value_list_get_selection(tol_pane_get_value_list(left_))), 1u);
  EXPECT_TRUE(tol_pane_focus_in_value_list(left_));
  gtk_popover_popdown(GTK_POPOVER(menu));
}

}  // namespace
}  // namespace tol_test
