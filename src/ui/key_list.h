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

// A list model of TolKeyItem over the keys at `offsets`, in that order. Only
// the offsets are held at first: an item, with its name, is made the first
// time the model is asked for it and kept from then on, so that a key with
// tens of thousands of subkeys costs little until its rows are drawn or
// searched. `hive` is borrowed, as for the items.
TolKeyList* tol_key_list_new(TolHive* hive, std::vector<std::uint32_t> offsets);
