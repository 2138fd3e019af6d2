// Deleted keys and values in the window: the per-pane toggle, where the
// deleted rows appear and how they look, that they are never taken for live
// keys or values, and restoring them as one undoable change.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "edit_commands_util.h"
#include "hive/edit.h"
#include "ui/key_item.h"
#include "ui/value_item.h"

namespace tol_test {
namespace {

using tol::test::le32;
using tol::test::utf16le_sz;

class DeletedItemsTest : public TwoPaneTest {
 protected:
  // Gone (with a subkey) and Keep's value "b" are deleted by the engine, as
  // an edit in the window would; Lost and Stray are records in free cells
  // that nothing links to any more, Wiped one whose data are gone. A restore allocates cells, which may
  // reuse the free cells of other deleted items: the tests undo one restore
  // before the next.
  void SetUp() override {
    TwoPaneTest::SetUp();
    if (IsSkipped()) return;
    tol::test::HiveBuilder b;
    const tol::test::BuiltTree t = b.tree(key("ROOT", {key("Gone", {key("Child", {}, {val("c", 1, utf16le_sz("child"))})},
                            {val("text", 1, utf16le_sz("hello"))}),
                        key("Keep", {}, {val("a", 4, le32(1)), val("b", 4, le32(2))}),
                        key("Other", {key("GONE")})}));
    // In a bin of their own, past the free rest of the first one, where the
    // allocator looks first.
    b.new_bin();
    b.set_cell_size(b.value("Stray", 4, le32(3)), 32);
    // Its data cell is a live key's now.
    tol::test::VkRecord wiped;
    wiped.name = tol::test::encode_name("Wiped");
    wiped.type = 3;
    wiped.data_length = 8;
    wiped.data_offset = t.key("Other");
    b.set_cell_size(b.vk(wiped), 32);
    // Its parent field names a cell that holds no key.
    tol::test::NkRecord lost;
    lost.name = tol::test::encode_name("Lost");
    lost.parent = t.value("Keep", "a");
    b.set_cell_size(b.nk(lost), 88);
    file_ = path("deleted.hiv");
    b.write_file(file_);
    GFile* file = g_file_new_for_path(file_.c_str());
    tol_pane_open_file(left_, file);
    g_object_unref(file);
    ASSERT_NE(tol_pane_get_hive(left_), nullptr);
    change([](TolHive& h, GError** e) { return tol_hive_delete_key(h, *tol_hive_find_path(h, "Gone"), e); });
    change([](TolHive& h, GError** e) { return tol_hive_delete_value(h, *tol_hive_find_path(h, "Keep"), "b", e); });
    drain_main_loop();
  }

  void change(const std::function<bool(TolHive&, GError**)>& op) {
    GError* error = nullptr;
    ASSERT_TRUE(tol_document_change(tol_pane_get_document(left_), TolChange{}, op, &error))
        << (error != nullptr ? error->message : "");
  }

  TolKeyTree* tree() { return tol_pane_get_key_tree(left_); }
  bool live(const char* key_path) { return tol_hive_find_path(*tol_pane_get_hive(left_), key_path).has_value(); }

