// The value list of a pane: the values of one key, each tinted against the
// key selected in the other pane; its context menu, and Enter or a double
// click to edit a value.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hive/deleted.h"
#include "hive/hive.h"
#include "ui/value_item.h"

G_BEGIN_DECLS
#define TOL_TYPE_VALUE_LIST (tol_value_list_get_type())
G_DECLARE_FINAL_TYPE(TolValueList, tol_value_list, TOL, VALUE_LIST, GtkWidget)
G_END_DECLS

TolValueList* tol_value_list_new();

// Deleted values to show after the live ones: indices into `scan`, read
// from the hive the scan was taken of.
struct TolDeletedRows {
  const TolDeletedScan* scan = nullptr;  // null: none
  std::vector<std::size_t> values;
};

// Shows the values of `key` (none: no live ones), tinted against the values
// of `other_key` in `other` (none: untinted), then the deleted values, dimmed
// and untinted. The selected value stays selected when the key still has it.
void tol_value_list_show(TolValueList* self, const TolHive* hive, std::uint32_t key,
                         const TolHive* other, std::uint32_t other_key,
                         const TolDeletedRows& deleted = {});

// The selected row, or null (borrowed).
TolValueItem* tol_value_list_get_selected(TolValueList* self);
// The row of the live value named `name` (ASCII case-insensitively).
std::optional<guint> tol_value_list_find(TolValueList* self, const std::string& name);
// Selects and shows row `position`.
void tol_value_list_select(TolValueList* self, guint position);

// The parts, for the pane and for tests.
GtkWidget* tol_value_list_get_view(TolValueList* self);
GListModel* tol_value_list_get_model(TolValueList* self);  // of TolValueItem
GtkSingleSelection* tol_value_list_get_selection(TolValueList* self);
GtkWidget* tol_value_list_get_menu(TolValueList* self);
