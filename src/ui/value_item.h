// One row of a pane's value list: a value read from the hive, with the texts
// the list shows and its difference from the other pane's selected key, or a
// deleted value with what is left of its data. Everything is fixed when the
// item is made.
#pragma once

#include <glib-object.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct TolHiveValue;
struct TolDeletedValue;

G_BEGIN_DECLS

#define TOL_TYPE_VALUE_ITEM (tol_value_item_get_type())
G_DECLARE_FINAL_TYPE(TolValueItem, tol_value_item, TOL, VALUE_ITEM, GObject)

G_END_DECLS

enum TolDiffMark {
  TOL_DIFF_NONE = 0,     // the same value exists in the other key, or no comparison
  TOL_DIFF_ONLY = 1,     // no value of that name in the other key
  TOL_DIFF_CHANGED = 2,  // the namesake there has another type or other data
};

// Copies name, type and data; the type text and the data text are made here.
TolValueItem* tol_value_item_new(const TolHiveValue& value, TolDiffMark diff);
// A deleted value; `data` null when its data are lost (the data text says so).
TolValueItem* tol_value_item_new_deleted(const TolDeletedValue& value, const std::vector<std::uint8_t>* data);

// "" for the key's default value.
const std::string& tol_value_item_get_name(TolValueItem* self);
std::uint32_t tol_value_item_get_value_type(TolValueItem* self);
// Empty when the value has no data.
std::span<const std::uint8_t> tol_value_item_get_data(TolValueItem* self);
const std::string& tol_value_item_get_type_text(TolValueItem* self);
const std::string& tol_value_item_get_data_text(TolValueItem* self);
TolDiffMark tol_value_item_get_diff(TolValueItem* self);
// The name as the list shows it: the translated "(Default)" for "".
std::string tol_value_item_get_display_name(TolValueItem* self);
bool tol_value_item_is_deleted(TolValueItem* self);
// Of a deleted value: the offset of its vk record, by which a later scan
// finds it again (TOL_NO_CELL for a live value).
std::uint32_t tol_value_item_get_record(TolValueItem* self);
