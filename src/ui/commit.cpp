// How every editing command changes a pane's hive: snapshot, operation, save,
// view update, one message; and the undo that takes a snapshot back.
#include <glib/gi18n-lib.h>
#include <glib/gstdio.h>

#include <optional>

#include "ui/commit.h"
#include "ui/pane_private.h"

namespace {

const char* message_of(const GError* error, const char* fallback) {
  return error != nullptr && error->message != nullptr && error->message[0] != '\0'
             ? error->message
             : fallback;
}

void report(TolPane* self, const TolCommit& commit, const std::string& message) {
  if (commit.report)
    commit.report(message);
  else
    tol_pane_toast(self, message.c_str());
}

bool same_file(const std::string& a, const std::string& b) {
  GStatBuf sa, sb;
  return g_stat(a.c_str(), &sa) == 0 && g_stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The other pane may show the file just saved, from a hive it read before:
// left as it is, its next save would write its older image over this change.
void reload_twin(TolPane* self) {
  TolPane* other = tol_pane_get_other(self);
  TolTab* tab = tol_pane_active_tab(self);
  TolTab* twin = other != nullptr ? tol_pane_active_tab(other) : nullptr;
  if (tab != nullptr && twin != nullptr && tab->path && twin->path &&
      same_file(*tab->path, *twin->path))
    tol_pane_reload(other);
}

void update_views(TolPane* self, const TolCommit& commit, const std::optional<std::string>& selected) {
  switch (commit.update) {
    case TolViewUpdate::kReloadAndSelect:
      tol_pane_reload_and_select(self, commit.select_path.c_str());
      break;
    case TolViewUpdate::kReloadKeepSelection:
      tol_pane_reload_and_select(self, selected ? selected->c_str() : nullptr);
      break;
    case TolViewUpdate::kRefreshValues:
      tol_pane_refresh_values(self);
      if (TolPane* other = tol_pane_get_other(self))
        tol_pane_refresh_values(other);
      break;
  }
}

}  // namespace

std::string tol_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text = g_strdup_vprintf(format, args);
  va_end(args);
  std::string out = text;
  g_free(text);
  return out;
}

TolCommitResult tol_pane_commit(TolPane* self, TolCommit& commit) {
  g_return_val_if_fail(TOL_IS_PANE(self), TolCommitResult::kFailed);
  TolHive* hive = self->d->hive.get();
  if (hive == nullptr)
    return TolCommitResult::kFailed;

  // What a failed operation needs to put everything back: the image is the
  // newest snapshot, and the journal loses the one it was about to drop.
  TolTab* tab = tol_pane_active_tab(self);
  const bool dirty_before = hive->dirty;
  std::shared_ptr<const std::vector<std::uint8_t>> oldest;
  if (tab != nullptr && tab->journal.snapshots.size() >= TolUndoJournal::kMaxSnapshots)
    oldest = tab->journal.snapshots.front();

  // Taken before the operation, which may remove the selected key: the reload
  // then selects what is left of its path.
  std::optional<std::string> selected;
  if (std::string path; commit.update == TolViewUpdate::kReloadKeepSelection &&
                        tol_pane_get_selected_key_path(self, path))
    selected = std::move(path);

  tol_undo_push(self);
  g_autoptr(GError) reason = nullptr;
  if (!commit.operation(*hive, &reason)) {
    if (commit.restore_on_failure && tab != nullptr && tol_journal_restore(tab->journal, *hive)) {
      hive->dirty = dirty_before;
      if (oldest != nullptr)
        tab->journal.snapshots.push_front(std::move(oldest));
    }
    report(self, commit,
           reason != nullptr ? tol_format(_("%s: %s"), commit.failure.c_str(), reason->message)
                             : commit.failure);
    return TolCommitResult::kFailed;
  }
  if (commit.nothing_to_save) {
    report(self, commit, commit.success);
    return TolCommitResult::kDone;
  }

  GError* error = nullptr;
  if (!tol_hive_save(*hive, &error)) {
    report(self, commit,
           tol_format(commit.save_failure_format, message_of(error, commit.save_error_fallback)));
    g_clear_error(&error);
    return TolCommitResult::kSaveFailed;
  }
  update_views(self, commit, selected);
  reload_twin(self);
  report(self, commit, commit.success);
  return TolCommitResult::kDone;
}

// ---- Undo ------------------------------------------------------------------------

void tol_undo_push(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  TolTab* tab = tol_pane_active_tab(self);
  if (!self->d->hive || tab == nullptr)
    return;
  tol_journal_record(tab->journal, *self->d->hive);
}

TolUndoResult tol_undo_pop(TolPane* self, std::string* failure) {
  g_return_val_if_fail(TOL_IS_PANE(self), TolUndoResult::kNothing);
  TolTab* tab = tol_pane_active_tab(self);
  if (!self->d->hive || tab == nullptr || !tol_journal_apply(tab->journal, *self->d->hive))
    return TolUndoResult::kNothing;
  GError* error = nullptr;
  const bool saved = tol_hive_save(*self->d->hive, &error);
  if (!saved) {
    // The step stays in the journal, so that the user can try again once
    // the cause is fixed; the view goes back to what the file holds.
    g_warning("undo: zapis nie powiodl sie: %s", message_of(error, "?"));
    if (failure != nullptr)
      *failure = message_of(error, _("unknown error"));
    g_clear_error(&error);
  } else {
    tab->journal.snapshots.pop_back();
  }
  tol_pane_reload(self);
  if (saved)
    reload_twin(self);
  return saved ? TolUndoResult::kUndone : TolUndoResult::kFailed;
}

bool tol_pane_undo(TolPane* self, bool toast) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  std::string failure;
  switch (tol_undo_pop(self, &failure)) {
    case TolUndoResult::kUndone:
      if (toast)
        tol_pane_toast(self, _("Last change undone"));
      return true;
    case TolUndoResult::kFailed:
      // Shown also for the keyboard's silent undo: a step that did not
      // happen must not look as if it had.
      tol_pane_toast(self, tol_format(_("Undo failed: %s"), failure.c_str()).c_str());
      return true;
    case TolUndoResult::kNothing:
      break;
  }
  if (toast)
    tol_pane_toast(self, _("Nothing to undo"));
  return false;
}
