// The write side of the engine: cell allocation, data storage, key and value
// operations. Every operation works on the heap image of a TolHive (making it
// writable first where it writes) and never saves. A refused operation sets
// a TOL_HIVE_ERROR that says why and leaves the image as it was.
//
// An operation refuses to free or overwrite a cell that the hive's census
// (taken by the check at the first edit) found damaged: two owners, a record
// in a free cell. Otherwise the edit would carry that damage to sound keys.
//
// Pointers and views into the image are invalid after any allocation (the
// bins buffer may move): keep cell offsets and look records up again.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "hive/bytes.h"
#include "hive/errors.h"
#include "hive/hive.h"

// --- Writable record access (the mutable half of the bounds checks). ---------

// The whole hive-bins area of a writable hive; an empty view when not writable.
// Whoever writes through it into the existing image calls tol_hive_note_write
// first; the cell accessors below do that themselves.
tol::MutByteView tol_hive_bins_mut(TolHive& hive);
// Tells an open undo step that bytes [off, off + n) of the bins are about to
// change, so that it keeps the pages they lie in as they are now.
void tol_hive_note_write(TolHive& hive, std::uint64_t off, std::uint64_t n);
// The base block copy of a writable hive; an empty view when not writable.
tol::MutByteView tol_hive_base_mut(TolHive& hive);
// As tol_hive_cell / tol_hive_key, writable; nothing when the hive is not writable.
std::optional<tol::MutByteView> tol_hive_cell_mut(TolHive& hive, std::uint32_t off);
std::optional<tol::MutByteView> tol_hive_key_mut(TolHive& hive, std::uint32_t off);

// --- Names. ----------------------------------------------------------------------

struct TolEncodedName {
  std::vector<std::uint8_t> bytes;  // never empty: an empty name has one zero byte
  std::uint16_t length = 0;         // stored byte count
  bool one_byte = true;             // stored one byte per character
  bool fits = true;                 // false when the stored form exceeds 65535 bytes
};
TolEncodedName tol_name_encode(std::string_view utf8);

// Windows' order of subkey names: each UTF-16 code unit upper-cased as Windows
// does, compared unit by unit, a prefix first. <0, 0, >0 like strcmp.
int tol_name_compare_windows(std::string_view a, std::string_view b);
// Byte length of a name in UTF-16 form, what the nk largest-length fields count.
std::uint32_t tol_name_utf16_bytes(std::string_view utf8);

// --- Cell allocator. -------------------------------------------------------------

std::uint32_t tol_hive_alloc_cell(TolHive& hive, std::uint32_t n);
void tol_hive_free_cell(TolHive& hive, std::uint32_t off);
// Frees a cell that holds bare data or offsets (value data, segments, segment
// and value lists), unless it holds a record: in a damaged hive such an offset
// may name a live key, value, list or sk record, which must stay allocated.
void tol_hive_free_plain_cell(TolHive& hive, std::uint32_t off);
// Whether the hive-bins area is a chain of bins, each with its signature, its
// own offset and a size in whole 4096-byte units, the last one possibly cut
// short (the save pads it). Windows, libregf and reglookup walk the bins in
// order and stop at a broken one, so nothing written behind it could be
// found again: the editing operations refuse such a hive.
bool tol_hive_bins_intact(const TolHive& hive);
// Pads the image with zeros to a whole number of bins: a truncated file or a
// base block whose bins size is not a multiple of 4096 leaves a partial bin,
// after which no appended bin and no saved image would be where readers look.
void tol_hive_whole_bins(TolHive& hive);

struct TolDataFields {
  std::uint32_t length = 0x80000000u;  // vk data length field
  std::uint32_t offset = 0;            // vk data offset field
};
// Nothing when the data are too long for a db record (more than 65535 segments).
// Data longer than one segment follow the hive's version (see
// tol_hive_data_place).
std::optional<TolDataFields> tol_hive_store_data(TolHive& hive, std::span<const std::uint8_t> data);
void tol_hive_free_data(TolHive& hive, std::uint32_t length_field, std::uint32_t offset_field);
void tol_hive_free_value(TolHive& hive, std::uint32_t vk);