  // The rows shown, indented by depth, deleted ones marked with "~".
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    GListModel* model = G_LIST_MODEL(tol_key_tree_get_selection(tree()));
    for (guint i = 0, n = g_list_model_get_n_items(model); i < n; ++i) {
      g_autoptr(GtkTreeListRow) row = GTK_TREE_LIST_ROW(g_list_model_get_item(model, i));
      g_autoptr(TolKeyItem) item = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row));
      const bool deleted = tol_key_item_get_kind(item) != TolKeyItemKind::live;
      out.push_back(std::string(2 * gtk_tree_list_row_get_depth(row), ' ') + (deleted ? "~" : "") +
                    tol_key_item_get_name(item));
    }
    return out;
  }

  // Selects the row `rows()` shows as `text` (expanded with `expand`).
  void pick(const std::string& text, bool expand = false) {
    const std::vector<std::string> shown = rows();
    const auto it = std::find(shown.begin(), shown.end(), text);
    ASSERT_NE(it, shown.end()) << text;
    const auto position = static_cast<guint>(it - shown.begin());
    gtk_single_selection_set_selected(tol_key_tree_get_selection(tree()), position);
    if (expand) {
      g_autoptr(GtkTreeListRow) row =
          GTK_TREE_LIST_ROW(g_list_model_get_item(G_LIST_MODEL(tol_key_tree_get_selection(tree())), position));
      gtk_tree_list_row_set_expanded(row, TRUE);
    }
    drain_main_loop();
  }

  // The value rows as "name=data", deleted ones marked with "~".
  std::vector<std::string> values() {
    std::vector<std::string> out;
    GListModel* model = tol_value_list_get_model(tol_pane_get_value_list(left_));
    for (guint i = 0, n = g_list_model_get_n_items(model); i < n; ++i) {
      g_autoptr(TolValueItem) item = TOL_VALUE_ITEM(g_list_model_get_item(model, i));
      out.push_back((tol_value_item_is_deleted(item) ? "~" : "") + tol_value_item_get_name(item) + "=" +
                    tol_value_item_get_data_text(item));
    }
    return out;
  }

  void pick_value(const std::string& text) {
    const std::vector<std::string> shown = values();
    const auto it = std::find(shown.begin(), shown.end(), text);
    ASSERT_NE(it, shown.end()) << text;
    gtk_widget_grab_focus(tol_pane_get_value_list_view(left_));
    tol_value_list_select(tol_pane_get_value_list(left_), static_cast<guint>(it - shown.begin()));
    drain_main_loop();
  }

  // Whether the drawn row labelled `name` in `view` is dimmed as deleted.
  static bool dimmed(GtkWidget* view, const std::string& name) {
    GtkWidget* label = find_label(view, name);
    return label != nullptr && gtk_widget_has_css_class(gtk_widget_get_parent(label), "tol-deleted");
  }

  void run(const char* action) {
    gtk_widget_activate_action(GTK_WIDGET(left_), action, nullptr);
    drain_main_loop();
  }

  std::string file_;
};

