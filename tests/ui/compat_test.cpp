// The version-dependent widgets and dialogs, driven as a user would.
#include "ui/compat.h"
#include "ui_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

class CompatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check())
      GTEST_SKIP() << "no display";
    adw_init();
  }
  void TearDown() override { tol_test::destroy_all_windows(); }

  // A shown window of a fixed size holding `child`.
  static GtkWidget* show_window(GtkWidget* child, int width = 400, int height = 300) {
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    gtk_window_set_child(GTK_WINDOW(window), child);
    gtk_window_present(GTK_WINDOW(window));
    EXPECT_TRUE(tol_test::iterate_until([&] {
      return gtk_widget_get_mapped(child) && gtk_widget_get_height(child) > 0;
    }));
    return window;
  }

  static graphene_rect_t bounds(GtkWidget* widget, GtkWidget* relative_to) {
    graphene_rect_t r;
    EXPECT_TRUE(gtk_widget_compute_bounds(widget, relative_to, &r));
    return r;
  }
};

// ---- Toolbar view -----------------------------------------------------------

TEST_F(CompatTest, ToolbarViewStacksBarsAroundTheExpandingContent) {
  GtkWidget* view = tol_compat_toolbar_view_new();
  GtkWidget* top = gtk_label_new("top");
  GtkWidget* bottom = gtk_label_new("bottom");
  GtkWidget* content = gtk_label_new("content");
  tol_compat_toolbar_view_set_content(view, content);  // before the bars, on purpose
  tol_compat_toolbar_view_add_top_bar(view, top);
  tol_compat_toolbar_view_add_bottom_bar(view, bottom);
  EXPECT_EQ(tol_compat_toolbar_view_get_content(view), content);

  GtkWidget* window = show_window(view);
  ASSERT_TRUE(tol_test::iterate_until([&] { return gtk_widget_get_height(bottom) > 0; }));
  graphene_rect_t t = bounds(top, view), c = bounds(content, view), b = bounds(bottom, view);
  EXPECT_LE(t.origin.y + t.size.height, c.origin.y);
  EXPECT_LE(c.origin.y + c.size.height, b.origin.y);
  // The content takes the height the bars leave.
  EXPECT_NEAR(t.size.height + c.size.height + b.size.height, gtk_widget_get_height(view), 1.0);
  EXPECT_GT(c.size.height, t.size.height + b.size.height);
  (void)window;
}

TEST_F(CompatTest, ToolbarViewContentCanBeReplacedAndRemoved) {
  GtkWidget* view = g_object_ref_sink(tol_compat_toolbar_view_new());
  GtkWidget* first = g_object_ref_sink(gtk_label_new("first"));
  GtkWidget* second = gtk_label_new("second");
  GtkWidget* bar = gtk_label_new("bar");
  tol_compat_toolbar_view_add_top_bar(view, bar);
  EXPECT_EQ(tol_compat_toolbar_view_get_content(view), nullptr);
  tol_compat_toolbar_view_set_content(view, first);
  tol_compat_toolbar_view_set_content(view, second);
  EXPECT_EQ(tol_compat_toolbar_view_get_content(view), second);
  EXPECT_EQ(gtk_widget_get_parent(first), nullptr);
  EXPECT_TRUE(gtk_widget_is_ancestor(bar, view));
  tol_compat_toolbar_view_set_content(view, nullptr);
  EXPECT_EQ(tol_compat_toolbar_view_get_content(view), nullptr);
  EXPECT_TRUE(gtk_widget_is_ancestor(bar, view));
  g_object_unref(first);
  g_object_unref(view);
}

// ---- Alert dialog -----------------------------------------------------------

TolAlert delete_alert() {
  TolAlert alert;
  alert.heading = "Delete key?";
  alert.body = "The key and its subkeys are removed.";
  alert.responses = {{"cancel", "Cancel", ADW_RESPONSE_DEFAULT},
                     {"delete", "Delete", ADW_RESPONSE_DESTRUCTIVE}};
  alert.default_response = "cancel";
  alert.close_response = "cancel";
  return alert;
}

TEST_F(CompatTest, AlertReportsTheChosenResponseOnceAndReleasesTheCallback) {
  GtkWidget* parent = show_window(gtk_label_new("parent"));
  auto token = std::make_shared<int>(0);
  std::vector<std::string> answers;
  GtkWidget* dialog = tol_compat_alert_show(
      parent, delete_alert(), [&answers, token](const char* id) { answers.emplace_back(id); });
  ASSERT_NE(dialog, nullptr);
  EXPECT_GT(token.use_count(), 1);

  GtkWidget* watched = dialog;
  g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&watched));
  tol_compat_alert_respond(dialog, "delete");
  ASSERT_TRUE(tol_test::iterate_until([&] { return watched == nullptr; }));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], "delete");
  EXPECT_EQ(token.use_count(), 1);
}

