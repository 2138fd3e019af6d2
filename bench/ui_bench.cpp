// Browsing speed of the real window on a big hive, for bench/run. Runs under a
// display server (xvfb-run):
//   ui-bench scenarios HIVE [RUNS [GROUP]]  every scenario RUNS times (default 5), or
//                                    only those of GROUP ("open" or "browse"); prints
//                                    "<name> <median s to painted> <median s in the call> [notes]"
//   ui-bench read FILE               reads FILE once: "read <seconds> <bytes>"
//   ui-bench drop FILE               drops FILE's pages from the page cache
//
// A scenario's time runs from the user's action to the end of the first frame
// that shows its result on screen, so layout and drawing count as well as the
// pane's own work. The action is the function the key or click runs; type-
// ahead keys go through the tree's own key controller.
#include <adwaita.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/application.h"
#include "hive/edit.h"
#include "hive/save.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/key_item.h"
#include "ui/key_tree.h"
#include "ui/pane.h"
#include "ui/replace_popover.h"
#include "ui/search_popover.h"
#include "ui/tab_bar.h"
#include "ui/value_list.h"
#include "ui/value_item.h"
#include "ui/window.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "ui-bench: %s\n", message.c_str());
  std::exit(1);
}

// ---- Page cache ------------------------------------------------------------------

class Fd {
 public:
  explicit Fd(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) die(std::string("cannot open ") + path);
  }
  ~Fd() { ::close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  std::size_t size() const {
    struct stat st {};
    return fstat(fd_, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
  }

 private:
  int fd_;
};

// Evicts the file's clean pages; pages still mapped by someone stay.
void drop_cache(const char* path) {
  Fd fd(path);
  fdatasync(fd.get());
  posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
}

// Bytes of the file held in the page cache: after a drop, what was read since.
std::size_t resident_bytes(const char* path) {
  Fd fd(path);
  const std::size_t size = fd.size();
  void* addr = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd.get(), 0);
  if (addr == MAP_FAILED) die("cannot map the hive");
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> pages((size + page - 1) / page);
  std::size_t resident = 0;
  if (mincore(addr, size, pages.data()) == 0)
    resident = static_cast<std::size_t>(std::count_if(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; })) * page;
  munmap(addr, size);
  return std::min(resident, size);
}

// Bytes of a mapping present in this process's page tables: the pages the
// process touched, widened by the kernel's fault-around to at most 64 KiB.
std::size_t mapped_bytes(const void* start) {
  char head[32];
  std::snprintf(head, sizeof head, "%lx-", reinterpret_cast<unsigned long>(start));
  FILE* smaps = std::fopen("/proc/self/smaps", "r");
  if (smaps == nullptr) return 0;
  std::size_t kib = 0;
  bool inside = false;
  char line[512];
  while (std::fgets(line, sizeof line, smaps) != nullptr) {
    if (std::strncmp(line, head, std::strlen(head)) == 0) {
      inside = true;
    } else if (inside && std::sscanf(line, "Rss: %zu kB", &kib) == 1) {
      break;
    }
  }
  std::fclose(smaps);
  return kib * 1024;
}

int read_whole(const char* path) {
  const auto t0 = Clock::now();
  Fd fd(path);
  std::vector<char> buffer(1 << 20);
  std::size_t total = 0;
  for (ssize_t n; (n = ::read(fd.get(), buffer.data(), buffer.size())) > 0;)
    total += static_cast<std::size_t>(n);
  std::printf("read %.6f %zu\n", seconds(Clock::now() - t0), total);
  return 0;
}

// ---- Waiting for the screen --------------------------------------------------------

// The end of the first frame after an action in which `ready` holds.
struct PaintWatch {
  std::function<bool()> ready;
  bool waiting = false;
  Clock::time_point painted;
};

void on_after_paint(GdkFrameClock*, gpointer data) {
  auto* watch = static_cast<PaintWatch*>(data);
  if (watch->waiting && watch->ready()) {
    watch->painted = Clock::now();
    watch->waiting = false;
  }
}

