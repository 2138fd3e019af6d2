// The key commands: New key, Rename key and the Delete key? alert.
#include <glib/gi18n-lib.h>

#include <memory>
#include <optional>
#include <string>

#include "hive/edit.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/dialog.h"
#include "ui/pane_private.h"

namespace {

// The New key and Rename key dialogs' context. The key to act on is read from
// the tree's selection at OK, so the dialog holds no key offset.
struct KeyDialog {
  explicit KeyDialog(TolPane* pane) : pane(pane) {}
  TolPaneRef pane;
  GtkWidget* window = nullptr;
  GtkWidget* entry = nullptr;
};

// The typed name, or nothing after telling the user why it cannot be used;
// the dialog then stays open for another try.
std::optional<std::string> checked_name(TolPane* pane, const KeyDialog& dialog) {
  std::string name = tol_dialog_get_text(dialog.entry, nullptr);
  if (name.empty()) {
    tol_pane_toast(pane, _("The name cannot be empty"));
    return std::nullopt;
  }
  if (name.find('\\') != std::string::npos) {
    tol_pane_toast(pane, _("The name cannot contain \\ (path separator)"));
    return std::nullopt;
  }
  return name;
}

std::string child_path(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : tol_format(_("%s\\%s"), parent.c_str(), name.c_str());
}

bool selected_is_root(TolPane* pane, std::uint32_t key) {
  return key == pane->d->hive->root_cell;
}

// Opens a name dialog with its context; OK and Enter both run `apply`.
void open_key_dialog(TolPane* pane, const char* title, const char* text,
                     void (*apply)(GtkWidget*, gpointer)) {
  TolDialog dialog = tol_dialog_new(pane, title, text, false);
  auto context = std::make_unique<KeyDialog>(pane);
  context->window = dialog.window;
  context->entry = dialog.entry;
  tol_dialog_set_context(dialog.window, std::move(context));
  g_signal_connect(dialog.ok, "clicked", G_CALLBACK(apply), dialog.window);
  g_signal_connect(dialog.entry, "activate", G_CALLBACK(apply), dialog.window);
}

// The pane and the typed name of a key dialog's OK, or null after closing a
// dialog whose pane is gone or after refusing the name (the dialog then
// stays open).
TolPane* begin_apply(GtkWidget* window, std::optional<std::string>& name) {
  auto* dialog = tol_dialog_get_context<KeyDialog>(window);
  TolPane* pane = dialog->pane.get();
  if (pane == nullptr) {
    gtk_window_destroy(GTK_WINDOW(window));
    return nullptr;
  }
  name = checked_name(pane, *dialog);
  return name ? pane : nullptr;
}

void apply_new_key(GtkWidget*, gpointer window_ptr) {
  GtkWidget* window = GTK_WIDGET(window_ptr);
  std::optional<std::string> name;
  TolPane* pane = begin_apply(window, name);
  if (pane == nullptr)
    return;
  if (pane->d->hive) {
    TolHive& hive = *pane->d->hive;
    std::uint32_t parent = tol_pane_get_selected_key(pane);
    if (parent == TOL_NO_CELL)
      parent = hive.root_cell;
    TolCommit commit;
    commit.operation = [&](TolHive& h, GError** error) {
      return tol_hive_create_key(h, parent, *name, error).has_value();
    };
    commit.failure = _("Failed to create the key");
    commit.save_failure_format = _("Save failed: %s");
    commit.update = TolViewUpdate::kReloadAndSelect;
    commit.select_path = child_path(tol_hive_key_path(hive, parent), *name);
    commit.success = tol_format(_("Created key \"%s\""), name->c_str());
    tol_pane_commit(pane, commit);
  }
  gtk_window_destroy(GTK_WINDOW(window));
}

void apply_rename_key(GtkWidget*, gpointer window_ptr) {
  GtkWidget* window = GTK_WIDGET(window_ptr);
  std::optional<std::string> name;
  TolPane* pane = begin_apply(window, name);
  if (pane == nullptr)
    return;
  const std::uint32_t key = pane->d->hive ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key != TOL_NO_CELL && selected_is_root(pane, key)) {
    tol_pane_toast(pane, _("The hive root cannot be renamed"));
  } else if (key != TOL_NO_CELL) {
    std::string parent = tol_hive_key_path(*pane->d->hive, key);
    const std::size_t cut = parent.rfind('\\');
    parent.resize(cut == std::string::npos ? 0 : cut);
    TolCommit commit;
    commit.operation = [&](TolHive& h, GError** error) {
      return tol_hive_rename_key(h, key, *name, error).has_value();
    };
    commit.failure = _("Failed to rename the key");
    commit.save_failure_format = _("Save failed: %s");
    commit.update = TolViewUpdate::kReloadAndSelect;
    commit.select_path = child_path(parent, *name);
    commit.success = tol_format(_("Renamed to \"%s\""), name->c_str());
    tol_pane_commit(pane, commit);
  }
  gtk_window_destroy(GTK_WINDOW(window));
}

