// Export of the selected key's subtree to a .reg file chosen in a save dialog.
#include <glib/gi18n-lib.h>

#include <string>

#include "reg/export.h"
#include "ui/compat.h"
#include "ui/dialog.h"
#include "ui/commands.h"
#include "ui/key_tree.h"

void tol_pane_export_reg(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_get_hive(self) == nullptr || tol_pane_get_selected_key(self) == TOL_NO_CELL)
    return;

  TolFileRequest request;
  request.action = TolFileAction::save;
  request.title = _("Export to a .reg file");
  g_autofree char* initial = g_strdup_printf(_("%s.reg"), tol_key_tree_get_selected_name(tol_pane_get_key_tree(self)).c_str());
  request.initial_name = initial;
  request.error_format = "zapis pliku .reg: %s";

  tol_dialog_choose_file(self, request, tol_pane_export_reg_to);
}

void tol_pane_export_reg_to(TolPane* self, const char* path) {
  g_return_if_fail(TOL_IS_PANE(self));
  g_return_if_fail(path != nullptr);
  // The selection is read again: it may have changed while the dialog was open.
  const TolHive* hive = tol_pane_get_hive(self);
  const std::uint32_t key = tol_pane_get_selected_key(self);
  if (hive == nullptr || key == TOL_NO_CELL)
    return;
  g_autoptr(GError) error = nullptr;
  if (!tol_reg_export_file(*hive, key, path, &error)) {
    const char* message = error != nullptr ? error->message : "?";
    g_warning("eksport .reg nie powiodl sie: %s", message);
    // The user chose a file and waits for it; a log line alone would leave
    // them believing the export is there.
    g_autofree char* text = g_strdup_printf(_("Export failed: %s"), message);
    tol_pane_toast(self, text);
  }
}
