// The .reg import of a pane: the file dialog, then one undoable import below
// the selected key.
#include <glib/gi18n-lib.h>

#include <string>

#include "reg/import.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/dialog.h"

void tol_pane_import_reg(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_get_hive(self) == nullptr) {
    tol_pane_toast(self, _("Open a hive file in this pane first"));
    return;
  }
  if (tol_pane_refuse_deleted_key(self)) return;

  TolFileRequest request;
  request.action = TolFileAction::open;
  request.title = _("Import a .reg file into the selected key");
  request.filters.push_back({_("Registry files (*.reg)"), {"*.reg", "*.REG"}});
  request.error_format = "wybor pliku .reg do importu: %s";

  tol_dialog_choose_file(self, request, tol_pane_import_reg_from);
}

void tol_pane_import_reg_from(TolPane* self, const char* path) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(path != nullptr);
  // The hive and the selection are read now: either may have changed while
  // the dialog was open.
  TolHive* hive = tol_pane_get_hive(self);
  if (hive == nullptr) {
    tol_pane_toast(self, _("No hive is loaded in this pane"));
    return;
  }
  if (tol_pane_refuse_deleted_key(self)) return;
  std::uint32_t destination = tol_pane_get_selected_key(self);
  if (destination == TOL_NO_CELL)
    destination = hive->root_cell;

  TolRegImportCounts counts;
  TolCommit commit;
  const std::string file = path;
  commit.operation = [&](TolHive& target, GError**) {
    g_autoptr(GError) error = nullptr;
    if (!tol_reg_import_from_file(target, destination, file, counts, &error)) {
      const char* message =
          error != nullptr && error->message != nullptr && error->message[0] != '\0'
              ? error->message
              : _("unknown error");
      commit.failure = tol_format(_("Import failed: %s"), message);
      return false;
    }
    commit.success = tol_reg_import_summary(counts);
    return true;
  };
  commit.save_failure_format = _("Saving after import failed: %s");
  commit.save_error_fallback = _("unknown error");
  commit.change = TolChange{TolChangeKind::subtree, destination};
  tol_pane_commit(self, commit);
}
