// The security descriptor editor on a real pane: the descriptor shown as hex,
// as SDDL and as a list of entries, kept in step; the checks on OK with the
// dialog left open, the key's own sk record on disk afterwards, and the undo
// step every checked descriptor leaves. And the key properties window.
#include "value_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "hive/details.h"
#include "hive/sddl.h"
#include "hive/security.h"
#include "ui/accels.h"
#include "ui/commands.h"
#include "ui/dialog.h"
#include "ui/key_properties.h"
#include "ui/security_views.h"
#include "value/codec.h"

namespace tol_test {
namespace {

using tol::test::Bytes;
using ::testing::HasSubstr;

constexpr char kTitle[] = "Security descriptor (self-relative, hex)";
constexpr char kInvalid[] = "Invalid SECURITY_DESCRIPTOR_RELATIVE";

// A header-only descriptor of 20 bytes: revision 1, the control flags, no parts.
std::string header_only(const char* control = "04,80") {
  return std::string("01,00,") + control + ",00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00";
}

Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SecurityEditorTest : public ValueTest {
 protected:
  // Root with A (and A\A1) and B, all sharing one sk record.
  void open_tree(std::uint32_t shared_count_override = 0xFFFFFFFFu) {
    tol::test::HiveBuilder builder;
    tree_ = builder.tree(key("ROOT", {key("A", {key("A1")}), key("B")}));
    if (shared_count_override != 0xFFFFFFFFu)
      builder.patch_u32(tree_.sk, 0x0C, shared_count_override);
    builder.patch_u32(tree_.key("B"), 0x2C, tol::test::kNoCell);
    file_ = path("sec.hiv");
    builder.write_file(file_);
    GFile* file = g_file_new_for_path(file_.c_str());
    tol_pane_open_file(left_, file);
    g_object_unref(file);
    ASSERT_NE(tol_pane_get_hive(left_), nullptr);
    drain_main_loop();
  }

  GtkWidget* open_editor(const char* key_path) {
    select(left_, key_path);
    tol_pane_edit_security(left_);
    return dialog_titled(kTitle);
  }

  // The key's sk offset and the u32 at `field` of a cell, in the file on disk.
  struct Disk {
    TolHivePtr hive;
    std::uint32_t sk(const char* key_path) const {
      return tol_hive_key(*hive, *tol_hive_find_path(*hive, key_path))->u32(0x2C);
    }
    std::uint32_t field(std::uint32_t cell, std::uint32_t off) const {
      return tol_hive_cell(*hive, cell)->u32(off);
    }
  };
  Disk disk() const { return Disk{tol_hive_open(file_, nullptr)}; }

  tol::test::BuiltTree tree_;
  std::string file_;
};

TEST_F(SecurityEditorTest, ShowsTheDescriptorAsHexOrSaysThereIsNone) {
  tol_pane_edit_security(left_);
  EXPECT_TRUE(toast_shown(overlay_, "The key has no valid security descriptor"));
  EXPECT_FALSE(dialog_open(kTitle));

  open_tree();
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(text_of(dialog), tol_value_hex_format(tol::test::default_security_descriptor()));
  EXPECT_NE(buffer_of(dialog), nullptr);
  // Byte pairs have no spaces: the text wraps anywhere rather than running off.
  EXPECT_EQ(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(find_first(dialog, GTK_TYPE_TEXT_VIEW))),
            GTK_WRAP_CHAR);
  EXPECT_TRUE(TOL_IS_EDIT_DIALOG(dialog));
  gtk_window_destroy(GTK_WINDOW(dialog));
  drain_main_loop();

  // B names no sk record.
  select(left_, "B");
  tol_pane_edit_security(left_);
  EXPECT_TRUE(toast_shown(overlay_, "The key has no valid security descriptor"));
  EXPECT_FALSE(dialog_open(kTitle));
  EXPECT_EQ(snapshots(left_), 0u);
}

TEST_F(SecurityEditorTest, StoresACopyForTheKeyAloneAndMovesOneReference) {
  open_tree();
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, header_only());
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Key security saved (copy-on-write)"));
  EXPECT_FALSE(dialog_open(kTitle));
  EXPECT_EQ(snapshots(left_), 1u);