struct Timing {
  double painted;  // action to the frame that shows its result
  double call;     // the action's own call
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

class Bench {
 public:
  Bench(const char* hive, int runs) : hive_(hive), runs_(runs) {}

  void start() {
    window_ = GTK_WIDGET(tol_window_new(nullptr));
    left_ = tol_window_get_left_pane(TOL_WINDOW(window_));
    right_ = tol_window_get_right_pane(TOL_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
    wait_for([&] { return gtk_widget_get_mapped(window_); }, "the window to show");
    GdkFrameClock* clock = gtk_widget_get_frame_clock(window_);
    g_signal_connect(clock, "after-paint", G_CALLBACK(on_after_paint), &watch_);
    settle();
  }

  void stop() { gtk_window_destroy(GTK_WINDOW(window_)); }

  // Runs `action` and waits for the frame in which `ready` holds.
  Timing measure(const std::function<void()>& action, const std::function<bool()>& ready,
                 bool after_pause = true) {
    if (after_pause) settle();
    watch_.ready = ready;
    watch_.waiting = true;
    const auto t0 = Clock::now();
    action();
    const auto called = Clock::now();
    // Some results change nothing the view redraws by itself.
    gtk_widget_queue_draw(window_);
    wait_for([&] {
      if (watch_.waiting) gtk_widget_queue_draw(window_);  // keep frames coming until ready
      return !watch_.waiting;
    }, "the result on screen");
    return {seconds(watch_.painted - t0), seconds(called - t0)};
  }

  void report(const char* name, const std::vector<Timing>& timings, const std::string& notes = "") {
    std::vector<double> painted, call;
    for (const Timing& t : timings) {
      painted.push_back(t.painted);
      call.push_back(t.call);
    }
    std::printf("%s %.6f %.6f%s%s\n", name, median(painted), median(call), notes.empty() ? "" : " ",
                notes.c_str());
    std::fflush(stdout);
  }

  // 1. Opening the hive into a pane until the root's children are on screen,
  //    first with the file out of the page cache, then with it cached.
  void open_scenarios() {
    const std::size_t size = Fd(hive_).size();
    std::vector<Timing> cold, warm;
    std::vector<double> cached_bytes, mapped;
    // Once unmeasured: the first rows load icons and fonts.
    measure([&] { open(left_); }, [&] { return key_row_on_screen(left_, 1); });
    tol_pane_close_tab(left_, 0);
    for (int cached = 0; cached < 2; ++cached) {
      for (int i = 0; i < runs_; ++i) {
        if (!cached) {
          // The damage check of the first opening reads the file in a
          // thread for a moment; its pages drop once it is done.
          for (int tries = 0; tries < 100; ++tries) {
            drop_cache(hive_);
            if (resident_bytes(hive_) <= size / 100) break;
            g_usleep(100 * 1000);
            settle();
          }
          if (resident_bytes(hive_) > size / 100) die("cannot drop the hive from the page cache");
        }
        Timing t = measure([&] { open(left_); }, [&] { return key_row_on_screen(left_, 1); });
        (cached ? warm : cold).push_back(t);
        if (!cached) {
          cached_bytes.push_back(static_cast<double>(resident_bytes(hive_)));
          mapped.push_back(static_cast<double>(mapped_bytes(tol_pane_get_hive(left_)->mapping.bytes().data())));
        }
        tol_pane_close_tab(left_, 0);
      }
    }
    char notes[160];
    std::snprintf(notes, sizeof notes, "file_bytes %zu cache_bytes %.0f mapped_bytes %.0f", size,
                  median(cached_bytes), median(mapped));
    report("open-cold", cold, notes);
    report("open-warm", warm);
  }

  // 2-3. The big keys, with the hive open in both panes.
  void browse_scenarios() {
    open(left_);
    open(right_);
    settle();
    const guint wide = find_row(left_, "Wide");
    GtkColumnView* view = GTK_COLUMN_VIEW(tol_pane_get_key_tree_view(left_));
    GListModel* rows = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)));
    const guint collapsed_rows = g_list_model_get_n_items(rows);

