// Writes registry hive images byte by byte for tests.
//
// Two levels:
//  - records: cells, nk/vk/sk/db records, subkey and value lists, placed one
//    after another in 4096-byte bins, plus patching of any byte of the image so
//    that a test can damage exactly the field it is about;
//  - trees: HiveBuilder::tree() lays out a whole valid hive from a KeySpec
//    (keys, values, list kinds) in one call, the way Windows would write it,
//    so that hivex, libregf and reglookup accept it.
//
// Cell offsets are relative to the hive-bins area (file offset - 4096), as in
// the hive itself. Field offsets passed to patch_*() count from the start of
// the cell data, i.e. 4 bytes after the cell's size field, which is how the
// format's record layouts are written.
//
// The record structs are filled field by field (designated initializers that
// leave fields out trip -Wmissing-field-initializers).
//
// This library knows the format on its own and never uses the engine, so that
// engine bugs cannot cancel out in tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tol::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;
inline constexpr std::uint32_t kSegment = 16344;  // largest data kept in one cell

// How a name is stored. Auto: one byte per character when the text is ASCII,
// otherwise UTF-16LE (what Windows and the engine write). Latin1: one byte per
// character for text up to U+00FF (as Windows does for such names).
enum class NameForm { Auto, Latin1, Utf16 };

struct Name {
  Bytes bytes;
  bool one_byte = true;
};

// Encodes UTF-8 text; characters that do not fit Latin1 become '?'.
Name encode_name(std::string_view utf8, NameForm form = NameForm::Auto);
Bytes utf16le(std::string_view utf8);  // without terminator
Bytes utf16le_sz(std::string_view utf8);  // with a 0x0000 terminator (REG_SZ data)
// REG_MULTI_SZ data: each string terminated, then the closing empty string.
Bytes multi_sz(std::initializer_list<std::string_view> strings);
Bytes bytes_of(std::string_view raw);  // the bytes of a string as they are
Bytes le32(std::uint32_t v);
Bytes pattern(std::size_t n, std::uint32_t seed = 1);  // deterministic filler data

// A plausible self-relative security descriptor: owner Administrators, group
// SYSTEM, a DACL granting full control to Administrators and SYSTEM and read to
// Everyone.
Bytes default_security_descriptor();

// The Windows hash of an "lh" entry: h = h * 37 + upper(unit) over UTF-16 units.
std::uint32_t lh_hash(std::string_view utf8);
// The hint of an "lf" entry: the first four characters of the name.
std::uint32_t lf_hint(std::string_view utf8);
// Windows subkey order: names upper-cased, then compared UTF-16 unit by unit.
bool windows_name_less(std::string_view a, std::string_view b);

enum class ListKind { li, lf, lh, ri };

struct NkRecord {
  Name name;
  std::uint16_t flags = 0;  // the one-byte bit 0x0020 is added when name.one_byte
  std::uint64_t timestamp = 0x01D9000000000000ull;
  std::uint32_t parent = kNoCell;
  std::uint32_t subkey_count = 0;
  std::uint32_t subkey_list = kNoCell;
  std::uint32_t value_count = 0;
  std::uint32_t value_list = kNoCell;
  std::uint32_t sk = kNoCell;
  std::uint32_t class_cell = kNoCell;
  std::uint16_t class_length = 0;
  std::uint32_t max_subkey_name = 0;
  std::uint32_t max_subkey_class = 0;
  std::uint32_t max_value_name = 0;
  std::uint32_t max_value_data = 0;
  std::optional<std::uint16_t> name_length;  // stored length field, default = name size
  std::uint32_t extra = 0;  // spare bytes behind the name (bigger cell)
};

struct VkRecord {
  Name name;
  std::uint32_t type = 0;
  std::uint32_t data_length = 0;  // raw field, bit 31 = inline
  std::uint32_t data_offset = 0;  // raw field
  std::uint16_t flags = 0;  // the one-byte bit 0x0001 is added when name.one_byte
  std::optional<std::uint16_t> name_length;
  std::uint32_t extra = 0;
};

struct ValueSpec {
  std::string name;  // "" = default value
  std::uint32_t type = 3;
  Bytes data;
  NameForm form = NameForm::Auto;
};

struct RiPart {
  ListKind kind = ListKind::lh;  // li, lf or lh
  std::size_t count = 0;  // keys in this sub-list
};

struct KeySpec {
  std::string name;
  NameForm form = NameForm::Auto;
  std::vector<KeySpec> subkeys;
  std::vector<ValueSpec> values;
  ListKind list = ListKind::lf;
  // For ri: the sub-lists in order; their counts must add up to the number of
  // subkeys. Empty: lh sub-lists of two keys each.
  std::vector<RiPart> ri_parts;
  // Keep the subkeys in the order given instead of the Windows order.
  bool keep_order = false;
};

