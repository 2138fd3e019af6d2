// The session file: where it lives, what a closing window writes into it and
// how a new window's panes are rebuilt from it.
#include "ui/session.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ui/window.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace tol_test {
namespace {

// Every test program that builds windows reads the session file, and file
// choosers note chosen files in the user's data directory; this one points
// both directories at a private place before GLib first looks them up, so
// that no test reads or writes the real ones.
class PrivateUserDirs : public ::testing::Environment {
 public:
  void SetUp() override {
    char* dir = g_dir_make_tmp("tolvane-home-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    dir_ = dir;
    g_free(dir);
    g_setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), TRUE);
    g_setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), TRUE);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  std::string dir_;
};

[[maybe_unused]] ::testing::Environment* const kUserDirs =
    ::testing::AddGlobalTestEnvironment(new PrivateUserDirs);

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    ASSERT_FALSE(dir_.path().empty());
    session_ = tol_session_path();
    remove_session();
  }
  void TearDown() override {
    destroy_all_windows();
    remove_session();
  }

  void remove_session() {
    std::error_code ec;
    fs::remove_all(session_, ec);
  }

  void write_session(const std::string& text) { std::ofstream(session_) << text; }

  GKeyFile* load(const std::string& text) {
    GKeyFile* file = g_key_file_new();
    EXPECT_TRUE(g_key_file_load_from_data(file, text.c_str(), text.size(), G_KEY_FILE_NONE, nullptr));
    return file;
  }

  // A pane in a window of its own, as the restore sees it.
  TolPane* new_pane() {
    GtkWidget* window = gtk_window_new();
    TolPane* pane = tol_pane_new("left pane");
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(pane));
    return pane;
  }

  TolPane* restore(const std::string& text, const char* group = "PaneLeft") {
    TolPane* pane = new_pane();
    GKeyFile* file = load(text);
    tol_session_restore_pane(file, group, pane);
    g_key_file_unref(file);
    return pane;
  }

  std::vector<std::string> labels(TolPane* pane) {
    std::vector<std::string> out;
    for (int i = 0; i < tol_pane_get_tab_count(pane); ++i)
      out.emplace_back(tol_pane_get_tab_label(pane, i));
    return out;
  }

  // The saved file as group -> key -> raw value.
  std::map<std::string, std::map<std::string, std::string>> saved() {
    std::map<std::string, std::map<std::string, std::string>> out;
    GKeyFile* file = g_key_file_new();
    EXPECT_TRUE(g_key_file_load_from_file(file, session_.c_str(), G_KEY_FILE_NONE, nullptr));
    gchar** groups = g_key_file_get_groups(file, nullptr);
    for (gchar** g = groups; *g != nullptr; ++g) {
      gchar** keys = g_key_file_get_keys(file, *g, nullptr, nullptr);
      for (gchar** k = keys; *k != nullptr; ++k) {
        gchar* value = g_key_file_get_string(file, *g, *k, nullptr);
        out[*g][*k] = value != nullptr ? value : "<unreadable>";
        g_free(value);
      }
      g_strfreev(keys);
    }
    g_strfreev(groups);
    g_key_file_unref(file);
    return out;
  }

  TempDir dir_;
  std::string session_;
};

