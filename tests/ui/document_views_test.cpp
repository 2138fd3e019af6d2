// The views of a document: both panes showing one file share its document and
// its history; the key tree follows changes in place, keeping what stays
// expanded and selected; and every key binding comes from the one table.
#include <gtest/gtest.h>

#include <set>

#include "edit_commands_util.h"
#include "hive/edit.h"
#include "two_pane_fixture.h"
#include "ui/accels.h"
#include "ui/commit.h"
#include "ui/key_item.h"
#include "ui/menus.h"
#include "ui/window.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

using ViewsTest = TwoPaneTest;

// The visible rows of a pane's tree as "name/depth".
std::vector<std::string> rows(TolPane* pane) {
  GListModel* model = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(pane)));
  std::vector<std::string> out;
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
    g_autoptr(GtkTreeListRow) row = GTK_TREE_LIST_ROW(g_list_model_get_item(model, i));
    g_autoptr(TolKeyItem) item = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row));
    out.push_back(std::string(tol_key_item_get_name(item)) + "/" + std::to_string(gtk_tree_list_row_get_depth(row)));
  }
  return out;
}

// The item object of the row showing `path`'s last component, or null.
TolKeyItem* item_at(TolPane* pane, const std::string& name) {
  GListModel* model = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(pane)));
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
    g_autoptr(GtkTreeListRow) row = GTK_TREE_LIST_ROW(g_list_model_get_item(model, i));
    g_autoptr(TolKeyItem) item = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row));
    if (name == tol_key_item_get_name(item)) return item;  // the row keeps it
  }
  return nullptr;
}

TolCommitResult change(TolPane* pane, TolChangeKind kind, const std::string& under,
                       const std::function<bool(TolHive&, std::uint32_t, GError**)>& op) {
  TolHive* hive = tol_pane_get_hive(pane);
  const std::uint32_t key = *tol_hive_find_path(*hive, under);
  TolCommit commit;
  commit.operation = [&](TolHive& h, GError** error) { return op(h, key, error); };
  commit.change = TolChange{kind, key};
  commit.report = [](const std::string&) {};
  return tol_pane_commit(pane, commit);
}

TEST_F(ViewsTest, BothPanesShareOneDocumentAndOneHistory) {
  open(left_, key("ROOT", {key("Software", {key("Vendor")})}), "shared.hiv");
  open_path(right_, path("shared.hiv"));
  ASSERT_EQ(tol_pane_get_document(left_), tol_pane_get_document(right_));
  TolHive* hive = tol_pane_get_hive(left_);
  select(right_, "Software\\Vendor");

  ASSERT_EQ(change(left_, TolChangeKind::subkeys, "Software",
                   [](TolHive& h, std::uint32_t k, GError** e) { return tol_hive_create_key(h, k, "Added", e).has_value(); }),
            TolCommitResult::kDone);
  // The other pane follows in memory: its rows, its selection, the same hive.
  EXPECT_EQ(rows(right_), (std::vector<std::string>{"ROOT/0", "Software/1", "Added/2", "Vendor/2"}));
  EXPECT_EQ(selected_path(right_), "Software\\Vendor");
  EXPECT_EQ(tol_pane_get_hive(right_), hive);
  EXPECT_TRUE(gtk_widget_get_sensitive(toolbar_button(right_, "pane.undo")));

  // An undo in either pane takes back the one change, in both.
  ASSERT_TRUE(tol_pane_undo(right_, false));
  EXPECT_EQ(rows(left_), (std::vector<std::string>{"ROOT/0", "Software/1"}));
  EXPECT_EQ(rows(right_), (std::vector<std::string>{"ROOT/0", "Software/1", "Vendor/2"}));
  EXPECT_FALSE(tol_pane_undo(left_, false));
  ASSERT_TRUE(tol_pane_redo(left_, false));
  EXPECT_TRUE(tol_hive_find_path(*tol_pane_get_hive(right_), "Software\\Added").has_value());
  EXPECT_EQ(tol_pane_get_hive(left_), hive) << "undo and redo never read the file again";

  // A value change tints the other pane's list at once.
  select(left_, "Software\\Vendor");
  ASSERT_EQ(change(left_, TolChangeKind::values, "Software\\Vendor",
                   [](TolHive& h, std::uint32_t k, GError** e) {
                     return tol_hive_set_value(h, k, "V", 4, tol::test::le32(1), e);
                   }),
            TolCommitResult::kDone);
  GListModel* values = tol_value_list_get_model(tol_pane_get_value_list(right_));
  ASSERT_EQ(g_list_model_get_n_items(values), 1u);

  // Closing one view keeps the document for the other.
  tol_pane_close_tab(left_, 0);
  EXPECT_EQ(tol_pane_get_hive(right_), hive);
  EXPECT_TRUE(tol_pane_undo(right_, false));
}

