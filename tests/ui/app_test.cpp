// The application object driven in-process: start-up, activation, opening
// files, the style sheet and the choice of the catalogue directory.
#include "app/application.h"
#include "ui/window.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>
#include <libintl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- Catalogue directory ----------------------------------------------------

class CatalogueDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char* dir = g_dir_make_tmp("tolvane-locale-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    root_ = dir;
    g_free(dir);
    fs::create_directories(root_ / "opt" / "x" / "bin");
    exe_ = (root_ / "opt" / "x" / "bin" / "prog").string();
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path po() const { return root_ / "opt" / "x" / "po"; }
  void add_catalogue() {
    fs::create_directories(po() / "en" / "LC_MESSAGES");
    std::ofstream(po() / "en" / "LC_MESSAGES" / "tolvane.mo") << "catalogue";
  }

  fs::path root_;
  std::string exe_;
};

TEST_F(CatalogueDirTest, EnvironmentWinsEvenWhenEmpty) {
  add_catalogue();
  EXPECT_EQ(tol_app_catalogue_dir("/somewhere/else", exe_.c_str()), "/somewhere/else");
  EXPECT_EQ(tol_app_catalogue_dir("", exe_.c_str()), "");
  EXPECT_EQ(tol_app_catalogue_dir("", nullptr), "");
}

TEST_F(CatalogueDirTest, PoBesideTheProgramDirectoryWhenItHoldsTheCatalogue) {
  EXPECT_EQ(tol_app_catalogue_dir(nullptr, exe_.c_str()), "/usr/share/locale");
  add_catalogue();
  EXPECT_EQ(tol_app_catalogue_dir(nullptr, exe_.c_str()), po().string());
}

TEST_F(CatalogueDirTest, CatalogueMustBeARegularFile) {
  // A directory in place of the file, or a catalogue for another language only.
  fs::create_directories(po() / "en" / "LC_MESSAGES" / "tolvane.mo");
  EXPECT_EQ(tol_app_catalogue_dir(nullptr, exe_.c_str()), "/usr/share/locale");
  fs::remove_all(po());
  fs::create_directories(po() / "de" / "LC_MESSAGES");
  std::ofstream(po() / "de" / "LC_MESSAGES" / "tolvane.mo") << "catalogue";
  EXPECT_EQ(tol_app_catalogue_dir(nullptr, exe_.c_str()), "/usr/share/locale");
}

TEST_F(CatalogueDirTest, UnknownProgramPathFallsBackToSystemDirectory) {
  EXPECT_EQ(tol_app_catalogue_dir(nullptr, nullptr), "/usr/share/locale");
}

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = old;
    if (value != nullptr)
      g_setenv(name, value, TRUE);
    else
      g_unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      g_setenv(name_, old_->c_str(), TRUE);
    else
      g_unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(I18nInit, BindsTheDomainToTheChosenDirectory) {
  {
    ScopedEnv env("TOLVANE_LOCALEDIR", "/tmp/tolvane-test-catalogues");
    EXPECT_EQ(tol_app_init_i18n(), "/tmp/tolvane-test-catalogues");
    EXPECT_STREQ(bindtextdomain("tolvane", nullptr), "/tmp/tolvane-test-catalogues");
    EXPECT_STREQ(bind_textdomain_codeset("tolvane", nullptr), "UTF-8");
    EXPECT_STREQ(textdomain(nullptr), "tolvane");
  }
  // Unset, the test program's own place decides: tests/ui has no catalogue
  // beside it, so the system directory is used.
  ScopedEnv env("TOLVANE_LOCALEDIR", nullptr);
  EXPECT_EQ(tol_app_init_i18n(), "/usr/share/locale");
  EXPECT_STREQ(bindtextdomain("tolvane", nullptr), "/usr/share/locale");
}

// ---- Application ------------------------------------------------------------