TEST_F(CompatTest, AlertShowsHeadingBodyAndResponses) {
  GtkWidget* parent = show_window(gtk_label_new("parent"));
  GtkWidget* dialog = tol_compat_alert_show(parent, delete_alert(), [](const char*) {});
  ASSERT_TRUE(tol_test::iterate_until([&] { return gtk_widget_get_mapped(dialog); }));
  std::vector<std::string> texts;
  for (GtkWidget* label : tol_test::find_all(dialog, GTK_TYPE_LABEL))
    texts.emplace_back(gtk_label_get_text(GTK_LABEL(label)));
  for (const char* expected : {"Delete key?", "The key and its subkeys are removed.", "Cancel", "Delete"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
  tol_compat_alert_respond(dialog, "cancel");
}

TEST_F(CompatTest, AlertDestroyedWithoutAnswerReleasesTheCallbackUncalled) {
  GtkWidget* parent = show_window(gtk_label_new("parent"));
  auto token = std::make_shared<int>(0);
  bool called = false;
  GtkWidget* dialog =
      tol_compat_alert_show(parent, delete_alert(), [&called, token](const char*) { called = true; });
  if (!GTK_IS_WINDOW(dialog)) {
    tol_compat_alert_respond(dialog, "cancel");
    GTEST_SKIP() << "the alert is not a window of its own with this libadwaita";
  }
  gtk_window_destroy(GTK_WINDOW(dialog));
  tol_test::drain_main_loop();
  EXPECT_FALSE(called);
  EXPECT_EQ(token.use_count(), 1);
}

// ---- File dialog ------------------------------------------------------------

// The toolkit's own chooser window, which both dialog implementations show
// when no desktop portal is in use.
GtkFileChooser* find_chooser() {
  for (GtkWindow* window : tol_test::toplevels())
    if (GTK_IS_FILE_CHOOSER_DIALOG(window))
      return GTK_FILE_CHOOSER(window);
  return nullptr;
}

class FileDialogTest : public CompatTest {
 protected:
  void SetUp() override {
    CompatTest::SetUp();
    if (IsSkipped())
      return;
    char* dir = g_dir_make_tmp("tolvane-files-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    dir_ = dir;
    g_free(dir);
  }
  void TearDown() override {
    CompatTest::TearDown();
    if (!dir_.empty())
      std::filesystem::remove_all(dir_);
  }

  // Shows the dialog and returns its chooser window.
  GtkFileChooser* show(const TolFileRequest& request) {
    parent_ = show_window(gtk_label_new("parent"));
    tol_compat_file_dialog(parent_, request, [this](GFile* file) {
      ++calls_;
      chosen_ = file != nullptr ? g_file_peek_path(file) : "";
    });
    GtkFileChooser* chooser = nullptr;
    EXPECT_TRUE(tol_test::iterate_until([&] { return (chooser = find_chooser()) != nullptr; }));
    return chooser;
  }

  void answer(GtkFileChooser* chooser, int response) {
    gtk_dialog_response(GTK_DIALOG(chooser), response);
    ASSERT_TRUE(tol_test::iterate_until([&] { return calls_ > 0; }));
    tol_test::drain_main_loop();
  }

  std::string dir_;
  GtkWidget* parent_ = nullptr;
  int calls_ = 0;
  std::string chosen_;
};

// A failed dialog is logged under the command's own words.
TEST(CompatFileErrorText, PutsTheToolkitMessageIntoTheCommandsFormat) {
  EXPECT_EQ(tol_compat_file_error_text("zapis pliku .reg: %s", "portal gone"), "zapis pliku .reg: portal gone");
  EXPECT_EQ(tol_compat_file_error_text("%s", "x"), "x");
  EXPECT_EQ(tol_compat_file_error_text("no slot", "why"), "no slot: why");
  EXPECT_EQ(tol_compat_file_error_text("a %s b", nullptr), "a  b");
  EXPECT_EQ(tol_compat_file_error_text("%s%s", "100%s"), "100%s%s") << "only the first slot is filled";
}

TEST_F(FileDialogTest, DismissedDialogGivesNoFile) {
  TolFileRequest request;
  request.title = "Open a hive file";
  request.filters = {{"All files", {"*"}}, {"Registration files", {"*.reg", "*.REG"}}};
  GtkFileChooser* chooser = show(request);
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Open a hive file");
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
  GListModel* filters = gtk_file_chooser_get_filters(chooser);
  ASSERT_EQ(g_list_model_get_n_items(filters), 2u);
  auto* second = static_cast<GtkFileFilter*>(g_list_model_get_item(filters, 1));
  EXPECT_STREQ(gtk_file_filter_get_name(second), "Registration files");
  g_object_unref(second);
  g_object_unref(filters);
  GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
  ASSERT_NE(current, nullptr);
  EXPECT_STREQ(gtk_file_filter_get_name(current), "All files");

  answer(chooser, GTK_RESPONSE_CANCEL);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(chosen_, "");
  EXPECT_EQ(find_chooser(), nullptr);
}

TEST_F(FileDialogTest, SaveGivesTheFolderAndNameChosen) {
  GFile* folder = g_file_new_for_path(dir_.c_str());
  TolFileRequest request;
  request.action = TolFileAction::save;
  request.title = "Export key";
  request.initial_name = "export.reg";
  request.initial_folder = folder;
  GtkFileChooser* chooser = show(request);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
  char* name = gtk_file_chooser_get_current_name(chooser);
  EXPECT_STREQ(name, "export.reg");
  g_free(name);
  // The chooser takes up the folder once it has read it.
  ASSERT_TRUE(tol_test::iterate_until([&] {
    GFile* current = gtk_file_chooser_get_current_folder(chooser);
    bool there = current != nullptr && g_file_equal(current, folder);
    g_clear_object(&current);
    return there;
  }));

  answer(chooser, GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(chosen_, dir_ + "/export.reg");
  g_object_unref(folder);
}

TEST_F(FileDialogTest, FolderSelectionUsesTheFolderAction) {
  TolFileRequest request;
  request.action = TolFileAction::select_folder;
  request.title = "Open a Windows installation directory";
  GtkFileChooser* chooser = show(request);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
  answer(chooser, GTK_RESPONSE_DELETE_EVENT);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(chosen_, "");
}

// ---- Column view ------------------------------------------------------------

GtkWidget* column_view_of_numbers(guint n) {
  GtkStringList* strings = gtk_string_list_new(nullptr);
  for (guint i = 0; i < n; ++i) {
    std::string text = "row " + std::to_string(i);
    gtk_string_list_append(strings, text.c_str());
  }
  GtkSingleSelection* selection = gtk_single_selection_new(G_LIST_MODEL(strings));
  GtkWidget* view = gtk_column_view_new(GTK_SELECTION_MODEL(selection));
  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item) {
                     gtk_list_item_set_child(item, gtk_label_new(nullptr));
                   }),
                   nullptr);
  g_signal_connect(factory, "bind", G_CALLBACK(+[](GtkListItemFactory*, GtkListItem* item) {
                     auto* s = GTK_STRING_OBJECT(gtk_list_item_get_item(item));
                     gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)),
                                        gtk_string_object_get_string(s));
                   }),
                   nullptr);
  GtkColumnViewColumn* column = gtk_column_view_column_new("Name", factory);
  gtk_column_view_append_column(GTK_COLUMN_VIEW(view), column);
  g_object_unref(column);
  return view;
}

