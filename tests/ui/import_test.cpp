// Importing a .reg file into a real pane: the command without a hive, the
// file dialog, and what the dialog does once a file is chosen, with the hive
// file, the views and the undo journal afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "../hive/peer_tools.h"
#include "edit_commands_util.h"
#include "hive/hive.h"
#include "two_pane_fixture.h"
#include "ui/value_item.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using tol::test::le32;
using tol::test::utf16le_sz;

class ImportTest : public TwoPaneTest {
 protected:
  void open_sample() {
    open(left_,
         key("ROOT", {key("Dest", {key("Old", {key("Below")}), key("Keep")},
                          {val("gone", 4, le32(1)), val("stays", 4, le32(2))}),
                      key("Elsewhere")}),
         "import.hiv");
    file_ = path("import.hiv");
  }

  std::string write_reg(const std::string& name, const std::string& text) {
    std::string p = path(name);
    EXPECT_TRUE(g_file_set_contents(p.c_str(), text.data(), static_cast<gssize>(text.size()), nullptr));
    return p;
  }

  // The value's data in the file on disk, or nothing.
  std::optional<Bytes> on_disk(const std::string& key_path, const std::string& name) {
    TolHivePtr hive = read_back(file_);
    std::optional<std::uint32_t> key = hive != nullptr ? tol_hive_find_path(*hive, key_path) : std::nullopt;
    if (!key)
      return std::nullopt;
    for (std::uint32_t i = 0; i < tol_hive_value_count(*hive, *key); ++i) {
      TolHiveValue value;
      if (tol_hive_read_value(*hive, *key, i, value) && value.name == name)
        return value.data;
    }
    return std::nullopt;
  }

  std::vector<std::string> shown_values() {
    std::vector<std::string> names;
    GListModel* model = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(left_)));
    for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
      auto* item = static_cast<TolValueItem*>(g_list_model_get_item(model, i));
      names.push_back(tol_value_item_get_name(item));
      g_object_unref(item);
    }
    return names;
  }

  std::string file_;
};

TEST_F(ImportTest, TheCommandWantsAHive) {
  g_signal_emit_by_name(toolbar_button(left_, "pane.import"), "clicked");
  EXPECT_TRUE(toast_shown(overlay_, "Open a hive file in this pane first"));
  drain_main_loop();
  for (GtkWindow* window : toplevels())
    EXPECT_FALSE(GTK_IS_FILE_CHOOSER(window)) << "no dialog without a hive";

  tol_pane_import_reg_from(left_, "/nonexistent.reg");
  EXPECT_TRUE(toast_shown(overlay_, "No hive is loaded in this pane"));
}

TEST_F(ImportTest, AppliesTheFileBelowTheSelectedKeyAsOneChange) {
  open_sample();
  select(left_, "Dest");
  const std::string reg = write_reg("good.reg",
                                    "Windows Registry Editor Version 5.00\r\n"
                                    "\r\n"
                                    "[]\r\n"
                                    "\"added\"=\"text\"\r\n"
                                    "\"gone\"=-\r\n"
                                    "\r\n"
                                    "[New\\Sub]\r\n"
                                    "\"bin\"=hex:01,02,\\\r\n"
                                    "  03\r\n"
                                    "@=dword:0000002a\r\n"
                                    "\r\n"
                                    "[-Old]\r\n");
  tol_pane_import_reg_from(left_, reg.c_str());
  EXPECT_EQ(take_toast(overlay_, "Imported"), "Imported: 2 keys, 3 values (deleted 1 keys, 1 values)");
  EXPECT_EQ(snapshots(left_), 1u);

  EXPECT_EQ(on_disk("Dest", "added"), utf16le_sz("text"));
  EXPECT_FALSE(on_disk("Dest", "gone").has_value());
  EXPECT_EQ(on_disk("Dest", "stays"), le32(2));
  EXPECT_EQ(on_disk("Dest\\New\\Sub", "bin"), (Bytes{1, 2, 3}));
  EXPECT_EQ(on_disk("Dest\\New\\Sub", ""), le32(42));
  EXPECT_FALSE(key_on_disk(file_, "Dest\\Old"));
  EXPECT_FALSE(key_on_disk(file_, "New")) << "paths are relative to the destination";

  // The views show the saved file with the same key selected.
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
  EXPECT_EQ(selected_path(left_), "Dest");
  std::vector<std::string> shown = shown_values();
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"added", "stays"}));

  // One undo takes the whole import back.
  ASSERT_TRUE(tol_pane_undo(left_, false));
  EXPECT_TRUE(key_on_disk(file_, "Dest\\Old\\Below"));
  EXPECT_FALSE(key_on_disk(file_, "Dest\\New"));

  TOL_REQUIRE_TOOL("hivexregedit");
  tol_pane_import_reg_from(left_, reg.c_str());
  const auto exported = tol::test::run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const auto keys = tol::test::hivexregedit_keys(exported.out);
  EXPECT_TRUE(keys.count("\\Dest\\New\\Sub")) << exported.out;
  EXPECT_FALSE(keys.count("\\Dest\\Old"));
  EXPECT_NE(exported.out.find("\"bin\"=hex(3):01,02,03\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("@=dword:0000002a\n"), std::string::npos);
}

TEST_F(ImportTest, ErrorsInTheFileAreCountedAndTheRestIsApplied) {
  open_sample();
  select(left_, "Dest\\Keep");
  const std::string reg = write_reg("bad.reg",
                                    "REGEDIT4\n"
                                    "[Fine]\n"
                                    "\"ok\"=dword:1\n"
                                    "novalue\n"
                                    "\"x\"=hex(zz\n"
                                    "[Broken] \n"
                                    "\"ignored\"=\"y\"\n");
  tol_pane_import_reg_from(left_, reg.c_str());
  EXPECT_EQ(take_toast(overlay_, "Imported"),
            "Imported: 1 keys, 1 values (deleted 0 keys, 0 values) — the file contained errors");
  EXPECT_EQ(snapshots(left_), 1u);
  EXPECT_EQ(on_disk("Dest\\Keep\\Fine", "ok"), le32(1));
  EXPECT_FALSE(key_on_disk(file_, "Dest\\Keep\\Broken"));
  EXPECT_EQ(selected_path(left_), "Dest\\Keep");
}

TEST_F(ImportTest, AFileInUtf16ImportsLikeItsUtf8Text) {
  open_sample();
  select(left_, "Elsewhere");
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[W]\r\n\"name\"=\"wert\"\r\n";
  std::string utf16 = "\xff\xfe";
  for (char c : text) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  const std::string reg = write_reg("wide.reg", utf16);
  tol_pane_import_reg_from(left_, reg.c_str());
  EXPECT_EQ(take_toast(overlay_, "Imported"), "Imported: 1 keys, 1 values (deleted 0 keys, 0 values)");
  EXPECT_EQ(on_disk("Elsewhere\\W", "name"), utf16le_sz("wert"));
}

TEST_F(ImportTest, AnUnreadableFileChangesNothing) {
  open_sample();
  select(left_, "Dest");
  const Bytes before = read_file(file_);
  const std::string missing = dir_ + "/missing.reg";
  tol_pane_import_reg_from(left_, missing.c_str());
  const std::string toast = take_toast(overlay_, "Import failed: ");
  EXPECT_NE(toast.find("missing.reg"), std::string::npos) << toast;
  EXPECT_EQ(read_file(file_), before);
  // Nothing changed, so there is nothing to undo.
  EXPECT_EQ(snapshots(left_), 0u);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty);
}