  Disk d = disk();
  ASSERT_NE(d.hive, nullptr);
  const std::uint32_t own = d.sk("A");
  ASSERT_NE(own, tree_.sk);
  // 20 bytes of sk header and 20 of descriptor in a cell of 48.
  EXPECT_EQ(tol_hive_cell(*d.hive, own)->size(), 44u);
  EXPECT_EQ(d.field(own, 0x0C), 1u);
  EXPECT_EQ(d.field(own, 0x10), 20u);
  EXPECT_EQ(tol_hive_key_security(*d.hive, *tol_hive_find_path(*d.hive, "A")),
            tol_value_hex_parse(header_only().c_str(), nullptr));
  // ROOT and A1 keep the shared record, one reference lighter.
  EXPECT_EQ(d.sk(""), tree_.sk);
  EXPECT_EQ(d.sk("A\\A1"), tree_.sk);
  EXPECT_EQ(d.field(tree_.sk, 0x0C), 3u);

  // The peer still reads the hive.
  if (tol::test::installed("hivexregedit")) {
    EXPECT_FALSE(hivex_export(file_).empty());
  }
}

TEST_F(SecurityEditorTest, ARecordCountedTooLowIsRefusedWithTheReason) {
  open_tree(0);
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  set_text(dialog, header_only());
  click_ok(dialog);
  EXPECT_THAT(take_toast(overlay_, "Failed to store the security descriptor: "),
              HasSubstr("the hive is damaged here: the security record at"));
  Disk d = disk();
  EXPECT_EQ(d.sk("A"), tree_.sk);
  EXPECT_EQ(d.field(tree_.sk, 0x0C), 0u);
}

TEST_F(SecurityEditorTest, RejectedDescriptorsKeepTheDialogAndLeaveNoUndoStep) {
  open_tree();
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  const Bytes before = file_bytes(file_);

  // Not hex at all: stopped before anything is recorded.
  set_text(dialog, "01,zz");
  click_ok(dialog);
  EXPECT_TRUE(toast_shown(overlay_, "Invalid hex byte: 'zz'"));
  EXPECT_EQ(snapshots(left_), 0u);

  const std::string rejected[] = {
      header_only("04,00"),                                   // self-relative bit clear
      "02" + header_only().substr(2),                         // revision 2
      "01,00,04,80,14" + header_only().substr(14),            // owner at the end
      "01,00,04,80",                                          // 4 bytes
      // DACL at 20 whose size field says 4.
      "01,00,04,80,00,00,00,00,00,00,00,00,00,00,00,00,14,00,00,00,02,00,04,00,00,00,00,00",
  };
  for (const std::string& text : rejected) {
    SCOPED_TRACE(text);
    set_text(dialog, text);
    click_ok(dialog);
    EXPECT_TRUE(toast_shown(overlay_, kInvalid));
    EXPECT_TRUE(dialog_open(kTitle));
    EXPECT_EQ(text_of(dialog), text);
    EXPECT_EQ(snapshots(left_), 0u) << "a refused descriptor changes nothing to undo";
  }
  EXPECT_EQ(file_bytes(file_), before);
  EXPECT_FALSE(tol_pane_undo(left_, false));
}

TEST_F(SecurityEditorTest, AFailedSaveKeepsTheDialogOpen) {
  open_tree();
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  tol_pane_get_hive(left_)->path = dir_ + "/gone/sec.hiv";
  set_text(dialog, header_only());
  click_ok(dialog);
  drain_main_loop();
  EXPECT_TRUE(dialog_open(kTitle));
  EXPECT_EQ(find_label(GTK_WIDGET(overlay_), "Key security saved (copy-on-write)"), nullptr);
  EXPECT_FALSE(tol_pane_get_hive(left_)->dirty) << "the image is as the file";
  EXPECT_EQ(disk().sk("A"), tree_.sk);
}

