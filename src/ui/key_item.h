// One row of a pane's key tree: a key of the pane's hive by its nk offset,
// or, while the tree shows deleted items, a deleted key of the tree's scan or
// the node that gathers the deleted keys whose place is unknown.
#pragma once

#include <glib-object.h>

#include <cstddef>
#include <cstdint>

struct TolHive;

G_BEGIN_DECLS

#define TOL_TYPE_KEY_ITEM (tol_key_item_get_type())
G_DECLARE_FINAL_TYPE(TolKeyItem, tol_key_item, TOL, KEY_ITEM, GObject)

G_END_DECLS

enum class TolKeyItemKind {
  live,
  deleted,  // a deleted key: its index into the tree's scan and its record
  unknown,  // "Deleted, location unknown"
};

// `hive` is borrowed: the tree that holds the item goes before the document
// that owns the hive.
TolKeyItem* tol_key_item_new(TolHive* hive, std::uint32_t offset, const char* name);
// Neither has an nk offset: tol_key_item_get_offset gives TOL_NO_CELL, so no
// command can take them for a live key.
TolKeyItem* tol_key_item_new_deleted(TolHive* hive, std::size_t index, std::uint32_t record,
                                     const char* name);
TolKeyItem* tol_key_item_new_unknown(TolHive* hive, const char* label);
TolKeyItemKind tol_key_item_get_kind(TolKeyItem* self);
// Of a deleted key: its index into the scan it was made from, and the offset
// of its nk record (which outlives a new scan, the index does not).
std::size_t tol_key_item_get_deleted_index(TolKeyItem* self);
std::uint32_t tol_key_item_get_record(TolKeyItem* self);
TolHive* tol_key_item_get_hive(TolKeyItem* self);
std::uint32_t tol_key_item_get_offset(TolKeyItem* self);
const char* tol_key_item_get_name(TolKeyItem* self);
// The name case-folded as type-ahead compares it; made on first use.
const char* tol_key_item_get_folded_name(TolKeyItem* self);
// Whether the key at the item's offset still has the item's name and still
// has subkeys or none, as when the item was made. A row keeps what its
// expander learnt about children, so an item that is no longer current must
// be replaced, not kept. Items of deleted keys never are: a new scan makes
// new ones.
bool tol_key_item_is_current(TolKeyItem* self);
