// Restoring deleted keys and values from the views: Restore puts the item
// back where it was, Restore to… where the user says. Each is one change of
// the document, so one undo takes it back, and the deleted rows return.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "hive/deleted.h"
#include "hive/errors.h"
#include "ui/commands.h"
#include "ui/commit.h"
#include "ui/compat.h"
#include "ui/dialog.h"
#include "ui/key_tree.h"
#include "ui/value_item.h"
#include "ui/value_list.h"
#include "ui/weak_ref.h"

namespace {

// What is to be restored, as it stands in the scan the views show. The
// record identifies it: a restore scans again and finds it by that.
struct Restorable {
  bool is_key = true;
  std::uint32_t record = TOL_NO_CELL;
  std::string name;
  std::uint32_t original = TOL_NO_CELL;  // the live parent (key) or key (value); none when not live
  std::uint32_t nearest = TOL_NO_CELL;   // the nearest live key above it, none when unknown
};

std::string shown_value_name(const std::string& name) {
  return name.empty() ? std::string(_("(Default)")) : name;
}

std::string shown_name(const Restorable& item) {
  return item.is_key ? item.name : shown_value_name(item.name);
}

// The deleted value selected in the value list while it has the focus,
// otherwise the deleted key selected in the tree.
std::optional<Restorable> selected_restorable(TolPane* pane) {
  TolKeyTree* tree = tol_pane_get_key_tree(pane);
  const TolDeletedScan* scan = tree != nullptr ? tol_key_tree_get_deleted_scan(tree) : nullptr;
  if (scan == nullptr || tol_pane_get_hive(pane) == nullptr) return std::nullopt;
  if (tol_pane_focus_in_value_list(pane)) {
    TolValueItem* item = tol_pane_get_selected_value(pane);
    // By the record: the row may have been made from an earlier scan.
    const std::optional<std::size_t> index = item != nullptr && tol_value_item_is_deleted(item)
                                                 ? tol_deleted_find_value(*scan, tol_value_item_get_record(item))
                                                 : std::nullopt;
    if (index) {
      const TolDeletedValue& value = scan->values[*index];
      Restorable r{false, value.record, value.name};
      if (value.owner_place == TolDeletedPlace::live) r.original = r.nearest = value.owner;
      else if (value.owner_place == TolDeletedPlace::deleted && value.owner_index < scan->keys.size())
        r.nearest = scan->keys[value.owner_index].live_ancestor;
      return r;
    }
  }
  if (const std::optional<std::size_t> index = tol_key_tree_get_selected_deleted_key(tree)) {
    const TolDeletedKey& key = scan->keys[*index];
    Restorable r{true, key.record, key.name};
    if (key.parent_place == TolDeletedPlace::live) r.original = key.parent;
    r.nearest = key.live_ancestor;
    return r;
  }
  return std::nullopt;
}

std::optional<Restorable> selected_or_toast(TolPane* pane) {
  std::optional<Restorable> item = selected_restorable(pane);
  if (!item) tol_pane_toast(pane, _("Select a deleted key or value to restore"));
  return item;
}

void restore(TolPane* pane, const Restorable& item, std::uint32_t parent, bool rename);

// The name is taken where the item goes: offer the engine's "NAME (restored)".
void offer_rename(TolPane* pane, const Restorable& item, std::uint32_t parent) {
  const std::string name = shown_name(item);
  TolAlert alert;
  alert.heading = item.is_key ? tol_format(_("A key named “%s” exists already"), name.c_str())
                              : tol_format(_("A value named “%s” exists already"), name.c_str());
  alert.body = _("The deleted one can be restored beside it under another name.");
  alert.responses = {{"cancel", _("Cancel"), ADW_RESPONSE_DEFAULT},
                     {"rename", tol_format(_("Restore as “%s (restored)”"), name.c_str()), ADW_RESPONSE_SUGGESTED}};
  alert.default_response = "rename";
  alert.close_response = "cancel";
  TolWeakRef<TolPane> ref(pane);
  tol_compat_alert_show(GTK_WIDGET(pane), alert, [ref, item, parent](const char* response) {
    g_autoptr(TolPane) target = ref.get();
    if (target != nullptr && g_strcmp0(response, "rename") == 0) restore(target, item, parent, true);
  });
}

// Restores into `parent`, TOL_NO_CELL for where the item was, and selects
// what came back.
void restore(TolPane* pane, const Restorable& item, std::uint32_t parent, bool rename) {
  if (tol_pane_get_hive(pane) == nullptr) return;
  const std::uint32_t into = parent != TOL_NO_CELL ? parent : item.original;
  if (into == TOL_NO_CELL) {
    tol_pane_toast(pane, item.is_key ? _("The key's parent is deleted or unknown: use Restore to… to choose a key")
                                     : _("The value's key is deleted or unknown: use Restore to… to choose a key"));
    return;
  }
  bool taken = false;
  std::string restored_name;
  TolCommit commit;
  commit.change = TolChange{item.is_key ? TolChangeKind::subkeys : TolChangeKind::values, into};
  commit.operation = [&](TolHive& hive, GError** error) {
    const TolRestoreOptions options{parent, rename};
    const std::optional<TolRestoreResult> done = item.is_key
                                                     ? tol_deleted_restore_key(hive, item.record, options, error)
                                                     : tol_deleted_restore_value(hive, item.record, options, error);
    if (!done) {
      taken = error != nullptr && g_error_matches(*error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_EXISTS);
      return false;
    }
    restored_name = done->name;
    // A key is selected itself; a value through its key.
    commit.select_path = tol_hive_key_path(hive, done->key);
    const std::uint32_t lost = done->lost_keys + done->lost_values;
    if (!item.is_key)
      commit.success = tol_format(_("Restored value \"%s\""), shown_value_name(done->name).c_str());
    else if (lost == 0)
      commit.success = tol_format(_("Restored key \"%s\""), done->name.c_str());
    else
      commit.success = tol_format(
          ngettext("Restored key \"%s\"; %u item was lost or repeated a name and was left out",
                   "Restored key \"%s\"; %u items were lost or repeated a name and were left out", lost),
          done->name.c_str(), lost);
    return true;
  };
  commit.failure = item.is_key ? _("Cannot restore the key") : _("Cannot restore the value");
  commit.save_failure_format = _("Saving after the restore failed: %s");
  // A taken name is asked about instead.
  commit.report = [&](const std::string& message) {
    if (!taken) tol_pane_toast(pane, message.c_str());
  };
  const TolCommitResult result = tol_pane_commit(pane, commit);
  if (taken) {
    offer_rename(pane, item, parent);
    return;
  }
  if (result != TolCommitResult::kDone || item.is_key) return;
  TolValueList* list = tol_pane_get_value_list(pane);
  if (const std::optional<guint> row = tol_value_list_find(list, restored_name)) tol_value_list_select(list, *row);
}

}  // namespace

