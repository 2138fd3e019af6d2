// Every hostile hive of the corpus opened in a real window: the key tree
// expanded as far as it goes (within a bound, since a tree whose lists loop
// never ends), with the deleted items the damaged image seems to hold
// among the live keys, keys selected so that the value lists fill, and one
// search from the popover. A watchdog names the hive if the window stops answering.
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "corpus.h"
#include "ui/window.h"
#include "window_fixture.h"

namespace tol_test {
namespace {

// Cyclic lists make the tree infinite and a list naming one key 500 times
// gives 500 rows: the walk stops after this many rows and selections.
constexpr guint kMaxRows = 300;
constexpr guint kMaxSelections = 80;
#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kWatchdogSeconds = 240;
#else
constexpr unsigned kWatchdogSeconds = 60;
#endif

// The hive being shown, for the watchdog's last words.
char current_hive[128] = "";

void on_watchdog(int) {
  const char prefix[] = "\nthe window stopped answering on the hostile hive ";
  (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
  (void)!write(STDERR_FILENO, current_hive, strlen(current_hive));
  (void)!write(STDERR_FILENO, "\n", 1);
  abort();
}

std::string test_name(const ::testing::TestParamInfo<std::size_t>& info) {
  std::string name = tol::test::hostile_corpus()[info.param].name;
  for (char& c : name)
    if (!g_ascii_isalnum(c))
      c = '_';
  return name;
}

// One window for the whole corpus: each hive opens in a new tab of the left
// pane, which is closed again afterwards.
class HostileWindow : public ::testing::TestWithParam<std::size_t> {
 protected:
  static void SetUpTestSuite() {
    if (!gtk_init_check())
      return;
    adw_init();
    window_ = tol_window_new(nullptr);
    signal(SIGALRM, on_watchdog);
  }
  static void TearDownTestSuite() {
    destroy_all_windows();
    window_ = nullptr;
  }
  void SetUp() override {
    if (window_ == nullptr)
      GTEST_SKIP() << "no display";
    left_ = tol_window_get_left_pane(window_);
  }
  void TearDown() override {
    if (window_ != nullptr && tol_pane_get_active_tab(left_) >= 0)
      tol_pane_close_tab(left_, tol_pane_get_active_tab(left_));
    drain_main_loop();
    alarm(0);
  }

  GtkTreeListModel* tree() {
    return GTK_TREE_LIST_MODEL(gtk_single_selection_get_model(tol_key_tree_get_selection(tol_pane_get_key_tree(left_))));
  }

  // Expands rows in display order: a row's children come right after it, so
  // one pass reaches every key the bound allows.
  guint expand_everything() {
    guint i = 0;
    for (; i < kMaxRows; ++i) {
      GtkTreeListRow* row = gtk_tree_list_model_get_row(tree(), i);
      if (row == nullptr)
        break;
      if (gtk_tree_list_row_is_expandable(row))
        gtk_tree_list_row_set_expanded(row, TRUE);
      g_object_unref(row);
      if (i % 50 == 0)
        drain_main_loop();
    }
    drain_main_loop();
    return i;
  }

  static inline TolWindow* window_ = nullptr;
  TolPane* left_ = nullptr;
  TempDir dir_;
};

TEST_P(HostileWindow, OpensBrowsesAndSearches) {
  const tol::test::HostileHive& hive = tol::test::hostile_corpus()[GetParam()];
  g_strlcpy(current_hive, hive.name.c_str(), sizeof current_hive);
  alarm(kWatchdogSeconds);
  const std::string file = dir_.file(hive.name + ".hiv");
  tol::test::HiveBuilder::write_bytes(file, hive.image);

  tol_pane_set_show_deleted(left_, true);
  open_path(left_, file);
  show(GTK_WIDGET(window_));
  ASSERT_NE(tol_pane_get_hive(left_), nullptr) << status_title(left_);

  const guint rows = expand_everything();
  EXPECT_GE(rows, 1u);
  // Selecting a key fills the value lists of both panes with the value texts.
  GListModel* visible = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)));
  const guint selections = std::min(g_list_model_get_n_items(visible), kMaxSelections);
  for (guint i = 0; i < selections; ++i) {
    gtk_single_selection_set_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)), i);
    if (i % 10 == 0)
      drain_main_loop();
  }
  drain_main_loop();
  // Off, the rows are made again, and a deleted row's selection falls back
  // to a live key. Collapsed first: expanding every row of a looping tree
  // once more would only cost time.
  g_autoptr(GtkTreeListRow) root = gtk_tree_list_model_get_row(tree(), 0);
  gtk_tree_list_row_set_expanded(root, FALSE);
  tol_pane_set_show_deleted(left_, false);
  drain_main_loop();
  std::string selected;
  EXPECT_TRUE(tol_pane_get_selected_key_path(left_, selected));

  tol_pane_show_search(left_);
  gtk_editable_set_text(GTK_EDITABLE(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::entry)), "e");
  tol_search_popover_run(tol_pane_get_search_popover(left_));
  drain_main_loop();
  const char* status = gtk_label_get_text(GTK_LABEL(tol_search_popover_get_part(tol_pane_get_search_popover(left_), TolSearchPart::status)));
  EXPECT_TRUE(g_str_has_prefix(status, "Found")) << status;
  gtk_popover_popdown(GTK_POPOVER(GTK_WIDGET(tol_pane_get_search_popover(left_))));

  if (const char* shots = g_getenv("TOL_HOSTILE_SHOTS")) {
    g_mkdir_with_parents(shots, 0755);
    tol_pane_select_path(left_, "Victim");
    drain_main_loop();
    g_usleep(300000);
    drain_main_loop();
    const std::string png = std::string(shots) + "/" + hive.name + ".png";
    g_spawn_command_line_sync(("import -window root " + png).c_str(), nullptr, nullptr, nullptr, nullptr);
  }
  std::printf("[hostile ui] %-26s %4u rows, %3u keys selected, search: %s\n", hive.name.c_str(), rows,
              selections, status);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileWindow,
                         ::testing::Range<std::size_t>(0, tol::test::hostile_corpus().size()), test_name);

}  // namespace
}  // namespace tol_test