TEST_F(SessionTest, LivesInTheTolvaneDirectoryOfTheConfigDirectory) {
  std::string config = g_get_user_config_dir();
  fs::remove_all(config + "/tolvane");
  EXPECT_EQ(tol_session_path(), config + "/tolvane/session.ini");
  struct stat st {};
  ASSERT_EQ(stat((config + "/tolvane").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // An existing directory is left as it is.
  chmod((config + "/tolvane").c_str(), 0750);
  tol_session_path();
  ASSERT_EQ(stat((config + "/tolvane").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
}

// ---- Restoring one pane ---------------------------------------------------------

TEST_F(SessionTest, TabsBeyondTheLimitAreDropped) {
  std::ostringstream text;
  text << "[PaneLeft]\nTabCount=20\nActiveTab=0\n";
  for (int i = 0; i < 20; ++i)
    text << "Tab" << i << "Label=T" << i << "\n";
  TolPane* pane = restore(text.str());
  ASSERT_EQ(tol_pane_get_tab_count(pane), 16);
  EXPECT_EQ(labels(pane).front(), "T0");
  EXPECT_EQ(labels(pane).back(), "T15");
}

TEST_F(SessionTest, ActiveTabIsClampedToTheRestoredTabs) {
  const std::string tabs = "TabCount=3\nTab0Label=a\nTab1Label=b\nTab2Label=c\n";
  struct Case {
    std::string active_line;
    int expected;
  } cases[] = {{"ActiveTab=9\n", 2},  {"ActiveTab=-1\n", 0}, {"ActiveTab=1\n", 1},
               {"", 0},               {"ActiveTab=two\n", 0}};
  for (const Case& c : cases) {
    TolPane* pane = restore("[PaneLeft]\n" + tabs + c.active_line);
    EXPECT_EQ(tol_pane_get_active_tab(pane), c.expected) << c.active_line;
  }
}

TEST_F(SessionTest, NoTabCountMeansNoTabs) {
  for (const char* count : {"TabCount=0\n", "TabCount=-2\n", "TabCount=many\n", ""}) {
    TolPane* pane = restore(std::string("[PaneLeft]\n") + count + "ActiveTab=1\nTab0Label=a\nTab1Label=b\n");
    EXPECT_EQ(tol_pane_get_tab_count(pane), 0) << count;
    EXPECT_EQ(tol_pane_get_active_tab(pane), -1) << count;
    EXPECT_EQ(status_title(pane), "Empty pane") << count;
  }
}

TEST_F(SessionTest, MissingEntriesTakeTheirDefaults) {
  TolPane* pane = restore(
      "[PaneLeft]\nTabCount=3\nActiveTab=2\n"
      "Tab0Path=/nowhere/SYSTEM\n"
      "Tab1Label=SAM\nTab1Path=\nTab1IsUser=true\nTab1LastKey=SAM\\\\Domains\n"
      "Tab2Label=bob\nTab2IsUser=nonsense\n");
  ASSERT_EQ(tol_pane_get_tab_count(pane), 3);
  EXPECT_STREQ(tol_pane_get_tab_label(pane, 0), "?");
  EXPECT_STREQ(tol_pane_get_tab_path(pane, 0), "/nowhere/SYSTEM");
  EXPECT_FALSE(tol_pane_get_tab_is_user(pane, 0));
  EXPECT_STREQ(tol_pane_get_tab_last_key(pane, 0), "");
  // An empty path is a tab without a file.
  EXPECT_EQ(tol_pane_get_tab_path(pane, 1), nullptr);
  EXPECT_TRUE(tol_pane_get_tab_is_user(pane, 1));
  EXPECT_STREQ(tol_pane_get_tab_last_key(pane, 1), "SAM\\Domains");
  EXPECT_FALSE(tol_pane_get_tab_is_user(pane, 2));
  EXPECT_EQ(tol_pane_get_tab_path(pane, 2), nullptr);
  EXPECT_EQ(status_title(pane), "File unavailable");
}

TEST_F(SessionTest, TheActiveTabIsOpenedAtItsLastKey) {
  std::string a = write_hive(dir_.file("a/SOFTWARE"));
  std::string b = write_hive(dir_.file("b/SYSTEM"));
  TolPane* pane = restore("[PaneLeft]\nTabCount=2\nActiveTab=1\n"
                          "Tab0Label=SOFTWARE\nTab0Path=" + a + "\nTab0LastKey=Software\\\\Vendor\n"
                          "Tab1Label=SYSTEM\nTab1Path=" + b + "\nTab1LastKey=System\\\\Select\n");
  ASSERT_NE(tol_pane_get_hive(pane), nullptr);
  EXPECT_EQ(tol_pane_get_hive(pane)->path, b);
  EXPECT_EQ(selected_path(pane), "System\\Select");
  EXPECT_STREQ(tol_pane_get_tab_last_key(pane, 0), "Software\\Vendor");
}

TEST_F(SessionTest, AVanishedFileComesBackWithItsPath) {
  std::string gone = dir_.file("gone/NTUSER.DAT");
  TolPane* pane = restore("[PaneLeft]\nTabCount=1\nActiveTab=0\nTab0Label=NTUSER.DAT\nTab0Path=" + gone +
                          "\n");
  ASSERT_EQ(tol_pane_get_tab_count(pane), 1);
  EXPECT_STREQ(tol_pane_get_tab_path(pane, 0), gone.c_str());
  EXPECT_EQ(status_title(pane), "Failed to open the file");
}

// ---- Whole windows ------------------------------------------------------------------

TEST_F(SessionTest, ANewWindowRestoresOnlyTheGroupsTheFileHas) {
  std::string hive = write_hive(dir_.file("SOFTWARE"));
  write_session("[PaneRight]\nTabCount=1\nActiveTab=0\nTab0Label=SOFTWARE\nTab0Path=" + hive + "\n");
  TolWindow* window = tol_window_new(nullptr);
  EXPECT_EQ(tol_pane_get_tab_count(tol_window_get_left_pane(window)), 0);
  EXPECT_EQ(status_title(tol_window_get_left_pane(window)), "Empty pane");
  TolPane* right = tol_window_get_right_pane(window);
  ASSERT_EQ(tol_pane_get_tab_count(right), 1);
  EXPECT_EQ(visible_page(right), "loaded");
}

TEST_F(SessionTest, AnUnreadableFileRestoresNothingAndSaysNothing) {
  for (const std::string& text : {std::string("[PaneLeft\nTabCount=1\nTab0Label=x\n"),
                                 std::string("\xff\xfe[PaneLeft]\nTabCount=1\n", 24)}) {
    write_session(text);
    WarningCapture log;
    TolWindow* window = tol_window_new(nullptr);
    EXPECT_EQ(tol_pane_get_tab_count(tol_window_get_left_pane(window)), 0);
    EXPECT_TRUE(log.messages().empty()) << log.messages().front();
    gtk_window_destroy(GTK_WINDOW(window));
  }
  // A directory where the file should be.
  remove_session();
  fs::create_directory(session_);
  WarningCapture log;
  TolWindow* window = tol_window_new(nullptr);
  EXPECT_EQ(tol_pane_get_tab_count(tol_window_get_left_pane(window)), 0);
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(SessionTest, ClosingTheWindowWritesBothPanes) {
  std::string a = write_hive(dir_.file("a/SOFTWARE"));
  std::string b = write_hive(dir_.file("b/NTUSER.DAT"));
  TolWindow* window = tol_window_new(nullptr);
  TolPane* left = tol_window_get_left_pane(window);
  open_path(left, a);
  open_path(left, b);
  ASSERT_EQ(tol_pane_get_tab_count(left), 2);
  show(GTK_WIDGET(window));

  GtkWindow* as_window = GTK_WINDOW(window);
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  gtk_window_close(as_window);
  ASSERT_TRUE(iterate_until([&] { return window == nullptr; })) << "the window did not close";

  auto file = saved();
  EXPECT_EQ(file["PaneLeft"]["TabCount"], "2");
  EXPECT_EQ(file["PaneLeft"]["ActiveTab"], "1");
  EXPECT_EQ(file["PaneLeft"]["Tab0Label"], "SOFTWARE");
  EXPECT_EQ(file["PaneLeft"]["Tab0Path"], a);
  EXPECT_EQ(file["PaneLeft"]["Tab0IsUser"], "false");
  EXPECT_EQ(file["PaneLeft"]["Tab0LastKey"], "");
  EXPECT_EQ(file["PaneLeft"]["Tab1Label"], "NTUSER.DAT");
  EXPECT_EQ(file["PaneLeft"]["Tab1Path"], b);
  EXPECT_EQ(file["PaneRight"], (std::map<std::string, std::string>{{"TabCount", "0"}, {"ActiveTab", "-1"}}));
}

// The active tab is saved at the key the user is looking at, not at the key
// it had when it was last left.
TEST_F(SessionTest, TheActiveTabIsSavedAtItsCurrentSelection) {
  std::string a = write_hive(dir_.file("a/SOFTWARE"));
  std::string b = write_hive(dir_.file("b/SYSTEM"));
  TolWindow* window = tol_window_new(nullptr);
  TolPane* left = tol_window_get_left_pane(window);
  open_path(left, a);
  tol_pane_select_path(left, "Software\\Vendor\\App");
  open_path(left, b);  // leaves tab 0 at Software\Vendor\App
  tol_pane_select_path(left, "System\\Setup");
  tol_pane_switch_tab(left, 0);  // leaves tab 1 at System\Setup
  tol_pane_select_path(left, "Software\\Classes");
  ASSERT_EQ(selected_path(left), "Software\\Classes");

  ASSERT_TRUE(tol_session_save_panes(left, tol_window_get_right_pane(window)));
  auto file = saved();
  EXPECT_EQ(file["PaneLeft"]["ActiveTab"], "0");
  EXPECT_EQ(file["PaneLeft"]["Tab0LastKey"], "Software\\Classes");
  EXPECT_EQ(file["PaneLeft"]["Tab1LastKey"], "System\\Setup");

  // The root selected counts as a selection too.
  tol_pane_select_path(left, "");
  ASSERT_TRUE(tol_session_save_panes(left, tol_window_get_right_pane(window)));
  EXPECT_EQ(saved()["PaneLeft"]["Tab0LastKey"], "");
}

// A tab whose file failed to load shows an error page; whatever hive the pane
// still holds behind it is not that tab's.
TEST_F(SessionTest, ATabThatFailedToLoadKeepsItsRecordedKey) {
  std::string a = write_hive(dir_.file("a/SOFTWARE"));
  TolWindow* window = tol_window_new(nullptr);
  TolPane* right = tol_window_get_right_pane(window);
  open_path(right, a);
  tol_pane_select_path(right, "Software\\Vendor");
  int broken = tol_pane_add_tab(right, "SYSTEM", (dir_.file("missing/SYSTEM")).c_str(), false);
  tol_pane_set_tab_last_key(right, broken, "ControlSet001");
  tol_pane_switch_tab(right, broken);
  ASSERT_EQ(status_title(right), "Failed to open the file");

  ASSERT_TRUE(tol_session_save_panes(tol_window_get_left_pane(window), right));
  auto file = saved();
  EXPECT_EQ(file["PaneRight"]["Tab0LastKey"], "Software\\Vendor");
  EXPECT_EQ(file["PaneRight"]["Tab1LastKey"], "ControlSet001");
}

TEST_F(SessionTest, AFailedSaveIsLoggedAndTheWindowStillCloses) {
  fs::create_directory(session_);  // the file cannot replace a directory
  TolWindow* window = tol_window_new(nullptr);
  show(GTK_WIDGET(window));
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
  WarningCapture log;
  gtk_window_close(GTK_WINDOW(window));
  ASSERT_TRUE(iterate_until([&] { return window == nullptr; }));
  ASSERT_EQ(log.messages().size(), 1u);
  EXPECT_EQ(log.messages()[0].rfind("zapis sesji nie powiodl sie: ", 0), 0u) << log.messages()[0];
}

TEST_F(SessionTest, WhatOneWindowSavesTheNextRestores) {
  std::string hive = write_hive(dir_.file("odd name #1; x=y/Zażółć.hiv"));
  TolWindow* first = tol_window_new(nullptr);
  TolPane* left = tol_window_get_left_pane(first);
  TolPane* right = tol_window_get_right_pane(first);
  tol_pane_add_tab(left, "SYSTEM", nullptr, false);
  tol_pane_add_tab(left, "jan kowalski", (dir_.file("Users/jan kowalski/NTUSER.DAT")).c_str(), true);
  int odd = tol_pane_add_tab(left, "label = with\\backslash\nand line", hive.c_str(), false);
  tol_pane_set_tab_last_key(left, odd, "Software\\Vendor");
  tol_pane_switch_tab(left, odd);
  open_path(right, hive);
  ASSERT_TRUE(tol_session_save_panes(left, right));
  gtk_window_destroy(GTK_WINDOW(first));

  TolWindow* second = tol_window_new(nullptr);
  TolPane* left2 = tol_window_get_left_pane(second);
  ASSERT_EQ(tol_pane_get_tab_count(left2), 3);
  EXPECT_EQ(tol_pane_get_tab_path(left2, 0), nullptr);
  EXPECT_TRUE(tol_pane_get_tab_is_user(left2, 1));
  EXPECT_STREQ(tol_pane_get_tab_label(left2, 1), "jan kowalski");
  EXPECT_STREQ(tol_pane_get_tab_label(left2, 2), "label = with\\backslash\nand line");
  EXPECT_STREQ(tol_pane_get_tab_path(left2, 2), hive.c_str());
  EXPECT_EQ(tol_pane_get_active_tab(left2), 2);
  EXPECT_EQ(selected_path(left2), "Software\\Vendor");
  TolPane* right2 = tol_window_get_right_pane(second);
  ASSERT_EQ(tol_pane_get_tab_count(right2), 1);
  EXPECT_STREQ(tol_pane_get_tab_label(right2, 0), "Zażółć.hiv");
}

TEST_F(SessionTest, FilesFromTheCommandLineComeAfterTheRestoredTabs) {
  std::string a = write_hive(dir_.file("SOFTWARE"));
  std::string b = write_hive(dir_.file("SYSTEM"));
  write_session("[PaneLeft]\nTabCount=1\nActiveTab=0\nTab0Label=SOFTWARE\nTab0Path=" + a + "\n");
  TolWindow* window = tol_window_new(nullptr);
  GFile* file = g_file_new_for_path(b.c_str());
  tol_window_open_files(window, &file, 1);
  g_object_unref(file);
  TolPane* left = tol_window_get_left_pane(window);
  EXPECT_EQ(labels(left), (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
  EXPECT_EQ(tol_pane_get_active_tab(left), 1);
  EXPECT_EQ(tol_pane_get_hive(left)->path, b);
}

}  // namespace
}  // namespace tol_test
