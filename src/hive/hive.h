// An open hive file and the read side of the engine.
//
// A TolHive maps its file read-only; the first change copies the base block
// and the hive-bins area to the heap and from then on only the copies are
// read and written. Reading never reports errors: damaged records read as
// nothing, as a key named "?" or as shorter data.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hive/bytes.h"
#include "hive/format.h"
#include "hive/image_alloc.h"

namespace tol {

// A read-only private mapping of a whole file, unmapped on destruction.
class Mapping {
 public:
  Mapping() = default;
  Mapping(const void* addr, std::size_t length) : addr_(addr), length_(length) {}
  Mapping(Mapping&& other) noexcept;
  Mapping& operator=(Mapping&& other) noexcept;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping();

  std::span<const std::uint8_t> bytes() const {
    return {static_cast<const std::uint8_t*>(addr_), length_};
  }
  std::size_t length() const { return length_; }

  // The file behind fd mapped copy-on-write at the start of `reserve` bytes
  // (at least file_length) that read as zeros past the file, writable until
  // seal(). Writing copies only the pages it touches. Empty on failure.
  static Mapping patchable(int fd, std::size_t file_length, std::size_t reserve);
  // Writable bytes of a patchable mapping that is not sealed; empty otherwise.
  std::span<std::uint8_t> patch_bytes();
  // Makes the mapping read-only again, as an ordinary one.
  void seal();

 private:
  void reset();
  const void* addr_ = nullptr;
  std::size_t length_ = 0;
  bool writable_ = false;
};

// A whole file mapped read-only; an empty Mapping when the file is empty or
// cannot be mapped (errno tells why).
Mapping map_file(const std::string& path);

}  // namespace tol

// What the consistency check found in a hive, taken at its first edit: the
// cells an edit must neither free nor overwrite (records with two owners,
// records in free cells, security records counted too low), each with the
// reason a refusal gives. Edits never touch these cells and never create
// new ones, so the census stays true until the image is replaced.
struct TolCensus {
  std::unordered_map<std::uint32_t, std::string> unsafe;
  std::size_t problems = 0;  // everything the check reported
};

// What opening did with the hive's transaction logs (.LOG1/.LOG2/.LOG).
struct TolLogReport {
  bool examined = false;   // the primary was dirty and its logs were looked for
  bool complete = false;   // the logs brought the image to the state Windows would load
  bool pending = false;    // logged changes the image lacks: saving would lose them
  bool old_format = false;
  bool base_from_log = false;  // the primary's base block was damaged
  std::uint32_t applied = 0;   // entries (new format) or 512-byte pages (old format)
  std::vector<std::string> files;  // file names applied from, in the order used
  std::uint32_t first_sequence = 0;
  std::uint32_t last_sequence = 0;
  // The highest sequence number any log file mentions; a save numbers itself
  // above it so that no reader applies those entries to the saved file.
  std::uint32_t highest_sequence = 0;
  std::string problem;  // why nothing or not everything was applied
};

// Whether opening applies the transaction logs of a dirty hive (what Windows
// does when it loads one) or shows the primary file as it is on disk.
enum class TolLogPolicy { apply, ignore };

struct TolPageRecording;

struct TolHive {
  tol::Mapping mapping;
  std::uint64_t file_size = 0;
  // Heap copies, empty until the hive is writable.
  std::vector<std::uint8_t> base_copy;
  tol::ImageBytes heap_bins;
  std::uint32_t bins_length = 0;
  std::uint32_t root_cell = TOL_NO_CELL;
  std::string path;
  bool writable = false;
  bool dirty = false;
  std::uint32_t alloc_hint = 0;
  // Whether the bins tile the hive-bins area, found out on the first edit.
  mutable std::optional<bool> bins_intact;
  std::optional<TolCensus> census;
  TolLogReport logs;
  // The undo step being recorded, if any (see page_journal.h).
  TolPageRecording* recording = nullptr;
  // nk offset -> decoded name; only ever gains correct entries while reading.
  mutable std::unordered_map<std::uint32_t, std::string> name_cache;

  // The hive-bins area in use (bins_length bytes): the mapping or the heap copy.
  tol::ByteView bins() const;
  // The 4096-byte base block: the mapping or the heap copy.
  tol::ByteView base() const;
};

using TolHivePtr = std::unique_ptr<TolHive>;

// Levels of "ri" lists naming further "ri" lists that reading follows. Well-
// formed hives use one; the bound keeps lists that name each other finite.
inline constexpr int TOL_MAX_LIST_NESTING = 4;

// Opens and maps a hive file. A dirty hive gets its transaction logs applied
// to the in-memory image unless the policy says otherwise (see hive.logs). On
// failure returns null and sets a G_FILE_ERROR error with one of the
// translated open messages.
TolHivePtr tol_hive_open(const std::string& path, GError** error,
                         TolLogPolicy logs = TolLogPolicy::apply);
// Releases the hive with its mapping and heap copies; unsaved changes are lost.
void tol_hive_close(TolHivePtr hive);
// Copies base block and bins to the heap (no-op when already writable).
void tol_hive_make_writable(TolHive& hive);
// After the image was put back from a journal: what was derived from it (the
// allocation hint, cached names, the bins test) may not hold for the image
// now there, and the image differs from the file. The census holds for every
// image the journal can put back.
void tol_hive_image_replaced(TolHive& hive);

