// The key tree of a real pane: its rows and their lazy children, selecting a
// key by path, the arrow and keypad keys, type-ahead find and the drag source.
#include "window_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/key_item.h"
#include "ui/key_tree.h"

namespace tol_test {
namespace {

// Root children in the order given: Select, SECURITY, Software, setup, Überschall.
tol::test::KeySpec nav_tree() {
  tol::test::KeySpec root =
      key("ROOT", {key("Select"), key("SECURITY", {key("Policy", {key("Secrets", {key("Deep")})}), key("Cache")}),
                   key("Software", {key("Vendor", {key("App")}), key("Classes")}), key("setup"),
                   key("Überschall")});
  root.keep_order = true;
  return root;
}

class KeyTreeTest : public TwoPaneTest {
 protected:
  void SetUp() override {
    TwoPaneTest::SetUp();
    if (IsSkipped())
      return;
    open(left_, nav_tree(), "nav.hiv");
  }

  GListModel* rows() { return G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(left_))); }

  // "name/depth" of every displayed row, in display order.
  std::vector<std::string> shown() {
    std::vector<std::string> out;
    for (guint i = 0; i < g_list_model_get_n_items(rows()); ++i) {
      auto* row = GTK_TREE_LIST_ROW(g_list_model_get_item(rows(), i));
      auto* item = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row));
      out.push_back(std::string(tol_key_item_get_name(item)) + "/" +
                    std::to_string(gtk_tree_list_row_get_depth(row)));
      g_object_unref(item);
      g_object_unref(row);
    }
    return out;
  }

  GtkTreeListRow* row_at(guint position) {
    auto* row = GTK_TREE_LIST_ROW(g_list_model_get_item(rows(), position));
    g_object_unref(row);  // the model keeps displayed rows alive
    return row;
  }

  // Presses keys in the focused key tree; false when keys cannot be sent.
  bool keys(const std::vector<std::string>& names) {
    tol_pane_focus_tree(left_);
    return press_keys(window_, names);
  }

  // Types one character as if the previous one came a moment ago.
  bool type_soon(const std::string& name) {
    tol_key_tree_set_type_ahead_pause(tol_pane_get_key_tree(left_), G_MAXINT64 / 2);
    return keys({name});
  }
  // Types one character after a long pause.
  bool type_after_pause(const std::string& name) {
    tol_key_tree_set_type_ahead_pause(tol_pane_get_key_tree(left_), -1);
    return keys({name});
  }
};

TEST_F(KeyTreeTest, ShowsTheRootExpandedAndReadsChildrenOnDemand) {
  EXPECT_EQ(shown(), (std::vector<std::string>{"ROOT/0", "Select/1", "SECURITY/1", "Software/1",
                                               "setup/1", "Überschall/1"}));
  EXPECT_EQ(selected_path(left_), "");
  EXPECT_FALSE(gtk_tree_list_row_is_expandable(row_at(1)));  // Select: no expander
  EXPECT_TRUE(gtk_tree_list_row_is_expandable(row_at(2)));
  EXPECT_FALSE(gtk_tree_list_row_get_expanded(row_at(2)));

  gtk_tree_list_row_set_expanded(row_at(2), TRUE);
  EXPECT_EQ(shown()[3], "Cache/2");  // in the order the hive stores them
  EXPECT_EQ(shown()[4], "Policy/2");

  auto* item = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row_at(4)));
  EXPECT_EQ(tol_key_item_get_hive(item), tol_pane_get_hive(left_));
  EXPECT_EQ(tol_key_item_get_offset(item), *tol_hive_find_path(*tol_pane_get_hive(left_), "SECURITY\\Policy"));
  g_object_unref(item);

  // Drawn rows: a folder icon and the name.
  drain_main_loop();
  GtkWidget* label = find_label(tol_pane_get_key_tree_view(left_), "Policy");
  ASSERT_NE(label, nullptr);
  GtkWidget* icon = gtk_widget_get_prev_sibling(label);
  ASSERT_TRUE(GTK_IS_IMAGE(icon));
  EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(icon)), "folder-symbolic");
  EXPECT_TRUE(gtk_widget_has_css_class(icon, "tol-icon-folder"));

  GListModel* columns = gtk_column_view_get_columns(GTK_COLUMN_VIEW(tol_pane_get_key_tree_view(left_)));
  ASSERT_EQ(g_list_model_get_n_items(columns), 1u);
  auto* column = GTK_COLUMN_VIEW_COLUMN(g_list_model_get_item(columns, 0));
  EXPECT_STREQ(gtk_column_view_column_get_title(column), "Key");
  EXPECT_TRUE(gtk_column_view_column_get_expand(column));
  EXPECT_TRUE(gtk_column_view_column_get_resizable(column));
  g_object_unref(column);
}

