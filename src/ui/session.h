// The tabs of both panes kept across restarts in session.ini, a GLib key file
// in the "tolvane" directory of the user's configuration directory.
#pragma once

#include <adwaita.h>

#include <string>

#include "ui/pane.h"
#include "ui/window.h"

// The session file's path; creates its directory (mode 0700) when missing.
std::string tol_session_path();

// Writes one pane's tabs as the group `group` ("PaneLeft" / "PaneRight").
// The active tab's last key is the key selected in the pane right now.
void tol_session_write_pane(GKeyFile* file, const char* group, TolPane* pane);
// Recreates the tabs of `group` in the pane and activates the stored tab.
void tol_session_restore_pane(GKeyFile* file, const char* group, TolPane* pane);

// Writes both panes to the session file; false (and a logged warning) when the
// file could not be written.
bool tol_session_save_panes(TolPane* left, TolPane* right);
// Handler of the window's "close-request": saves the session and lets the
// window close whatever the outcome.
gboolean tol_session_save(TolWindow* window);
// Reads the session file, if there is a readable one, into both panes.
void tol_session_restore(TolPane* left, TolPane* right);
