// How every editing command changes a pane's document: operation and save in
// the document, view updates from its change signal, one message.
#include "ui/commit.h"

#include <glib/gi18n-lib.h>

namespace {

const char* message_of(const GError* error, const char* fallback) {
  return error != nullptr && error->message != nullptr && error->message[0] != '\0' ? error->message
                                                                                     : fallback;
}

void report(TolPane* self, const TolCommit& commit, const std::string& message) {
  if (commit.report)
    commit.report(message);
  else
    tol_pane_toast(self, message.c_str());
}

}  // namespace

std::string tol_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  g_autofree char* text = g_strdup_vprintf(format, args);
  va_end(args);
  return text;
}

TolCommitResult tol_pane_commit(TolPane* self, TolCommit& commit) {
  g_return_val_if_fail(TOL_IS_PANE(self), TolCommitResult::kFailed);
  TolDocument* document = tol_pane_get_document(self);
  if (document == nullptr) return TolCommitResult::kFailed;
  // The pane may go while the change's signal runs (a view closing it).
  g_autoptr(TolPane) hold = TOL_PANE(g_object_ref(self));
  g_autoptr(TolDocument) hold_document = TOL_DOCUMENT(g_object_ref(document));

  g_autoptr(GError) error = nullptr;
  TolChangeStatus status = TolChangeStatus::refused;
  tol_document_change(document, commit.change, commit.operation, &error, &status);
  switch (status) {
    case TolChangeStatus::refused:
      report(self, commit,
             error != nullptr ? tol_format(_("%s: %s"), commit.failure.c_str(), error->message)
                              : commit.failure);
      return TolCommitResult::kFailed;
    case TolChangeStatus::save_failed:
      report(self, commit,
             tol_format(commit.save_failure_format, message_of(error, commit.save_error_fallback)));
      return TolCommitResult::kSaveFailed;
    case TolChangeStatus::unchanged:
    case TolChangeStatus::done:
      break;
  }
  if (commit.select_path) tol_pane_select_path(self, commit.select_path->c_str());
  report(self, commit, commit.success);
  return TolCommitResult::kDone;
}
