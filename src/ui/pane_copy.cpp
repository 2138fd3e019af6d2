// Copying a key with its subtree from one pane's hive into the other's: F5,
// Shift+F5, the copy buttons and drag and drop between the key trees.
#include <glib/gi18n-lib.h>

#include <string>

#include "hive/copy.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/key_tree.h"

namespace {

// One copy's outcome as the commit sequence sees it. A copy may stop half
// way with keys already written; the document puts the image back when it
// fails. A copy that succeeded only in part (some subtree below the top key
// could not be copied) still counts as done, but its message says so.
struct CopyOperation {
  TolHive* source = nullptr;
  std::uint32_t key = TOL_NO_CELL;
  std::uint32_t parent = TOL_NO_CELL;
  std::uint32_t count = 0;
  std::string error;  // the engine's first error; empty without one

  bool run(TolHive& destination) {
    g_autoptr(GError) failure = nullptr;
    count = tol_hive_copy_subtree(*source, key, destination, parent, &failure);
    if (failure != nullptr && failure->message != nullptr)
      error = failure->message;
    return count != 0;
  }
};

}  // namespace

bool tol_pane_drop_key(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  // The source is the dragged key, not the dropped text; the destination the
  // key selected here, not the row under the pointer.
  std::uint32_t key = TOL_NO_CELL;
  g_autoptr(TolDocument) source = tol_key_tree_dragged_key(&key);
  if (source == nullptr || key == TOL_NO_CELL || tol_pane_get_hive(self) == nullptr)
    return false;
  const std::uint32_t parent = tol_pane_get_selected_key(self);
  if (parent == TOL_NO_CELL)
    return false;

  CopyOperation copy{&tol_document_get_hive(source), key, parent, 0, {}};
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError**) {
    if (copy.run(hive)) {
      commit.success = copy.error.empty()
                           ? tol_format(_("Dragged and copied %u keys"), copy.count)
                           : tol_format(_("Dragged and copied %u keys, but some keys failed: %s"),
                                        copy.count, copy.error.c_str());
      return true;
    }
    commit.failure = copy.error.empty() ? _("Failed to copy the key") : copy.error;
    return false;
  };
  commit.change = TolChange{TolChangeKind::subtree, parent};
  commit.save_error_fallback = _("Failed to copy the key");
  return tol_pane_commit(self, commit) == TolCommitResult::kDone;
}

void tol_pane_copy_between(TolPane* source, TolPane* destination, const char* direction) {
  g_return_if_fail(TOL_IS_PANE(source) && TOL_IS_PANE(destination));
  TolHive* from = tol_pane_get_hive(source);
  const std::uint32_t key = from != nullptr ? tol_pane_get_selected_key(source) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(destination, _("Nothing is selected"));
    return;
  }
  const std::uint32_t parent =
      tol_pane_get_hive(destination) != nullptr ? tol_pane_get_selected_key(destination) : TOL_NO_CELL;
  if (parent == TOL_NO_CELL) {
    tol_pane_toast(destination, _("The destination pane is empty — open a hive file in it"));
    return;
  }

  const std::string name = tol_hive_key_name(*from, key);
  // The source document is held: the change's signal may reach a view that
  // lets go of it.
  g_autoptr(TolDocument) hold = TOL_DOCUMENT(g_object_ref(tol_pane_get_document(source)));
  CopyOperation copy{from, key, parent, 0, {}};
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError**) {
    if (copy.run(hive)) {
      const char* unit = copy.count == 1 ? _("key") : _("keys");
      commit.success =
          copy.error.empty()
              ? tol_format(_("Copied \"%s\" %s (%u %s)"), name.c_str(), direction, copy.count, unit)
              : tol_format(_("Copied \"%s\" %s (%u %s), but some keys failed: %s"), name.c_str(),
                           direction, copy.count, unit, copy.error.c_str());
      return true;
    }
    commit.failure = tol_format(_("Copying \"%s\" failed: %s"), name.c_str(),
                                copy.error.empty() ? _("unknown error") : copy.error.c_str());
    return false;
  };
  commit.save_failure_format = _("Saving the hive file failed: %s");
  commit.save_error_fallback = _("unknown error");
  commit.change = TolChange{TolChangeKind::subtree, parent};
  tol_pane_commit(destination, commit);
}