TEST_F(ViewsTest, TheTreeChangesOnlyTheRowsConcerned) {
  open(left_,
       key("ROOT", {key("A", {key("A1", {key("A1x")}), key("A2")}), key("B", {key("B1"), key("B2")}), key("C")}),
       "rows.hiv");
  select(left_, "A\\A1\\A1x");
  select(left_, "B\\B2");
  tol_pane_focus_tree(left_);
  const std::vector<std::string> before = rows(left_);
  ASSERT_EQ(before, (std::vector<std::string>{"ROOT/0", "A/1", "A1/2", "A1x/3", "A2/2", "B/1", "B1/2", "B2/2",
                                              "C/1"}));
  TolKeyItem* a1 = item_at(left_, "A1");
  TolKeyItem* b2 = item_at(left_, "B2");

  // A key under a collapsed leaf: only that row changes, and gains its expander.
  ASSERT_EQ(change(left_, TolChangeKind::subkeys, "C",
                   [](TolHive& h, std::uint32_t k, GError** e) { return tol_hive_create_key(h, k, "C1", e).has_value(); }),
            TolCommitResult::kDone);
  EXPECT_EQ(rows(left_), before);
  EXPECT_EQ(item_at(left_, "A1"), a1) << "a row that stays keeps its item, and so its expansion";
  EXPECT_EQ(selected_path(left_), "B\\B2");
  ASSERT_TRUE(tol_key_tree_select_path(tol_pane_get_key_tree(left_), "C\\C1"));
  tol_pane_select_path(left_, "B\\B2");

  // A key between others, a rename that moves a row, a deletion.
  ASSERT_EQ(change(left_, TolChangeKind::subkeys, "A",
                   [](TolHive& h, std::uint32_t k, GError** e) { return tol_hive_create_key(h, k, "A15", e).has_value(); }),
            TolCommitResult::kDone);
  ASSERT_EQ(change(left_, TolChangeKind::subkeys, "B",
                   [](TolHive& h, std::uint32_t k, GError** e) {
                     return tol_hive_rename_key(h, *tol_hive_find_subkey(h, k, "B1"), "B3", e).has_value();
                   }),
            TolCommitResult::kDone);
  ASSERT_EQ(change(left_, TolChangeKind::subkeys, "A",
                   [](TolHive& h, std::uint32_t k, GError** e) {
                     return tol_hive_delete_key(h, *tol_hive_find_subkey(h, k, "A2"), e);
                   }),
            TolCommitResult::kDone);
  EXPECT_EQ(rows(left_), (std::vector<std::string>{"ROOT/0", "A/1", "A1/2", "A1x/3", "A15/2", "B/1", "B2/2", "B3/2",
                                                   "C/1", "C1/2"}));
  EXPECT_EQ(item_at(left_, "A1"), a1);
  EXPECT_EQ(item_at(left_, "B2"), b2);
  EXPECT_EQ(selected_path(left_), "B\\B2");
  drain_main_loop();
  EXPECT_TRUE(is_inside(focus_of(window_), tol_pane_get_key_tree_view(left_)));

  // The selected key deleted: its parent takes the selection.
  ASSERT_EQ(change(left_, TolChangeKind::subtree, "B",
                   [](TolHive& h, std::uint32_t k, GError** e) {
                     return tol_hive_delete_key(h, *tol_hive_find_subkey(h, k, "B2"), e);
                   }),
            TolCommitResult::kDone);
  EXPECT_EQ(selected_path(left_), "B");

  // Undo of all of it (whole-image changes) keeps the rows that stay.
  while (tol_pane_undo(left_, false)) {
  }
  EXPECT_EQ(item_at(left_, "A1"), a1);
  const std::vector<std::string> after = rows(left_);
  EXPECT_EQ(std::set<std::string>(after.begin(), after.end()),
            (std::set<std::string>{"ROOT/0", "A/1", "A1/2", "A1x/3", "A2/2", "B/1", "B1/2", "B2/2", "C/1"}));
}

// ---- The accelerator table -----------------------------------------------------------

class AcceleratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
  }
  void TearDown() override { destroy_all_windows(); }
  TolWindow* window_ = nullptr;
};

std::vector<GtkShortcutTrigger*> table_triggers() {
  std::vector<GtkShortcutTrigger*> out;
  for (const TolAccel& accel : tol_accels()) out.push_back(gtk_shortcut_trigger_parse_string(accel.trigger));
  return out;
}

bool in_table(GtkShortcutTrigger* trigger, const std::vector<GtkShortcutTrigger*>& table) {
  for (GtkShortcutTrigger* t : table)
    if (gtk_shortcut_trigger_equal(t, trigger)) return true;
  return false;
}

