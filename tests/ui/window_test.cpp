// The main window on its own: its parts and how it takes files.
#include "ui/compat.h"
#include "ui/window.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
    window_ = tol_window_new(nullptr);
  }
  void TearDown() override { tol_test::destroy_all_windows(); }

  std::vector<std::string> visible_label_texts() {
    std::vector<std::string> texts;
    for (GtkWidget* label : tol_test::find_all(GTK_WIDGET(window_), GTK_TYPE_LABEL)) {
      if (gtk_widget_get_visible(label))
        texts.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
    }
    return texts;
  }

  static bool contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const std::string& t : texts)
      if (t == text)
        return true;
    return false;
  }

  TolWindow* window_ = nullptr;
};

TEST_F(WindowTest, HasItsTypeNameAndSize) {
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(window_), "TolWindow");
  EXPECT_TRUE(g_type_is_a(TOL_TYPE_WINDOW, ADW_TYPE_APPLICATION_WINDOW));
  int width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(window_), &width, &height);
  EXPECT_EQ(width, 1400);
  EXPECT_EQ(height, 800);
}

TEST_F(WindowTest, ContentIsAToolbarViewWithHeaderBarAndStatusPage) {
  GtkWidget* view = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window_));
  ASSERT_NE(view, nullptr);
  GtkWidget* content = tol_compat_toolbar_view_get_content(view);
  ASSERT_NE(content, nullptr);
  EXPECT_TRUE(ADW_IS_STATUS_PAGE(content));
  GtkWidget* header = tol_test::find_first(view, ADW_TYPE_HEADER_BAR);
  ASSERT_NE(header, nullptr);
  EXPECT_FALSE(gtk_widget_is_ancestor(header, content));
}

TEST_F(WindowTest, ShowsTheBaseNamesOfTheFirstTwoFiles) {
  GFile* files[] = {g_file_new_for_path("/hives/NTUSER.DAT"), g_file_new_for_path("/other/SYSTEM"),
                    g_file_new_for_path("/other/SAM")};
  tol_window_open_files(window_, files, 3);
  std::vector<std::string> texts = visible_label_texts();
  EXPECT_TRUE(contains(texts, "Left pane: NTUSER.DAT"));
  EXPECT_TRUE(contains(texts, "Right pane: SYSTEM"));
  for (const std::string& t : texts)
    EXPECT_EQ(t.find("SAM"), std::string::npos) << t;
  for (GFile* f : files)
    g_object_unref(f);
}

TEST_F(WindowTest, RejectsAnythingButAWindow) {
  GFile* file = g_file_new_for_path("/hives/SYSTEM");
  GtkWidget* not_a_window = gtk_label_new("x");
  g_object_ref_sink(not_a_window);
  {
    tol_test::LogCapture log;
    tol_window_open_files(nullptr, &file, 1);
    tol_window_open_files(reinterpret_cast<TolWindow*>(not_a_window), &file, 1);
    ASSERT_EQ(log.messages().size(), 2u);
    for (const std::string& m : log.messages())
      EXPECT_NE(m.find("TOL_IS_WINDOW(self)"), std::string::npos) << m;
  }
  g_object_unref(not_a_window);
  g_object_unref(file);
}

}  // namespace