TEST_F(KeyTreeTest, SelectPathMatchesAsciiLettersInAnyCase) {
  tol_pane_select_path(left_, "software\\VENDOR\\app");
  EXPECT_EQ(selected_path(left_), "Software\\Vendor\\App");
  std::uint32_t app = tol_pane_get_selected_key(left_);
  EXPECT_EQ(app, *tol_hive_find_path(*tol_pane_get_hive(left_), "Software\\Vendor\\App"));

  // A missing component leaves the selection, but the rows opened on the way
  // stay open.
  tol_pane_select_path(left_, "SECURITY\\Policy\\Nope");
  EXPECT_EQ(selected_path(left_), "Software\\Vendor\\App");
  std::vector<std::string> rows = shown();
  EXPECT_NE(std::find(rows.begin(), rows.end(), "Secrets/3"), rows.end());

  // Empty components match nothing.
  tol_pane_select_path(left_, "Software\\\\Vendor");
  EXPECT_EQ(selected_path(left_), "Software\\Vendor\\App");
  tol_pane_select_path(left_, "Select\\");
  EXPECT_EQ(selected_path(left_), "Software\\Vendor\\App");

  // Letters beyond ASCII must match exactly.
  tol_pane_select_path(left_, "überschall");
  EXPECT_EQ(selected_path(left_), "Software\\Vendor\\App");
  tol_pane_select_path(left_, "ÜBERSCHALL");  // only the ASCII letters differ
  EXPECT_EQ(selected_path(left_), "Überschall");

  tol_pane_select_path(left_, "");
  EXPECT_EQ(selected_path(left_), "");

  // Without a hive nothing happens.
  tol_pane_select_path(right_, "Select");
  EXPECT_EQ(tol_pane_get_selected_key(right_), TOL_NO_CELL);
}

TEST_F(KeyTreeTest, ArrowAndKeypadKeysWalkTheTree) {
  if (!keys({"Right"}))
    GTEST_SKIP() << "cannot send keys";
  // The root is expanded already: Right goes to its first child.
  EXPECT_EQ(selected_path(left_), "Select");
  ASSERT_TRUE(keys({"Right"}));  // no subkeys: nothing, but consumed
  EXPECT_EQ(selected_path(left_), "Select");
  EXPECT_TRUE(tol_key_tree_expand_or_child(tol_pane_get_key_tree(left_)));
  ASSERT_TRUE(keys({"Left"}));  // collapsed top-level key: to the root
  EXPECT_EQ(selected_path(left_), "");
  ASSERT_TRUE(keys({"Left"}));  // expanded root: collapse
  EXPECT_EQ(shown(), (std::vector<std::string>{"ROOT/0"}));
  ASSERT_TRUE(keys({"Left"}));  // collapsed root: nothing
  EXPECT_EQ(selected_path(left_), "");
  EXPECT_EQ(shown().size(), 1u);

  ASSERT_TRUE(keys({"KP_Add"}));
  EXPECT_EQ(shown().size(), 6u);
  ASSERT_TRUE(keys({"KP_Add"}));
  EXPECT_EQ(selected_path(left_), "Select");

  tol_pane_select_path(left_, "SECURITY");  // selecting expands it
  EXPECT_EQ(shown().size(), 8u);
  ASSERT_TRUE(keys({"KP_Subtract"}));  // expanded: collapse
  EXPECT_EQ(shown().size(), 6u);
  EXPECT_EQ(selected_path(left_), "SECURITY");
  ASSERT_TRUE(keys({"KP_Subtract"}));  // collapsed: to the parent
  EXPECT_EQ(selected_path(left_), "");

  // Keypad * opens the whole subtree and nothing beside it.
  tol_pane_select_path(left_, "SECURITY");
  ASSERT_TRUE(keys({"KP_Multiply"}));
  EXPECT_EQ(shown(), (std::vector<std::string>{"ROOT/0", "Select/1", "SECURITY/1", "Cache/2", "Policy/2",
                                               "Secrets/3", "Deep/4", "Software/1", "setup/1",
                                               "Überschall/1"}));
  EXPECT_EQ(selected_path(left_), "SECURITY");
  ASSERT_TRUE(keys({"KP_Subtract"}));  // expanded: collapse
  EXPECT_EQ(shown().size(), 6u);
}

