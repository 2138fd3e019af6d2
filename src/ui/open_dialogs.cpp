#include "ui/open_dialogs.h"

#include <glib/gi18n-lib.h>

#include <array>

#include "ui/weak_ref.h"

namespace {

constexpr std::array<const char*, 5> kSystemHives = {"SYSTEM", "SOFTWARE", "SAM", "SECURITY",
                                                     "DEFAULT"};


std::string join(const std::string& dir, const char* name) {
  g_autofree char* path = g_build_filename(dir.c_str(), name, nullptr);
  return path;
}

// The lookup of `name` inside a directory that may itself be missing.
std::optional<std::string> find_in(const std::optional<std::string>& dir, const char* name) {
  if (!dir)
    return std::nullopt;
  return tol_find_child_nocase(*dir, name);
}

// A user directory's name as a tab label: names that are not UTF-8 still get a
// readable label, while the path keeps the bytes as they are.
std::string display_name(const char* file_name) {
  g_autofree char* text = g_filename_display_name(file_name);
  return text;
}

// The directory that holds `path`; trailing separators (as in "/mnt/win/")
// do not count as a level.
std::string parent_of(std::string path) {
  while (path.size() > 1 && path.back() == G_DIR_SEPARATOR)
    path.pop_back();
  g_autofree char* parent = g_path_get_dirname(path.c_str());
  return parent;
}

}  // namespace

std::optional<std::string> tol_find_child_nocase(const std::string& dir, std::string_view name) {
  g_autoptr(GDir) listing = g_dir_open(dir.c_str(), 0, nullptr);
  if (!listing)
    return std::nullopt;
  while (const char* entry = g_dir_read_name(listing)) {
    std::string_view entry_name(entry);
    if (entry_name.size() == name.size() &&
        g_ascii_strncasecmp(entry, name.data(), name.size()) == 0)
      return join(dir, entry);
  }
  return std::nullopt;
}

std::vector<TolScanEntry> tol_scan_windows_dir(const std::string& windows_dir) {
  std::vector<TolScanEntry> entries;
  std::optional<std::string> config = find_in(tol_find_child_nocase(windows_dir, "System32"), "config");
  for (const char* hive : kSystemHives)
    entries.push_back(TolScanEntry{hive, find_in(config, hive), false});

  // The users' directory lies beside the Windows directory on its volume.
  std::optional<std::string> users = tol_find_child_nocase(parent_of(windows_dir), "Users");
  g_autoptr(GDir) listing = users ? g_dir_open(users->c_str(), 0, nullptr) : nullptr;
  if (!listing)
    return entries;
  while (const char* entry = g_dir_read_name(listing)) {
    std::string user_dir = join(*users, entry);
    // Links to directories count; files such as desktop.ini do not.
    if (!g_file_test(user_dir.c_str(), G_FILE_TEST_IS_DIR))
      continue;
    entries.push_back(TolScanEntry{display_name(entry), tol_find_child_nocase(user_dir, "NTUSER.DAT"), true});
  }
  return entries;
}

void tol_pane_apply_windows_scan(TolPane* pane, const std::vector<TolScanEntry>& entries) {
  g_return_if_fail(TOL_IS_PANE(pane));
  // The tabs that are not active go first, so that closing them opens no hive;
  // the active one goes last and leaves the pane empty.
  int active = tol_pane_get_active_tab(pane);
  for (int i = tol_pane_get_tab_count(pane) - 1; i >= 0; --i) {
    if (i != active)
      tol_pane_close_tab(pane, i);
  }
  while (tol_pane_get_tab_count(pane) > 0)
    tol_pane_close_tab(pane, 0);

  int first_found = -1;
  for (const TolScanEntry& entry : entries) {
    int index = tol_pane_add_tab(pane, entry.label.c_str(), entry.path ? entry.path->c_str() : nullptr,
                                 entry.is_user);
    if (index < 0)
      break;  // the rest would not fit either
    if (first_found < 0 && !entry.is_user && entry.path)
      first_found = index;
  }
  if (tol_pane_get_tab_count(pane) > 0)
    tol_pane_switch_tab(pane, first_found >= 0 ? first_found : 0);
}

std::vector<TolFileFilterSpec> tol_hive_file_filters() {
  // Patterns match case-sensitively, so the extension is listed in both cases.
  return {
      TolFileFilterSpec{_("Hive files (SYSTEM, SOFTWARE, SAM, NTUSER.DAT, *.hiv)"),
                        {"*.hiv", "*.HIV", "NTUSER.DAT", "SYSTEM", "SOFTWARE", "SAM", "SECURITY",
                         "DEFAULT"}},
      TolFileFilterSpec{_("All files"), {"*"}},
  };
}

void tol_pane_open_file_dialog(TolPane* pane) {
  g_return_if_fail(TOL_IS_PANE(pane));
  TolFileRequest request;
  request.action = TolFileAction::open;
  request.title = _("Open a hive file");
  request.filters = tol_hive_file_filters();
  request.error_format = "otwieranie pliku hive: %s";
  tol_compat_file_dialog(GTK_WIDGET(pane), request, [ref = TolWeakRef<TolPane>(pane)](GFile* file) {
    if (file == nullptr)
      return;  // cancelled, or failed and logged
    if (g_autoptr(TolPane) target = ref.get())
      tol_pane_open_file(target, file);
  });
}

void tol_pane_open_windows_dir(TolWindow* window, TolPane* pane) {
  g_return_if_fail(TOL_IS_WINDOW(window));
  g_return_if_fail(TOL_IS_PANE(pane));
  TolFileRequest request;
  request.action = TolFileAction::select_folder;
  request.title = _("Select the Windows directory (the one containing System32)");
  request.error_format = "wybor katalogu instalacji: %s";
  tol_compat_file_dialog(GTK_WIDGET(window), request, [ref = TolWeakRef<TolPane>(pane)](GFile* folder) {
    const char* path = folder != nullptr ? g_file_peek_path(folder) : nullptr;
    if (path == nullptr)
      return;  // cancelled, or not a local folder
    if (g_autoptr(TolPane) target = ref.get())
      tol_pane_apply_windows_scan(target, tol_scan_windows_dir(path));
  });
}
