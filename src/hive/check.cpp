// A read-only consistency check of a whole hive: the things Windows relies on
// when it loads a hive, and the things the engine's own writers must get right.
#include "hive/check.h"

#include <glib/gi18n-lib.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hive/errors.h"
#include "hive/names.h"
#include "hive/security.h"
#include "hive/winorder.h"

namespace {

// Beyond this the report would only repeat itself: one damaged list can make
// every key below it look wrong.
constexpr std::size_t kMaxProblems = 1000;
constexpr std::uint32_t kNkClassLength = 0x4A;

enum class Kind : std::uint8_t {
  none,
  key,
  subkey_list,
  value_list,
  value,
  data,
  big_data,
  segment_list,
  segment,
  security,
  class_name,
};

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::key: return "key record";
    case Kind::subkey_list: return "subkey list";
    case Kind::value_list: return "value list";
    case Kind::value: return "value record";
    case Kind::data: return "data cell";
    case Kind::big_data: return "big data record";
    case Kind::segment_list: return "segment list";
    case Kind::segment: return "data segment";
    case Kind::security: return "security record";
    case Kind::class_name: return "class name";
    case Kind::none: break;
  }
  return "record";
}



// How the nk largest-length fields count a stored name: bytes of its UTF-16
// form, twice the stored length for names kept one byte per character.
std::uint32_t utf16_bytes(std::uint16_t stored_length, bool one_byte) {
  return one_byte ? std::uint32_t{stored_length} * 2 : stored_length;
}

// Where a problem lies: a key's path, and for a value its name as well.
// Spelled out only when there is a problem to report: a sound hive has none,
// and building the text for each of its million values would cost more than
// the rest of the check.
class Label {
 public:
  explicit Label(const std::string& path) : path_(&path) {}
  Label(const std::string& path, tol::ByteView name, bool one_byte)
      : path_(&path), name_(name), value_(true), one_byte_(one_byte) {}
  // A fixed text in place of a path.
  static Label text(std::string text) {
    Label label;
    label.text_ = std::move(text);
    return label;
  }

  std::string str() const {
    if (path_ == nullptr) return text_;
    std::string s = path_->empty() ? std::string("\\") : *path_;
    if (value_) s += ": value " + tol_quoted(tol_name_decode(name_.span(), one_byte_));
    return s;
  }

 private:
  Label() = default;
  const std::string* path_ = nullptr;
  tol::ByteView name_;
  bool value_ = false;
  bool one_byte_ = false;
  std::string text_;
};

std::optional<tol::ByteView> sk_record(const TolHive& hive, std::uint32_t off) {
  auto cell = tol_hive_cell(hive, off);
  if (!cell || cell->size() < TOL_SK_MIN_DATA || !cell->starts_with("sk")) return std::nullopt;
  return cell;
}

class Checker {
 public:
  // A key record takes at least 80 bytes and its path a node of the map:
  // reserving for the keys the image could hold spares the map its rehashes.
  explicit Checker(const TolHive& hive) : hive_(hive), bins_(hive.bins()) {
    parents_.reserve(hive.bins_length / 640);
  }

  TolCheckReport run() {
    check_base();
    walk_bins();
    std::string path;
    check_key(hive_.root_cell, TOL_NO_CELL, path, 0);
    check_security();
    if (suppressed_ > 0)
      report_.problems.push_back("... and " + std::to_string(suppressed_) + " more problems");
    return std::move(report_);
  }

 private:
  struct Claim {
    Kind kind = Kind::none;
    std::uint32_t key = TOL_NO_CELL;  // nk offset of the key the record belongs to
  };
  struct SecurityUse {
    std::uint32_t keys = 0;
    std::uint32_t first_key = TOL_NO_CELL;
  };

  void problem(std::string line) {
    if (report_.problems.size() < kMaxProblems)
      report_.problems.push_back(std::move(line));
    else
      ++suppressed_;
  }