void collect_menu_accels(GMenuModel* menu, std::vector<std::pair<std::string, std::string>>& out) {
  for (int i = 0; i < g_menu_model_get_n_items(menu); ++i) {
    g_autofree char* action = nullptr;
    g_autofree char* accel = nullptr;
    g_menu_model_get_item_attribute(menu, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
    if (g_menu_model_get_item_attribute(menu, i, "accel", "s", &accel)) out.emplace_back(action, accel);
    for (const char* link : {G_MENU_LINK_SECTION, G_MENU_LINK_SUBMENU})
      if (g_autoptr(GMenuModel) inner = g_menu_model_get_item_link(menu, i, link)) collect_menu_accels(inner, out);
  }
}

TEST_F(AcceleratorTest, TheTableIsTheOnlySourceOfBindings) {
  const std::vector<GtkShortcutTrigger*> table = table_triggers();
  for (std::size_t i = 0; i < table.size(); ++i) {
    ASSERT_NE(table[i], nullptr) << tol_accels()[i].trigger;
    for (std::size_t j = i + 1; j < table.size(); ++j)
      EXPECT_FALSE(gtk_shortcut_trigger_equal(table[i], table[j])) << tol_accels()[i].trigger << " twice";
  }

  // In the whole window one controller binds them; no other controller of
  // ours binds any key of the table again.
  int ours = 0;
  for (GtkWidget* widget : find_all(GTK_WIDGET(window_), GTK_TYPE_WIDGET)) {
    g_autoptr(GListModel) controllers = gtk_widget_observe_controllers(widget);
    for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
      g_autoptr(GtkEventController) controller = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
      if (!GTK_IS_SHORTCUT_CONTROLLER(controller)) continue;
      const char* name = gtk_event_controller_get_name(controller);
      if (g_strcmp0(name, "tol-accels") == 0) {
        ++ours;
        EXPECT_EQ(widget, GTK_WIDGET(window_));
        EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(controller)), table.size());
        continue;
      }
      if (g_strcmp0(name, "gtk-widget-class-shortcuts") == 0) continue;  // the toolkit's own
      // A context menu binds the keys it shows while it is open; they must
      // be the keys the table gives the item's command.
      const bool in_menu = gtk_widget_get_ancestor(widget, GTK_TYPE_POPOVER_MENU) != nullptr;
      for (guint j = 0; j < g_list_model_get_n_items(G_LIST_MODEL(controller)); ++j) {
        g_autoptr(GtkShortcut) shortcut = GTK_SHORTCUT(g_list_model_get_item(G_LIST_MODEL(controller), j));
        GtkShortcutTrigger* trigger = gtk_shortcut_get_trigger(shortcut);
        if (!in_table(trigger, table)) continue;
        ASSERT_TRUE(in_menu) << G_OBJECT_TYPE_NAME(widget) << " binds a key of the table again";
        if (!GTK_IS_ACTIONABLE(widget) || gtk_actionable_get_action_name(GTK_ACTIONABLE(widget)) == nullptr)
          continue;  // the menu's own handling of its items' keys
        const char* item = gtk_actionable_get_action_name(GTK_ACTIONABLE(widget));
        const char* shown = tol_accel_for_menu(item);
        ASSERT_NE(shown, nullptr) << item;
        g_autoptr(GtkShortcutTrigger) expected = gtk_shortcut_trigger_parse_string(shown);
        EXPECT_TRUE(gtk_shortcut_trigger_equal(trigger, expected)) << item;
      }
    }
  }
  EXPECT_EQ(ours, 1);

  // The shortcut bar shows the table's entries that have a bar text, in order.
  std::vector<std::string> expected;
  for (const TolAccel& accel : tol_accels())
    if (accel.bar_key != nullptr) expected.push_back(accel.bar_key);
  std::vector<std::string> shown;
  for (GtkWidget* label : find_all(GTK_WIDGET(window_), GTK_TYPE_LABEL))
    if (gtk_widget_has_css_class(label, "tol-shortcut-key")) shown.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
  EXPECT_EQ(shown, expected);

  // Menus show the keys the table binds to their commands.
  std::vector<std::pair<std::string, std::string>> accels;
  for (GMenuModel* menu : {tol_menu_key_tree(), tol_menu_value_list()}) {
    collect_menu_accels(menu, accels);
    g_object_unref(menu);
  }
  EXPECT_FALSE(accels.empty());
  for (const auto& [action, accel] : accels) {
    SCOPED_TRACE(action);
    EXPECT_STREQ(tol_accel_for_menu(action.c_str()), accel.c_str());
  }
  EXPECT_STREQ(tol_accel_for_menu("pane.rename-key"), "F2");
  EXPECT_STREQ(tol_accel_for_menu("pane.value-delete"), "Delete");
  for (GtkShortcutTrigger* t : table) g_object_unref(t);
}

}  // namespace
}  // namespace tol_test
