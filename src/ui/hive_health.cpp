// The health of a pane's hive: damage announced once when a file is loaded,
// the full check report on request, and repair into a new file that opens in
// a tab of its own.
#include <glib/gi18n-lib.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hive/check.h"
#include "hive/repair.h"
#include "ui/commands.h"
#include "ui/commit.h"

namespace {

// Problems listed in the path label's tooltip; the dialog shows them all.
constexpr std::size_t kTooltipProblems = 8;

std::string report_text(const TolCheckReport& report) {
  std::string text;
  for (const std::string& problem : report.problems) text += problem + "\n";
  if (!text.empty()) text += "\n";
  text += tol_format(_("%u keys, %u values, %u security records: %s"), report.keys,
                     report.values, report.security_records,
                     report.ok() ? _("no problems found")
                                 : tol_format(_("%zu problems"), report.problems.size()).c_str());
  return text;
}

// The check reads a mapping of its own, so it never races the window's
// reading of the pane's hive (whose name cache it would fill).
void check_file(GTask* task, gpointer, gpointer path, GCancellable*) {
  TolHivePtr hive = tol_hive_open(static_cast<const char*>(path), nullptr);
  auto* problems = new std::vector<std::string>;
  if (hive) *problems = tol_hive_check(*hive).problems;
  g_task_return_pointer(task, problems,
                        [](gpointer p) { delete static_cast<std::vector<std::string>*>(p); });
}

void on_checked(GObject* source, GAsyncResult* result, gpointer path_ptr) {
  auto* self = TOL_PANE(source);
  g_autofree char* path = static_cast<char*>(path_ptr);
  auto* found = static_cast<std::vector<std::string>*>(g_task_propagate_pointer(G_TASK(result), nullptr));
  const std::vector<std::string> list = found != nullptr ? std::move(*found) : std::vector<std::string>();
  delete found;
  const std::vector<std::string>* problems = &list;
  // Announced only while the pane still shows that file.
  const int tab = tol_pane_get_active_tab(self);
  const char* shown = tab >= 0 ? tol_pane_get_tab_path(self, tab) : nullptr;
  if (problems->empty() || shown == nullptr || g_strcmp0(shown, path) != 0) return;

  std::string tooltip = tol_format("%s\n\n%s", path,
                                   tol_format(_("This hive is damaged (%zu problems):"),
                                              problems->size()).c_str());
  for (std::size_t i = 0; i < problems->size() && i < kTooltipProblems; ++i)
    tooltip += "\n" + (*problems)[i];
  if (problems->size() > kTooltipProblems) tooltip += "\n…";
  gtk_widget_set_tooltip_text(tol_pane_get_path_label(self), tooltip.c_str());
  tol_pane_toast(self, tol_format(_("This hive is damaged (%zu problems); edits that would "
                                    "spread the damage are refused"),
                                  problems->size())
                           .c_str());
}

void close_window(GtkButton*, gpointer window) { gtk_window_destroy(GTK_WINDOW(window)); }

// A read-only report in a window of its own.
void show_report(TolPane* self, const char* title, const std::string& text) {
  GtkWidget* window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(window), title);
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  if (GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(self)); GTK_IS_WINDOW(root))
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(root));
  gtk_window_set_default_size(GTK_WINDOW(window), 720, 420);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  for (auto margin : {gtk_widget_set_margin_start, gtk_widget_set_margin_end,
                      gtk_widget_set_margin_top, gtk_widget_set_margin_bottom})
    margin(box, 12);
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
  gtk_widget_set_vexpand(scrolled, TRUE);
  gtk_box_append(GTK_BOX(box), scrolled);
  GtkWidget* close = gtk_button_new_with_label(_("Close"));
  gtk_widget_set_halign(close, GTK_ALIGN_END);
  g_signal_connect(close, "clicked", G_CALLBACK(close_window), window);
  gtk_box_append(GTK_BOX(box), close);
  gtk_window_set_child(GTK_WINDOW(window), box);
  gtk_window_present(GTK_WINDOW(window));
}

// "NAME (repaired).EXT" beside the file, numbered when that exists.
std::string repaired_path(const std::string& path) {
  g_autofree char* dir = g_path_get_dirname(path.c_str());
  g_autofree char* base = g_path_get_basename(path.c_str());
  std::string stem = base;
  std::string ext;
  if (const auto dot = stem.rfind('.'); dot != std::string::npos && dot > 0) {
    ext = stem.substr(dot);
    stem.resize(dot);
  }
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? tol_format(_("%s (repaired)"), stem.c_str())
                                    : tol_format(_("%s (repaired %d)"), stem.c_str(), n);
    g_autofree char* candidate = g_build_filename(dir, (name + ext).c_str(), nullptr);
    if (!g_file_test(candidate, G_FILE_TEST_EXISTS)) return candidate;
  }
}

}  // namespace

void tol_pane_announce_damage(TolPane* self, const char* path) {
  g_return_if_fail(TOL_IS_PANE(self));
  // Once per file while the program runs, not at every opening of it: the
  // check reads the whole hive.
  static std::set<std::string> announced;
  if (!announced.insert(path).second) return;
  g_autoptr(GTask) task = g_task_new(self, nullptr, on_checked, g_strdup(path));
  g_task_set_task_data(task, g_strdup(path), g_free);
  g_task_run_in_thread(task, check_file);
}

void tol_pane_show_check_report(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  TolHive* hive = tol_pane_get_hive(self);
  if (hive == nullptr) {
    tol_pane_toast(self, _("No hive is loaded"));
    return;
  }
  show_report(self, _("Check hive"), report_text(tol_hive_check(*hive)));
}

bool tol_pane_repair_to_new_tab(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  const int tab = tol_pane_get_active_tab(self);
  const char* path = tab >= 0 ? tol_pane_get_tab_path(self, tab) : nullptr;
  TolHive* hive = tol_pane_get_hive(self);
  if (hive == nullptr || path == nullptr) {
    tol_pane_toast(self, _("No hive is loaded"));
    return false;
  }
  const std::string out = repaired_path(path);
  TolRepairReport report;
  g_autoptr(GError) error = nullptr;
  if (!tol_hive_repair(*hive, out, report, &error)) {
    tol_pane_toast(self, tol_format(_("Repair failed: %s"), error->message).c_str());
    return false;
  }
  g_autoptr(GFile) file = g_file_new_for_path(out.c_str());
  tol_pane_open_file(self, file);
  g_autofree char* name = g_path_get_basename(out.c_str());
  if (report.drops.empty()) {
    tol_pane_toast(self, tol_format(_("Wrote \"%s\": nothing was dropped, %llu bytes before, %llu after"),
                                    name, static_cast<unsigned long long>(report.size_before),
                                    static_cast<unsigned long long>(report.size_after))
                             .c_str());
    return true;
  }
  std::string text;
  for (const auto& drop : report.drops) text += drop.path + ": " + drop.reason + "\n";
  text += "\n" + tol_format(_("Wrote %s: %zu items dropped, %llu bytes before, %llu after"),
                            out.c_str(), report.drops.size(),
                            static_cast<unsigned long long>(report.size_before),
                            static_cast<unsigned long long>(report.size_after));
  show_report(self, _("Repair or compact"), text);
  return true;
}