TEST_F(KeyTreeTest, NavigationNeedsASelectedRow) {
  gtk_single_selection_set_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)), GTK_INVALID_LIST_POSITION);
  ASSERT_EQ(tol_pane_get_selected_key(left_), TOL_NO_CELL);
  EXPECT_FALSE(tol_key_tree_collapse_or_parent(tol_pane_get_key_tree(left_)));
  EXPECT_FALSE(tol_key_tree_expand_or_child(tol_pane_get_key_tree(left_)));
  EXPECT_FALSE(tol_key_tree_expand_subtree(tol_pane_get_key_tree(left_)));
}

TEST_F(KeyTreeTest, TypeAheadFindsDisplayedKeysByPrefix) {
  if (!type_after_pause("s"))
    GTEST_SKIP() << "cannot send keys";
  EXPECT_EQ(selected_path(left_), "Select");
  // The next key extends the prefix; the search starts after the selected row.
  ASSERT_TRUE(type_soon("e"));
  EXPECT_EQ(selected_path(left_), "SECURITY");

  // The same letter again moves through the keys with that letter, wrapping.
  ASSERT_TRUE(type_after_pause("s"));
  EXPECT_EQ(selected_path(left_), "Software");
  ASSERT_TRUE(type_soon("s"));
  EXPECT_EQ(selected_path(left_), "setup");
  ASSERT_TRUE(type_soon("s"));
  EXPECT_EQ(selected_path(left_), "Select");
  EXPECT_EQ(tol_key_tree_get_type_ahead(tol_pane_get_key_tree(left_)), "s");

  // A longer prefix that matches nothing starts again from the new letter.
  ASSERT_TRUE(type_soon("u"));  // "su": nothing, then "u": Überschall is not "u"
  EXPECT_EQ(selected_path(left_), "Select");
  EXPECT_EQ(tol_key_tree_get_type_ahead(tol_pane_get_key_tree(left_)), "u");
  ASSERT_TRUE(type_soon("o"));  // "uo": nothing, then "o": nothing
  EXPECT_EQ(selected_path(left_), "Select");

  // Collapsed subtrees are not searched.
  ASSERT_TRUE(type_after_pause("p"));
  EXPECT_EQ(selected_path(left_), "Select");
  ASSERT_TRUE(type_after_pause("c"));
  EXPECT_EQ(selected_path(left_), "Select");

  // The view's own keys go on from the row found.
  ASSERT_TRUE(type_after_pause("r"));
  EXPECT_EQ(selected_path(left_), "");
  ASSERT_TRUE(type_after_pause("s"));
  EXPECT_EQ(selected_path(left_), "Select");
  ASSERT_TRUE(type_soon("o"));
  EXPECT_EQ(selected_path(left_), "Software");
  ASSERT_TRUE(keys({"Down"}));
  EXPECT_EQ(selected_path(left_), "setup");
}