TEST_F(DeletedItemsTest, TheToggleShowsDeletedRowsWhereTheyWereAndNeverAsLiveOnes) {
  // Off: no scan at all, and nothing deleted on show.
  EXPECT_FALSE(tol_pane_get_show_deleted(left_));
  EXPECT_EQ(tol_key_tree_get_deleted_scan(tree()), nullptr);
  EXPECT_EQ(rows(), (std::vector<std::string>{"ROOT", "  Keep", "  Other"}));
  select(left_, "Keep");
  EXPECT_EQ(values(), (std::vector<std::string>{"a=0x00000001 (1)"}));

  // On through the window's key, with the focus in the tree.
  tol_pane_focus_tree(left_);
  drain_main_loop();
  const auto accel = std::find_if(tol_accels().begin(), tol_accels().end(),
                                  [](const TolAccel& a) { return g_strcmp0(a.action, "pane.show-deleted") == 0; });
  ASSERT_NE(accel, tol_accels().end());
  EXPECT_TRUE(tol_accel_run(window_, *accel, true));
  drain_main_loop();
  EXPECT_TRUE(tol_pane_get_show_deleted(left_));
  ASSERT_NE(tol_key_tree_get_deleted_scan(tree()), nullptr);
  EXPECT_FALSE(tol_pane_get_show_deleted(right_));
  EXPECT_EQ(selected_path(left_), "Keep");
  EXPECT_EQ(values(), (std::vector<std::string>{"a=0x00000001 (1)", "~b=0x00000002 (2)"}));
  EXPECT_TRUE(dimmed(tol_pane_get_value_list_view(left_), "b"));
  EXPECT_FALSE(dimmed(tol_pane_get_value_list_view(left_), "a"));

  // Deleted keys follow the live subkeys of their parent; the unknown ones
  // hang below a row of their own after the root.
  EXPECT_EQ(rows(), (std::vector<std::string>{"ROOT", "  Keep", "  Other", "  ~Gone", "~Deleted, location unknown"}));
  GtkWidget* view = tol_pane_get_key_tree_view(left_);
  EXPECT_TRUE(dimmed(view, "Gone"));
  EXPECT_FALSE(dimmed(view, "Other"));
  GtkWidget* gone_icon = gtk_widget_get_first_child(gtk_widget_get_parent(find_label(view, "Gone")));
  EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(gone_icon)), "user-trash-symbolic");

  // A selected deleted key is no live selection: it shows what is left of
  // its values, and the commands that edit keys or values refuse it.
  pick("  ~Gone", true);
  EXPECT_EQ(tol_pane_get_selected_key(left_), TOL_NO_CELL);
  EXPECT_EQ(selected_path(left_), "<none>");
  ASSERT_TRUE(tol_pane_get_selected_deleted_key(left_).has_value());
  EXPECT_EQ(tol_key_tree_get_deleted_scan(tree())->keys[*tol_pane_get_selected_deleted_key(left_)].name, "Gone");
  EXPECT_EQ(values(), (std::vector<std::string>{"~text=hello"}));
  EXPECT_EQ(rows(), (std::vector<std::string>{"ROOT", "  Keep", "  Other", "  ~Gone", "    ~Child",
                                              "~Deleted, location unknown"}));
  run("pane.new-key");
  EXPECT_TRUE(toast_taken(overlay_, "A deleted key cannot be changed: restore it first"));
  EXPECT_EQ(shown_dialog("New key (under the selected key)"), nullptr);
  pick_value("~text=hello");
  run("pane.value-delete");
  EXPECT_TRUE(toast_taken(overlay_, "A deleted value cannot be changed: restore it first"));
  EXPECT_EQ(shown_alert(), nullptr);
  EXPECT_EQ(snapshots(left_), 2u);

  pick("~Deleted, location unknown", true);
  EXPECT_EQ(values(), (std::vector<std::string>{"~Stray=0x00000003 (3)", "~Wiped=(data lost)"}));
  EXPECT_EQ(rows().back(), "  ~Lost");

  // Off again: the rows go, the selection falls back to a live key, the scan
  // is dropped.
  pick("    ~Child");
  run("pane.show-deleted");
  EXPECT_EQ(tol_key_tree_get_deleted_scan(tree()), nullptr);
  EXPECT_EQ(rows(), (std::vector<std::string>{"ROOT", "  Keep", "  Other"}));
  EXPECT_EQ(selected_path(left_), "");
}