// --- What an edit frees or overwrites. -----------------------------------------

struct TolFootprint {
  bool subkeys = false;     // the subkey list, with the leaves of an "ri"
  bool values = false;      // the value list, its records and their data
  bool security = false;
  bool class_name = false;
};
void tol_footprint_key(const TolHive& hive, std::uint32_t nk, TolFootprint parts,
                       std::vector<std::uint32_t>& out);
void tol_footprint_value(const TolHive& hive, std::uint32_t vk, std::vector<std::uint32_t>& out);
// Every cell a deleted subtree would free.
void tol_footprint_subtree(const TolHive& hive, std::uint32_t nk, std::vector<std::uint32_t>& out);
// Whether an edit may go ahead: the bins must be intact, and none of the cells
// `collect` names may be one the census found damaged. `collect` runs only
// for a hive that has such cells.
bool tol_hive_edit_allowed(TolHive& hive,
                           const std::function<void(std::vector<std::uint32_t>&)>& collect,
                           GError** error);

// --- Records, for writers that lay out a hive record by record. ------------------

// The fields of an nk record that are not the name, the flags or the time.
struct TolNkFields {
  std::uint32_t parent = TOL_NO_CELL;
  std::uint32_t subkey_count = 0;
  std::uint32_t volatile_count = 0;
  std::uint32_t subkey_list = TOL_NO_CELL;
  std::uint32_t volatile_list = TOL_NO_CELL;
  std::uint32_t value_count = 0;
  std::uint32_t value_list = TOL_NO_CELL;
  std::uint32_t sk = TOL_NO_CELL;
  std::uint32_t class_cell = TOL_NO_CELL;
  std::uint32_t largest_subkey_name = 0;
  std::uint32_t largest_subkey_class = 0;
  std::uint32_t largest_value_name = 0;
  std::uint32_t largest_value_data = 0;
  std::uint16_t class_length = 0;
};
// A new nk record stamped with the current time, flags only the name's form.
std::uint32_t tol_hive_write_nk(TolHive& hive, const TolEncodedName& name, const TolNkFields& f);
// A new vk record naming data already stored.
std::uint32_t tol_hive_write_vk(TolHive& hive, const TolEncodedName& name, std::uint32_t type,
                                TolDataFields data);
// A new subkey list of the entries in the given order (at most 65535 of them).
std::uint32_t tol_hive_write_subkey_list(TolHive& hive, const std::vector<std::uint32_t>& entries);

// --- Lists. ----------------------------------------------------------------------

std::uint32_t tol_hive_list_remove(TolHive& hive, std::uint32_t list, std::uint32_t count,
                                   std::uint32_t target);

// --- Keys. -----------------------------------------------------------------------

// The nk offset of the new or already existing subkey, or nothing.
std::optional<std::uint32_t> tol_hive_create_key(TolHive& hive, std::uint32_t parent,
                                                 std::string_view name, GError** error = nullptr);
bool tol_hive_delete_key(TolHive& hive, std::uint32_t key, GError** error = nullptr);
void tol_hive_free_subtree(TolHive& hive, std::uint32_t key, int level);
// The key's new nk offset (a renamed key is a new record), or nothing.
std::optional<std::uint32_t> tol_hive_rename_key(TolHive& hive, std::uint32_t key,
                                                 std::string_view new_name,
                                                 GError** error = nullptr);

// --- Values. ---------------------------------------------------------------------

bool tol_hive_set_value(TolHive& hive, std::uint32_t key, std::string_view name, std::uint32_t type,
                        std::span<const std::uint8_t> data, GError** error = nullptr);
bool tol_hive_delete_value(TolHive& hive, std::uint32_t key, std::string_view name,
                           GError** error = nullptr);
bool tol_hive_rename_value(TolHive& hive, std::uint32_t key, std::string_view old_name,
                           std::string_view new_name, GError** error = nullptr);
