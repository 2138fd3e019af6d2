// Opening hives: the case-blind directory lookup, the scan of a Windows
// installation directory, the tabs it makes, and the two file dialogs driven
// through the real chooser windows.
#include "ui/open_dialogs.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ui/window.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace tol_test {
namespace {

void touch(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << "x";
}

// The names in a directory in the order the directory yields them.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  while (const char* name = d != nullptr ? g_dir_read_name(d) : nullptr)
    names.emplace_back(name);
  if (d != nullptr)
    g_dir_close(d);
  return names;
}

std::string describe(const TolScanEntry& e) {
  return e.label + "|" + (e.path ? *e.path : "-") + "|" + (e.is_user ? "user" : "system");
}

std::vector<std::string> describe(const std::vector<TolScanEntry>& entries) {
  std::vector<std::string> out;
  for (const TolScanEntry& e : entries)
    out.push_back(describe(e));
  return out;
}

class LookupTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(LookupTest, MatchesAsciiLettersInEitherCaseAndGivesTheEntrysOwnName) {
  fs::create_directories(dir_.file("Windows/SysTem32"));
  touch(dir_.file("Windows/ntuser.DAT"));
  std::string windows = dir_.file("Windows");
  EXPECT_EQ(tol_find_child_nocase(windows, "System32"), windows + "/SysTem32");
  EXPECT_EQ(tol_find_child_nocase(windows, "SYSTEM32"), windows + "/SysTem32");
  // Files are found as well as directories.
  EXPECT_EQ(tol_find_child_nocase(windows, "NTUSER.DAT"), windows + "/ntuser.DAT");
  // The whole name must match.
  EXPECT_EQ(tol_find_child_nocase(windows, "System3"), std::nullopt);
  EXPECT_EQ(tol_find_child_nocase(windows, "System32x"), std::nullopt);
  EXPECT_EQ(tol_find_child_nocase(windows, ""), std::nullopt);
  EXPECT_EQ(tol_find_child_nocase(dir_.file("nowhere"), "System32"), std::nullopt);
  EXPECT_EQ(tol_find_child_nocase(dir_.file("Windows/ntuser.DAT"), "x"), std::nullopt);
}

TEST_F(LookupTest, OnlyAsciiLettersAreFolded) {
  fs::create_directories(dir_.file("Users/Ärger"));
  fs::create_directories(dir_.file("Users/a_b"));
  std::string users = dir_.file("Users");
  EXPECT_EQ(tol_find_child_nocase(users, "äRGER"), std::nullopt);
  EXPECT_EQ(tol_find_child_nocase(users, "ÄRGER"), users + "/Ärger");
  EXPECT_EQ(tol_find_child_nocase(users, "A_B"), users + "/a_b");
  EXPECT_EQ(tol_find_child_nocase(users, "A-B"), std::nullopt);
}

TEST_F(LookupTest, TheFirstMatchInDirectoryOrderWins) {
  for (const char* name : {"config", "CONFIG", "Config"})
    fs::create_directories(dir_.file(std::string("d/") + name));
  std::string first = listing(dir_.file("d")).front();
  EXPECT_EQ(tol_find_child_nocase(dir_.file("d"), "cOnFiG"), dir_.file("d/" + first));
}

// ---- The scan -----------------------------------------------------------------------