void tol_pane_restore_selected(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (const std::optional<Restorable> item = selected_or_toast(self)) restore(self, *item, TOL_NO_CELL, false);
}

void tol_pane_restore_selected_to(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  const std::optional<Restorable> item = selected_or_toast(self);
  if (!item) return;
  const TolHive& hive = *tol_pane_get_hive(self);
  const std::string suggested = item->nearest != TOL_NO_CELL ? tol_hive_key_path(hive, item->nearest) : "";
  TolEditDialog* dialog = tol_edit_dialog_new(
      self, item->is_key ? _("Restore key to (path; empty for the root)") : _("Restore value to (path; empty for the root)"),
      suggested.c_str(), false);
  tol_edit_dialog_set_apply(dialog, [item = *item](TolPane* pane, TolEditDialog* d) {
    const TolHive* hive = tol_pane_get_hive(pane);
    if (hive == nullptr) return true;
    const std::string path = tol_edit_dialog_get_text(d);
    const std::optional<std::uint32_t> parent = tol_hive_find_path(*hive, path);
    if (!parent) {
      tol_pane_toast(pane, tol_format(_("No key \"%s\" in this file"), path.c_str()).c_str());
      return false;
    }
    restore(pane, item, *parent, false);
    return true;
  });
  tol_edit_dialog_present(dialog);
}

bool tol_pane_refuse_deleted_key(TolPane* self) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  TolKeyTree* tree = tol_pane_get_key_tree(self);
  if (tree == nullptr || !tol_key_tree_deleted_selected(tree)) return false;
  tol_pane_toast(self, _("A deleted key cannot be changed: restore it first"));
  return true;
}

bool tol_pane_refuse_deleted_value(TolPane* self, TolValueItem* item) {
  g_return_val_if_fail(TOL_IS_PANE(self), false);
  if (item == nullptr || !tol_value_item_is_deleted(item)) return false;
  tol_pane_toast(self, _("A deleted value cannot be changed: restore it first"));
  return true;
}