// Shorthands for writing trees in tests.
inline KeySpec key(std::string name, std::vector<KeySpec> subkeys = {},
                   std::vector<ValueSpec> values = {}, ListKind list = ListKind::lf) {
  KeySpec k;
  k.name = std::move(name);
  k.subkeys = std::move(subkeys);
  k.values = std::move(values);
  k.list = list;
  return k;
}

inline ValueSpec val(std::string name, std::uint32_t type, Bytes data,
                     NameForm form = NameForm::Auto) {
  ValueSpec v;
  v.name = std::move(name);
  v.type = type;
  v.data = std::move(data);
  v.form = form;
  return v;
}

// Where tree() put things. Keys by path ("" = root, "A\\B"), values by
// path + "|" + value name.
struct BuiltTree {
  std::uint32_t root = kNoCell;
  std::uint32_t sk = kNoCell;
  std::map<std::string, std::uint32_t> keys;
  std::map<std::string, std::uint32_t> values;
  std::map<std::string, std::uint32_t> lists;  // subkey list of a key, by path

  std::uint32_t key(const std::string& path) const { return keys.at(path); }
  std::uint32_t value(const std::string& path, const std::string& name) const {
    return values.at(path + "|" + name);
  }
};

class HiveBuilder {
 public:
  HiveBuilder();

  // --- Base block. Root, bins size and checksum are computed by image()
  // unless overridden.
  void set_root(std::uint32_t off) { root_ = off; }
  std::uint32_t root() const { return root_; }
  void set_sequence(std::uint32_t primary, std::uint32_t secondary);
  void set_signature(std::string_view four_bytes);
  // The base block's minor version (5 by default). It also decides how
  // value() stores data longer than one segment: one cell below 4, as
  // Windows writes version 1.3 hives, a db record from 4 on.
  void set_minor_version(std::uint32_t minor);
  void override_bins_size(std::uint32_t v) { bins_size_override_ = v; }
  void override_checksum(std::uint32_t v) { checksum_override_ = v; }
  // Any u32 of the base block, applied after the computed fields and before
  // the checksum.
  void set_base_u32(std::uint32_t off, std::uint32_t v) { base_patches_[off] = v; }

  // --- Bins and cells.
  // Closes the current bin (its rest becomes one free cell) and opens a new
  // one of at least min_size bytes (rounded up to 4096).
  void new_bin(std::uint32_t min_size = 4096);
  // Places a cell holding data. The space taken is data + 4 rounded up to 8
  // (or `reserve` bytes when larger); the size field is minus that space, or
  // `size_field` when given (which may lie about the magnitude).
  struct CellOptions {
    bool free = false;
    std::optional<std::int32_t> size_field;
    std::uint32_t reserve = 0;
  };
  std::uint32_t cell(std::span<const std::uint8_t> data, CellOptions opts);
  std::uint32_t cell(std::span<const std::uint8_t> data) { return cell(data, CellOptions{}); }
  // A zeroed allocated cell with n data bytes.
  std::uint32_t alloc(std::uint32_t n);
  std::uint32_t free_cell(std::uint32_t n);

  // --- Records. Each returns the cell offset of the record.
  std::uint32_t nk(const NkRecord& r);
  std::uint32_t vk(const VkRecord& r);
  // A vk whose data are stored the way Windows does: inline up to 4 bytes,
  // one cell up to 16344, big data above (one cell in a hive below 1.4).
  std::uint32_t value(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data,
                      NameForm form = NameForm::Auto);
  std::uint32_t data_cell(std::span<const std::uint8_t> data) { return cell(data); }
  // db record + segment list + segments of `segment` bytes (the last holds the rest).
  std::uint32_t big_data(std::span<const std::uint8_t> data, std::uint32_t segment = kSegment);
  std::uint32_t db(std::uint16_t count, std::uint32_t segment_list);
  std::uint32_t offsets(const std::vector<std::uint32_t>& cells);  // value list / segment list
  std::uint32_t li(const std::vector<std::uint32_t>& nks);
  // lf/lh with hashes taken from the names of the nk records named.
  std::uint32_t lf(const std::vector<std::uint32_t>& nks);
  std::uint32_t lh(const std::vector<std::uint32_t>& nks);
  std::uint32_t ri(const std::vector<std::uint32_t>& lists);
  std::uint32_t list(ListKind kind, const std::vector<std::uint32_t>& entries);
  // A list header with any signature and count, then the given u32 words.
  std::uint32_t raw_list(std::string_view sig, std::uint16_t count,
                         const std::vector<std::uint32_t>& words);
  // sk record; kNoCell links point to the record itself.
  std::uint32_t sk(std::span<const std::uint8_t> descriptor, std::uint32_t refcount = 1,
                   std::uint32_t flink = kNoCell, std::uint32_t blink = kNoCell);