    // Expanding the key with 50,000 subkeys (Right on the selected row).
    std::vector<Timing> expand;
    guint expanded_rows = 0;
    for (int i = 0; i < runs_; ++i) {
      // Selected by position: selecting by path would expand the key.
      gtk_single_selection_set_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)), wide);
      expand.push_back(measure([&] { tol_key_tree_expand_or_child(tol_pane_get_key_tree(left_)); },
                               [&] { return key_row_on_screen(left_, wide + 1); }));
      expanded_rows = g_list_model_get_n_items(rows);
      if (i + 1 < runs_) collapse_wide();
    }
    report("expand-50k", expand, "rows " + std::to_string(expanded_rows - collapsed_rows));

    // Scrolling to the last row and, for comparison, to a row a few pages down.
    const guint last = expanded_rows - 1;
    auto scroll = [&](guint target) {
      std::vector<Timing> t;
      for (int i = 0; i < runs_; ++i) {
        t.push_back(measure([&] { tol_compat_column_view_scroll_to(view, target, false); },
                            [&] { return key_row_on_screen(left_, target); }));
        measure([&] { tol_compat_column_view_scroll_to(view, 0, false); },
                [&] { return key_row_on_screen(left_, 0); });
      }
      return t;
    };
    report("scroll-end", scroll(last));
    report("scroll-200", scroll(wide + 200));

    type_ahead_scenarios(wide);
    collapse_wide();
    value_scenarios();
    tol_pane_close_tab(left_, 0);
    tol_pane_close_tab(right_, 0);
  }

  // 4. Editing through the window's document on a copy of the hive: a new key
  //    under the root until its row is drawn, against the save alone (every
  //    change writes the whole file); its undo and redo until drawn; the
  //    resident memory ten new keys cost; and the other pane on the same file.
  //    Markers (failed opens of /tol-bench-marker/NAME) let an strace of the
  //    run show which steps open the file.
  void edit_scenarios() {
    const std::string copy = std::string(hive_) + ".edit";
    std::filesystem::copy_file(hive_, copy, std::filesystem::copy_options::overwrite_existing);
    g_autoptr(GFile) file = g_file_new_for_path(copy.c_str());
    tol_pane_open_file(left_, file);
    TolHive* hive = tol_pane_get_hive(left_);
    if (hive == nullptr) die("the pane did not open the copy");
    auto new_key = [&](const std::string& name) {
      TolCommit commit;
      commit.operation = [&](TolHive& h, GError** error) {
        return tol_hive_create_key(h, h.root_cell, name, error).has_value();
      };
      commit.change = TolChange{TolChangeKind::subkeys, hive->root_cell};
      commit.select_path = name;
      commit.report = [](const std::string&) {};
      if (tol_pane_commit(left_, commit) != TolCommitResult::kDone) die("the commit failed");
    };
    auto drawn = [&](const std::string& name) {
      const guint row = find_row(left_, name.c_str(), false);
      return row != GTK_INVALID_LIST_POSITION && key_row_on_screen(left_, row);
    };
    std::vector<Timing> create, save, undo, redo;
    // Each step writes the whole file; without a flush before it, a step
    // would also pay for the write-back of the ones before.
    auto flushed = [] { ::sync(); };
    marker("edit-start");
    for (int i = 0; i < runs_; ++i) {
      tol_pane_select_path(left_, "");
      const std::string name = "BenchKey" + std::to_string(i);
      flushed();
      create.push_back(measure([&] { new_key(name); }, [&] { return drawn(name); }));
      settle();
      flushed();
      const auto t0 = Clock::now();
      hive->dirty = true;
      if (!tol_hive_save(*hive, nullptr)) die("the save failed");
      const double saved = seconds(Clock::now() - t0);
      save.push_back({saved, saved});
      marker("undo");
      flushed();
      undo.push_back(measure([&] { if (!tol_pane_undo(left_, false)) die("nothing undone"); },
                             [&] { return find_row(left_, name.c_str(), false) == GTK_INVALID_LIST_POSITION; }));
      marker("redo");
      flushed();
      redo.push_back(measure([&] { if (!tol_pane_redo(left_, false)) die("nothing redone"); },
                             [&] { return drawn(name); }));
      marker("edit");
    }
    report("commit-new-key", create);
    report("save-alone", save);
    report("undo-new-key", undo);
    report("redo-new-key", redo);

    // Ten new keys in a row: what the undo steps and the views hold.
    new_key("MemoryKey0");
    settle();
    const double first = resident_mb();
    for (int i = 1; i < 10; ++i) new_key("MemoryKey" + std::to_string(i));
    settle();
    std::printf("memory-ten-keys %.1f %.1f journal %.1f\n", first, resident_mb(),
                tol_document_journal_cost(tol_pane_get_document(left_)) / 1048576.0);

    // The other pane on the same file shares the document.
    marker("other-pane");
    std::vector<Timing> other;
    other.push_back(measure([&] { tol_pane_open_file(right_, file); }, [&] { return key_row_on_screen(right_, 1); }));
    if (tol_pane_get_document(right_) != tol_pane_get_document(left_)) die("the other pane opened the file again");
    report("other-pane-same-file", other);
    marker("edit-end");
    tol_pane_close_tab(right_, tol_pane_get_active_tab(right_));
    tol_pane_close_tab(left_, tol_pane_get_active_tab(left_));
    std::filesystem::remove(copy);
  }

  static void marker(const char* name) {
    const std::string path = std::string("/tol-bench-marker/") + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }

  static double resident_mb() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) die("no /proc/self/statm");
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
  }

 private:
  void open(TolPane* pane) {
    GFile* file = g_file_new_for_path(hive_);
    tol_pane_open_file(pane, file);
    g_object_unref(file);
    if (tol_pane_get_hive(pane) == nullptr) die("the pane did not open the hive");
  }

  // Collapses Wide as the Left key does: from a row inside it the first press
  // selects Wide, the next one collapses it.
  void collapse_wide() {
    auto wide_expanded = [&] {
      auto* row = static_cast<GtkTreeListRow*>(
          g_list_model_get_item(G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(left_))), find_row(left_, "Wide")));
      const bool expanded = gtk_tree_list_row_get_expanded(row);
      g_object_unref(row);
      return expanded;
    };
    for (int press = 0; press < 2 && wide_expanded(); ++press)
      tol_key_tree_collapse_or_parent(tol_pane_get_key_tree(left_));
    tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(tol_pane_get_key_tree_view(left_)), 0, false);
    settle();
  }

  // 3. Type-ahead over the expanded key's rows. The keys go through the tree's
  //    capture-phase key controller, the one real key presses reach first.
  void type_ahead_scenarios(guint wide) {
    GtkEventController* keys = type_ahead_controller();
    auto press = [&](gunichar ch) {
      gboolean handled = FALSE;
      g_signal_emit_by_name(keys, "key-pressed", gdk_unicode_to_keyval(ch), 0u,
                            static_cast<GdkModifierType>(0), &handled);
    };
    auto selected = [&] { return gtk_single_selection_get_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_))); };
    auto reset = [&] {
      gtk_single_selection_set_selected(tol_key_tree_get_selection(tol_pane_get_key_tree(left_)), wide);
      tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(tol_pane_get_key_tree_view(left_)), 0, false);
      tol_key_tree_set_type_ahead(tol_pane_get_key_tree(left_), "");
      settle();
    };
    tol_pane_focus_tree(left_);

    // One key that finds the very next row.
    std::vector<Timing> near;
    for (int i = 0; i < runs_; ++i) {
      reset();
      near.push_back(measure([&] { press('e'); },
                             [&] { return selected() == wide + 1 && key_row_on_screen(left_, wide + 1); }));
    }
    report("typeahead-next", near);

    // One key that completes a prefix found only 49,990 rows further on.
    const guint target = wide + 1 + 49990;
    std::vector<Timing> jump;
    for (int i = 0; i < runs_; ++i) {
      reset();
      tol_key_tree_set_type_ahead(tol_pane_get_key_tree(left_), "entry0499");
      jump.push_back(measure([&] { press('9'); },
                             [&] { return selected() == target && key_row_on_screen(left_, target); }));
    }
    report("typeahead-jump", jump, "to " + row_name(left_, selected()));

    // One key that matches no row: every shown row is looked at twice (the
    // second search with the key alone).
    std::vector<Timing> miss;
    for (int i = 0; i < runs_; ++i) {
      reset();
      tol_key_tree_set_type_ahead(tol_pane_get_key_tree(left_), "entry");
      miss.push_back(measure([&] { press('q'); }, [] { return true; }));
    }
    report("typeahead-miss", miss);

    // The whole name typed as fast as the window takes it: each key follows
    // the frame that showed the previous one.
    const std::string name = "entry049990";
    std::vector<Timing> typed;
    bool all_found = true;
    for (int i = 0; i < runs_; ++i) {
      reset();
      Timing total{0, 0};
      for (char c : name) {
        Timing t = measure([&] { press(static_cast<gunichar>(c)); },
                           [&] { return key_row_on_screen(left_, selected()); }, false);
        total.painted += t.painted;
        total.call += t.call;
      }
      all_found = all_found && selected() == target;
      typed.push_back(total);
    }
    report("typeahead-typed", typed, all_found ? "found" : "NOT-FOUND");
  }

  // 2. Selecting the key with 5,000 values: both value lists are rebuilt. With
  //    the other pane on the same key every row is compared with 5,000 others;
  //    with the other pane on the root there is nothing to compare with.
  void value_scenarios() {
    auto run = [&](const char* other_key) {
      tol_pane_select_path(right_, other_key);
      std::vector<Timing> t;
      for (int i = 0; i < runs_; ++i) {
        tol_pane_select_path(left_, "");
        t.push_back(measure([&] { tol_pane_select_path(left_, "ManyValues"); },
                            [&] { return value_row_on_screen(left_) && value_row_on_screen(right_, true); }));
      }
      return t;
    };
    const auto compared = run("ManyValues");
    const std::string count =
        "values " + std::to_string(g_list_model_get_n_items(G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(left_)))));
    report("select-5k-values-compared", compared, count);
    report("select-5k-values-alone", run(""), count);
  }

  GtkEventController* type_ahead_controller() {
    GListModel* controllers = gtk_widget_observe_controllers(tol_pane_get_key_tree_view(left_));
    GtkEventController* found = nullptr;
    for (guint i = 0; i < g_list_model_get_n_items(controllers) && found == nullptr; ++i) {
      auto* c = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
      if (GTK_IS_EVENT_CONTROLLER_KEY(c) && gtk_event_controller_get_propagation_phase(c) == GTK_PHASE_CAPTURE)
        found = c;
      g_object_unref(c);
    }
    g_object_unref(controllers);
    if (found == nullptr) die("the key tree has no type-ahead controller");
    return found;
  }

  static std::string row_name(TolPane* pane, guint position) {
    auto* row = static_cast<GtkTreeListRow*>(g_list_model_get_item(G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(pane))), position));
    if (row == nullptr) return "<none>";
    auto* key = TOL_KEY_ITEM(gtk_tree_list_row_get_item(row));
    std::string name = tol_key_item_get_name(key);
    g_object_unref(key);
    g_object_unref(row);
    return name;
  }

  static guint find_row(TolPane* pane, const char* name, bool must = true) {
    GListModel* rows = G_LIST_MODEL(tol_key_tree_get_selection(tol_pane_get_key_tree(pane)));
    for (guint i = 0; i < g_list_model_get_n_items(rows); ++i)
      if (row_name(pane, i) == name) return i;
    if (must) die(std::string("no row ") + name);
    return GTK_INVALID_LIST_POSITION;
  }

  // Whether `widget` lies inside the visible part of its scrolled window.
  static bool on_screen(GtkWidget* widget) {
    GtkWidget* scrolled = gtk_widget_get_ancestor(widget, GTK_TYPE_SCROLLED_WINDOW);
    graphene_rect_t bounds;
    if (scrolled == nullptr || !gtk_widget_get_mapped(widget) || !gtk_widget_get_child_visible(widget) ||
        !gtk_widget_compute_bounds(widget, scrolled, &bounds))
      return false;
    const double height = gtk_widget_get_height(scrolled);
    return bounds.size.height > 0 && bounds.origin.y + bounds.size.height > 0 && bounds.origin.y < height;
  }

  static bool key_row_on_screen(TolPane* pane, guint position) {
    std::vector<GtkWidget*> pending = {tol_pane_get_key_tree_view(pane)};
    while (!pending.empty()) {
      GtkWidget* widget = pending.back();
      pending.pop_back();
      if (GTK_IS_TREE_EXPANDER(widget)) {
        GtkTreeListRow* row = gtk_tree_expander_get_list_row(GTK_TREE_EXPANDER(widget));
        if (row != nullptr && gtk_tree_list_row_get_position(row) == position && on_screen(widget)) return true;
        continue;
      }
      for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c))
        pending.push_back(c);
    }
    return false;
  }

  // The first value's row is drawn in the pane's value list.
  static bool value_row_on_screen(TolPane* pane, bool may_be_empty = false) {
    GListModel* values = G_LIST_MODEL(tol_value_list_get_model(tol_pane_get_value_list(pane)));
    if (g_list_model_get_n_items(values) == 0) return may_be_empty;
    auto* first = TOL_VALUE_ITEM(g_list_model_get_item(values, 0));
    const std::string text = tol_value_item_get_display_name(first);
    g_object_unref(first);
    std::vector<GtkWidget*> pending = {tol_pane_get_value_list_view(pane)};
    while (!pending.empty()) {
      GtkWidget* widget = pending.back();
      pending.pop_back();
      if (GTK_IS_LABEL(widget) && text == gtk_label_get_text(GTK_LABEL(widget)) && on_screen(widget)) return true;
      for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c))
        pending.push_back(c);
    }
    return false;
  }

  // Lets pending work finish and the frame clock go idle, so that the next
  // action's frame is not held back by the previous one's.
  void settle() {
    for (int round = 0; round < 3; ++round) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      g_usleep(40000);
    }
  }

  static void wait_for(const std::function<bool()>& done, const char* what) {
    const auto give_up = Clock::now() + std::chrono::seconds(120);
    while (!done()) {
      if (Clock::now() > give_up) die(std::string("timed out waiting for ") + what);
      g_main_context_iteration(nullptr, TRUE);
    }
  }

  const char* hive_;
  int runs_;
  GtkWidget* window_ = nullptr;
  TolPane* left_ = nullptr;
  TolPane* right_ = nullptr;
  PaintWatch watch_;
};

