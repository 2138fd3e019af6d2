// Getting hive files into a pane: the hive-file dialog, and the folder dialog
// that turns a Windows installation directory into tabs for its system hives
// and its users' hives.
#pragma once

#include <adwaita.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/compat.h"
#include "ui/pane.h"
#include "ui/window.h"

// One tab the scan of a Windows directory asks for.
struct TolScanEntry {
  std::string label;
  std::optional<std::string> path;  // none: the file is not there
  bool is_user = false;
};

// The first entry of `dir`, in the order the directory yields them, whose name
// equals `name` with ASCII letters compared case-insensitively, joined to
// `dir`; none when nothing matches or the directory cannot be read.
std::optional<std::string> tol_find_child_nocase(const std::string& dir, std::string_view name);

// The tabs for the Windows directory `windows_dir`: always the five system
// hives SYSTEM, SOFTWARE, SAM, SECURITY and DEFAULT from System32/config, then
// one per directory in the "Users" directory beside `windows_dir`, each with
// its NTUSER.DAT. Touches no widget.
std::vector<TolScanEntry> tol_scan_windows_dir(const std::string& windows_dir);

// Replaces every tab of the pane by the scanned tabs (up to the tab limit) and
// shows the first system hive that was found, or the first tab.
void tol_pane_apply_windows_scan(TolPane* pane, const std::vector<TolScanEntry>& entries);

// The folder dialog for a Windows directory; a chosen folder is scanned into
// `pane`, which belongs to `window`.
void tol_pane_open_windows_dir(TolWindow* window, TolPane* pane);

// The hive-file dialog; a chosen file opens in a new tab of the pane. The
// pane's "New tab" button uses it too.
void tol_pane_open_file_dialog(TolPane* pane);

// The filters of the hive-file dialog, in the order the dialog offers them.
std::vector<TolFileFilterSpec> tol_hive_file_filters();
