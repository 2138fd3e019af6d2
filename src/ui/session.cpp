#include "ui/session.h"

#include <cstring>

namespace {

constexpr char kDirName[] = "tolvane";
constexpr char kFileName[] = "session.ini";
constexpr char kLeftGroup[] = "PaneLeft";
constexpr char kRightGroup[] = "PaneRight";

// Per-tab key names ("Tab0Label", "Tab12Path", ...). Writing formats the index
// unsigned and reading signed; both give the same name for every tab index.
struct TabKey {
  char name[32];
  TabKey(unsigned index, const char* field) { g_snprintf(name, sizeof name, "Tab%u%s", index, field); }
  TabKey(int index, const char* field) { g_snprintf(name, sizeof name, "Tab%d%s", index, field); }
};

// A string entry; empty when missing or unreadable.
std::string read_string(GKeyFile* file, const char* group, const char* key, const char* fallback) {
  g_autofree char* value = g_key_file_get_string(file, group, key, nullptr);
  return value != nullptr ? std::string(value) : std::string(fallback);
}

// Missing and non-numeric entries read as 0, the way the file has always been read.
int read_int(GKeyFile* file, const char* group, const char* key) {
  g_autoptr(GError) error = nullptr;
  const int value = g_key_file_get_integer(file, group, key, &error);
  return error != nullptr ? 0 : value;
}

// The key the user is looking at in the active tab. The tab record only learns
// its key when the tab is left, so for the active tab it would be stale; the
// selection counts only while the tab's own hive is on show (after a failed
// load the pane may still hold another tab's hive behind the status page).
bool current_key_of_active_tab(TolPane* pane, std::string& out) {
  int active = tol_pane_get_active_tab(pane);
  const char* path = tol_pane_get_tab_path(pane, active);
  if (path == nullptr || tol_pane_get_document(pane) == nullptr || !tol_pane_shows_views(pane))
    return false;
  return tol_pane_get_selected_key_path(pane, out);
}

}  // namespace

std::string tol_session_path() {
  g_autofree char* dir = g_build_filename(g_get_user_config_dir(), kDirName, nullptr);
  g_mkdir_with_parents(dir, 0700);
  g_autofree char* file = g_build_filename(dir, kFileName, nullptr);
  return file;
}

void tol_session_write_pane(GKeyFile* file, const char* group, TolPane* pane) {
  int count = tol_pane_get_tab_count(pane);
  int active = tol_pane_get_active_tab(pane);
  g_key_file_set_integer(file, group, "TabCount", count);
  g_key_file_set_integer(file, group, "ActiveTab", count > 0 ? active : -1);

  std::string current_key;
  bool have_current = current_key_of_active_tab(pane, current_key);
  for (int i = 0; i < count; ++i) {
    auto index = static_cast<unsigned>(i);
    const char* label = tol_pane_get_tab_label(pane, i);
    const char* path = tol_pane_get_tab_path(pane, i);
    const char* last_key = tol_pane_get_tab_last_key(pane, i);
    if (i == active && have_current)
      last_key = current_key.c_str();
    g_key_file_set_string(file, group, TabKey(index, "Label").name, label != nullptr ? label : "");
    g_key_file_set_string(file, group, TabKey(index, "Path").name, path != nullptr ? path : "");
    g_key_file_set_boolean(file, group, TabKey(index, "IsUser").name,
                           tol_pane_get_tab_is_user(pane, i));
    g_key_file_set_string(file, group, TabKey(index, "LastKey").name,
                          last_key != nullptr ? last_key : "");
  }
}

void tol_session_restore_pane(GKeyFile* file, const char* group, TolPane* pane) {
  int count = read_int(file, group, "TabCount");
  if (count < 1)
    return;
  for (int i = 0; i < count; ++i) {
    std::string label = read_string(file, group, TabKey(i, "Label").name, "?");
    std::string path = read_string(file, group, TabKey(i, "Path").name, "");
    bool is_user = g_key_file_get_boolean(file, group, TabKey(i, "IsUser").name, nullptr);
    std::string last_key = read_string(file, group, TabKey(i, "LastKey").name, "");
    int added = tol_pane_add_tab(pane, label.c_str(), path.empty() ? nullptr : path.c_str(), is_user);
    // The pane is full: every later tab would be dropped as well.
    if (added < 0)
      break;
    tol_pane_set_tab_last_key(pane, added, last_key.c_str());
  }

  int tabs = tol_pane_get_tab_count(pane);
  if (tabs < 1)
    return;
  int active = read_int(file, group, "ActiveTab");
  tol_pane_switch_tab(pane, CLAMP(active, 0, tabs - 1));
}

bool tol_session_save_panes(TolPane* left, TolPane* right) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  tol_session_write_pane(file, kLeftGroup, left);
  tol_session_write_pane(file, kRightGroup, right);
  g_autoptr(GError) error = nullptr;
  if (!g_key_file_save_to_file(file, tol_session_path().c_str(), &error)) {
    g_warning("zapis sesji nie powiodl sie: %s", error->message);
    return false;
  }
  return true;
}

void tol_session_restore(TolPane* left, TolPane* right) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  if (!g_key_file_load_from_file(file, tol_session_path().c_str(), G_KEY_FILE_NONE, nullptr))
    return;
  if (g_key_file_has_group(file, kLeftGroup))
    tol_session_restore_pane(file, kLeftGroup, left);
  if (g_key_file_has_group(file, kRightGroup))
    tol_session_restore_pane(file, kRightGroup, right);
}

gboolean tol_session_save(TolWindow* window) {
  g_return_val_if_fail(TOL_IS_WINDOW(window), FALSE);
  tol_session_save_panes(tol_window_get_left_pane(window), tol_window_get_right_pane(window));
  return FALSE;  // the window closes whether or not the file was written
}