TEST_F(LookupTest, ScanFindsSystemHivesAndUsersWhateverTheirCase) {
  touch(dir_.file("vol/windows/SYSTEM32/Config/system"));
  touch(dir_.file("vol/windows/SYSTEM32/Config/Software"));
  touch(dir_.file("vol/windows/SYSTEM32/Config/SAM"));
  touch(dir_.file("vol/windows/SYSTEM32/Config/security"));
  touch(dir_.file("vol/windows/SYSTEM32/Config/DEFAULT"));
  touch(dir_.file("vol/users/alice/NTUSER.DAT"));
  touch(dir_.file("vol/users/bob/ntuser.dat"));
  fs::create_directories(dir_.file("vol/users/carol"));
  touch(dir_.file("vol/users/desktop.ini"));
  fs::create_directory_symlink(dir_.file("vol/users/alice"), dir_.file("vol/users/linked"));
  fs::create_directory_symlink(dir_.file("vol/users/gone"), dir_.file("vol/users/dangling"));

  std::string config = dir_.file("vol/windows/SYSTEM32/Config/");
  std::vector<std::string> expected = {
      "SYSTEM|" + config + "system|system",     "SOFTWARE|" + config + "Software|system",
      "SAM|" + config + "SAM|system",           "SECURITY|" + config + "security|system",
      "DEFAULT|" + config + "DEFAULT|system",
  };
  std::string users = dir_.file("vol/users/");
  for (const std::string& name : listing(dir_.file("vol/users"))) {
    if (name == "alice" || name == "linked")
      expected.push_back(name + "|" + users + name + "/NTUSER.DAT|user");
    else if (name == "bob")
      expected.push_back("bob|" + users + "bob/ntuser.dat|user");
    else if (name == "carol")
      expected.push_back("carol|-|user");
  }
  EXPECT_EQ(describe(tol_scan_windows_dir(dir_.file("vol/windows"))), expected);
  // A trailing separator names the same directory.
  EXPECT_EQ(describe(tol_scan_windows_dir(dir_.file("vol/windows/"))), expected);
}

TEST_F(LookupTest, ScanOfAnythingElseStillNamesTheFiveSystemHives) {
  fs::create_directories(dir_.file("plain/System32"));  // no config inside
  std::vector<std::string> expected = {"SYSTEM|-|system", "SOFTWARE|-|system", "SAM|-|system",
                                       "SECURITY|-|system", "DEFAULT|-|system"};
  EXPECT_EQ(describe(tol_scan_windows_dir(dir_.file("plain"))), expected);
  EXPECT_EQ(describe(tol_scan_windows_dir(dir_.file("does/not/exist"))), expected);
  // "Users" is looked for beside the chosen directory, not inside it.
  fs::create_directories(dir_.file("plain/Users/alice"));
  EXPECT_EQ(describe(tol_scan_windows_dir(dir_.file("plain"))), expected);
}

// ---- Tabs from a scan ---------------------------------------------------------------

class ScanTabsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
    pane_ = tol_window_get_left_pane(window_);
  }
  void TearDown() override { destroy_all_windows(); }

  std::vector<std::string> tab_labels() {
    std::vector<std::string> out;
    for (int i = 0; i < tol_pane_get_tab_count(pane_); ++i)
      out.emplace_back(tol_pane_get_tab_label(pane_, i));
    return out;
  }

  TempDir dir_;
  TolWindow* window_ = nullptr;
  TolPane* pane_ = nullptr;
};

TEST_F(ScanTabsTest, TheFirstSystemHiveFoundIsShown) {
  std::string software = write_hive(dir_.file("vol/Windows/System32/config/SOFTWARE"));
  write_hive(dir_.file("vol/Windows/System32/config/SAM"));
  write_hive(dir_.file("vol/Users/alice/NTUSER.DAT"));
  tol_pane_apply_windows_scan(pane_, tol_scan_windows_dir(dir_.file("vol/Windows")));
  EXPECT_EQ(tab_labels(), (std::vector<std::string>{"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT",
                                                    "alice"}));
  EXPECT_EQ(tol_pane_get_active_tab(pane_), 1);
  ASSERT_NE(tol_pane_get_hive(pane_), nullptr);
  EXPECT_EQ(tol_pane_get_hive(pane_)->path, software);
  EXPECT_EQ(tol_pane_get_tab_path(pane_, 0), nullptr);
  EXPECT_TRUE(tol_pane_get_tab_is_user(pane_, 5));
  EXPECT_FALSE(tol_pane_get_tab_is_user(pane_, 1));
}