TEST_F(KeyTreeTest, DragRecordsTheSelectedKeyUntilTheDragEnds) {
  GtkDragSource* source = nullptr;
  GtkDropTarget* target = nullptr;
  GListModel* controllers = gtk_widget_observe_controllers(tol_pane_get_key_tree_view(left_));
  for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
    GObject* c = G_OBJECT(g_list_model_get_item(controllers, i));
    if (GTK_IS_DRAG_SOURCE(c))
      source = GTK_DRAG_SOURCE(c);
    if (GTK_IS_DROP_TARGET(c))
      target = GTK_DROP_TARGET(c);
    g_object_unref(c);
  }
  g_object_unref(controllers);
  ASSERT_NE(source, nullptr);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(gtk_drag_source_get_actions(source), GDK_ACTION_COPY);
  EXPECT_EQ(gtk_drop_target_get_actions(target), GDK_ACTION_COPY);

  tol_pane_select_path(left_, "Software\\Vendor");
  GdkContentProvider* content = nullptr;
  g_signal_emit_by_name(source, "prepare", 10.0, 10.0, &content);
  ASSERT_NE(content, nullptr);
  GValue value = G_VALUE_INIT;
  g_value_init(&value, G_TYPE_STRING);
  ASSERT_TRUE(gdk_content_provider_get_value(content, &value, nullptr));
  EXPECT_STREQ(g_value_get_string(&value), "Software\\Vendor");
  g_value_unset(&value);
  g_object_unref(content);
  std::uint32_t dragged = TOL_NO_CELL;
  g_autoptr(TolDocument) document = tol_key_tree_dragged_key(&dragged);
  EXPECT_EQ(document, tol_pane_get_document(left_));
  EXPECT_EQ(dragged, tol_pane_get_selected_key(left_));

  // Copying a dragged key is not available: the drop is refused.
  GValue dropped = G_VALUE_INIT;
  g_value_init(&dropped, G_TYPE_STRING);
  g_value_set_string(&dropped, "Software\\Vendor");
  gboolean accepted = TRUE;
  g_signal_emit_by_name(target, "drop", &dropped, 5.0, 5.0, &accepted);
  EXPECT_FALSE(accepted);
  g_value_unset(&dropped);

  g_signal_emit_by_name(source, "drag-end", nullptr, FALSE);
  EXPECT_EQ(tol_key_tree_dragged_key(nullptr), nullptr);

  // A pane without a hive starts no drag.
  GListModel* right_controllers = gtk_widget_observe_controllers(tol_pane_get_key_tree_view(right_));
  for (guint i = 0; i < g_list_model_get_n_items(right_controllers); ++i) {
    GObject* c = G_OBJECT(g_list_model_get_item(right_controllers, i));
    if (GTK_IS_DRAG_SOURCE(c)) {
      content = nullptr;
      g_signal_emit_by_name(c, "prepare", 1.0, 1.0, &content);
      EXPECT_EQ(content, nullptr);
    }
    g_object_unref(c);
  }
  g_object_unref(right_controllers);
  EXPECT_EQ(tol_key_tree_dragged_key(nullptr), nullptr);
}

// A key with many subkeys: expanding it, or drawing the expander that asks
// whether it has children, must not read every subkey's name.
TEST_F(KeyTreeTest, SubkeyNamesAreReadOnlyForRowsAskedFor) {
  tol::test::KeySpec many = key("Many");
  for (int i = 0; i < 3000; ++i)
    many.subkeys.push_back(key("Sub" + std::to_string(10000 + i)));
  open(left_, key("ROOT", {many}), "many.hiv");
  const TolHive& hive = *tol_pane_get_hive(left_);
  EXPECT_LT(hive.name_cache.size(), 100u);

  tol_pane_select_path(left_, "Many");
  drain_main_loop();
  ASSERT_EQ(g_list_model_get_n_items(rows()), 3002u);
  EXPECT_LT(hive.name_cache.size(), 1000u);

  // Each child is made once, when first asked for, and then kept.
  GListModel* children = gtk_tree_list_row_get_children(row_at(1));
  auto* last = TOL_KEY_ITEM(g_list_model_get_item(children, 2999));
  EXPECT_STREQ(tol_key_item_get_name(last), "Sub12999");
  EXPECT_EQ(tol_key_item_get_offset(last), *tol_hive_find_path(hive, "Many\\Sub12999"));
  gpointer again = g_list_model_get_item(children, 2999);
  EXPECT_EQ(again, last);
  g_object_unref(again);
  g_object_unref(last);
  EXPECT_EQ(g_list_model_get_item(children, 3000), nullptr);
}

