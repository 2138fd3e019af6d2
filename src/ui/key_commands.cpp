// The key commands: New key, Rename key and the Delete key? alert.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "hive/edit.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/dialog.h"
#include "ui/weak_ref.h"

namespace {

// The typed name, or nothing after telling the user why it cannot be used;
// the dialog then stays open for another try.
std::optional<std::string> checked_name(TolPane* pane, TolEditDialog* dialog) {
  std::string name = tol_edit_dialog_get_text(dialog);
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

std::string parent_path(std::string path) {
  const std::size_t cut = path.rfind('\\');
  path.resize(cut == std::string::npos ? 0 : cut);
  return path;
}

// A name dialog whose OK runs `apply` with the typed name; the key to act on
// is read from the tree's selection then, so the dialog holds no offset.
void open_key_dialog(TolPane* pane, const char* title, const char* text,
                     bool (*apply)(TolPane*, const std::string&)) {
  TolEditDialog* dialog = tol_edit_dialog_new(pane, title, text, false);
  tol_edit_dialog_set_apply(dialog, [apply](TolPane* target, TolEditDialog* self) {
    const std::optional<std::string> name = checked_name(target, self);
    return name && apply(target, *name);
  });
  tol_edit_dialog_present(dialog);
}

bool apply_new_key(TolPane* pane, const std::string& name) {
  TolHive* hive = tol_pane_get_hive(pane);
  if (hive == nullptr || tol_pane_refuse_deleted_key(pane)) return true;
  std::uint32_t parent = tol_pane_get_selected_key(pane);
  if (parent == TOL_NO_CELL) parent = hive->root_cell;
  TolCommit commit;
  commit.operation = [&](TolHive& h, GError** error) {
    return tol_hive_create_key(h, parent, name, error).has_value();
  };
  commit.change = TolChange{TolChangeKind::subkeys, parent};
  commit.failure = _("Failed to create the key");
  commit.save_failure_format = _("Save failed: %s");
  commit.select_path = child_path(tol_hive_key_path(*hive, parent), name);
  commit.success = tol_format(_("Created key \"%s\""), name.c_str());
  tol_pane_commit(pane, commit);
  return true;
}

bool apply_rename_key(TolPane* pane, const std::string& name) {
  TolHive* hive = tol_pane_get_hive(pane);
  const std::uint32_t key = hive != nullptr ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) return true;
  if (key == hive->root_cell) {
    tol_pane_toast(pane, _("The hive root cannot be renamed"));
    return true;
  }
  const std::string parent = parent_path(tol_hive_key_path(*hive, key));
  const std::uint32_t parent_key = tol_hive_key_parent(*hive, key).value_or(hive->root_cell);
  TolCommit commit;
  commit.operation = [&](TolHive& h, GError** error) {
    return tol_hive_rename_key(h, key, name, error).has_value();
  };
  commit.change = TolChange{TolChangeKind::subkeys, parent_key};
  commit.failure = _("Failed to rename the key");
  commit.save_failure_format = _("Save failed: %s");
  commit.select_path = child_path(parent, name);
  commit.success = tol_format(_("Renamed to \"%s\""), name.c_str());
  tol_pane_commit(pane, commit);
  return true;
}

// The selected key for a command that cannot act on the root, or nothing
// after telling the user why.
std::optional<std::uint32_t> selected_below_root(TolPane* pane, const char* root_message) {
  TolHive* hive = tol_pane_get_hive(pane);
  const std::uint32_t key = hive != nullptr ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL) {
    tol_pane_toast(pane, _("Nothing is selected"));
    return std::nullopt;
  }
  if (key == hive->root_cell) {
    tol_pane_toast(pane, root_message);
    return std::nullopt;
  }
  return key;
}

void delete_selected_key(TolPane* pane) {
  TolHive* hive = tol_pane_get_hive(pane);
  const std::uint32_t key = hive != nullptr ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (key == TOL_NO_CELL || key == hive->root_cell) return;
  const std::string name = tol_hive_key_name(*hive, key);
  TolCommit commit;
  commit.operation = [key](TolHive& h, GError** error) { return tol_hive_delete_key(h, key, error); };
  commit.change = TolChange{TolChangeKind::subkeys, tol_hive_key_parent(*hive, key).value_or(hive->root_cell)};
  commit.failure = tol_format(_("Cannot delete key \"%s\""), name.c_str());
  commit.save_failure_format = _("Saving after deletion failed: %s");
  commit.success = tol_format(_("Deleted key \"%s\""), name.c_str());
  tol_pane_commit(pane, commit);
}

}  // namespace

void tol_pane_show_new_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (tol_pane_get_hive(self) == nullptr) {
    tol_pane_toast(self, _("Open a hive file in this pane first"));
    return;
  }
  if (tol_pane_refuse_deleted_key(self)) return;
  open_key_dialog(self, _("New key (under the selected key)"), _("NewKey"), apply_new_key);
}

void tol_pane_show_rename_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<std::uint32_t> key = selected_below_root(self, _("The hive root cannot be renamed"));
  if (!key) return;
  const std::string name = tol_hive_key_name(*tol_pane_get_hive(self), *key);
  open_key_dialog(self, _("Rename key"), name.c_str(), apply_rename_key);
}

void tol_pane_confirm_delete_key(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<std::uint32_t> key = selected_below_root(self, _("The hive root cannot be deleted"));
  if (!key) return;
  const std::string name = tol_hive_key_name(*tol_pane_get_hive(self), *key);
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
  TolWeakRef<TolPane> ref(self);
  tol_compat_alert_show(GTK_WIDGET(self), alert, [ref](const char* response) {
    g_autoptr(TolPane) pane = ref.get();
    if (pane != nullptr && g_strcmp0(response, "delete") == 0) delete_selected_key(pane);
  });
}