TEST_F(ScanTabsTest, ADirectoryWithoutHivesReplacesTheOpenTabsByMissingOnes) {
  open_path(pane_, write_hive(dir_.file("a/SOFTWARE")));
  open_path(pane_, write_hive(dir_.file("b/SYSTEM")));
  tol_pane_switch_tab(pane_, 0);
  ASSERT_EQ(tol_pane_get_tab_count(pane_), 2);

  fs::create_directories(dir_.file("vol/Users/bob"));  // a user, but no hive at all
  fs::create_directories(dir_.file("vol/Windows"));
  tol_pane_apply_windows_scan(pane_, tol_scan_windows_dir(dir_.file("vol/Windows")));
  EXPECT_EQ(tab_labels(), (std::vector<std::string>{"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT", "bob"}));
  EXPECT_EQ(tol_pane_get_active_tab(pane_), 0);
  EXPECT_EQ(tol_pane_get_hive(pane_), nullptr);
  EXPECT_EQ(status_title(pane_), "File unavailable");
  EXPECT_STREQ(adw_status_page_get_description(ADW_STATUS_PAGE(tol_pane_get_status_page(pane_))),
               "File SYSTEM was not found in this location");
}

TEST_F(ScanTabsTest, UsersBeyondTheTabLimitAreDropped) {
  write_hive(dir_.file("vol/Windows/System32/config/SYSTEM"));
  for (int i = 0; i < 12; ++i)
    fs::create_directories(dir_.file("vol/Users/user" + std::to_string(i)));
  tol_pane_apply_windows_scan(pane_, tol_scan_windows_dir(dir_.file("vol/Windows")));
  std::vector<std::string> expected = {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"};
  std::vector<std::string> users = listing(dir_.file("vol/Users"));
  expected.insert(expected.end(), users.begin(), users.begin() + 11);
  EXPECT_EQ(tab_labels(), expected);
  EXPECT_EQ(tol_pane_get_active_tab(pane_), 0);
  EXPECT_NE(tol_pane_get_hive(pane_), nullptr);
}

TEST_F(ScanTabsTest, EverySystemHiveAndEveryUserHiveIsOpenedWithItsLogs) {
  // Dirty hives whose one log entry adds the key Logged, with the log names
  // in the letter cases real disks have.
  tol::test::HiveBuilder before;
  before.tree(tol::test::key("ROOT"));
  before.set_sequence(6, 5);
  tol::test::HiveBuilder after;
  after.tree(tol::test::key("ROOT", {tol::test::key("Logged")}));
  tol::test::LogEntrySpec entry;
  entry.sequence = 5;
  entry.bins_size = after.bins_size();
  entry.pages = tol::test::changed_pages(before.image(), after.image());
  const tol::test::Bytes log = tol::test::new_format_log(before.image(), 5, {entry});
  auto dirty = [&](const std::string& hive, const char* log_suffix) {
    fs::create_directories(fs::path(hive).parent_path());
    before.write_file(hive);
    tol::test::HiveBuilder::write_bytes(hive + log_suffix, log);
  };
  const std::string config = dir_.file("vol/Windows/System32/config/");
  dirty(config + "SYSTEM", ".LOG1");
  dirty(config + "SOFTWARE", ".log2");
  dirty(config + "SAM", ".LOG1");
  dirty(config + "SECURITY", ".Log1");
  dirty(config + "DEFAULT", ".LOG");
  dirty(dir_.file("vol/Users/alice/NTUSER.DAT"), ".LOG1");
  dirty(dir_.file("vol/Users/bob/ntuser.dat"), ".log2");
  tol_pane_apply_windows_scan(pane_, tol_scan_windows_dir(dir_.file("vol/Windows")));
  ASSERT_EQ(tol_pane_get_tab_count(pane_), 7);
  for (int tab = 0; tab < 7; ++tab) {
    tol_pane_switch_tab(pane_, tab);
    const TolHive* hive = tol_pane_get_hive(pane_);
    ASSERT_NE(hive, nullptr) << tab;
    EXPECT_TRUE(hive->logs.complete) << tol_pane_get_tab_label(pane_, tab) << ": " << hive->logs.problem;
    EXPECT_TRUE(tol_hive_find_path(*hive, "Logged")) << tol_pane_get_tab_label(pane_, tab);
  }
}

// ---- The dialogs ---------------------------------------------------------------------

class OpenDialogTest : public ScanTabsTest {
 protected:
  void SetUp() override {
    ScanTabsTest::SetUp();
    if (IsSkipped())
      return;
    show(GTK_WIDGET(window_));
  }

  GtkWidget* header_button(const char* tooltip_text) {
    for (GtkWidget* button : find_all(GTK_WIDGET(window_), GTK_TYPE_BUTTON)) {
      const char* tip = gtk_widget_get_tooltip_text(button);
      if (tip != nullptr && g_strcmp0(tip, tooltip_text) == 0)
        return button;
    }
    return nullptr;
  }

  // The file chooser on screen, or null.
  GtkWidget* shown_chooser() {
    for (GtkWindow* w : toplevels())
      if (GTK_IS_FILE_CHOOSER(w) && gtk_widget_get_visible(GTK_WIDGET(w)))
        return GTK_WIDGET(w);
    return nullptr;
  }

  GtkWidget* wait_for_chooser() {
    iterate_until([&] { return shown_chooser() != nullptr; });
    return shown_chooser();
  }

  // Clicks the header-bar button and waits for the chooser it opens.
  GtkWidget* open_chooser(const char* tooltip_text) {
    GtkWidget* button = header_button(tooltip_text);
    EXPECT_NE(button, nullptr) << tooltip_text;
    if (button == nullptr)
      return nullptr;
    g_signal_emit_by_name(button, "clicked");
    return wait_for_chooser();
  }

  // Picks `path` in the chooser and accepts it, the way a click on the accept
  // button does.
  void choose(GtkWidget* chooser, const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    if (gtk_file_chooser_get_action(fc) == GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER) {
      gtk_file_chooser_set_current_folder(fc, file, nullptr);
    } else {
      // Typed into the location entry, as after Ctrl+L.
      GtkWidget* widget = find_first(chooser, GTK_TYPE_FILE_CHOOSER_WIDGET);
      ASSERT_NE(widget, nullptr);
      g_signal_emit_by_name(widget, "location-popup", path.c_str());
    }
    ASSERT_TRUE(iterate_until([&] {
      GFile* chosen = gtk_file_chooser_get_file(fc);
      bool same = chosen != nullptr && g_file_equal(chosen, file);
      g_clear_object(&chosen);
      return same;
    })) << "the chooser did not take " << path;
    g_object_unref(file);
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    // The chooser checks a typed name before it answers.
    ASSERT_TRUE(iterate_until([&] { return shown_chooser() == nullptr; }));
    drain_main_loop();
  }

  void cancel(GtkWidget* chooser) {
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(iterate_until([&] { return shown_chooser() == nullptr; }));
    drain_main_loop();
  }
};

TEST_F(OpenDialogTest, TheHiveFileDialogOpensTheChosenFileInANewTab) {
  std::string hive = write_hive(dir_.file("hives/SOFTWARE"));
  GtkWidget* chooser = open_chooser("Open a hive file in the right pane");
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Open a hive file");
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(chooser)), GTK_WINDOW(window_));
  EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_OPEN);
  EXPECT_FALSE(gtk_file_chooser_get_select_multiple(GTK_FILE_CHOOSER(chooser)));

  GListModel* filters = gtk_file_chooser_get_filters(GTK_FILE_CHOOSER(chooser));
  ASSERT_EQ(g_list_model_get_n_items(filters), 2u);
  std::vector<std::string> shown;
  for (guint i = 0; i < 2; ++i) {
    auto* filter = GTK_FILE_FILTER(g_list_model_get_item(filters, i));
    GVariant* v = gtk_file_filter_to_gvariant(filter);
    char* text = g_variant_print(v, FALSE);
    shown.emplace_back(text);
    g_free(text);
    g_variant_unref(v);
    g_object_unref(filter);
  }
  g_object_unref(filters);
  EXPECT_EQ(shown[0],
            "('Hive files (SYSTEM, SOFTWARE, SAM, NTUSER.DAT, *.hiv)', [(0, '*.hiv'), (0, '*.HIV'), "
            "(0, 'NTUSER.DAT'), (0, 'SYSTEM'), (0, 'SOFTWARE'), (0, 'SAM'), (0, 'SECURITY'), "
            "(0, 'DEFAULT')])");
  EXPECT_EQ(shown[1], "('All files', [(0, '*')])");

  choose(chooser, hive);
  TolPane* right = tol_window_get_right_pane(window_);
  ASSERT_EQ(tol_pane_get_tab_count(right), 1);
  EXPECT_STREQ(tol_pane_get_tab_path(right, 0), hive.c_str());
  EXPECT_EQ(tol_pane_get_tab_count(pane_), 0);
}