TEST_F(DeletedItemsTest, RestoreIsOneUndoableStepAndRestoreToPutsItWhereAsked) {
  tol_pane_set_show_deleted(left_, true);
  // A deleted value of a live key, with the focus in the value list.
  select(left_, "Keep");
  pick_value("~b=0x00000002 (2)");
  run("pane.restore");
  EXPECT_TRUE(toast_taken(overlay_, "Restored value \"b\""));
  EXPECT_EQ(values(), (std::vector<std::string>{"a=0x00000001 (1)", "b=0x00000002 (2)"}));
  TolValueItem* selected = tol_pane_get_selected_value(left_);
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(tol_value_item_get_name(selected), "b");
  EXPECT_FALSE(tol_value_item_is_deleted(selected));
  EXPECT_EQ(snapshots(left_), 3u);
  EXPECT_TRUE(tol_pane_undo(left_, false));
  drain_main_loop();
  EXPECT_EQ(values(), (std::vector<std::string>{"a=0x00000001 (1)", "~b=0x00000002 (2)"}));

  // A key below a deleted one has nowhere to go back to by itself.
  pick("  ~Gone", true);
  pick("    ~Child");
  run("pane.restore");
  EXPECT_TRUE(toast_taken(overlay_, "The key's parent is deleted or unknown: use Restore to… to choose a key"));

  pick("  ~Gone");
  run("pane.restore");
  EXPECT_TRUE(toast_taken(overlay_, "Restored key \"Gone\""));
  EXPECT_EQ(selected_path(left_), "Gone");
  EXPECT_TRUE(live("Gone\\Child"));
  EXPECT_EQ(snapshots(left_), 3u);
  EXPECT_EQ(values(), (std::vector<std::string>{"text=hello"}));
  std::vector<std::string> shown = rows();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "  ~Gone"), 0);

  // One undo takes it all away and the deleted rows are back.
  EXPECT_TRUE(tol_pane_undo(left_, false));
  drain_main_loop();
  EXPECT_FALSE(live("Gone"));
  shown = rows();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "  ~Gone"), 1);

  // Restore to… asks for the key, prefilled with the original parent's path.
  pick("  ~Gone");
  run("pane.restore-to");
  GtkWindow* dialog = wait_for_dialog("Restore key to (path; empty for the root)");
  ASSERT_NE(dialog, nullptr);
  EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(dialog_entry(dialog))), "");
  answer_dialog(dialog, "Nowhere");
  EXPECT_TRUE(toast_taken(overlay_, "No key \"Nowhere\" in this file"));
  answer_dialog(dialog, "Keep");
  EXPECT_TRUE(toast_taken(overlay_, "Restored key \"Gone\""));
  EXPECT_EQ(selected_path(left_), "Keep\\Gone");
  EXPECT_TRUE(live("Keep\\Gone\\Child"));
  EXPECT_FALSE(live("Gone"));
  EXPECT_EQ(snapshots(left_), 3u);
  const TolHivePtr on_disk = read_back(file_);
  EXPECT_TRUE(tol_hive_find_path(*on_disk, "Keep\\Gone\\Child").has_value());
}

TEST_F(DeletedItemsTest, KeysOfUnknownPlaceAndTakenNamesAreRestoredWhereTheUserSays) {
  tol_pane_set_show_deleted(left_, true);
  pick("~Deleted, location unknown", true);
  pick("  ~Lost");
  run("pane.restore");
  EXPECT_TRUE(toast_taken(overlay_, "The key's parent is deleted or unknown: use Restore to… to choose a key"));
  run("pane.restore-to");
  GtkWindow* dialog = wait_for_dialog("Restore key to (path; empty for the root)");
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "Other");
  EXPECT_TRUE(toast_taken(overlay_, "Restored key \"Lost\""));
  EXPECT_EQ(selected_path(left_), "Other\\Lost");
  EXPECT_TRUE(tol_pane_undo(left_, false));
  drain_main_loop();

  // Other has a GONE already.
  pick("  ~Gone");
  run("pane.restore-to");
  dialog = wait_for_dialog("Restore key to (path; empty for the root)");
  ASSERT_NE(dialog, nullptr);
  answer_dialog(dialog, "Other");
  GtkWidget* alert = wait_for_alert();
  ASSERT_NE(alert, nullptr);
  const std::vector<std::string> texts = label_texts(alert);
  for (const char* expected : {"A key named “Gone” exists already", "Cancel", "Restore as “Gone (restored)”"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
  EXPECT_EQ(snapshots(left_), 2u);
  tol_compat_alert_respond(alert, "rename");
  EXPECT_TRUE(toast_taken(overlay_, "Restored key \"Gone (restored)\""));
  EXPECT_EQ(selected_path(left_), "Other\\Gone (restored)");
  EXPECT_TRUE(live("Other\\Gone (restored)\\Child"));
  EXPECT_EQ(snapshots(left_), 3u);
}

}  // namespace
}  // namespace tol_test
