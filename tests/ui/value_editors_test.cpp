// The value editors on real panes: which editor each type gets with its
// title and text, what OK stores in the file, bad input keeping the dialog
// open, and the New value dialog.
#include "value_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hive/edit.h"
#include "ui/commands.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::le32;
using tol::test::multi_sz;
using tol::test::utf16le_sz;

using ::testing::HasSubstr;

class ValueEditorsTest : public ValueTest {
 protected:
  void open_sample() {
    open(left_,
         key("ROOT", {key("Key", {},
                          {val("", 1, utf16le_sz("dflt")), val("Str", 1, utf16le_sz("hello")),
                           val("Exp", 2, utf16le_sz("%PATH%")), val("Dw", 4, le32(0x1a)),
                           val("Short", 4, {1, 2}), val("Qw", 11, {1, 0, 0, 0, 0, 0, 0, 0}),
                           val("Multi", 7, multi_sz({"a", "b"})), val("Bin", 3, {1, 0xab}),
                           val("Big", 5, {0, 0, 0, 9}), val("None", 0, {}),
                           val("Odd", 8, {0xff})})}),
         "edit.hiv");
    file_ = path("edit.hiv");
    open(right_, key("ROOT", {key("Key", {}, {val("Dw", 4, le32(0x1a))})}), "right.hiv");
    select(left_, "Key");
    select(right_, "Key");
  }

  // Opens the editor of the named value as activating its row does.
  GtkWidget* edit(const std::string& name, const std::string& title) {
    tol_pane_modify_value(left_, row_position(left_, name));
    return dialog_titled(title);
  }

  std::optional<TolHiveValue> on_disk(const std::string& name) { return value_on_disk(file_, "Key", name); }

  std::string file_;
};

TEST_F(ValueEditorsTest, EachTypeGetsItsEditorTitleAndText) {
  // No hive, no editor.
  tol_pane_modify_value(left_, 0);
  drain_main_loop();
  EXPECT_EQ(toplevels().size(), 1u);

  open_sample();
  struct Case {
    const char* value;
    const char* title;
    const char* text;
    bool multiline;
  };
  const Case cases[] = {
      {"", "Edit REG_SZ", "dflt", false},
      {"Str", "Edit REG_SZ", "hello", false},
      {"Exp", "Edit REG_EXPAND_SZ", "%PATH%", false},
      {"Dw", "Edit REG_DWORD (hex 0x… or decimal)", "0x0000001a", false},
      {"Short", "Edit REG_DWORD (hex 0x… or decimal)", "0x00000000", false},
      {"Qw", "Edit REG_QWORD (hex 0x… or decimal)", "0x0000000000000001", false},
      {"Multi", "Edit REG_MULTI_SZ (one value per line)", "a\nb", true},
      {"Bin", "Edit REG_BINARY (comma-separated hex bytes)", "01,ab", true},
      {"Big", "Edit REG_DWORD_BIG_ENDIAN (comma-separated hex bytes)", "00,00,00,09", true},
      {"None", "Edit REG_NONE (comma-separated hex bytes)", "", true},
      {"Odd", "Edit REG_RESOURCE_LIST (comma-separated hex bytes)", "ff", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    GtkWidget* dialog = edit(c.value, c.title);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(text_of(dialog), c.text);
    EXPECT_EQ(buffer_of(dialog) != nullptr, c.multiline);
    EXPECT_EQ(entry_of(dialog) == nullptr, c.multiline);
    gtk_window_destroy(GTK_WINDOW(dialog));
    drain_main_loop();
  }
  EXPECT_EQ(snapshots(left_), 0u);

  // No row there, no editor.
  tol_pane_modify_value(left_, 99);
  drain_main_loop();
  for (GtkWindow* window : toplevels())
    EXPECT_EQ(GTK_WIDGET(window), window_) << gtk_window_get_title(window);
}

TEST_F(ValueEditorsTest, DwordTextsStoreTheirNumber) {
  open_sample();
  struct Case {
    const char* text;
    Bytes stored;
  };
  const Case cases[] = {
      {"26", {0x1a, 0, 0, 0}},
      {"0X1A", {0x1a, 0, 0, 0}},
      {"032", {0x1a, 0, 0, 0}},
      {"0b101", {5, 0, 0, 0}},
      {"-1", {0xff, 0xff, 0xff, 0xff}},
      {"0x1A2B3C4D5", {0xd5, 0xc4, 0xb3, 0xa2}},
  };
  std::size_t steps = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    GtkWidget* dialog = edit("Dw", "Edit REG_DWORD (hex 0x… or decimal)");
    ASSERT_NE(dialog, nullptr);
    set_text(dialog, c.text);
    // Enter in the entry applies like OK.
    g_signal_emit_by_name(entry_of(dialog), "activate");
    drain_main_loop();
    EXPECT_FALSE(dialog_open("Edit REG_DWORD (hex 0x… or decimal)"));
    std::optional<TolHiveValue> stored = on_disk("Dw");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, 4u);
    EXPECT_EQ(stored->data, c.stored);
    EXPECT_EQ(snapshots(left_), ++steps);
  }
  EXPECT_TRUE(toast_shown(overlay_, "Changed value \"Dw\""));
  // The other pane's namesake now differs.
  EXPECT_EQ(tol_value_item_get_diff(row(right_, "Dw")), TOL_DIFF_CHANGED);
}