  // The path the walk first reached a key by, rebuilt from the parents it
  // came through: only problems need it.
  std::string path_of(std::uint32_t key) const {
    if (!parents_.contains(key)) return tol_hex(key);
    std::vector<std::uint32_t> chain;
    for (auto it = parents_.find(key); it != parents_.end() && it->second != TOL_NO_CELL &&
                                       chain.size() < TOL_MAX_KEY_DEPTH;
         it = parents_.find(it->second))
      chain.push_back(it->first);
    std::string path;
    for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
      path += '\\';
      tol_hive_append_key_name(hive_, *k, path);
    }
    return path.empty() ? std::string("\\") : path;
  }

  // --- Base block and bins. -------------------------------------------------

  void check_base() {
    const tol::ByteView base = hive_.base();
    const std::uint32_t size = base.u32(TOL_BASE_BINS_SIZE);
    if (size == 0 || size % 4096 != 0)
      problem("base block: hive bins data size " + tol_hex(size) + " is not a positive multiple of 4096");
    if (size > hive_.bins_length)
      problem("base block: hive bins data size " + tol_hex(size) + " exceeds the " +
              tol_hex(hive_.bins_length) + " bytes of bins the file holds");
    // The checksum is written by the save; an image with unsaved changes
    // still carries the one of its last save.
    const std::uint32_t stored = base.u32(TOL_BASE_CHECKSUM);
    const std::uint32_t computed = tol_hive_checksum(base);
    if (!hive_.dirty && stored != computed)
      problem("base block: checksum " + tol_hex(stored) + " should be " + tol_hex(computed));
  }

  // Bins tile the hive-bins area and cells tile each bin; Windows refuses a
  // hive where they do not. Records the start and state of every cell.
  void walk_bins() {
    std::uint64_t off = 0;
    const std::uint64_t end = hive_.bins_length;
    while (off < end) {
      auto where = [off] { return "bin at " + tol_hex(off) + ": "; };
      const tol::ByteView header = bins_.sub(off, TOL_BIN_HEADER_SIZE);
      if (!header.starts_with("hbin")) {
        problem(where() + "missing \"hbin\" signature");
        return;
      }
      if (header.u32(4) != off) problem(where() + "offset field says " + tol_hex(header.u32(4)));
      const std::uint64_t size = header.u32(8);
      if (size < 4096 || size % 4096 != 0 || off + size > end) {
        problem(where() + "size " + tol_hex(size) + " is not a multiple of 4096 inside the bins area");
        return;
      }
      for (std::uint64_t c = off + TOL_BIN_HEADER_SIZE; c < off + size;) {
        const auto v = static_cast<std::int32_t>(bins_.u32(c));
        const std::uint64_t m = v < 0 ? -static_cast<std::int64_t>(v) : v;
        if (c + 4 > off + size || m < 8 || m % 8 != 0 || c + m > off + size) {
          problem(where() + "cell at " + tol_hex(c) + " has the size " + tol_hex(static_cast<std::uint32_t>(v)) +
                  ", which does not fit the bin");
          return;
        }
        cell_starts_.push_back(static_cast<std::uint32_t>(c));
        cell_allocated_.push_back(v < 0);
        c += m;
      }
      off += size;
    }
    cells_known_ = true;
    cell_claims_.resize(cell_starts_.size());
  }

  // Every record belongs to exactly one owner, starts a cell and lies in an
  // allocated one. False when the cell was claimed before.
  bool claim(std::uint32_t off, Kind kind, std::uint32_t key, const Label& label) {
    Claim* owner = nullptr;
    bool allocated = static_cast<std::int32_t>(bins_.u32(off)) < 0;
    bool starts_cell = true;
    if (cells_known_) {
      const auto it = std::lower_bound(cell_starts_.begin(), cell_starts_.end(), off);
      starts_cell = it != cell_starts_.end() && *it == off;
      if (starts_cell) {
        const auto index = static_cast<std::size_t>(it - cell_starts_.begin());
        owner = &cell_claims_[index];
        allocated = cell_allocated_[index];
      }
    }
    if (owner == nullptr) owner = &loose_claims_[off];
    if (owner->kind != Kind::none) {
      const std::string where = label.str();
      problem(where + ": " + kind_name(kind) + " at " + tol_hex(off) + " is already used as the " +
              kind_name(owner->kind) + " of " + path_of(owner->key));
      unsafe(off, "the " + std::string(kind_name(owner->kind)) + " at " + tol_hex(off) + " of " +
                      path_of(owner->key) + " is also used by " + where);
      return false;
    }
    *owner = Claim{kind, key};
    if (!starts_cell) {
      const std::string where = label.str();
      problem(where + ": " + kind_name(kind) + " at " + tol_hex(off) + " does not start a cell");
      unsafe(off, where + ": the " + std::string(kind_name(kind)) + " at " + tol_hex(off) +
                      " lies inside another cell");
    } else if (!allocated) {
      const std::string where = label.str();
      problem(where + ": " + kind_name(kind) + " at " + tol_hex(off) + " lies in a free cell");
      unsafe(off, where + ": the " + std::string(kind_name(kind)) + " at " + tol_hex(off) +
                      " lies in a free cell");
    }
    return true;
  }

  // The first reason found for a cell is kept.
  void unsafe(std::uint32_t off, std::string reason) {
    report_.unsafe_cells.emplace(off, std::move(reason));
  }

  // --- Keys. ----------------------------------------------------------------

  void check_key(std::uint32_t nk, std::uint32_t parent, std::string& path, int depth) {
    const Label where(path);
    if (depth >= TOL_MAX_KEY_DEPTH) {
      walk_cut_ = true;
      problem(where.str() + ": keys nested deeper than " + std::to_string(TOL_MAX_KEY_DEPTH - 1) +
              " levels (possible cycle)");
      return;
    }
    const auto key = tol_hive_key(hive_, nk);
    if (!key) {
      problem(where.str() + ": the key record at " + tol_hex(nk) + " is unreadable");
      return;
    }
    parents_.emplace(nk, parent);
    if (!claim(nk, Kind::key, nk, where)) return;
    ++report_.keys;

    const std::uint16_t name_length = key->u16(TOL_NK_NAME_LENGTH);
    if (key->size() < std::size_t{TOL_NK_MIN_DATA} + name_length)
      problem(where.str() + ": the key name runs past the end of its record");
    // A subkey is found by its name; libregf refuses both of these, hivex
    // the odd one.
    if (parent != TOL_NO_CELL && name_length == 0)
      problem(where.str() + ": the key name is empty");
    else if ((key->u16(TOL_NK_FLAGS) & TOL_NK_FLAG_ASCII_NAME) == 0 && name_length % 2 != 0)
      problem(where.str() + ": the UTF-16 key name has an odd number of bytes");
    // The root's parent field names nothing Windows follows.
    if (parent != TOL_NO_CELL && key->u32(TOL_NK_PARENT) != parent)
      problem(where.str() + ": parent field " + tol_hex(key->u32(TOL_NK_PARENT)) + " should be " + tol_hex(parent));

    auto& use = security_uses_[key->u32(TOL_NK_SECURITY)];
    if (use.keys++ == 0) use.first_key = nk;

    const std::uint32_t class_cell = key->u32(TOL_NK_CLASS);
    const std::uint16_t class_length = key->u16(kNkClassLength);
    if (class_cell != TOL_NO_CELL && class_length > 0) {
      const auto cls = tol_hive_cell(hive_, class_cell);
      if (!cls || cls->size() < class_length)
        problem(where.str() + ": the class name at " + tol_hex(class_cell) + " is unreadable");
      else
        claim(class_cell, Kind::class_name, nk, where);
    }

    check_values(nk, path);
    check_subkeys(nk, path, depth);
  }

  void check_subkeys(std::uint32_t nk, std::string& path, int depth) {
    const Label where(path);
    const auto key = tol_hive_key(hive_, nk);
    const std::uint32_t count = key->u32(TOL_NK_SUBKEY_COUNT);
    const std::uint32_t list = key->u32(TOL_NK_SUBKEY_LIST);
    const std::uint32_t largest = key->u32(TOL_NK_MAX_SUBKEY_NAME) & 0xFFFFu;
    if (count == 0) return;
    if (list == TOL_NO_CELL) {
      problem(where.str() + ": " + std::to_string(count) + " subkeys but no subkey list");
      return;
    }

    // Each level keeps its list of children from one key to the next.
    std::vector<std::uint32_t>& children = levels_[static_cast<std::size_t>(depth)];
    children.clear();
    collect(nk, where, list, false, children);
    if (children.size() != count)
      problem(where.str() + ": subkey count " + std::to_string(count) + " but the subkey list holds " +
              std::to_string(children.size()));

    // Windows compares the stored code units, so the order is checked on
    // them rather than on decoded text (which turns broken UTF-16 into "?").
    std::uint32_t longest = 0;
    std::uint32_t previous = TOL_NO_CELL;
    for (const std::uint32_t child : children) {
      const auto sub = tol_hive_key(hive_, child);
      if (!sub || sub->size() < std::size_t{TOL_NK_MIN_DATA} + sub->u16(TOL_NK_NAME_LENGTH)) {
        previous = TOL_NO_CELL;
        continue;
      }
      const bool one_byte = (sub->u16(TOL_NK_FLAGS) & TOL_NK_FLAG_ASCII_NAME) != 0;
      longest = std::max(longest, utf16_bytes(sub->u16(TOL_NK_NAME_LENGTH), one_byte));
      if (previous != TOL_NO_CELL) {
        const int order = tol::compare_windows(tol::stored_key_name(hive_, previous),
                                               tol::stored_key_name(hive_, child));
        if (order == 0)
          problem(where.str() + ": two subkeys are named " + tol_quoted(tol_hive_key_name(hive_, child)));
        else if (order > 0)
          problem(where.str() + ": subkeys out of Windows order: " +
                  tol_quoted(tol_hive_key_name(hive_, previous)) + " before " +
                  tol_quoted(tol_hive_key_name(hive_, child)));
      }
      previous = child;
    }
    if (largest < longest)
      problem(where.str() + ": largest subkey name length " + std::to_string(largest) +
              " is below the " + std::to_string(longest) + " bytes of its longest subkey name");

    const std::size_t length = path.size();
    for (const std::uint32_t child : children) {
      path += '\\';
      tol_hive_append_key_name(hive_, child, path);
      check_key(child, nk, path, depth + 1);
      path.resize(length);
    }
  }

  // One subkey list and, for "ri", the lists it names. Windows accepts only
  // leaf lists ("li", "lf", "lh") below an "ri".
  void collect(std::uint32_t nk, const Label& where, std::uint32_t list, bool below_ri,
               std::vector<std::uint32_t>& out) {
    const auto cell = tol_hive_cell(hive_, list);
    if (!cell || cell->size() < 4) {
      problem(where.str() + ": the subkey list at " + tol_hex(list) + " is unreadable");
      return;
    }
    if (!claim(list, Kind::subkey_list, nk, where)) return;
    const std::uint64_t count = cell->u16(2);
    const std::string sig{static_cast<char>(cell->u8(0)), static_cast<char>(cell->u8(1))};
    std::uint64_t entry = 0;
    if (sig == "li" || sig == "ri")
      entry = 4;
    else if (sig == "lf" || sig == "lh")
      entry = 8;
    if (entry == 0 || (sig == "ri" && below_ri)) {
      problem(where.str() + ": the subkey list at " + tol_hex(list) + " has the signature " +
              tol_quoted(escape(sig)) +
              (entry == 0 ? "" : " inside an \"ri\" list"));
      return;
    }
    if (count == 0) {
      problem(where.str() + ": the subkey list at " + tol_hex(list) + " is empty");
      return;
    }
    if (cell->size() < 4 + count * entry) {
      problem(where.str() + ": the subkey list at " + tol_hex(list) + " is too short for its " +
              std::to_string(count) + " entries");
      return;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint32_t off = cell->u32(4 + i * entry);
      if (sig == "ri")
        collect(nk, where, off, true, out);
      else
        out.push_back(off);
    }
  }

  static std::string escape(const std::string& s) {
    std::string out;
    for (const char c : s) {
      if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
        out += c;
      } else {
        char buf[8];
        g_snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
        out += buf;
      }
    }
    return out;
  }

  // --- Values. --------------------------------------------------------------

  void check_values(std::uint32_t nk, const std::string& path) {
    const Label key_label(path);
    const auto key = tol_hive_key(hive_, nk);
    const std::uint32_t count = key->u32(TOL_NK_VALUE_COUNT);
    const std::uint32_t largest_name = key->u32(TOL_NK_MAX_VALUE_NAME);
    const std::uint32_t largest_data = key->u32(TOL_NK_MAX_VALUE_DATA);
    const std::uint32_t list_off = key->u32(TOL_NK_VALUE_LIST);
    if (count == 0) return;

    const auto list = tol_hive_cell(hive_, list_off);
    if (!list) {
      problem(key_label.str() + ": the value list at " + tol_hex(list_off) + " is unreadable");
      return;
    }
    if (!claim(list_off, Kind::value_list, nk, key_label)) return;
    std::uint64_t n = count;
    if (list->size() / 4 < n) {
      problem(key_label.str() + ": value count " + std::to_string(count) + " but the value list at " +
              tol_hex(list_off) + " has room for " + std::to_string(list->size() / 4));
      n = list->size() / 4;
    }

    std::uint32_t longest_name = 0;
    std::uint32_t longest_data = 0;
    reset_names(n);
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::uint32_t off = list->u32(i * 4);
      const auto vk = tol_hive_vk(hive_, off);
      if (!vk) {
        problem(key_label.str() + ": value " + std::to_string(i) + " (record at " + tol_hex(off) + ") is unreadable");
        continue;
      }
      const bool one_byte = (vk->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
      const std::uint16_t name_length = vk->u16(TOL_VK_NAME_LENGTH);
      const Label label(path, vk->sub(TOL_VK_NAME, name_length), one_byte);
      if (!claim(off, Kind::value, nk, label)) continue;
      ++report_.values;
      if (name_seen(off))
        problem(key_label.str() + ": two values are named " +
                tol_quoted(tol_name_decode(vk->sub(TOL_VK_NAME, name_length).span(), one_byte)));
      longest_name = std::max(longest_name, utf16_bytes(name_length, one_byte));
      longest_data = std::max(longest_data, check_data(nk, label, vk->u32(TOL_VK_DATA_LENGTH),
                                                       vk->u32(TOL_VK_DATA_OFFSET)));
    }
    if (largest_name < longest_name)
      problem(key_label.str() + ": largest value name length " + std::to_string(largest_name) +
              " is below the " + std::to_string(longest_name) + " bytes of its longest value name");
    if (largest_data < longest_data)
      problem(key_label.str() + ": largest value data length " + std::to_string(largest_data) +
              " is below the " + std::to_string(longest_data) + " bytes of its largest value");
  }

  // The value names of one key, ASCII-folded, in an open-addressing table of
  // (hash, vk) that keeps its memory from one key to the next.
  void reset_names(std::uint64_t values) {
    name_slots_.assign(std::bit_ceil(std::max<std::uint64_t>(16, 2 * values + 1)),
                       {0, TOL_NO_CELL});
  }
  std::string_view folded_name(std::uint32_t vk, std::string& buffer) const {
    const auto record = tol_hive_vk(hive_, vk);
    buffer.clear();
    const bool one_byte = (record->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
    tol_name_append(buffer, record->sub(TOL_VK_NAME, record->u16(TOL_VK_NAME_LENGTH)).span(), one_byte);
    for (char& c : buffer)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return buffer;
  }
  // True when an earlier value of the key has the same folded name; the
  // value is recorded otherwise.
  bool name_seen(std::uint32_t vk) {
    const std::string_view folded = folded_name(vk, name_);
    const std::uint64_t hash = std::hash<std::string_view>{}(folded);
    const std::size_t mask = name_slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      auto& [h, off] = name_slots_[i];
      if (off == TOL_NO_CELL) {
        h = hash;
        off = vk;
        return false;
      }
      if (h == hash && folded_name(off, other_name_) == folded) return true;
    }
  }

  // Checks where a value's data live; returns the data length the record claims.
  std::uint32_t check_data(std::uint32_t nk, const Label& label, std::uint32_t length_field,
                           std::uint32_t offset) {
    const TolDataPlace place = tol_hive_data_place(hive_, length_field, offset);
    const std::uint32_t length = place.length;
    if (place.layout == TolDataLayout::inline_data) {
      if (length > 4) problem(label.str() + ": inline data length " + std::to_string(length) + " exceeds 4");
      return length;
    }
    if (place.layout == TolDataLayout::empty) return 0;
    if (!place.windows_reads)
      problem(label.str() + ": Windows will not read this value: its " + std::to_string(length) +
              " bytes are stored " +
              (place.layout == TolDataLayout::cell ? "in one cell" : "behind a big data record") +
              " in a version 1." + std::to_string(tol_hive_minor_version(hive_)) + " hive");

    if (place.layout == TolDataLayout::cell) {
      const auto cell = tol_hive_cell(hive_, offset);
      if (!cell || cell->size() < length)
        problem(label.str() + ": the data cell at " + tol_hex(offset) + " is unreadable or shorter than " +
                std::to_string(length) + " bytes");
      else
        claim(offset, Kind::data, nk, label);
      return length;
    }

    const auto db = tol_hive_cell(hive_, offset);
    if (!db || db->size() <= 7 || !db->starts_with("db")) {
      problem(label.str() + ": the big data record at " + tol_hex(offset) + " is unreadable");
      return length;
    }
    if (!claim(offset, Kind::big_data, nk, label)) return length;
    const std::uint32_t count = db->u16(2);
    const std::uint32_t needed = (length + TOL_BIG_DATA_SEGMENT - 1) / TOL_BIG_DATA_SEGMENT;
    if (count != needed)
      problem(label.str() + ": " + std::to_string(length) + " bytes of big data need " +
              std::to_string(needed) + " segments, the record has " + std::to_string(count));
    const std::uint32_t list_off = db->u32(4);
    const auto list = tol_hive_cell(hive_, list_off);
    if (!list || list->size() < std::uint64_t{count} * 4) {
      problem(label.str() + ": the segment list at " + tol_hex(list_off) + " is unreadable");
      return length;
    }
    if (!claim(list_off, Kind::segment_list, nk, label)) return length;

    std::uint64_t gathered = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t seg_off = list->u32(std::size_t{i} * 4);
      const auto segment = tol_hive_cell(hive_, seg_off);
      if (!segment) {
        problem(label.str() + ": data segment " + std::to_string(i) + " at " + tol_hex(seg_off) +
                " is unreadable");
        break;
      }
      claim(seg_off, Kind::segment, nk, label);
      // Windows takes a full segment from every cell but the last.
      if (i + 1 < count && segment->size() < TOL_BIG_DATA_SEGMENT)
        problem(label.str() + ": data segment " + std::to_string(i) + " holds only " +
                std::to_string(segment->size()) + " bytes");
      gathered += std::min<std::uint64_t>({segment->size(), TOL_BIG_DATA_SEGMENT, length - gathered});
    }
    if (gathered < length)
      problem(label.str() + ": big data give " + std::to_string(gathered) + " of " +
              std::to_string(length) + " bytes");
    return length;
  }

  // --- Security records. ----------------------------------------------------

  // A new security record is linked in beside the root key's: with the list
  // broken, those links would join the damage.
  void ring_broken(std::uint32_t start) {
    unsafe(start, "the hive's list of security records is broken");
  }

  void check_security() {
    const auto root = tol_hive_key(hive_, hive_.root_cell);
    if (!root) return;
    const std::uint32_t start = root->u32(TOL_NK_SECURITY);
    std::unordered_set<std::uint32_t> ring;

    if (!sk_record(hive_, start)) {
      problem("security list: the root key's security record at " + tol_hex(start) + " is unreadable");
    } else {
      // Windows walks the forward links from the root key's record and must
      // come back to it; back links must mirror the walk.
      std::uint32_t cur = start;
      ring.insert(start);
      for (;;) {
        const std::uint32_t next = sk_record(hive_, cur)->u32(TOL_SK_FLINK);
        const auto rec = sk_record(hive_, next);
        if (!rec) {
          problem("security list: the forward link of " + tol_hex(cur) + " names " + tol_hex(next) +
                  ", which is not a security record");
          ring_broken(start);
          break;
        }
        if (rec->u32(TOL_SK_BLINK) != cur)
          problem("security list: the back link of " + tol_hex(next) + " is " +
                  tol_hex(rec->u32(TOL_SK_BLINK)) + ", should be " + tol_hex(cur));
        if (next == start) break;
        if (!ring.insert(next).second) {
          problem("security list: it loops at " + tol_hex(next) + " without returning to " + tol_hex(start));
          ring_broken(start);
          break;
        }
        cur = next;
      }
    }

    std::vector<std::uint32_t> records(ring.begin(), ring.end());
    for (const auto& [off, use] : security_uses_)
      if (!ring.contains(off)) records.push_back(off);
    std::sort(records.begin(), records.end());
    report_.security_records = static_cast<std::uint32_t>(records.size());

    for (const std::uint32_t off : records) {
      const auto it = security_uses_.find(off);
      const SecurityUse use = it == security_uses_.end() ? SecurityUse{} : it->second;
      const std::string user = use.keys == 0 ? "" : path_of(use.first_key) + ": ";
      const auto rec = sk_record(hive_, off);
      if (!rec) {
        problem(user + "the security record at " + tol_hex(off) + " is unreadable");
        continue;
      }
      claim(off, Kind::security, use.keys == 0 ? hive_.root_cell : use.first_key,
            Label::text(use.keys == 0 ? std::string("security list") : path_of(use.first_key)));
      if (!ring.contains(off))
        problem(user + "the security record at " + tol_hex(off) +
                " is not on the hive's security list");
      const std::uint32_t refs = rec->u32(TOL_SK_REFCOUNT);
      // Keys below the depth limit were not counted; more references than
      // counted keys proves nothing then.
      if (refs < use.keys)
        unsafe(off, "the security record at " + tol_hex(off) + " counts " + std::to_string(refs) +
                        " keys, but " + std::to_string(use.keys) + " use it");
      if (refs < use.keys || (refs > use.keys && !walk_cut_))
        problem("security record at " + tol_hex(off) + ": reference count " + std::to_string(refs) +
                " but " + std::to_string(use.keys) + (use.keys == 1 ? " key uses" : " keys use") +
                " it");
      const std::uint32_t length = rec->u32(TOL_SK_DESC_LENGTH);
      if (length > rec->size() - TOL_SK_MIN_DATA)
        problem("security record at " + tol_hex(off) + ": the descriptor runs past the end of its cell");
      else if (!tol_security_descriptor_valid(rec->sub(TOL_SK_DESC, length).span()))
        problem("security record at " + tol_hex(off) + ": not a valid self-relative descriptor");
    }
  }

  const TolHive& hive_;
  const tol::ByteView bins_;
  TolCheckReport report_;
  std::size_t suppressed_ = 0;
  bool cells_known_ = false;
  bool walk_cut_ = false;
  // Every cell of the bins in ascending order, when the bins could be walked;
  // a hive has millions of them, so they are kept compact.
  std::vector<std::uint32_t> cell_starts_;
  std::vector<bool> cell_allocated_;
  std::vector<Claim> cell_claims_;
  // Claims of offsets that start no known cell.
  std::unordered_map<std::uint32_t, Claim> loose_claims_;
  // The key each key was first reached from (the root: none).
  std::unordered_map<std::uint32_t, std::uint32_t> parents_;
  std::vector<std::vector<std::uint32_t>> levels_ =
      std::vector<std::vector<std::uint32_t>>(TOL_MAX_KEY_DEPTH);
  std::vector<std::pair<std::uint64_t, std::uint32_t>> name_slots_;
  std::string name_;
  std::string other_name_;
  std::unordered_map<std::uint32_t, SecurityUse> security_uses_;
};

}  // namespace

TolCheckReport tol_hive_check(const TolHive& hive) { return Checker(hive).run(); }

const TolCensus& tol_hive_census(TolHive& hive) {
  if (!hive.census) {
    TolCheckReport report = tol_hive_check(hive);
    hive.census.emplace();
    hive.census->unsafe = std::move(report.unsafe_cells);
    hive.census->problems = report.problems.size();
  }
  return *hive.census;
}

bool tol_hive_cells_safe(TolHive& hive, std::span<const std::uint32_t> cells, GError** error) {
  const TolCensus& census = tol_hive_census(hive);
  if (census.unsafe.empty()) return true;
  for (const std::uint32_t cell : cells) {
    const auto it = census.unsafe.find(cell);
    if (it != census.unsafe.end())
      return tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
                      std::string(_("the hive is damaged here: ")) + it->second);
  }
  return true;
}