// Primary and secondary sequence numbers of the base block. When they differ
// Windows still holds changes in the hive's transaction logs (.LOG1/.LOG2).
std::uint32_t tol_hive_primary_sequence(const TolHive& hive);
std::uint32_t tol_hive_secondary_sequence(const TolHive& hive);
// True while the image lacks changes its logs hold: the logs were not applied
// (or not all of them), and saving it clean would lose them for good.
bool tol_hive_has_pending_log(const TolHive& hive);
// The base block's format version, 1.3 or 1.5 in hives Windows writes.
std::uint32_t tol_hive_major_version(const TolHive& hive);
std::uint32_t tol_hive_minor_version(const TolHive& hive);

// --- Cell and record access: the one place that checks image bounds. -------

// The data of the cell at off (magnitude - 4 bytes), or nothing.
std::optional<tol::ByteView> tol_hive_cell(const TolHive& hive, std::uint32_t off);
// As tol_hive_cell, and the cell must hold an nk record (magnitude >= 80, "nk").
std::optional<tol::ByteView> tol_hive_key(const TolHive& hive, std::uint32_t off);
// As tol_hive_cell, and the cell must hold a vk record (data >= 20, "vk",
// data >= 20 + name length).
std::optional<tol::ByteView> tol_hive_vk(const TolHive& hive, std::uint32_t off);

// --- Keys --------------------------------------------------------------------

// The key's name as UTF-8, served from the name cache after the first call;
// "?" (never cached) when the record or its name cannot be read.
std::string tol_hive_key_name(const TolHive& hive, std::uint32_t nk);
// The nk offsets of the direct subkeys in stored order; none when the record
// says it has no subkeys. The entries are not checked to be keys.
std::vector<std::uint32_t> tol_hive_subkeys(const TolHive& hive, std::uint32_t nk);
// Appends the entries of a li/lf/lh list, or of an ri list's sub-lists in
// order. A walk looks at no more entries than the image has 4-byte slots, so
// lists that name each other stay cheap.
void tol_hive_collect_list(const TolHive& hive, std::uint32_t list,
                           std::vector<std::uint32_t>& out);
// The same without the cache, for walks that read every name once.
std::string tol_hive_decode_key_name(const TolHive& hive, std::uint32_t nk);
// The same appended to `out`, for walks that build paths in one buffer.
void tol_hive_append_key_name(const TolHive& hive, std::uint32_t nk, std::string& out);
// tol_hive_subkeys into a vector the caller reuses (cleared first).
void tol_hive_subkeys_into(const TolHive& hive, std::uint32_t nk, std::vector<std::uint32_t>& out);
// The first direct subkey whose name matches ASCII case-insensitively.
std::optional<std::uint32_t> tol_hive_find_subkey(const TolHive& hive, std::uint32_t parent,
                                                  std::string_view name);
// Calls `visit` once for the key and once for every distinct key below it,
// depth first, down to the depth limit; `visit` returns false to stop. Lists
// that name a key twice or loop back cost nothing extra.
void tol_hive_walk_subtree(const TolHive& hive, std::uint32_t nk,
                           const std::function<bool(std::uint32_t key)>& visit);
// Names from the root down to the key joined by "\\", without the root's own
// name: "" for the root, at most TOL_MAX_PATH_NAMES names (those nearest the key).
std::string tol_hive_key_path(const TolHive& hive, std::uint32_t nk);
// The parent the key record names; none for the root or a record that is not a key.
std::optional<std::uint32_t> tol_hive_key_parent(const TolHive& hive, std::uint32_t nk);
// The key at a backslash-separated path from the root ("" or "\" is the
// root), matched name by name ASCII case-insensitively; empty components
// (doubled or trailing backslashes) are skipped.
std::optional<std::uint32_t> tol_hive_find_path(const TolHive& hive, std::string_view path);

// --- Values ------------------------------------------------------------------

struct TolHiveValue {
  std::string name;  // empty for the default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  std::uint32_t length() const { return static_cast<std::uint32_t>(data.size()); }
};

void tol_hive_value_clear(TolHiveValue& value);
// The record's number of values, clamped to bins length / 8; 0 for a non-key.
std::uint32_t tol_hive_value_count(const TolHive& hive, std::uint32_t nk);
// Reads value number index; false (and out untouched) when any record on the
// way is unreadable. The name and data buffers of `out` are reused.
bool tol_hive_read_value(const TolHive& hive, std::uint32_t nk, std::uint32_t index,
                         TolHiveValue& out);
// Where a value's data live. Data longer than one segment follow the hive's
// version, as Windows reads them: one cell before 1.4, a "db" record from 1.4
// on. Data stored the other way are still found (other tools write them, and
// so did older versions of this one), but Windows will not read them.
enum class TolDataLayout { empty, inline_data, cell, big_data };
struct TolDataPlace {
  TolDataLayout layout = TolDataLayout::empty;
  std::uint32_t length = 0;     // the length the record claims
  bool windows_reads = true;    // false: the layout does not match the version
};
TolDataPlace tol_hive_data_place(const TolHive& hive, std::uint32_t length_field,
                                 std::uint32_t offset_field);
// The data named by a vk's length and offset fields, found as
// tol_hive_data_place says; shorter or empty when cells are missing or too small.
std::vector<std::uint8_t> tol_hive_value_data(const TolHive& hive, std::uint32_t length_field,
                                              std::uint32_t offset_field);
// The same into a buffer the caller reuses (cleared first).
void tol_hive_value_data_into(const TolHive& hive, std::uint32_t length_field,
                              std::uint32_t offset_field, std::vector<std::uint8_t>& out);
// vk offset of the first value with that name, or TOL_NO_CELL.
std::uint32_t tol_hive_find_value(const TolHive& hive, std::uint32_t nk, std::string_view name);
