// Deleted keys and values: what is left of them in the image, and putting
// them back.
//
// Deleting frees cells without clearing them (see tol_hive_free_cell), and
// Windows does the same, so a deleted key's nk record, its value list, its
// vk records and their data stay readable until the allocator hands the
// cells out again. A scan looks at every free cell of every bin and at the
// unused tail (slack) of allocated records (an nk in a cell larger than its
// name needs, a list with room for more entries) for nk and vk records whose
// structure still holds: signature, lengths that fit, a name without NULs
// (and, for keys, without backslashes), offsets that are cell offsets, a
// time before the year 2200. Allocated cells of plain data (value data,
// value lists) are never searched: their bytes belong to a live value and
// may look like anything.
//
// Whatever a deleted record names (its value list, the values, their data
// and big-data segments) is read only from cells that are still unused
// (free, or the slack of an allocated record) and long enough: a cell the
// allocator has handed to a live record since holds that record's bytes,
// never the deleted item's.
//
// Nothing here runs when a hive is opened or edited; a scan costs one pass
// over the bins and memory in proportion to the free cells it finds. A scan
// describes the image it was taken of: after any change (the document's
// "changed" signal) take a new one.
//
// For a tree of live and deleted keys: below a live key hang the deleted
// keys tol_deleted_keys_below names, below a deleted key its `subkeys`; the
// value list of a live key adds tol_deleted_values_of, that of a deleted key
// shows its `values`. Items whose place is unknown have no live ancestor.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hive/hive.h"

// How much of a deleted item could still be read.
enum class TolDeletedConfidence {
  intact,     // everything the record names was found
  partial,    // some values, data or subkeys (at any depth below) are lost
  name_only,  // the record alone: its values and subkeys are all lost, or a
              // value's data are
};

// Where a deleted key's parent, or a deleted value's key, is.
enum class TolDeletedPlace {
  live,     // a key of the hive: `parent` / `owner` is its nk offset
  deleted,  // a deleted key of the same scan: `parent_index` / `owner_index`
  unknown,  // nothing that can be told apart from garbage
};

// Why a deleted value is taken to belong to its key.
enum class TolDeletedEvidence {
  deleted_key,  // the value list of a deleted key names it
  list_slack,   // a live key's value list names it past the key's value count
  old_list,     // a free value list names it together with values a live key
                // (or a deleted one) still has
  none,         // the owner is unknown
};

inline constexpr std::size_t TOL_DELETED_NONE = static_cast<std::size_t>(-1);

struct TolDeletedKey {
  std::uint32_t record = TOL_NO_CELL;  // offset of the cell the nk record starts
  bool in_slack = false;               // found in the slack of an allocated cell
  std::string name;                    // decoded as key names are
  std::uint64_t last_write = 0;        // FILETIME as stored
  std::uint32_t parent = TOL_NO_CELL;  // the parent field as stored
  TolDeletedPlace parent_place = TolDeletedPlace::unknown;
  std::size_t parent_index = TOL_DELETED_NONE;  // into keys, for a deleted parent
  // The nearest live key above it, through deleted parents; TOL_NO_CELL when
  // the chain ends in the unknown. Views hang the item below that key.
  std::uint32_t live_ancestor = TOL_NO_CELL;
  std::uint32_t subkey_count = 0;  // as the record claims (clamped to the image)
  std::uint32_t value_count = 0;
  std::vector<std::size_t> subkeys;  // deleted keys whose parent field names it
  std::vector<std::size_t> values;   // deleted values its value list names
  TolDeletedConfidence confidence = TolDeletedConfidence::intact;
};

struct TolDeletedValue {
  std::uint32_t record = TOL_NO_CELL;  // offset of the cell the vk record starts
  bool in_slack = false;
  std::string name;  // empty for the default value
  std::uint32_t type = 0;
  std::uint32_t length = 0;     // data length the record claims
  bool data_intact = false;     // every data cell is unused and long enough
  TolDeletedPlace owner_place = TolDeletedPlace::unknown;
  std::uint32_t owner = TOL_NO_CELL;          // nk offset of a live owner
  std::size_t owner_index = TOL_DELETED_NONE;  // into keys, for a deleted owner
  TolDeletedEvidence evidence = TolDeletedEvidence::none;
  TolDeletedConfidence confidence = TolDeletedConfidence::intact;  // intact or name_only
};