TEST_F(OpenDialogTest, TheWindowsDirectoryDialogScansTheChosenFolder) {
  write_hive(dir_.file("vol/WINDOWS/system32/CONFIG/SYSTEM"));
  GtkWidget* chooser = open_chooser("Open a Windows installation directory in the left pane");
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)),
               "Select the Windows directory (the one containing System32)");
  EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
  choose(chooser, dir_.file("vol/WINDOWS"));
  EXPECT_EQ(tab_labels(), (std::vector<std::string>{"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"}));
  EXPECT_NE(tol_pane_get_hive(pane_), nullptr);
}

TEST_F(OpenDialogTest, CancellingLeavesThePaneAsItWasAndLogsNothing) {
  std::string hive = write_hive(dir_.file("SYSTEM"));
  open_path(pane_, hive);
  WarningCapture log;
  for (const char* tip : {"Open a hive file in the left pane",
                          "Open a Windows installation directory in the left pane"}) {
    GtkWidget* chooser = open_chooser(tip);
    ASSERT_NE(chooser, nullptr) << tip;
    cancel(chooser);
    EXPECT_EQ(tab_labels(), std::vector<std::string>{"SYSTEM"}) << tip;
    EXPECT_EQ(tol_pane_get_hive(pane_)->path, hive);
  }
  EXPECT_TRUE(log.messages().empty()) << log.messages().front();
}