TEST_F(ValueEditorsTest, ADwordOfTwoBytesIsStoredAsFour) {
  open_sample();
  GtkWidget* dialog = edit("Short", "Edit REG_DWORD (hex 0x… or decimal)");
  ASSERT_NE(dialog, nullptr);
  click_ok(dialog);
  EXPECT_EQ(on_disk("Short")->data, Bytes(4, 0));
  EXPECT_TRUE(toast_shown(overlay_, "Changed value \"Short\""));
}

TEST_F(ValueEditorsTest, InvalidNumbersKeepTheDialogOpenAndRecordNothing) {
  open_sample();
  GtkWidget* dialog = edit("Dw", "Edit REG_DWORD (hex 0x… or decimal)");
  ASSERT_NE(dialog, nullptr);
  for (const char* bad : {"12abc", "", "0x"}) {
    set_text(dialog, bad);
    click_ok(dialog);
    EXPECT_TRUE(dialog_open("Edit REG_DWORD (hex 0x… or decimal)")) << bad;
    EXPECT_EQ(text_of(dialog), bad) << "the text stays as typed";
  }
  EXPECT_TRUE(toast_shown(overlay_, "Invalid number — enter e.g. 0x1A2B or 12345"));
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_EQ(on_disk("Dw")->data, le32(0x1a));
  gtk_window_destroy(GTK_WINDOW(dialog));

  dialog = edit("Qw", "Edit REG_QWORD (hex 0x… or decimal)");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "0b1");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Invalid number — enter e.g. 0x1A2B3C4D or 12345"));
  EXPECT_TRUE(dialog_open("Edit REG_QWORD (hex 0x… or decimal)"));
  set_text(dialog, " 18446744073709551615 ");
  click_ok(dialog);
  EXPECT_EQ(on_disk("Qw")->data, Bytes(8, 0xff));
  EXPECT_EQ(snapshots(left_), 1u);
}

TEST_F(ValueEditorsTest, StringsAndTheDefaultValue) {
  open_sample();
  GtkWidget* dialog = edit("", "Edit REG_SZ");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "zażółć");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Changed value \"(Default)\""));
  std::optional<TolHiveValue> stored = on_disk("");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, 1u);
  EXPECT_EQ(stored->data, utf16le_sz("zażółć"));
  EXPECT_EQ(on_disk("Str")->data, utf16le_sz("hello")) << "only the default value changed";

  dialog = edit("Exp", "Edit REG_EXPAND_SZ");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "%TEMP%\\x");
  click_ok(dialog);
  EXPECT_EQ(on_disk("Exp")->type, 2u);
  EXPECT_EQ(on_disk("Exp")->data, utf16le_sz("%TEMP%\\x"));

  // A peer reads the same.
  std::string exported = hivex_export(file_);
  if (!exported.empty()) {
    EXPECT_THAT(exported, HasSubstr("\"Exp\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00"));
  }
}