// The selected key for a command that cannot act on the root, or nothing
// after telling the user why.
std::optional<std::uint32_t> selected_below_root(TolPane* pane, const char* root_message) {
  const std::uint32_t key = pane->d->hive ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(pane, _("Nothing is selected"));
    return std::nullopt;
  }
  if (selected_is_root(pane, key)) {
    tol_pane_toast(pane, root_message);
    return std::nullopt;
  }
  return key;
}

void delete_selected_key(TolPane* pane) {
  if (!pane->d->hive)
    return;
  const std::uint32_t key = tol_pane_get_selected_key(pane);
  if (key == TOL_NO_CELL)
    return;
  const std::string name = tol_hive_key_name(*pane->d->hive, key);
  TolCommit commit;
  commit.operation = [key](TolHive& h, GError** error) { return tol_hive_delete_key(h, key, error); };
  commit.failure = tol_format(_("Cannot delete key \"%s\""), name.c_str());
  commit.save_failure_format = _("Saving after deletion failed: %s");
  commit.update = TolViewUpdate::kReloadKeepSelection;
  commit.success = tol_format(_("Deleted key \"%s\""), name.c_str());
  tol_pane_commit(pane, commit);
}

}  // namespace

void tol_pane_show_new_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (!self->d->hive) {
    tol_pane_toast(self, _("Open a hive file in this pane first"));
    return;
  }
  open_key_dialog(self, _("New key (under the selected key)"), _("NewKey"), apply_new_key);
}

void tol_pane_show_rename_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<std::uint32_t> key =
      selected_below_root(self, _("The hive root cannot be renamed"));
  if (!key)
    return;
  const std::string name = tol_hive_key_name(*self->d->hive, *key);
  open_key_dialog(self, _("Rename key"), name.c_str(), apply_rename_key);
}

void tol_pane_confirm_delete_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<std::uint32_t> key =
      selected_below_root(self, _("The hive root cannot be deleted"));
  if (!key)
    return;
  const std::string name = tol_hive_key_name(*self->d->hive, *key);
  TolAlert alert;
  alert.heading = _("Delete key?");
  alert.body = tol_format(
      _("Key \"%s\" and its entire subtree (subkeys and values) will be deleted. This can be undone."),
      name.c_str());
  alert.responses = {{"cancel", _("Cancel"), ADW_RESPONSE_DEFAULT},
                     {"delete", _("Delete"), ADW_RESPONSE_DESTRUCTIVE}};
  alert.default_response = "cancel";
  alert.close_response = "cancel";
  // The key is taken from the selection again when the answer comes.
  auto pane = std::make_shared<TolPaneRef>(self);
  tol_compat_alert_show(GTK_WIDGET(self), alert, [pane](const char* response) {
    if (pane->get() != nullptr && g_strcmp0(response, "delete") == 0)
      delete_selected_key(pane->get());
  });
}
