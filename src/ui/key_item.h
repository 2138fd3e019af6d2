// One row of a pane's key tree: a key of the pane's hive by its nk offset;
// and the list of a key's subkeys that the tree expands a row into.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <vector>

struct TolHive;

G_BEGIN_DECLS

#define TOL_TYPE_KEY_ITEM (tol_key_item_get_type())
G_DECLARE_FINAL_TYPE(TolKeyItem, tol_key_item, TOL, KEY_ITEM, GObject)

#define TOL_TYPE_KEY_LIST (tol_key_list_get_type())
G_DECLARE_FINAL_TYPE(TolKeyList, tol_key_list, TOL, KEY_LIST, GObject)

G_END_DECLS

// `hive` is borrowed: the tree that holds the item is rebuilt before the
// hive it shows is closed.
TolKeyItem* tol_key_item_new(TolHive* hive, std::uint32_t offset, const char* name);
TolHive* tol_key_item_get_hive(TolKeyItem* self);
std::uint32_t tol_key_item_get_offset(TolKeyItem* self);
const char* tol_key_item_get_name(TolKeyItem* self);
// The name case-folded as type-ahead compares it; made on first use.
const char* tol_key_item_get_folded_name(TolKeyItem* self);

// A list model of TolKeyItem over the keys at `offsets`, in that order. Only
// the offsets are held at first: an item, with its name, is made the first
// time the model is asked for it and kept from then on, so that a key with
// tens of thousands of subkeys costs little until its rows are drawn or
// searched. `hive` is borrowed, as for the items.
TolKeyList* tol_key_list_new(TolHive* hive, std::vector<std::uint32_t> offsets);