  // --- Whole trees. Lays out the key and everything below it, sets the root
  // when `as_root` and returns where everything went. Every key names one
  // shared sk record (created on the first call) whose reference count is the
  // number of keys.
  BuiltTree tree(const KeySpec& root, bool as_root = true);

  // --- Patching. Offsets are cell offsets; `field` counts from the cell data.
  void patch_u8(std::uint32_t cell, std::uint32_t field, std::uint8_t v);
  void patch_u16(std::uint32_t cell, std::uint32_t field, std::uint16_t v);
  void patch_u32(std::uint32_t cell, std::uint32_t field, std::uint32_t v);
  void patch_bytes(std::uint32_t cell, std::uint32_t field, std::span<const std::uint8_t> v);
  void set_cell_size(std::uint32_t cell, std::int32_t size_field);
  std::uint32_t read_u32(std::uint32_t cell, std::uint32_t field) const;
  std::uint16_t read_u16(std::uint32_t cell, std::uint32_t field) const;
  // Raw u32 at a bins offset (a cell's size field, a bin header, anything).
  void poke_u32(std::uint32_t bins_off, std::uint32_t v);
  // Writes a size field and data at any bins offset, over whatever is there:
  // overlapping cells, cells inside other cells' data.
  void put_cell(std::uint32_t bins_off, std::int32_t size_field, std::span<const std::uint8_t> data);

  // --- Output.
  // Bytes of the hive-bins area as image() will write them.
  std::uint32_t bins_size() const { return static_cast<std::uint32_t>(bins_.size()); }
  // Where the next cell would go if it fits the current bin.
  std::uint32_t cursor() const { return cursor_; }
  // Base block + bins; the open bin's rest is written as one free cell.
  Bytes image() const;
  void write_file(const std::string& path) const;
  static void write_bytes(const std::string& path, std::span<const std::uint8_t> bytes);
  // The bytes of a file, empty when it cannot be read.
  static Bytes read_bytes(const std::string& path);

 private:
  std::uint32_t place(std::uint32_t space);
  void ensure(std::uint64_t bins_off, std::uint64_t n) const;
  std::uint32_t hashed_list(std::string_view sig, const std::vector<std::uint32_t>& nks);
  std::u16string units_of(std::uint32_t nk) const;
  std::uint32_t lay_key(const KeySpec& node, std::uint32_t parent, const std::string& path,
                        BuiltTree& out, std::uint32_t& key_count);

  Bytes base_;
  Bytes bins_;
  std::uint32_t minor_ = 5;
  std::uint32_t bin_start_ = 0;  // offset of the open bin
  std::uint32_t cursor_ = 0;     // next free byte in the open bin
  std::uint32_t root_ = kNoCell;
  std::uint32_t shared_sk_ = kNoCell;
  std::optional<std::uint32_t> bins_size_override_;
  std::optional<std::uint32_t> checksum_override_;
  std::map<std::uint32_t, std::uint32_t> base_patches_;
};

// --- Transaction logs, as Windows writes them beside a dirty hive.

// Marvin32 with the seed Windows uses for log entries.
std::uint64_t marvin32(std::span<const std::uint8_t> bytes);

// Bytes that replace the hive-bins area from a bins offset on.
struct LogPage {
  std::uint32_t offset = 0;
  Bytes bytes;
};
// The 4096-byte pages of the bins area where image `to` differs from image
// `from`, including those `from` does not have.
std::vector<LogPage> changed_pages(const Bytes& from, const Bytes& to);

struct LogEntrySpec {
  std::uint32_t sequence = 0;
  std::uint32_t bins_size = 0;
  std::vector<LogPage> pages;
  std::uint32_t flags = 0;
  bool break_hash1 = false;  // the hash of the pages
  bool break_hash2 = false;  // the hash of the header
};
// One "HvLE" entry, padded to a multiple of 512 bytes.
Bytes log_entry(const LogEntrySpec& entry);
// A new-format log: the first 512 bytes of `image`'s base block with both
// sequence numbers set to `sequence` and file type 6, then the entries.
Bytes new_format_log(const Bytes& image, std::uint32_t sequence,
                     const std::vector<LogEntrySpec>& entries);
// An old-format log that brings a hive to `image`: its base block (file type
// 1), the "DIRT" bitmap of its bins area, and its 512-byte pages of the given
// 4096-byte blocks (bins offsets).
Bytes old_format_log(const Bytes& image, const std::vector<std::uint32_t>& dirty_blocks);

}  // namespace tol::test