TEST_F(CompatTest, ColumnViewScrollsTheRowIntoViewAndSelectsIt) {
  GtkWidget* view = column_view_of_numbers(1000);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
  show_window(scrolled);
  GtkAdjustment* adj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
  ASSERT_TRUE(tol_test::iterate_until([&] { return gtk_adjustment_get_upper(adj) > 0; }));
  EXPECT_EQ(gtk_adjustment_get_value(adj), 0.0);

  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(view), 800, true);
  auto* selection = GTK_SINGLE_SELECTION(gtk_column_view_get_model(GTK_COLUMN_VIEW(view)));
  ASSERT_TRUE(tol_test::iterate_until([&] {
    return gtk_single_selection_get_selected(selection) == 800 && gtk_adjustment_get_value(adj) > 0;
  }));

  // Row 800's label is on screen, within the visible part of the list.
  GtkWidget* row = nullptr;
  ASSERT_TRUE(tol_test::iterate_until([&] {
    for (GtkWidget* label : tol_test::find_all(view, GTK_TYPE_LABEL))
      if (g_strcmp0(gtk_label_get_text(GTK_LABEL(label)), "row 800") == 0 && gtk_widget_get_mapped(label))
        row = label;
    return row != nullptr;
  }));
  graphene_rect_t r = bounds(row, scrolled);
  EXPECT_GE(r.origin.y, 0);
  EXPECT_LE(r.origin.y + r.size.height, gtk_widget_get_height(scrolled));

  // Scrolling back up without selecting leaves the selection alone.
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(view), 0, false);
  ASSERT_TRUE(tol_test::iterate_until([&] { return gtk_adjustment_get_value(adj) == 0.0; }));
  EXPECT_EQ(gtk_single_selection_get_selected(selection), 800u);

  // A position past the end is ignored.
  tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(view), 1000, true);
  EXPECT_EQ(gtk_single_selection_get_selected(selection), 800u);
}

}  // namespace
