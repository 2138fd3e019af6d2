// The value commands: delete, rename, create (from the New value dialog and in
// one step from the menu) and the commit of the value editors.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "hive/edit.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/dialog.h"
#include "ui/value_dialogs.h"
#include "ui/value_item.h"
#include "ui/value_list.h"
#include "ui/weak_ref.h"
#include "value/codec.h"

namespace {

// Messages show the default value under the name the list gives it.
std::string shown_name(const std::string& name) {
  return name.empty() ? std::string(_("(Default)")) : name;
}

// The key a value command works in, or nothing without a hive or a selection.
std::optional<std::uint32_t> selected_key(TolPane* pane) {
  if (tol_pane_get_hive(pane) == nullptr)
    return std::nullopt;
  const std::uint32_t key = tol_pane_get_selected_key(pane);
  if (key == TOL_NO_CELL)
    return std::nullopt;
  return key;
}

// What a new value of each type starts with: an empty string, an empty
// list, a zero number, no bytes.
TolBytes initial_data(std::uint32_t type) {
  switch (type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ:
      return tol_value_sz_encode("");
    case TOL_REG_MULTI_SZ:
      return tol_value_multi_sz_encode("");
    case TOL_REG_DWORD:
      return TolBytes(4, 0);
    case TOL_REG_QWORD:
      return TolBytes(8, 0);
    default:
      return {};
  }
}

// The commit of a value created with its type's initial data.
TolCommit create_commit(std::uint32_t key, const std::string& name, std::uint32_t type) {
  TolCommit commit;
  commit.operation = [key, name, type](TolHive& hive, GError** error) {
    return tol_hive_set_value(hive, key, name, type, initial_data(type), error);
  };
  commit.change = TolChange{TolChangeKind::values, key};
  commit.failure = _("Failed to create the value");
  commit.save_failure_format = _("Save failed: %s");
  return commit;
}

// ---- Delete --------------------------------------------------------------------------

void delete_value(TolPane* pane, const std::string& name) {
  const std::optional<std::uint32_t> key = selected_key(pane);
  if (!key)
    return;
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError** error) {
    return tol_hive_delete_value(hive, *key, name, error);
  };
  commit.change = TolChange{TolChangeKind::values, *key};
  commit.failure = _("Failed to delete the value");
  commit.save_failure_format = _("Saving after deletion failed: %s");
  commit.success = tol_format(_("Deleted value \"%s\""), shown_name(name).c_str());
  tol_pane_commit(pane, commit);
}

// ---- Rename --------------------------------------------------------------------------

// The default value is shown as "(Default)"; confirming that text as it was
// keeps the name it stands for rather than spelling it out, so no value
// literally named "(Default)" appears. Any edited text is the name.
bool apply_rename(TolPane* pane, const std::string& old_name, const std::string& shown, std::string new_name) {
  const std::optional<std::uint32_t> key = selected_key(pane);
  if (!key) return true;
  if (new_name == shown) new_name = old_name;
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError** error) {
    return tol_hive_rename_value(hive, *key, old_name, new_name, error);
  };
  commit.change = TolChange{TolChangeKind::values, *key};
  commit.failure = _("Failed to rename the value");
  commit.save_failure_format = _("Save failed: %s");
  commit.success = tol_format(_("Value renamed to \"%s\""), shown_name(new_name).c_str());
  tol_pane_commit(pane, commit);
  return true;
}

}  // namespace

bool tol_pane_confirm_delete_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolValueItem* item = tol_pane_get_hive(self) != nullptr ? tol_pane_get_selected_value(self) : nullptr;
  if (item == nullptr)
    return false;
  if (tol_pane_refuse_deleted_value(self, item))
    return true;
  const std::string name = tol_value_item_get_name(item);

  TolAlert alert;
  alert.heading = _("Delete value?");
  alert.body = tol_format(_("Value \"%s\" will be deleted. This can be undone."),
                          shown_name(name).c_str());
  alert.responses = {{"cancel", _("Cancel"), ADW_RESPONSE_DEFAULT},
                     {"delete", _("Delete"), ADW_RESPONSE_DESTRUCTIVE}};
  alert.default_response = "cancel";
  alert.close_response = "cancel";
  TolWeakRef<TolPane> ref(self);
  tol_compat_alert_show(GTK_WIDGET(self), alert, [ref, name](const char* response) {
    g_autoptr(TolPane) pane = ref.get();
    if (pane != nullptr && g_strcmp0(response, "delete") == 0) delete_value(pane, name);
  });
  return true;
}

