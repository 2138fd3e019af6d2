// The one way an editing command changes the hive of a pane: record an undo
// snapshot, run the operation, save at once, bring the views up to date and
// report the outcome in one message.
#pragma once

#include <functional>
#include <string>

#include "ui/pane.h"

enum class TolViewUpdate {
  kReloadAndSelect,      // read the saved file again and select `select_path`
  kReloadKeepSelection,  // read the saved file again, keep the selected key
  kRefreshValues,        // rebuild the value lists of both panes
};

enum class TolCommitResult { kFailed, kSaveFailed, kDone };

struct TolCommit {
  // Changes the hive; false when it failed, with the engine's reason in the
  // error when it gives one. It may rewrite `failure` and `success` (texts
  // with a count).
  std::function<bool(TolHive&, GError**)> operation;
  // Shown as "FAILURE: REASON" when the operation gave a reason.
  std::string failure;
  // One %s: the save's error message, or `save_error_fallback` without one.
  const char* save_failure_format = "%s";
  const char* save_error_fallback = "?";
  TolViewUpdate update = TolViewUpdate::kReloadKeepSelection;
  std::string select_path;
  std::string success;
  // For operations that can fail half way (copies, replace walks): a
  // failure puts the image back as it was before the command and takes the
  // snapshot out of the journal again, so nothing half done is saved later.
  bool restore_on_failure = false;
  // Set by the operation when it changed nothing: no save, no view update,
  // only the success text.
  bool nothing_to_save = false;
  // Where the message goes; the pane's toasts when empty.
  std::function<void(const std::string&)> report;
};

TolCommitResult tol_pane_commit(TolPane* self, TolCommit& commit);

// printf into a std::string (for translated formats).
std::string tol_format(const char* format, ...) G_GNUC_PRINTF(1, 2);

// Undo of the active tab's newest snapshot. kFailed: the restored image
// could not be saved; the snapshot stays and `failure` gets the reason.
enum class TolUndoResult { kNothing, kUndone, kFailed };
TolUndoResult tol_undo_pop(TolPane* self, std::string* failure);

// Reads the active tab's file again and selects `key_path` (nullptr: nothing).
void tol_pane_reload_and_select(TolPane* self, const char* key_path);