TEST_F(SecurityEditorTest, TheListSddlAndHexFollowWhicheverIsEdited) {
  open_tree();
  GtkWidget* dialog = open_editor("A");
  ASSERT_NE(dialog, nullptr);
  auto* views = TOL_SECURITY_VIEWS(find_first(dialog, TOL_TYPE_SECURITY_VIEWS));
  ASSERT_NE(views, nullptr);
  GtkWidget* sddl = tol_security_views_get_sddl_entry(views);
  // The builder's descriptor: three entries that allow, inherited by subkeys.
  EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(sddl))), "O:BAG:SYD:(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;WD)");
  using Row = std::array<std::string, 5>;
  ASSERT_EQ(tol_security_views_get_rows(views).size(), 3u);
  EXPECT_EQ(tol_security_views_get_rows(views)[2],
            (Row{"Everyone (S-1-1-0)", "Allow", "Read", "This key and subkeys", "No"}));

  // Valid SDDL rewrites the hex and the list.
  gtk_editable_set_text(GTK_EDITABLE(sddl), "O:BAG:SYD:PAI(A;CI;KA;;;SY)(D;OICIID;KW;;;BU)");
  EXPECT_EQ(tol_security_views_get_sddl_error(views), "");
  const auto bytes = tol_sddl_to_descriptor("O:BAG:SYD:PAI(A;CI;KA;;;SY)(D;OICIID;KW;;;BU)", nullptr);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(text_of(dialog), tol_value_hex_format(*bytes));
  ASSERT_EQ(tol_security_views_get_rows(views).size(), 2u);
  EXPECT_EQ(tol_security_views_get_rows(views)[1][1], "Deny");
  EXPECT_EQ(tol_security_views_get_rows(views)[1][3], "This key and subkeys");
  EXPECT_EQ(tol_security_views_get_rows(views)[1][4], "Yes");

  // Hex that decodes rewrites the SDDL.
  set_text(dialog, tol_value_hex_format(tol::test::default_security_descriptor()));
  EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(sddl))), "O:BAG:SYD:(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;WD)");

  // SDDL that does not parse: the error beside the field, OK keeps the dialog
  // and stores nothing.
  gtk_editable_set_text(GTK_EDITABLE(sddl), "D:(A;;KA;;;SY");
  EXPECT_THAT(tol_security_views_get_sddl_error(views), HasSubstr("SDDL position 13"));
  EXPECT_TRUE(tol_security_views_sddl_pending(views));
  click_ok(dialog);
  EXPECT_TRUE(dialog_open(kTitle));
  EXPECT_EQ(snapshots(left_), 0u);

  // Applied SDDL is one undoable change.
  gtk_editable_set_text(GTK_EDITABLE(sddl), "O:BAG:SYD:P(A;CI;KA;;;SY)");
  click_ok(dialog);
  EXPECT_FALSE(dialog_open(kTitle));
  EXPECT_EQ(snapshots(left_), 1u);
  const auto stored = tol_hive_key_security(*disk().hive, *tol_hive_find_path(*disk().hive, "A"));
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(tol_sddl_from_descriptor(*stored, nullptr).value_or(""), "O:BAG:SYD:P(A;CI;KA;;;SY)");
  ASSERT_TRUE(tol_pane_undo(left_, false));
  EXPECT_EQ(disk().sk("A"), tree_.sk);
}

TEST_F(SecurityEditorTest, PropertiesShowTheKeyRecordWithTheTimeInLocalAndUtc) {
  open_tree();
  select(left_, "A");
  g_autoptr(GError) error = nullptr;
  TolHive* hive = tol_pane_get_hive(left_);
  TolKeyProperties* window = tol_key_properties_new(nullptr, *hive, tol_pane_get_selected_key(left_), &error);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(tol_key_properties_get_text(window, "Path"), "\\A");
  EXPECT_EQ(tol_key_properties_get_text(window, "Subkeys"), "1");
  EXPECT_EQ(tol_key_properties_get_text(window, "Values"), "0");
  EXPECT_EQ(tol_key_properties_get_text(window, "Flags"), "compressed name (0x0020)");
  EXPECT_THAT(tol_key_properties_get_text(window, "Security record"), HasSubstr("shared by 4 keys"));
  const std::uint64_t time = tol_hive_key_last_write(*hive, tol_pane_get_selected_key(left_));
  EXPECT_EQ(tol_key_properties_get_text(window, "Last written"), tol_filetime_local_text(time));
  EXPECT_EQ(tol_key_properties_get_tooltip(window, "Last written"), tol_filetime_iso8601(time, true));
  gtk_window_destroy(GTK_WINDOW(window));

  // The root carries the flags Windows gives a hive's root; Alt+Enter's action.
  select(left_, "");
  ASSERT_TRUE(gtk_widget_activate_action(GTK_WIDGET(left_), "pane.properties", nullptr));
  GtkWidget* shown = nullptr;
  ASSERT_TRUE(iterate_until([&] {
    for (GtkWindow* w : toplevels())
      if (TOL_IS_KEY_PROPERTIES(w)) shown = GTK_WIDGET(w);
    return shown != nullptr;
  }));
  EXPECT_THAT(tol_key_properties_get_text(TOL_KEY_PROPERTIES(shown), "Flags"), HasSubstr("hive entry"));
  EXPECT_EQ(std::string(tol_accel_for_menu("pane.properties")), "<Alt>Return");
}

}  // namespace
}  // namespace tol_test