TEST(StyleSheet, IsTheExactRuleText) {
  EXPECT_EQ(tol_app_style_sheet(),
            ".tol-diff-only { background-color: rgba(38, 162, 105, 0.22); }\n"
            ".tol-diff-changed { background-color: rgba(229, 165, 10, 0.28); }\n"
            ".tol-diff-below { background-color: rgba(53, 132, 228, 0.16); border-radius: 4px; }\n"
            ".tol-diff-sign { font-family: monospace; font-weight: bold; border-radius: 4px; }\n"
            ".tol-missing { color: #e5a50a; }\n"
            ".tol-missing.tol-tab { background-color: rgba(229, 165, 10, 0.18); }\n"
            ".tol-error { color: #e01b24; }\n"
            ".tol-empty { opacity: 0.5; }\n"
            ".tol-tab { border-radius: 6px; }\n"
            ".tol-tab-active { background-color: alpha(currentColor, 0.12); }\n"
            ".tol-tab-active label { font-weight: bold; }\n"
            ".tol-shortcut-bar { padding: 3px 8px; }\n"
            ".tol-shortcut-key { font-family: monospace; font-weight: bold; "
            "background: alpha(currentColor, 0.10); border-radius: 4px; padding: 1px 5px; }\n"
            ".tol-icon-folder { color: #e5a50a; }\n"
            ".tol-icon-string { color: #3584e4; }\n"
            ".tol-icon-number { color: #2ec27e; }\n"
            ".tol-icon-binary { color: #e66100; }\n"
            ".tol-deleted { opacity: 0.55; }\n");
}

TEST(StyleSheet, ParsesWithoutErrors) {
  if (!gtk_init_check())
    GTEST_SKIP() << "no display";
  GtkCssProvider* provider = gtk_css_provider_new();
  std::vector<std::string> errors;
  g_signal_connect(provider, "parsing-error",
                   G_CALLBACK(+[](GtkCssProvider*, GtkCssSection* section, GError* error, gpointer data) {
                     char* where = gtk_css_section_to_string(section);
                     static_cast<std::vector<std::string>*>(data)->push_back(std::string(where) + ": " +
                                                                             error->message);
                     g_free(where);
                   }),
                   &errors);
  const std::string& css = tol_app_style_sheet();
  gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()));
  g_object_unref(provider);
  EXPECT_TRUE(errors.empty()) << errors.front();
}

// The paths of a pane's tabs, joined by spaces.
std::string tab_paths(TolPane* pane) {
  std::string out;
  for (int i = 0; i < tol_pane_get_tab_count(pane); ++i) {
    const char* path = tol_pane_get_tab_path(pane, i);
    out += (out.empty() ? "" : " ") + std::string(path != nullptr ? path : "-");
  }
  return out;
}

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    app_ = tol_application_new_non_unique();
  }
  void TearDown() override {
    tol_test::destroy_all_windows();
    g_clear_object(&app_);
  }

  void start() {
    GError* error = nullptr;
    ASSERT_TRUE(g_application_register(G_APPLICATION(app_), nullptr, &error))
        << (error ? error->message : "");
  }

  std::vector<TolWindow*> windows() const {
    std::vector<TolWindow*> out;
    for (GList* l = gtk_application_get_windows(GTK_APPLICATION(app_)); l != nullptr; l = l->next) {
      EXPECT_TRUE(TOL_IS_WINDOW(l->data));
      out.insert(out.begin(), TOL_WINDOW(l->data));  // the list is newest first
    }
    return out;
  }

  AdwApplication* app_ = nullptr;
};

TEST_F(ApplicationTest, IsSingleInstanceAndHandlesOpenOnly) {
  AdwApplication* app = tol_application_new();
  EXPECT_STREQ(g_application_get_application_id(G_APPLICATION(app)), "org.tolvane.Tolvane");
  EXPECT_EQ(g_application_get_flags(G_APPLICATION(app)), G_APPLICATION_HANDLES_OPEN);
  g_object_unref(app);
}

TEST_F(ApplicationTest, StartupInstallsTheStyleSheetForTheDisplay) {
  start();
  GtkWidget* window = gtk_window_new();
  GtkWidget* label = gtk_label_new("x");
  gtk_widget_add_css_class(label, "tol-error");
  gtk_window_set_child(GTK_WINDOW(window), label);
  GdkRGBA color;
  gtk_style_context_get_color(gtk_widget_get_style_context(label), &color);
  EXPECT_NEAR(color.red, 0xe0 / 255.0, 1e-3);
  EXPECT_NEAR(color.green, 0x1b / 255.0, 1e-3);
  EXPECT_NEAR(color.blue, 0x24 / 255.0, 1e-3);
}

