// The value commands: delete, rename, create (from the New value dialog and in
// one step from the menu) and the commit of the value editors.
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
#include "ui/value_dialogs.h"
#include "ui/value_item.h"
#include "value/codec.h"

namespace {

constexpr char kValueNameKey[] = "tol-value-name";

// Messages show the default value under the name the list gives it.
std::string shown_name(const std::string& name) {
  return name.empty() ? std::string(_("(Default)")) : name;
}

// The key a value command works in, or nothing without a hive or a selection.
std::optional<std::uint32_t> selected_key(TolPane* pane) {
  if (!pane->d->hive)
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
  commit.failure = _("Failed to create the value");
  commit.save_failure_format = _("Save failed: %s");
  commit.update = TolViewUpdate::kRefreshValues;
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
  commit.failure = _("Failed to delete the value");
  commit.save_failure_format = _("Saving after deletion failed: %s");
  commit.update = TolViewUpdate::kRefreshValues;
  commit.success = tol_format(_("Deleted value \"%s\""), shown_name(name).c_str());
  tol_pane_commit(pane, commit);
}

// ---- Rename --------------------------------------------------------------------------

struct RenameDialog {
  explicit RenameDialog(TolPane* pane) : pane(pane) {}
  TolPaneRef pane;
  GtkWidget* window = nullptr;
  GtkWidget* entry = nullptr;
  std::string old_name;  // "" for the default value
  std::string shown;     // the entry's initial text
};

void apply_rename(GtkWidget*, gpointer window_ptr) {
  GtkWidget* window = GTK_WIDGET(window_ptr);
  auto* dialog = tol_dialog_get_context<RenameDialog>(window);
  TolPane* pane = dialog->pane.get();
  const std::optional<std::uint32_t> key =
      pane != nullptr ? selected_key(pane) : std::nullopt;
  if (key) {
    // The default value is shown as "(Default)"; confirming that text as it
    // was keeps the name it stands for rather than spelling it out, so no
    // value literally named "(Default)" appears. Any edited text is the name.
    std::string new_name = tol_dialog_get_text(dialog->entry, nullptr);
    if (new_name == dialog->shown)
      new_name = dialog->old_name;
    const std::string old_name = dialog->old_name;
    TolCommit commit;
    commit.operation = [&](TolHive& hive, GError** error) {
      return tol_hive_rename_value(hive, *key, old_name, new_name, error);
    };
    commit.failure = _("Failed to rename the value");
    commit.save_failure_format = _("Save failed: %s");
    commit.update = TolViewUpdate::kRefreshValues;
    commit.success = tol_format(_("Value renamed to \"%s\""), shown_name(new_name).c_str());
    tol_pane_commit(pane, commit);
  }
  gtk_window_destroy(GTK_WINDOW(window));
}

}  // namespace

bool tol_pane_confirm_delete_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolValueItem* item = self->d->hive ? tol_pane_get_selected_value(self) : nullptr;
  if (item == nullptr)
    return false;
  const std::string& name = tol_value_item_get_name(item);

  TolAlert alert;
  alert.heading = _("Delete value?");
  alert.body = tol_format(_("Value \"%s\" will be deleted. This can be undone."),
                          shown_name(name).c_str());
  alert.responses = {{"cancel", _("Cancel"), ADW_RESPONSE_DEFAULT},
                     {"delete", _("Delete"), ADW_RESPONSE_DESTRUCTIVE}};
  alert.default_response = "cancel";
  alert.close_response = "cancel";

  // The name rides on the alert; the callback finds the alert through this
  // slot, filled once the alert exists.
  auto shown = std::make_shared<GtkWidget*>(nullptr);
  auto pane = std::make_shared<TolPaneRef>(self);
  GtkWidget* dialog = tol_compat_alert_show(
      GTK_WIDGET(self), alert, [shown, pane](const char* response) {
        if (g_strcmp0(response, "delete") != 0 || pane->get() == nullptr || *shown == nullptr)
          return;
        const char* name = static_cast<const char*>(g_object_get_data(G_OBJECT(*shown), kValueNameKey));
        delete_value(pane->get(), name != nullptr ? name : "");
      });
  g_object_set_data_full(G_OBJECT(dialog), kValueNameKey, g_strdup(name.c_str()), g_free);
  *shown = dialog;
  return true;
}

bool tol_pane_show_rename_value(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolValueItem* item = self->d->hive ? tol_pane_get_selected_value(self) : nullptr;
  if (item == nullptr)
    return false;
  auto context = std::make_unique<RenameDialog>(self);
  context->old_name = tol_value_item_get_name(item);
  context->shown = shown_name(context->old_name);
  TolDialog dialog = tol_dialog_new(self, _("Rename value"), context->shown.c_str(), false);
  context->window = dialog.window;
  context->entry = dialog.entry;
  tol_dialog_set_context(dialog.window, std::move(context));
  g_signal_connect(dialog.ok, "clicked", G_CALLBACK(apply_rename), dialog.window);
  g_signal_connect(dialog.entry, "activate", G_CALLBACK(apply_rename), dialog.window);
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
  // A change the hive refused is not reported as made.
  commit.failure = _("Failed to change the value");
  commit.save_failure_format = _("Save failed: %s");
  commit.update = TolViewUpdate::kRefreshValues;
  commit.success = tol_format(_("Changed value \"%s\""), shown_name(value_name).c_str());
  tol_pane_commit(self, commit);
}

void tol_pane_apply_new_value(TolNewValueDialog* dialog) {
  GtkWidget* window = dialog->window;
  TolPane* pane = dialog->pane.get();
  if (pane != nullptr) {
    const std::string name = tol_dialog_get_text(dialog->entry, nullptr);
    const guint position = gtk_drop_down_get_selected(GTK_DROP_DOWN(dialog->type_drop_down));
    const std::uint32_t type =
        position < G_N_ELEMENTS(TOL_NEW_VALUE_TYPES) ? TOL_NEW_VALUE_TYPES[position] : TOL_REG_SZ;
    if (const std::optional<std::uint32_t> key = selected_key(pane)) {
      TolCommit commit = create_commit(*key, name, type);
      commit.success = tol_format(_("Created value \"%s\""), shown_name(name).c_str());
      tol_pane_commit(pane, commit);
    } else {
      tol_pane_toast(pane, _("Nothing is selected"));
    }
  }
  gtk_window_destroy(GTK_WINDOW(window));
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
  GListModel* rows = G_LIST_MODEL(self->value_store);
  const auto row_named = [rows](const std::string& name) -> std::optional<guint> {
    for (guint i = 0; i < g_list_model_get_n_items(rows); ++i) {
      auto* item = static_cast<TolValueItem*>(g_list_model_get_item(rows, i));
      const bool same = g_ascii_strcasecmp(tol_value_item_get_name(item).c_str(), name.c_str()) == 0;
      g_object_unref(item);
      if (same)
        return i;
    }
    return std::nullopt;
  };
  std::string name;
  for (guint n = 1;; ++n) {
    name = tol_format(_("New value #%u"), n);
    if (!row_named(name))
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
  if (const std::optional<guint> row = row_named(name)) {
    tol_compat_column_view_scroll_to(GTK_COLUMN_VIEW(self->value_list_view), *row, true);
    gtk_single_selection_set_selected(self->value_selection, *row);
    tol_pane_show_rename_value(self);
  }
}