// The drawn row of `position` lies inside the visible part of the tree.
bool row_on_screen(TolPane* pane, guint position) {
  GtkWidget* scrolled = gtk_widget_get_ancestor(tol_pane_get_key_tree_view(pane), GTK_TYPE_SCROLLED_WINDOW);
  for (GtkWidget* expander : find_all(tol_pane_get_key_tree_view(pane), GTK_TYPE_TREE_EXPANDER)) {
    GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(expander));
    graphene_rect_t bounds;
    if (row == nullptr || gtk_tree_list_row_get_position(row) != position || !gtk_widget_get_mapped(expander) ||
        !gtk_widget_compute_bounds(expander, scrolled, &bounds))
      continue;
    if (bounds.origin.y >= 0 && bounds.origin.y + bounds.size.height <= gtk_widget_get_height(scrolled))
      return true;
  }
  return false;
}

// Type-ahead that jumps far down from a row holding the keyboard focus must
// still bring the row it selects into view.
TEST_F(KeyTreeTest, TypeAheadScrollsAFarMatchIntoView) {
  tol::test::KeySpec many = key("Many");
  for (int i = 0; i < 40; ++i)
    many.subkeys.push_back(key("Alpha" + std::to_string(100 + i)));
  for (int i = 0; i < 40000; ++i)
    many.subkeys.push_back(key("Beta" + std::to_string(100000 + i)));
  many.subkeys.push_back(key("Gamma"));
  for (int i = 0; i < 100; ++i)
    many.subkeys.push_back(key("Omega" + std::to_string(100 + i)));
  tol::test::KeySpec root = key("ROOT", {many});
  root.keep_order = true;
  open(left_, root, "many.hiv");
  tol_pane_select_path(left_, "Many");
  tol_pane_focus_tree(left_);
  drain_main_loop();

  GtkEventController* type_ahead = nullptr;
  GListModel* controllers = gtk_widget_observe_controllers(tol_pane_get_key_tree_view(left_));
  for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
    auto* c = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
    if (GTK_IS_EVENT_CONTROLLER_KEY(c) && gtk_event_controller_get_propagation_phase(c) == GTK_PHASE_CAPTURE)
      type_ahead = c;
    g_object_unref(c);
  }
  g_object_unref(controllers);
  ASSERT_NE(type_ahead, nullptr);
  // The keys go straight to the tree's type-ahead controller, each drawn
  // before the next comes, as when typing at a normal pace.
  GdkFrameClock* clock = gtk_widget_get_frame_clock(window_);
  int painted = 0;
  gulong handler = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* count) { ++*count; }),
                                            &painted);
  auto type = [&](char letter) {
    gboolean handled = FALSE;
    g_signal_emit_by_name(type_ahead, "key-pressed", gdk_unicode_to_keyval(letter), 0u,
                          static_cast<GdkModifierType>(0), &handled);
    const int before = painted;
    gtk_widget_queue_draw(window_);
    EXPECT_TRUE(iterate_until([&] { return painted > before; }));
  };
  // Down the first page and a little past it, one row per key.
  for (int i = 0; i < 30; ++i)
    type('a');
  ASSERT_EQ(selected_path(left_), "Many\\Alpha129");
  tol_key_tree_set_type_ahead_pause(tol_pane_get_key_tree(left_), -1);
  type('g');
  ASSERT_EQ(selected_path(left_), "Many\\Gamma");
  const guint position = gtk_single_selection_get_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)));
  EXPECT_TRUE(iterate_until([&] { return row_on_screen(left_, position); }));
  g_signal_handler_disconnect(clock, handler);
}

}  // namespace
}  // namespace tol_test
