// One row of a pane's key tree: a key of the pane's hive by its nk offset.
#pragma once

#include <glib-object.h>

#include <cstdint>

struct TolHive;

G_BEGIN_DECLS

#define TOL_TYPE_KEY_ITEM (tol_key_item_get_type())
G_DECLARE_FINAL_TYPE(TolKeyItem, tol_key_item, TOL, KEY_ITEM, GObject)

G_END_DECLS

// `hive` is borrowed: the tree that holds the item goes before the document
// that owns the hive.
TolKeyItem* tol_key_item_new(TolHive* hive, std::uint32_t offset, const char* name);
TolHive* tol_key_item_get_hive(TolKeyItem* self);
std::uint32_t tol_key_item_get_offset(TolKeyItem* self);
const char* tol_key_item_get_name(TolKeyItem* self);
// The name case-folded as type-ahead compares it; made on first use.
const char* tol_key_item_get_folded_name(TolKeyItem* self);
// Whether the key at the item's offset still has the item's name and still
// has subkeys or none, as when the item was made. A row keeps what its
// expander learnt about children, so an item that is no longer current must
// be replaced, not kept.
bool tol_key_item_is_current(TolKeyItem* self);