TEST_F(ImportTest, AFailedSaveTakesTheImportBackWithoutASummary) {
  open_sample();
  select(left_, "Dest");
  const Bytes before = read_file(file_);
  const std::string reg = write_reg("one.reg", "[Added]\n");
  {
    FailingSave failing;
    tol_pane_import_reg_from(left_, reg.c_str());
  }
  const std::string toast = take_toast(overlay_, "Saving after import failed: ");
  EXPECT_NE(toast.find("Permission denied"), std::string::npos) << toast;
  drain_main_loop();
  for (const std::string& text : label_texts(GTK_WIDGET(overlay_)))
    EXPECT_NE(text.rfind("Imported", 0), 0u) << "no summary after a failed save";
  EXPECT_EQ(read_file(file_), before);
  EXPECT_EQ(snapshots(left_), 0u);
  TolHive* hive = tol_pane_get_hive(left_);
  EXPECT_FALSE(hive->dirty);
  EXPECT_FALSE(tol_hive_find_path(*hive, "Dest\\Added").has_value()) << "the image is as the file";
}

TEST_F(ImportTest, TheDialogImportsTheChosenFileIntoTheKeySelectedWhenItCloses) {
  open_sample();
  select(left_, "Dest");
  const std::string reg = write_reg("chosen.reg", "[FromDialog]\n\"v\"=\"1\"\n");
  g_signal_emit_by_name(toolbar_button(left_, "pane.import"), "clicked");
  GtkFileChooser* chooser = nullptr;
  iterate_until([&] {
    for (GtkWindow* window : toplevels())
      if (GTK_IS_FILE_CHOOSER(window) && gtk_widget_get_mapped(GTK_WIDGET(window)))
        chooser = GTK_FILE_CHOOSER(window);
    return chooser != nullptr;
  });
  if (chooser == nullptr)
    GTEST_SKIP() << "the open dialog is not an in-process window here";
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Import a .reg file into the selected key");
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
  GListModel* filters = gtk_file_chooser_get_filters(chooser);
  ASSERT_EQ(g_list_model_get_n_items(filters), 1u);
  auto* filter = static_cast<GtkFileFilter*>(g_list_model_get_item(filters, 0));
  EXPECT_STREQ(gtk_file_filter_get_name(filter), "Registry files (*.reg)");
  g_object_unref(filter);
  g_object_unref(filters);

  if (const char* dir = g_getenv("TOL_UI_SHOTS")) {
    g_mkdir_with_parents(dir, 0755);
    g_usleep(500000);
    drain_main_loop();
    const std::string command = std::string("import -window root ") + dir + "/import-dialog.png";
    g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr);
  }

  // The user moves on in the tree while the dialog is open.
  select(left_, "Elsewhere");
  // Typed into the location entry, as after Ctrl+L.
  GtkWidget* widget = find_first(GTK_WIDGET(chooser), GTK_TYPE_FILE_CHOOSER_WIDGET);
  ASSERT_NE(widget, nullptr);
  g_signal_emit_by_name(widget, "location-popup", reg.c_str());
  GFile* file = g_file_new_for_path(reg.c_str());
  ASSERT_TRUE(iterate_until([&] {
    GFile* chosen = gtk_file_chooser_get_file(chooser);
    bool same = chosen != nullptr && g_file_equal(chosen, file);
    g_clear_object(&chosen);
    return same;
  }));
  g_object_unref(file);
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(take_toast(overlay_, "Imported"), "Imported: 1 keys, 1 values (deleted 0 keys, 0 values)");
  EXPECT_TRUE(key_on_disk(file_, "Elsewhere\\FromDialog"));
  EXPECT_EQ(snapshots(left_), 1u);
}

}  // namespace
}  // namespace tol_test