TEST_F(ValueEditorsTest, MultiStringLinesAndATrailingLineFeed) {
  open_sample();
  GtkWidget* dialog = edit("Multi", "Edit REG_MULTI_SZ (one value per line)");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "one\ntwo\n");
  click_ok(dialog);
  EXPECT_EQ(on_disk("Multi")->data, multi_sz({"one", "two"}));
  EXPECT_EQ(on_disk("Multi")->type, 7u);
}

TEST_F(ValueEditorsTest, EnterInTheMultiLineEditorBreaksTheLine) {
  open_sample();
  GtkWidget* dialog = edit("Multi", "Edit REG_MULTI_SZ (one value per line)");
  ASSERT_NE(dialog, nullptr);
  GtkTextBuffer* buffer = buffer_of(dialog);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  gtk_text_buffer_place_cursor(buffer, &end);
  gtk_widget_grab_focus(find_first(dialog, GTK_TYPE_TEXT_VIEW));
  drain_main_loop();
  if (!press_keys(dialog, {"Return", "c"}))
    GTEST_SKIP() << "keys cannot be pressed on this display";
  EXPECT_EQ(text_of(dialog), "a\nb\nc");
  EXPECT_TRUE(dialog_open("Edit REG_MULTI_SZ (one value per line)"));
  EXPECT_EQ(snapshots(left_), 0u);
  click_ok(dialog);
  EXPECT_EQ(on_disk("Multi")->data, multi_sz({"a", "b", "c"}));
}

TEST_F(ValueEditorsTest, HexEditorKeepsTheTypeAndRejectsBadBytes) {
  open_sample();
  GtkWidget* dialog = edit("Big", "Edit REG_DWORD_BIG_ENDIAN (comma-separated hex bytes)");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "01,02,zz");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Invalid hex byte: 'zz'"));
  EXPECT_TRUE(dialog_open("Edit REG_DWORD_BIG_ENDIAN (comma-separated hex bytes)"));
  EXPECT_EQ(snapshots(left_), 0u);
  set_text(dialog, "01, 02,\n03,04");
  click_ok(dialog);
  EXPECT_EQ(on_disk("Big")->type, 5u);
  EXPECT_EQ(on_disk("Big")->data, (Bytes{1, 2, 3, 4}));

  dialog = edit("Bin", "Edit REG_BINARY (comma-separated hex bytes)");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "");
  click_ok(dialog);
  ASSERT_TRUE(on_disk("Bin").has_value());
  EXPECT_TRUE(on_disk("Bin")->data.empty());
  EXPECT_EQ(snapshots(left_), 2u);

  std::string exported = hivex_export(file_);
  if (!exported.empty()) {
    EXPECT_THAT(exported, HasSubstr("\"Big\"=hex(5):01,02,03,04"));
    EXPECT_THAT(exported, HasSubstr("\"Bin\"=hex(3):\n"));
  }
}

TEST_F(ValueEditorsTest, AValueGoneMeanwhileIsCreatedAgainByItsEditor) {
  open_sample();
  GtkWidget* dialog = edit("Str", "Edit REG_SZ");
  ASSERT_NE(dialog, nullptr);
  TolHive* hive = tol_pane_get_hive(left_);
  ASSERT_TRUE(tol_hive_delete_value(*hive, tol_pane_get_selected_key(left_), "Str"));
  set_text(dialog, "back");
  click_ok(dialog);
  EXPECT_EQ(on_disk("Str")->data, utf16le_sz("back"));
  EXPECT_EQ(row_names(left_).back(), "Str");
}

