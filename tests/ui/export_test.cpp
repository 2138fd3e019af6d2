// Exporting the selected key of a real pane to a .reg file, through the save
// dialog and through what the dialog calls once a file is chosen.
#include "two_pane_fixture.h"
#include "ui/commands.h"

#include <gtest/gtest.h>

#include <string>

namespace tol_test {
namespace {

using tol::test::le32;
using tol::test::utf16le_sz;

std::string read_file(const std::string& path) {
  char* text = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &text, &length, nullptr))
    return "(missing)";
  std::string out(text, length);
  g_free(text);
  return out;
}

// The save dialog the export opened, once it is mapped; null when none is.
GtkFileChooser* export_dialog() {
  GtkFileChooser* found = nullptr;
  iterate_until([&] {
    for (GtkWindow* window : toplevels()) {
      if (GTK_IS_FILE_CHOOSER(window) && gtk_widget_get_mapped(GTK_WIDGET(window)))
        found = GTK_FILE_CHOOSER(window);
    }
    return found != nullptr;
  });
  return found;
}

class ExportTest : public TwoPaneTest {
 protected:
  void open_sample() {
    open(left_,
         key("ROOT", {key("Exp", {key("Sub", {}, {val("Q", 11, {1, 0, 0, 0, 0, 0, 0, 0})}), key("Bare")},
                          {val("", 1, utf16le_sz("a\"b\\c")), val("Count", 4, le32(7)),
                           val("Odd", 4, {1, 2, 3})})}),
         "export.hiv");
  }

  // Types the full path of a file in the test's directory into the dialog's
  // name entry, as a user may. The dialog keeps showing its own folder, so the
  // file appears in no folder it watches.
  void choose(GtkFileChooser* chooser, const std::string& file) {
    gtk_file_chooser_set_current_name(chooser, file.c_str());
    drain_main_loop();
  }

  static constexpr const char* kExpText =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[Exp]\n"
      "@=\"a\\\"b\\\\c\"\n"
      "\"Count\"=dword:00000007\n"
      "\"Odd\"=hex(4):01,02,03\n"
      "\n"
      "[Exp\\Bare]\n"
      "\n"
      "[Exp\\Sub]\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\n";
};

TEST_F(ExportTest, WritesTheSelectedSubtreeUnderTheKeysOwnName) {
  open_sample();
  select(left_, "Exp");
  std::string out = path("exp.reg");
  tol_pane_export_reg_to(left_, out.c_str());
  EXPECT_EQ(read_file(out), kExpText);

  // The root is written under the name stored in its record.
  select(left_, "");
  std::string root = path("root.reg");
  tol_pane_export_reg_to(left_, root.c_str());
  std::string text = read_file(root);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[ROOT]\n\n[ROOT\\Exp]\n", 0), 0u) << text;
}

TEST_F(ExportTest, DoesNothingWithoutAHive) {
  std::string out = path("none.reg");
  tol_pane_export_reg_to(left_, out.c_str());
  tol_pane_export_reg(left_);
  drain_main_loop();
  EXPECT_FALSE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS));
  for (GtkWindow* window : toplevels())
    EXPECT_FALSE(GTK_IS_FILE_CHOOSER(window)) << "no dialog without a hive";
}

TEST_F(ExportTest, AFailedWriteLeavesNoFile) {
  open_sample();
  select(left_, "Exp");
  std::string out = dir_ + "/missing-dir/exp.reg";
  tol_pane_export_reg_to(left_, out.c_str());
  EXPECT_FALSE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS));
  EXPECT_NE(tol_pane_get_hive(left_), nullptr) << "the hive is unaffected";
  // The user waits for a file; the failure must not pass unseen.
  EXPECT_TRUE(iterate_until([&] {
    for (GtkWidget* label : find_all(GTK_WIDGET(overlay_), GTK_TYPE_LABEL))
      if (std::string(gtk_label_get_text(GTK_LABEL(label))).rfind("Export failed: cannot create", 0) == 0)
        return true;
    return false;
  })) << "no toast naming the failure";
}

TEST_F(ExportTest, TheDialogOffersTheKeyNameAndExportsTheKeySelectedWhenItCloses) {
  open_sample();
  select(left_, "Exp");
  g_signal_emit_by_name(toolbar_button(left_, "pane.export"), "clicked");
  GtkFileChooser* chooser = export_dialog();
  if (chooser == nullptr)
    GTEST_SKIP() << "the save dialog is not an in-process window here";
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Export to a .reg file");
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
  char* name = gtk_file_chooser_get_current_name(chooser);
  EXPECT_STREQ(name, "Exp.reg");
  g_free(name);
  GListModel* filters = gtk_file_chooser_get_filters(chooser);
  EXPECT_EQ(g_list_model_get_n_items(filters), 0u);
  g_object_unref(filters);

  // The user moves on in the tree while the dialog is open.
  select(left_, "Exp\\Sub");
  std::string out = path("chosen.reg");
  choose(chooser, out);
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  ASSERT_TRUE(iterate_until([&] { return g_file_test(out.c_str(), G_FILE_TEST_EXISTS); }));
  EXPECT_EQ(read_file(out),
            "Windows Registry Editor Version 5.00\n\n[Sub]\n\"Q\"=hex(b):01,00,00,00,00,00,00,00\n\n");
}

}  // namespace
}  // namespace tol_test