// The pane's own "New tab" button uses the same dialog.
TEST_F(OpenDialogTest, ThePanesNewTabButtonOpensTheHiveFileDialog) {
  std::string hive = write_hive(dir_.file("x/NTUSER.DAT"));
  tol_pane_open_file_dialog(pane_);
  GtkWidget* chooser = wait_for_chooser();
  ASSERT_NE(chooser, nullptr);
  choose(chooser, hive);
  EXPECT_EQ(tab_labels(), std::vector<std::string>{"NTUSER.DAT"});
}

// The answer may come after the window and its panes are gone.
TEST_F(OpenDialogTest, AnAnswerAfterThePaneIsGoneIsIgnored) {
  std::string hive = write_hive(dir_.file("SAM"));
  GtkWidget* chooser = open_chooser("Open a hive file in the left pane");
  ASSERT_NE(chooser, nullptr);
  g_object_ref(chooser);
  gtk_window_set_transient_for(GTK_WINDOW(chooser), nullptr);
  TolPane* pane = pane_;
  g_object_add_weak_pointer(G_OBJECT(pane), reinterpret_cast<gpointer*>(&pane));
  gtk_window_destroy(GTK_WINDOW(window_));
  ASSERT_TRUE(iterate_until([&] { return pane == nullptr; }));
  if (gtk_widget_get_visible(chooser))
    choose(chooser, hive);
  g_object_unref(chooser);
  EXPECT_TRUE(shown_chooser() == nullptr);
}

}  // namespace
}  // namespace tol_test
