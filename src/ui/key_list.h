// The list of a key's subkeys that the key tree expands a row into.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <vector>

#include "ui/key_item.h"

G_BEGIN_DECLS

#define TOL_TYPE_KEY_LIST (tol_key_list_get_type())
G_DECLARE_FINAL_TYPE(TolKeyList, tol_key_list, TOL, KEY_LIST, GObject)

G_END_DECLS

// A list model of TolKeyItem over the subkeys of `parent`, in stored order.
// Only the offsets are held at first: an item, with its name, is made the
// first time the model is asked for it and kept from then on, so that a key
// with tens of thousands of subkeys costs little until its rows are drawn or
// searched. `hive` is borrowed, as for the items.
TolKeyList* tol_key_list_new(TolHive* hive, std::uint32_t parent);
std::uint32_t tol_key_list_get_parent(TolKeyList* self);

// Reads the parent's subkeys again and tells the model's users only what
// differs: items of keys that are still there, under the same name, stay (and
// with them their rows' expansion); the others leave and new ones come, in as
// few "items-changed" as the order allows. Returns the items kept, for a
// caller that walks on into their own lists.
std::vector<std::uint32_t> tol_key_list_refresh(TolKeyList* self);