// Unused byte ranges of the image (free cells, slack), in image order.
struct TolUnusedRange {
  std::uint32_t start = 0;  // for a free cell, the offset of its size field
  std::uint32_t end = 0;
  bool slack = false;       // the tail of an allocated record, not a free cell
};

struct TolDeletedScan {
  std::vector<TolDeletedKey> keys;      // in image order
  std::vector<TolDeletedValue> values;  // in image order
  // What the scan found unused; the data readers below check against it.
  std::vector<TolUnusedRange> unused;
};

// Scans the whole image. Tolerates any damage: bins that do not chain are
// skipped to the next 4096-byte boundary that starts one, cells that do not
// fit end their bin, and all work is bounded by the image's size.
TolDeletedScan tol_deleted_scan(const TolHive& hive);

// The data of a deleted value, read from the image the scan was taken of.
// False (and `out` empty) when they are lost.
bool tol_deleted_value_data(const TolHive& hive, const TolDeletedScan& scan,
                            const TolDeletedValue& value, std::vector<std::uint8_t>& out);

// A deleted key's path from the root ending with its own name, deleted
// parents by name: "Software\\Gone\\Child", "?\\Gone\\Child" when the chain of
// parents ends in the unknown (or loops). Paths are made on demand, since
// a chain of deleted keys would otherwise store each name once per key below.
std::string tol_deleted_key_path(const TolHive& hive, const TolDeletedScan& scan, std::size_t key);
// The path of a deleted value's key as above ("" is the root), "?" unknown.
std::string tol_deleted_value_key_path(const TolHive& hive, const TolDeletedScan& scan,
                                       std::size_t value);

// Indices of the deleted keys whose parent is the live key `nk`, and of the
// deleted values taken to belong to it; the subkeys and values of a deleted
// key are its own `subkeys` and `values`.
std::vector<std::size_t> tol_deleted_keys_below(const TolDeletedScan& scan, std::uint32_t nk);
std::vector<std::size_t> tol_deleted_values_of(const TolDeletedScan& scan, std::uint32_t nk);

// The index of the deleted key or value whose record starts at `record`.
std::optional<std::size_t> tol_deleted_find_key(const TolDeletedScan& scan, std::uint32_t record);
std::optional<std::size_t> tol_deleted_find_value(const TolDeletedScan& scan, std::uint32_t record);

// "2024-05-01T12:00:00Z" for a FILETIME, "?" beyond the year 9999.
std::string tol_deleted_time_text(std::uint64_t filetime);
const char* tol_deleted_confidence_name(TolDeletedConfidence confidence);

// --- Restoring. -------------------------------------------------------------------
//
// A restore scans the image again (the caller's scan may be stale) and finds
// the item by its record offset; an item whose records have been reused
// since is refused. It reads everything it restores into memory first, then
// re-creates it through the ordinary operations (tol_hive_create_key,
// tol_hive_set_value), so lists stay sorted, lengths right and security
// records counted. (A view announces a restored key as a change of the
// subkeys of the key it went into, a restored value as one of that key's
// values.) Values whose data are lost are left out (and counted),
// as are subkeys and values whose names repeat a sibling's. The records
// restored from have their signatures cleared, so that a later scan no
// longer lists the item; undoing the change brings them back. Callers wrap
// a restore in one tol_document_change, which makes it one undoable, atomic
// step.

struct TolRestoreOptions {
  // The key to restore into; TOL_NO_CELL for the original parent (of a key)
  // or key (of a value), which must then be a live key.
  std::uint32_t parent = TOL_NO_CELL;
  // When the name is taken: false refuses (TOL_HIVE_ERROR_EXISTS), true
  // restores as "NAME (restored)" ("NAME (restored 2)", ... when that is taken too).
  bool rename = false;
};

struct TolRestoreResult {
  std::uint32_t key = TOL_NO_CELL;  // the restored key, or the key a value went into
  std::string name;                 // the name it was restored under
  std::uint32_t keys = 0;           // keys created (the key and its subtree)
  std::uint32_t values = 0;         // values created
  std::uint32_t lost_values = 0;    // left out: data lost or name repeated
  std::uint32_t lost_keys = 0;      // left out: name repeated among its siblings
};

std::optional<TolRestoreResult> tol_deleted_restore_key(TolHive& hive, std::uint32_t record,
                                                        const TolRestoreOptions& options,
                                                        GError** error);
std::optional<TolRestoreResult> tol_deleted_restore_value(TolHive& hive, std::uint32_t record,
                                                          const TolRestoreOptions& options,
                                                          GError** error);