// ---- New value dialog ----------------------------------------------------------------

TEST_F(ValueEditorsTest, NewValueDialogOffersTheSixTypes) {
  tol_pane_show_new_value(left_);
  EXPECT_TRUE(toast_shown(overlay_, "Open a hive file in this pane first"));
  EXPECT_FALSE(dialog_open("New value"));

  open_sample();
  tol_pane_show_new_value(left_);
  GtkWidget* dialog = dialog_titled("New value");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
  EXPECT_EQ(GTK_WIDGET(gtk_window_get_transient_for(GTK_WINDOW(dialog))), window_);
  int width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(dialog), &width, &height);
  EXPECT_EQ(width, 360);
  GtkWidget* entry = entry_of(dialog);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(text_of(dialog), "NewValue");
  int start = -1, stop = -1;
  EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &stop));
  EXPECT_EQ(stop - start, 8);
  auto* types = GTK_DROP_DOWN(find_first(dialog, GTK_TYPE_DROP_DOWN));
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(gtk_drop_down_get_selected(types), 0u);
  GListModel* model = gtk_drop_down_get_model(types);
  std::vector<std::string> names;
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
    auto* item = GTK_STRING_OBJECT(g_list_model_get_item(model, i));
    names.emplace_back(gtk_string_object_get_string(item));
    g_object_unref(item);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD",
                                             "REG_MULTI_SZ", "REG_QWORD"}));
  EXPECT_NE(button_labelled(dialog, "Cancel"), nullptr);

  gtk_drop_down_set_selected(types, 4);
  g_signal_emit_by_name(entry, "activate");
  drain_main_loop();
  EXPECT_TRUE(toast_shown(overlay_, "Created value \"NewValue\""));
  EXPECT_FALSE(dialog_open("New value"));
  std::optional<TolHiveValue> created = on_disk("NewValue");
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->type, 7u);
  EXPECT_EQ(created->data, Bytes(2, 0));
  EXPECT_EQ(row_names(left_).back(), "NewValue");
  EXPECT_EQ(tol_value_item_get_diff(row(left_, "NewValue")), TOL_DIFF_ONLY);
  EXPECT_EQ(snapshots(left_), 1u);

  // Each type's initial data.
  constexpr std::uint32_t kTypes[] = {1, 2, 3, 4, 7, 11};
  const std::pair<guint, Bytes> initial[] = {
      {0, Bytes(2, 0)}, {1, Bytes(2, 0)}, {2, Bytes{}}, {3, Bytes(4, 0)}, {5, Bytes(8, 0)}};
  for (const auto& [position, data] : initial) {
    tol_pane_show_new_value(left_);
    dialog = dialog_titled("New value");
    ASSERT_NE(dialog, nullptr);
    set_text(dialog, "T" + std::to_string(position));
    gtk_drop_down_set_selected(GTK_DROP_DOWN(find_first(dialog, GTK_TYPE_DROP_DOWN)), position);
    click_ok(dialog);
    created = on_disk("T" + std::to_string(position));
    ASSERT_TRUE(created.has_value()) << position;
    EXPECT_EQ(created->type, kTypes[position]);
    EXPECT_EQ(created->data, data) << position;
  }
}

TEST_F(ValueEditorsTest, CancelLeavesWithoutAChange) {
  open_sample();
  GtkWidget* dialog = edit("Dw", "Edit REG_DWORD (hex 0x… or decimal)");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, "5");
  g_signal_emit_by_name(button_labelled(dialog, "Cancel"), "clicked");
  drain_main_loop();
  EXPECT_FALSE(dialog_open("Edit REG_DWORD (hex 0x… or decimal)"));
  EXPECT_EQ(on_disk("Dw")->data, le32(0x1a));
  EXPECT_EQ(snapshots(left_), 0u);
}

}  // namespace
}  // namespace tol_test
