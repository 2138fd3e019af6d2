// The security descriptor editor: the selected key's descriptor as hex bytes,
// stored copy-on-write in an sk record of the key's own.
#include <glib/gi18n-lib.h>

#include <memory>
#include <optional>
#include <string>

#include "hive/security.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/dialog.h"
#include "ui/pane_private.h"
#include "ui/value_dialogs.h"
#include "value/codec.h"

namespace {

struct SecurityEditor {
  explicit SecurityEditor(TolPane* pane) : pane(pane) {}
  TolPaneRef pane;
  GtkWidget* window = nullptr;
  GtkTextBuffer* buffer = nullptr;
};

void tol_security_apply(SecurityEditor* editor) {
  TolPane* pane = editor->pane.get();
  if (pane == nullptr) {
    gtk_window_destroy(GTK_WINDOW(editor->window));
    return;
  }
  const std::optional<TolBytes> descriptor =
      tol_pane_parse_hex(pane, tol_dialog_get_text(nullptr, editor->buffer));
  if (!descriptor)
    return;
  const std::uint32_t key = pane->d->hive ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(pane, _("No key selected"));
    return;
  }

  // The snapshot comes before the check, so a refused descriptor is still one
  // undo step (that changes nothing).
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError** error) {
    // An invalid descriptor needs no reason behind the failure text.
    if (!tol_security_descriptor_valid(*descriptor))
      return false;
    commit.failure = _("Failed to store the security descriptor");
    return tol_hive_store_security(hive, key, *descriptor, error);
  };
  commit.failure = _("Invalid SECURITY_DESCRIPTOR_RELATIVE");
  commit.save_error_fallback = _("Failed to save ACL");
  // The descriptor shows in no view; the value lists are the cheapest update.
  commit.update = TolViewUpdate::kRefreshValues;
  commit.success = _("Key security saved (copy-on-write)");
  // Only a stored descriptor closes the editor: after any failure the text
  // is still there to correct or to try again.
  if (tol_pane_commit(pane, commit) == TolCommitResult::kDone)
    gtk_window_destroy(GTK_WINDOW(editor->window));
}

void on_ok(GtkButton*, gpointer window) {
  tol_security_apply(tol_dialog_get_context<SecurityEditor>(GTK_WIDGET(window), TOL_SECURITY_CONTEXT));
}

}  // namespace

void tol_pane_edit_security(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::uint32_t key = self->d->hive ? tol_pane_get_selected_key(self) : TOL_NO_CELL;
  const std::optional<std::vector<std::uint8_t>> descriptor =
      key != TOL_NO_CELL ? tol_hive_key_security(*self->d->hive, key) : std::nullopt;
  if (!descriptor) {
    tol_pane_toast(self, _("The key has no valid security descriptor"));
    return;
  }
  const std::string text = tol_value_hex_format(*descriptor);
  TolDialog dialog = tol_dialog_new(self, _("Security descriptor (self-relative, hex)"), text.c_str(), true);
  tol_dialog_wrap_hex(dialog.window);
  auto editor = std::make_unique<SecurityEditor>(self);
  editor->window = dialog.window;
  editor->buffer = dialog.buffer;
  tol_dialog_set_context(dialog.window, std::move(editor), TOL_SECURITY_CONTEXT);
  g_signal_connect(dialog.ok, "clicked", G_CALLBACK(on_ok), dialog.window);
}
