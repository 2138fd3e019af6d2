// The security descriptor editor: the selected key's descriptor as a list of
// its entries, as SDDL and as hex bytes, kept in step; stored copy-on-write in
// an sk record of the key's own.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "hive/security.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/dialog.h"
#include "ui/security_views.h"
#include "ui/value_dialogs.h"
#include "value/codec.h"

namespace {

// Only a stored descriptor closes the editor: after any failure the text is
// still there to correct or to try again.
bool apply(TolPane* pane, TolEditDialog* dialog, TolSecurityViews* views) {
  // SDDL that does not parse has not reached the hex: its error stays beside
  // the field and nothing is stored.
  if (tol_security_views_sddl_pending(views)) {
    gtk_widget_grab_focus(tol_security_views_get_sddl_entry(views));
    return false;
  }
  const std::optional<TolBytes> descriptor = tol_pane_parse_hex(pane, tol_edit_dialog_get_text(dialog));
  if (!descriptor) return false;
  const std::uint32_t key = tol_pane_get_hive(pane) != nullptr ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(pane, _("No key selected"));
    return false;
  }
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError** error) {
    // An invalid descriptor needs no reason behind the failure text.
    if (!tol_security_descriptor_valid(*descriptor)) return false;
    commit.failure = _("Failed to store the security descriptor");
    return tol_hive_store_security(hive, key, *descriptor, error);
  };
  // The descriptor shows in no view: the change touches the key's values'
  // neighbourhood only.
  commit.change = TolChange{TolChangeKind::values, key};
  commit.failure = _("Invalid SECURITY_DESCRIPTOR_RELATIVE");
  commit.save_error_fallback = _("Failed to save ACL");
  commit.success = _("Key security saved (copy-on-write)");
  return tol_pane_commit(pane, commit) == TolCommitResult::kDone;
}

}  // namespace

void tol_pane_edit_security(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  TolHive* hive = tol_pane_get_hive(self);
  const std::uint32_t key = hive != nullptr ? tol_pane_get_selected_key(self) : TOL_NO_CELL;
  const std::optional<std::vector<std::uint8_t>> descriptor =
      key != TOL_NO_CELL ? tol_hive_key_security(*hive, key) : std::nullopt;
  if (!descriptor) {
    tol_pane_toast(self, _("The key has no valid security descriptor"));
    return;
  }
  const std::string text = tol_value_hex_format(*descriptor);
  TolEditDialog* dialog =
      tol_edit_dialog_new(self, _("Security descriptor (self-relative, hex)"), text.c_str(), true);
  tol_edit_dialog_wrap_anywhere(dialog);
  TolSecurityViews* views = tol_security_views_new(tol_edit_dialog_get_buffer(dialog));
  tol_edit_dialog_add_above(dialog, GTK_WIDGET(views));
  gtk_window_set_default_size(GTK_WINDOW(dialog), 760, 620);
  tol_edit_dialog_set_apply(dialog, [views](TolPane* pane, TolEditDialog* d) { return apply(pane, d, views); });
  tol_edit_dialog_present(dialog);
}
