// The one way an editing command changes a pane's document: the document runs
// the operation and saves (or puts everything back), the views of every pane
// showing the document update in place from the change's description, and
// the outcome is reported in one message.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "hive/document.h"
#include "ui/pane.h"

enum class TolCommitResult { kFailed, kSaveFailed, kDone };

struct TolCommit {
  // Changes the hive; false when it failed, with the engine's reason in the
  // error when it gives one. It may rewrite `failure` and `success` (texts
  // with a count).
  std::function<bool(TolHive&, GError**)> operation;
  // What the operation touches, for the views.
  TolChange change;
  // The key this pane's tree selects afterwards; none keeps the selection.
  std::optional<std::string> select_path;
  // Shown as "FAILURE: REASON" when the operation gave a reason.
  std::string failure;
  // One %s: the save's error message, or `save_error_fallback` without one.
  const char* save_failure_format = "%s";
  const char* save_error_fallback = "?";
  std::string success;
  // Where the message goes; the pane's toasts when empty.
  std::function<void(const std::string&)> report;
};

TolCommitResult tol_pane_commit(TolPane* self, TolCommit& commit);

// printf into a std::string (for translated formats).
std::string tol_format(const char* format, ...) G_GNUC_PRINTF(1, 2);