bool tol_pane_show_rename_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolValueItem* item = tol_pane_get_hive(self) != nullptr ? tol_pane_get_selected_value(self) : nullptr;
  if (item == nullptr)
    return false;
  if (tol_pane_refuse_deleted_value(self, item))
    return true;
  const std::string old_name = tol_value_item_get_name(item);
  const std::string shown = shown_name(old_name);
  TolEditDialog* dialog = tol_edit_dialog_new(self, _("Rename value"), shown.c_str(), false);
  tol_edit_dialog_set_apply(dialog, [old_name, shown](TolPane* pane, TolEditDialog* d) {
    return apply_rename(pane, old_name, shown, tol_edit_dialog_get_text(d));
  });
  tol_edit_dialog_present(dialog);
  return true;
}

void tol_pane_apply_value_change(TolPane* self, const char* name, std::uint32_t type,
                                 const std::uint8_t* data, std::uint32_t length) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<std::uint32_t> key = selected_key(self);
  if (!key)
    return;
  const std::string value_name = name != nullptr ? name : "";
  const std::span<const std::uint8_t> bytes(data, data != nullptr ? length : 0);
  TolCommit commit;
  commit.operation = [&](TolHive& hive, GError** error) {
    return tol_hive_set_value(hive, *key, value_name, type, bytes, error);
  };
  commit.change = TolChange{TolChangeKind::values, *key};
  // A change the hive refused is not reported as made.
  commit.failure = _("Failed to change the value");
  commit.save_failure_format = _("Save failed: %s");
  commit.success = tol_format(_("Changed value \"%s\""), shown_name(value_name).c_str());
  tol_pane_commit(self, commit);
}

void tol_pane_apply_new_value(TolPane* pane, const std::string& name, std::uint32_t type) {
  if (const std::optional<std::uint32_t> key = selected_key(pane)) {
    TolCommit commit = create_commit(*key, name, type);
    commit.success = tol_format(_("Created value \"%s\""), shown_name(name).c_str());
    tol_pane_commit(pane, commit);
  } else {
    tol_pane_toast(pane, _("Nothing is selected"));
  }
}

void tol_pane_new_value_quick(TolPane* self, const char* type_name) {
  g_return_if_fail(TOL_IS_PANE(self));
  std::uint32_t type = TOL_REG_SZ;
  if (type_name != nullptr) {
    for (const std::uint32_t candidate : TOL_NEW_VALUE_TYPES) {
      if (g_strcmp0(type_name, tol_value_type_name(candidate)) == 0)
        type = candidate;
    }
  }
  const std::optional<std::uint32_t> key = selected_key(self);
  if (!key) {
    tol_pane_toast(self, _("Nothing is selected"));
    return;
  }

  // The list shows the key's values, so a name no row has is free in the key.
  TolValueList* list = tol_pane_get_value_list(self);
  std::string name;
  for (guint n = 1;; ++n) {
    name = tol_format(_("New value #%u"), n);
    if (!tol_value_list_find(list, name))
      break;
  }

  TolCommit commit = create_commit(*key, name, type);
  // The rename dialog that follows says what happened; only trouble is told.
  commit.report = [self](const std::string& message) {
    if (!message.empty())
      tol_pane_toast(self, message.c_str());
  };
  if (tol_pane_commit(self, commit) != TolCommitResult::kDone)
    return;
  if (const std::optional<guint> row = tol_value_list_find(list, name)) {
    tol_value_list_select(list, *row);
    tol_pane_show_rename_value(self);
  }
}