TEST_F(ApplicationTest, TheApplicationIconIsFoundWithoutInstalling) {
  start();
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(gdk_display_get_default());
  EXPECT_TRUE(gtk_icon_theme_has_icon(theme, "org.tolvane.Tolvane"));
  EXPECT_TRUE(gtk_icon_theme_has_icon(theme, "org.tolvane.Tolvane-symbolic"));
}

TEST_F(ApplicationTest, EveryActivationPresentsANewWindow) {
  start();
  g_application_activate(G_APPLICATION(app_));
  g_application_activate(G_APPLICATION(app_));
  std::vector<TolWindow*> w = windows();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0], w[1]);
  for (TolWindow* window : w) {
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "Tolvane");
    EXPECT_STREQ(gtk_window_get_icon_name(GTK_WINDOW(window)), "org.tolvane.Tolvane");
    EXPECT_EQ(gtk_window_get_application(GTK_WINDOW(window)), GTK_APPLICATION(app_));
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window)));
    EXPECT_EQ(tab_paths(tol_window_get_left_pane(window)), "");
    EXPECT_EQ(tab_paths(tol_window_get_right_pane(window)), "");
  }
}

TEST_F(ApplicationTest, OpenGivesTheFirstTwoFilesToANewWindow) {
  start();
  g_application_activate(G_APPLICATION(app_));
  GFile* files[] = {g_file_new_for_path("/hives/SYSTEM"), g_file_new_for_path("/hives/SOFTWARE"),
                    g_file_new_for_path("/hives/SAM")};
  g_application_open(G_APPLICATION(app_), files, 3, "");
  std::vector<TolWindow*> w = windows();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(tab_paths(tol_window_get_left_pane(w[0])), "");  // the activated window is not reused
  EXPECT_EQ(tab_paths(tol_window_get_left_pane(w[1])), "/hives/SYSTEM");
  EXPECT_EQ(tab_paths(tol_window_get_right_pane(w[1])), "/hives/SOFTWARE");
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(w[1])));

  g_application_open(G_APPLICATION(app_), files + 2, 1, "");
  w = windows();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(tab_paths(tol_window_get_left_pane(w[2])), "/hives/SAM");
  EXPECT_EQ(tab_paths(tol_window_get_right_pane(w[2])), "");
  for (GFile* f : files)
    g_object_unref(f);
}

// Files named on the command line take the real path through
// g_application_run to the "open" handler.
TEST_F(ApplicationTest, CommandLineFilesOpenInOneWindow) {
  struct Seen {
    int windows = -1;
    std::string left, right;
    bool windows_seen = false;
  } seen;
  guint idle = g_idle_add(
      [](gpointer data) {
        auto* s = static_cast<Seen*>(data);
        GListModel* list = gtk_window_get_toplevels();
        s->windows = 0;
        for (guint i = 0; i < g_list_model_get_n_items(list); ++i) {
          auto* w = static_cast<GObject*>(g_list_model_get_item(list, i));
          if (TOL_IS_WINDOW(w)) {
            ++s->windows;
            s->left = tab_paths(tol_window_get_left_pane(TOL_WINDOW(w)));
            s->right = tab_paths(tol_window_get_right_pane(TOL_WINDOW(w)));
          }
          g_object_unref(w);
        }
        tol_test::destroy_all_windows();  // the application quits with its last window
        s->windows_seen = true;
        return G_SOURCE_REMOVE;
      },
      &seen);
  char arg0[] = "tolvane", arg1[] = "/hives/a", arg2[] = "/hives/b", arg3[] = "/hives/c";
  char* argv[] = {arg0, arg1, arg2, arg3, nullptr};
  EXPECT_EQ(g_application_run(G_APPLICATION(app_), 4, argv), 0);
  if (!seen.windows_seen)
    g_source_remove(idle);
  EXPECT_EQ(seen.windows, 1);
  EXPECT_EQ(seen.left, "/hives/a");
  EXPECT_EQ(seen.right, "/hives/b");
}

}  // namespace