int run_scenarios(const char* hive, int runs, const std::string& group) {
  // A session of our own: the window restores and saves one.
  char* config = g_dir_make_tmp("tol-uibench-XXXXXX", nullptr);
  if (config == nullptr) die("no temporary directory");
  g_setenv("XDG_CONFIG_HOME", config, TRUE);
  // Without a GPU the GL renderer rasterises in software, and its cost would
  // swamp what the window itself does; GSK_RENDERER set outside wins.
  g_setenv("GSK_RENDERER", "cairo", FALSE);
  if (!gtk_init_check()) die("no display (run under xvfb-run)");
  adw_init();
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, tol_app_style_sheet().c_str(), -1);
  gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(css),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);

  Bench bench(hive, runs);
  bench.start();
  if (group.empty() || group == "open") bench.open_scenarios();
  if (group.empty() || group == "browse") bench.browse_scenarios();
  if (group.empty() || group == "edit") bench.edit_scenarios();
  bench.stop();

  std::error_code ec;
  std::filesystem::remove_all(config, ec);
  g_free(config);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "read" && argc == 3) return read_whole(argv[2]);
  if (what == "drop" && argc == 3) {
    drop_cache(argv[2]);
    return 0;
  }
  if (what == "scenarios" && argc >= 3 && argc <= 5)
    return run_scenarios(argv[2], argc >= 4 ? std::max(1, std::atoi(argv[3])) : 5, argc == 5 ? argv[4] : "");
  std::fprintf(stderr, "usage: ui-bench scenarios HIVE [RUNS [open|browse|edit]] | read FILE | drop FILE\n");
  return 2;
}
