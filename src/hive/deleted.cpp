// The scan for deleted keys and values (see deleted.h).
//
// One pass over the bins notes every unused range (free cells, and the slack
// behind signed records) and looks in each for records at the 8-byte steps
// cells start on. Everything after that works on what the pass found: the
// deleted records, their value lists and data (read only from unused
// ranges), and, when some deleted values belong to no deleted key, the old
// value lists in free cells and the value lists of the live keys.
#include "hive/deleted.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "hive/cell_bounds.h"
#include "hive/details.h"
#include "hive/format.h"
#include "hive/names.h"

namespace {

constexpr std::uint64_t kBinGrain = 4096;
// Windows stores at most 255 UTF-16 units in a key name and 16383 in a
// value name; a longer length field is garbage.
constexpr std::uint32_t kKeyNameMax = 512;
constexpr std::uint32_t kValueNameMax = 32767;
// 2200-01-01 as a FILETIME. Eight bytes of garbage read as a time nearly
// always lie beyond it; no hive has a key written later.
constexpr std::uint64_t kLatestTime = 189025920000000000ull;
constexpr std::uint64_t kVkCell = 4 + TOL_VK_MIN_DATA;  // the smallest cell a vk record fits
constexpr std::uint16_t kValueFlags = 0x0003;            // name form, tombstone

std::uint64_t round8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

std::uint64_t magnitude(std::uint32_t field) {
  const auto v = static_cast<std::int32_t>(field);
  return v < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(v))
               : static_cast<std::uint64_t>(v);
}

// Offsets that can start a cell: 8-byte steps behind a bin header.
bool cell_offset(std::uint32_t off, std::uint32_t bins_length) {
  return off % 8 == 0 && off >= TOL_BIN_HEADER_SIZE && std::uint64_t{off} + 8 <= bins_length;
}

// Stored names hold no NUL (nor, for keys, a backslash), and UTF-16 ones
// whole units.
bool sound_name(tol::ByteView name, bool one_byte, bool key) {
  if (one_byte) {
    for (std::size_t i = 0; i < name.size(); ++i)
      if (name.u8(i) == 0 || (key && name.u8(i) == '\\')) return false;
    return true;
  }
  if (name.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < name.size(); i += 2)
    if (name.u16(i) == 0 || (key && name.u16(i) == '\\')) return false;
  return true;
}

struct Nk {
  std::uint64_t time = 0;
  std::uint32_t parent = TOL_NO_CELL;
  std::uint32_t subkey_count = 0;
  std::uint32_t value_count = 0;
  std::uint32_t value_list = TOL_NO_CELL;
  tol::ByteView name;
  bool one_byte = false;
  std::uint64_t extent = 0;  // bytes of the record with its size field
};

// An nk record whose structure still holds; counts that claim more entries
// than the image could hold, and offsets that cannot start a cell, make it
// garbage.
std::optional<Nk> parse_nk(tol::ByteView rec, std::uint32_t bins_length) {
  if (!tol::is_key_cell(rec)) return std::nullopt;
  const std::uint16_t length = rec.u16(TOL_NK_NAME_LENGTH);
  if (length == 0 || length > kKeyNameMax || rec.size() < std::size_t{TOL_NK_MIN_DATA} + length)
    return std::nullopt;
  Nk nk;
  nk.time = rec.u64(TOL_NK_TIMESTAMP);
  nk.parent = rec.u32(TOL_NK_PARENT);
  nk.subkey_count = rec.u32(TOL_NK_SUBKEY_COUNT);
  nk.value_count = rec.u32(TOL_NK_VALUE_COUNT);
  nk.value_list = rec.u32(TOL_NK_VALUE_LIST);
  const std::uint32_t sk = rec.u32(TOL_NK_SECURITY);
  const bool class_name = rec.u16(TOL_NK_NAME_LENGTH + 2) != 0;
  if (nk.time > kLatestTime || !cell_offset(nk.parent, bins_length) ||
      nk.subkey_count > bins_length / 8 || nk.value_count > bins_length / 8 ||
      (nk.subkey_count != 0 && !cell_offset(rec.u32(TOL_NK_SUBKEY_LIST), bins_length)) ||
      (nk.value_count != 0 && !cell_offset(nk.value_list, bins_length)) ||
      (sk != TOL_NO_CELL && !cell_offset(sk, bins_length)) ||
      (class_name && !cell_offset(rec.u32(TOL_NK_CLASS), bins_length)))
    return std::nullopt;
  nk.one_byte = (rec.u16(TOL_NK_FLAGS) & TOL_NK_FLAG_ASCII_NAME) != 0;
  nk.name = rec.sub(TOL_NK_NAME, length);
  if (!sound_name(nk.name, nk.one_byte, true)) return std::nullopt;
  nk.extent = 4 + std::uint64_t{TOL_NK_MIN_DATA} + length;
  return nk;
}

struct Vk {
  tol::ByteView name;
  bool one_byte = false;
  std::uint32_t type = 0;
  std::uint32_t length_field = 0;
  std::uint64_t extent = 0;
};

std::optional<Vk> parse_vk(tol::ByteView rec, std::uint32_t bins_length) {
  if (rec.size() < TOL_VK_MIN_DATA || !rec.starts_with("vk")) return std::nullopt;
  const std::uint16_t length = rec.u16(TOL_VK_NAME_LENGTH);
  const std::uint16_t flags = rec.u16(TOL_VK_FLAGS);
  if (length > kValueNameMax || rec.size() < std::size_t{TOL_VK_MIN_DATA} + length ||
      (flags & ~kValueFlags) != 0)
    return std::nullopt;
  Vk vk;
  vk.length_field = rec.u32(TOL_VK_DATA_LENGTH);
  const std::uint32_t length_bytes = vk.length_field & ~TOL_DATA_INLINE_BIT;
  if ((vk.length_field & TOL_DATA_INLINE_BIT) != 0) {
    if (length_bytes > 4) return std::nullopt;
  } else if (length_bytes != 0 &&
             (length_bytes > bins_length ||
              !cell_offset(rec.u32(TOL_VK_DATA_OFFSET), bins_length))) {
    return std::nullopt;
  }
  vk.one_byte = (flags & TOL_VK_FLAG_ASCII_NAME) != 0;
  vk.name = rec.sub(TOL_VK_NAME, length);
  if (!sound_name(vk.name, vk.one_byte, false)) return std::nullopt;
  vk.type = rec.u32(TOL_VK_TYPE);
  vk.extent = 4 + std::uint64_t{TOL_VK_MIN_DATA} + length;
  return vk;
}

// The unused ranges of a scan, asked whether bytes lie inside one of them.
class Unused {
 public:
  explicit Unused(const std::vector<TolUnusedRange>& ranges) : ranges_(ranges) {}

  // Whether [off, off + n) lies inside one unused range.
  bool holds(std::uint64_t off, std::uint64_t n) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), off,
                               [](std::uint64_t o, const TolUnusedRange& r) { return o < r.start; });
    if (it == ranges_.begin()) return false;
    --it;
    return off + n <= it->end;
  }

 private:
  const std::vector<TolUnusedRange>& ranges_;
};

// The n bytes behind the size field at off, when they and the field are unused.
std::optional<tol::ByteView> unused_bytes(const TolHive& hive, const Unused& unused,
                                          std::uint32_t off, std::uint64_t n) {
  if (!unused.holds(off, 4 + n)) return std::nullopt;
  return hive.bins().sub(std::size_t{off} + 4, static_cast<std::size_t>(n));
}

// The same for a cell its deleted owner names, whose size field must still
// say it is long enough.
std::optional<tol::ByteView> unused_cell(const TolHive& hive, const Unused& unused,
                                         std::uint32_t off, std::uint64_t n) {
  if (!unused.holds(off, 4 + n)) return std::nullopt;
  const auto cell = tol_hive_cell(hive, off);
  if (!cell || cell->size() < n) return std::nullopt;
  return cell->sub(0, static_cast<std::size_t>(n));
}

// What the scan learnt of segment lists: how many leading segments hold a
// whole segment in unused cells, and the first that does not. Garbage
// records may name one list many times; each segment is then looked at once.
struct SegmentMemo {
  std::unordered_map<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>> lists;
};

// Whether segments [0, whole) of the list each hold a whole segment.
bool whole_segments(const TolHive& hive, const Unused& unused, tol::ByteView list,
                    std::uint32_t list_off, std::uint64_t whole, SegmentMemo* memo) {
  std::uint64_t good = 0;
  std::uint64_t bad = UINT64_MAX;
  if (memo) std::tie(good, bad) = memo->lists.try_emplace(list_off, 0, UINT64_MAX).first->second;
  if (whole > bad) return false;
  for (; good < whole; ++good) {
    if (!unused_cell(hive, unused, list.u32(good * 4), TOL_BIG_DATA_SEGMENT)) {
      bad = good;
      break;
    }
  }
  if (memo) memo->lists[list_off] = {good, bad};
  return good >= whole;
}

// Checks (out null) or reads the data a deleted vk's fields name. Big data
// count only when every segment they need is unused.
bool deleted_data(const TolHive& hive, const Unused& unused, std::uint32_t length_field,
                  std::uint32_t offset_field, std::vector<std::uint8_t>* out,
                  SegmentMemo* memo = nullptr) {
  const TolDataPlace place = tol_hive_data_place(hive, length_field, offset_field);
  const std::uint32_t length = place.length;
  switch (place.layout) {
    case TolDataLayout::empty: return true;
    case TolDataLayout::inline_data:
      if (out)
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(length, 4); ++i)
          out->push_back(static_cast<std::uint8_t>(offset_field >> (8 * i)));
      return true;
    case TolDataLayout::cell: {
      const auto cell = unused_cell(hive, unused, offset_field, length);
      if (!cell) return false;
      if (out) out->assign(cell->span().begin(), cell->span().end());
      return true;
    }
    case TolDataLayout::big_data: break;
  }
  const auto db = unused_cell(hive, unused, offset_field, 8);
  if (!db || !db->starts_with("db")) return false;
  const std::uint64_t need = (std::uint64_t{length} + TOL_BIG_DATA_SEGMENT - 1) / TOL_BIG_DATA_SEGMENT;
  if (db->u16(2) < need) return false;
  const std::uint32_t list_off = db->u32(4);
  const auto list = unused_cell(hive, unused, list_off, need * 4);
  if (!list) return false;
  // Every segment is checked before a byte is copied.
  const std::uint64_t last = length - (need - 1) * TOL_BIG_DATA_SEGMENT;
  if (!whole_segments(hive, unused, *list, list_off, need - 1, memo) ||
      !unused_cell(hive, unused, list->u32((need - 1) * 4), last))
    return false;
  if (!out) return true;
  out->reserve(length);
  for (std::uint64_t i = 0; i < need; ++i) {
    const auto segment = unused_cell(hive, unused, list->u32(i * 4),
                                     i + 1 < need ? TOL_BIG_DATA_SEGMENT : last);
    if (!segment) {
      out->clear();
      return false;
    }
    out->insert(out->end(), segment->span().begin(), segment->span().end());
  }
  return true;
}

bool record_signature(tol::ByteView cell) {
  static constexpr const char* kSignatures[] = {"nk", "vk", "sk", "lf", "lh", "li", "ri", "db"};
  return std::any_of(std::begin(kSignatures), std::end(kSignatures),
                     [&](const char* s) { return cell.starts_with(s); });
}

class Scanner {
 public:
  explicit Scanner(const TolHive& hive)
      : hive_(hive), bins_(hive.bins()), length_(hive.bins_length) {}

  TolDeletedScan run() {
    walk_bins();
    const Unused unused(scan_.unused);
    key_gone_.assign(scan_.keys.size(), false);
    value_gone_.assign(scan_.values.size(), false);
    for (std::size_t i = 0; i < scan_.keys.size(); ++i) key_at_.emplace(scan_.keys[i].record, i);
    for (std::size_t i = 0; i < scan_.values.size(); ++i)
      value_at_.emplace(scan_.values[i].record, i);
    link_parents(unused);
    attach_values(unused);
    attribute_orphans(unused);
    compact();
    finish(unused);
    return std::move(scan_);
  }

 private:
  // --- The pass over the bins. ------------------------------------------------

  void walk_bins() {
    const std::uint64_t end = length_;
    std::uint64_t off = 0;
    while (off + TOL_BIN_HEADER_SIZE <= end) {
      const tol::ByteView header = bins_.sub(off, TOL_BIN_HEADER_SIZE);
      const std::uint64_t size = header.u32(8);
      if (!header.starts_with("hbin") || size < kBinGrain || size % kBinGrain != 0) {
        // A broken bin: the next one may still start on a later boundary.
        off += kBinGrain;
        continue;
      }
      walk_cells(off + TOL_BIN_HEADER_SIZE, std::min(off + size, end));
      off += size;
    }
  }

  void walk_cells(std::uint64_t c, std::uint64_t end) {
    while (c + 4 <= end) {
      const std::uint32_t field = bins_.u32(c);
      const std::uint64_t m = magnitude(field);
      // A cell that does not fit leaves the rest of the bin unknown, and
      // unknown bytes are never taken for unused ones.
      if (m < 8 || m % 8 != 0 || c + m > end) return;
      if (static_cast<std::int32_t>(field) > 0) {
        scan_.unused.push_back({static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(c + m), false});
        search(c, c + m, false);
      } else {
        allocated(c, m);
      }
      c += m;
    }
  }

  // The slack behind a signed record. Cells of plain data (value data, value
  // lists, class names) are their owners' bytes whatever they hold.
  void allocated(std::uint64_t c, std::uint64_t m) {
    const tol::ByteView data = bins_.sub(c + 4, m - 4);
    std::uint64_t used = 0;
    if (tol::is_key_cell(data)) {
      live_keys_.push_back(static_cast<std::uint32_t>(c));
      used = 4 + std::uint64_t{TOL_NK_MIN_DATA} + data.u16(TOL_NK_NAME_LENGTH);
    } else if (data.size() >= TOL_VK_MIN_DATA && data.starts_with("vk")) {
      used = kVkCell + data.u16(TOL_VK_NAME_LENGTH);
    } else if (data.size() >= TOL_SK_MIN_DATA && data.starts_with("sk")) {
      used = 4 + std::uint64_t{TOL_SK_MIN_DATA} + data.u32(TOL_SK_DESC_LENGTH);
    } else if (data.starts_with("li") || data.starts_with("ri")) {
      used = 8 + std::uint64_t{data.u16(2)} * 4;
    } else if (data.starts_with("lf") || data.starts_with("lh")) {
      used = 8 + std::uint64_t{data.u16(2)} * 8;
    } else if (data.size() >= 8 && data.starts_with("db")) {
      used = 12;
    } else {
      return;
    }
    used = round8(used);
    if (used + 8 > m) return;
    scan_.unused.push_back(
        {static_cast<std::uint32_t>(c + used), static_cast<std::uint32_t>(c + m), true});
    if (m - used >= kVkCell) search(c + used, c + m, true);
  }

  // The bytes a record at p may occupy: up to `end`, or less when the size
  // field before it still gives a length that fits.
  tol::ByteView record(std::uint64_t p, std::uint64_t end, std::uint64_t smallest) const {
    std::uint64_t limit = end - p;
    const std::uint64_t size = magnitude(bins_.u32(p));
    if (size >= smallest && size % 8 == 0 && size <= limit) limit = size;
    return bins_.sub(p + 4, limit - 4);
  }

  void search(std::uint64_t start, std::uint64_t end, bool slack) {
    std::uint64_t p = start;
    while (p + 6 <= end) {
      const std::uint8_t s0 = bins_.u8(p + 4);
      const std::uint8_t s1 = bins_.u8(p + 5);
      std::uint64_t extent = 0;
      if (s0 == 'n' && s1 == 'k') extent = add_key(p, end, slack);
      else if (s0 == 'v' && s1 == 'k') extent = add_value(p, end, slack);
      p += extent != 0 ? round8(extent) : 8;
    }
  }

  std::uint64_t add_key(std::uint64_t p, std::uint64_t end, bool slack) {
    const auto nk = parse_nk(record(p, end, 4 + TOL_NK_MIN_DATA), length_);
    if (!nk) return 0;
    TolDeletedKey key;
    key.record = static_cast<std::uint32_t>(p);
    key.in_slack = slack;
    tol_name_append(key.name, nk->name.span(), nk->one_byte);
    key.last_write = nk->time;
    key.parent = nk->parent;
    key.subkey_count = nk->subkey_count;
    key.value_count = nk->value_count;
    scan_.keys.push_back(std::move(key));
    value_lists_.push_back(nk->value_list);
    return nk->extent;
  }

  std::uint64_t add_value(std::uint64_t p, std::uint64_t end, bool slack) {
    const tol::ByteView rec = record(p, end, kVkCell);
    const auto vk = parse_vk(rec, length_);
    if (!vk) return 0;
    TolDeletedValue value;
    value.record = static_cast<std::uint32_t>(p);
    value.in_slack = slack;
    tol_name_append(value.name, vk->name.span(), vk->one_byte);
    value.type = vk->type;
    value.length = vk->length_field & ~TOL_DATA_INLINE_BIT;
    scan_.values.push_back(std::move(value));
    data_fields_.emplace_back(vk->length_field, rec.u32(TOL_VK_DATA_OFFSET));
    return vk->extent;
  }

  // --- What the records name. -------------------------------------------------

  bool live_key(const Unused& unused, std::uint32_t off) const {
    return cell_offset(off, length_) && !unused.holds(off, 4) && tol_hive_key(hive_, off) &&
           static_cast<std::int32_t>(bins_.u32(off)) < 0;
  }

  // A key whose parent lists it still is no deleted key but a live one in a
  // free cell (damage the check reports); it is left out.
  void link_parents(const Unused& unused) {
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> listed;
    // Lists that name each other could make every parent's walk cost the
    // whole image; together they may cost that once.
    std::uint64_t budget = length_ / 4;
    for (std::size_t i = 0; i < scan_.keys.size(); ++i) {
      TolDeletedKey& key = scan_.keys[i];
      if (const auto it = key_at_.find(key.parent); it != key_at_.end() && it->second != i) {
        key.parent_place = TolDeletedPlace::deleted;
        key.parent_index = it->second;
        continue;
      }
      if (!live_key(unused, key.parent)) continue;
      auto [entry, fresh] = listed.try_emplace(key.parent);
      if (fresh && budget > 0) {
        entry->second = tol_hive_subkeys(hive_, key.parent);
        budget -= std::min<std::uint64_t>(budget, entry->second.size());
        std::sort(entry->second.begin(), entry->second.end());
      }
      if (std::binary_search(entry->second.begin(), entry->second.end(), key.record))
        key_gone_[i] = true;
      else
        key.parent_place = TolDeletedPlace::live;
    }
  }

  void attach_values(const Unused& unused) {
    for (std::size_t i = 0; i < scan_.keys.size(); ++i) {
      TolDeletedKey& key = scan_.keys[i];
      if (key_gone_[i] || key.value_count == 0) continue;
      const auto list = unused_cell(hive_, unused, value_lists_[i], std::uint64_t{key.value_count} * 4);
      if (!list) continue;
      for (std::uint32_t j = 0; j < key.value_count; ++j) {
        const auto it = value_at_.find(list->u32(std::size_t{j} * 4));
        if (it == value_at_.end()) continue;
        TolDeletedValue& value = scan_.values[it->second];
        if (value.evidence != TolDeletedEvidence::none) continue;
        value.owner_place = TolDeletedPlace::deleted;
        value.owner_index = i;
        value.evidence = TolDeletedEvidence::deleted_key;
      }
    }
  }

  // Values no deleted key lists. An old value list left in a free cell (a
  // list that grew was copied) names them together with values its key
  // still has; a live key's list may name one past its count (the last
  // value deleted). Both need the owners of live values, which only the
  // live keys' lists tell: that pass is made only when there are orphans.
  void attribute_orphans(const Unused& unused) {
    std::unordered_set<std::uint32_t> orphans;
    for (const TolDeletedValue& value : scan_.values)
      if (value.evidence == TolDeletedEvidence::none) orphans.insert(value.record);
    if (orphans.empty()) return;

    struct OldList {
      std::vector<std::uint32_t> orphans;
      std::vector<std::uint32_t> live;
      std::size_t deleted_owner = TOL_DELETED_NONE;
    };
    std::vector<OldList> lists;
    std::unordered_map<std::uint32_t, std::uint32_t> live_owner;
    for (const TolUnusedRange& range : scan_.unused) {
      if (range.slack) continue;
      const tol::ByteView cell = bins_.sub(range.start + 4, range.end - range.start - 4);
      if (record_signature(cell)) continue;
      OldList list;
      for (std::size_t at = 0; at + 4 <= cell.size(); at += 4) {
        const std::uint32_t entry = cell.u32(at);
        if (!cell_offset(entry, length_)) break;
        if (orphans.contains(entry)) {
          list.orphans.push_back(entry);
        } else if (const auto it = value_at_.find(entry); it != value_at_.end()) {
          if (scan_.values[it->second].owner_place == TolDeletedPlace::deleted)
            list.deleted_owner = scan_.values[it->second].owner_index;
        } else if (tol_hive_vk(hive_, entry) && !unused.holds(entry, 4)) {
          list.live.push_back(entry);
        } else {
          break;
        }
      }
      if (list.orphans.empty()) continue;
      for (const std::uint32_t vk : list.live) live_owner.emplace(vk, TOL_NO_CELL);
      lists.push_back(std::move(list));
    }

    std::unordered_map<std::uint32_t, std::uint32_t> slack_owner;
    // Value lists sound keys use take no more than the image holds; keys that
    // share one huge cell as their list are charged for it each time.
    std::uint64_t budget = length_ / 4;
    for (const std::uint32_t nk : live_keys_) {
      const auto key = tol_hive_key(hive_, nk);
      if (!key) continue;
      const std::uint32_t list_off = key->u32(TOL_NK_VALUE_LIST);
      const auto list = tol_hive_cell(hive_, list_off);
      if (!list || unused.holds(list_off, 4)) continue;
      const std::uint64_t capacity = std::min<std::uint64_t>(list->size() / 4, budget);
      budget -= capacity;
      const std::uint64_t count = std::min<std::uint64_t>(key->u32(TOL_NK_VALUE_COUNT), capacity);
      for (std::uint64_t i = 0; i < capacity; ++i) {
        const std::uint32_t entry = list->u32(i * 4);
        if (i < count) {
          if (const auto it = live_owner.find(entry); it != live_owner.end()) it->second = nk;
          if (orphans.contains(entry)) value_gone_[value_at_.at(entry)] = true;
        } else if (orphans.contains(entry)) {
          slack_owner.emplace(entry, nk);
        }
      }
    }

    for (const auto& [vk, nk] : slack_owner) {
      TolDeletedValue& value = scan_.values[value_at_.at(vk)];
      value.owner_place = TolDeletedPlace::live;
      value.owner = nk;
      value.evidence = TolDeletedEvidence::list_slack;
    }
    for (const OldList& list : lists) {
      std::uint32_t live = TOL_NO_CELL;
      for (const std::uint32_t vk : list.live)
        if (live == TOL_NO_CELL) live = live_owner.at(vk);
      if (live == TOL_NO_CELL && list.deleted_owner == TOL_DELETED_NONE) continue;
      for (const std::uint32_t vk : list.orphans) {
        TolDeletedValue& value = scan_.values[value_at_.at(vk)];
        if (value.evidence != TolDeletedEvidence::none) continue;
        value.evidence = TolDeletedEvidence::old_list;
        if (live != TOL_NO_CELL) {
          value.owner_place = TolDeletedPlace::live;
          value.owner = live;
        } else {
          value.owner_place = TolDeletedPlace::deleted;
          value.owner_index = list.deleted_owner;
        }
      }
    }
  }

  // Drops what turned out to be live and renumbers the rest.
  void compact() {
    std::vector<std::size_t> key_index(scan_.keys.size(), TOL_DELETED_NONE);
    std::vector<std::size_t> value_index(scan_.values.size(), TOL_DELETED_NONE);
    std::vector<TolDeletedKey> keys;
    std::vector<TolDeletedValue> values;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fields;
    for (std::size_t i = 0; i < scan_.keys.size(); ++i) {
      if (key_gone_[i]) continue;
      key_index[i] = keys.size();
      keys.push_back(std::move(scan_.keys[i]));
    }
    for (std::size_t i = 0; i < scan_.values.size(); ++i) {
      if (value_gone_[i]) continue;
      value_index[i] = values.size();
      values.push_back(std::move(scan_.values[i]));
      fields.push_back(data_fields_[i]);
    }
    for (TolDeletedKey& key : keys) {
      if (key.parent_place != TolDeletedPlace::deleted) continue;
      key.parent_index = key_index[key.parent_index];
      // The parent is a key some live list names: a live one.
      if (key.parent_index == TOL_DELETED_NONE) key.parent_place = TolDeletedPlace::live;
    }
    for (TolDeletedValue& value : values) {
      if (value.owner_place != TolDeletedPlace::deleted) continue;
      value.owner_index = key_index[value.owner_index];
      if (value.owner_index == TOL_DELETED_NONE) {
        value.owner_place = TolDeletedPlace::unknown;
        value.evidence = TolDeletedEvidence::none;
      }
    }
    scan_.keys = std::move(keys);
    scan_.values = std::move(values);
    data_fields_ = std::move(fields);
  }

  // Children, live ancestors and how much of each item is left.
  void finish(const Unused& unused) {
    std::vector<TolDeletedKey>& keys = scan_.keys;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i].parent_place == TolDeletedPlace::deleted)
        keys[keys[i].parent_index].subkeys.push_back(i);
    std::vector<std::uint32_t> listed_values(keys.size(), 0);
    std::vector<bool> bad(keys.size(), false);
    SegmentMemo segments;
    for (std::size_t i = 0; i < scan_.values.size(); ++i) {
      TolDeletedValue& value = scan_.values[i];
      const auto [length, offset] = data_fields_[i];
      value.data_intact = deleted_data(hive_, unused, length, offset, nullptr, &segments);
      value.confidence =
          value.data_intact ? TolDeletedConfidence::intact : TolDeletedConfidence::name_only;
      if (value.owner_place != TolDeletedPlace::deleted) continue;
      keys[value.owner_index].values.push_back(i);
      if (value.evidence != TolDeletedEvidence::deleted_key) continue;
      ++listed_values[value.owner_index];
      if (!value.data_intact) bad[value.owner_index] = true;
    }

    // Live ancestors: each chain is followed once, and a chain that loops
    // ends in the unknown.
    enum : std::uint8_t { kTodo, kOnPath, kDone };
    std::vector<std::uint8_t> state(keys.size(), kTodo);
    std::vector<std::size_t> chain;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      chain.clear();
      std::size_t at = i;
      while (state[at] == kTodo && keys[at].parent_place == TolDeletedPlace::deleted) {
        state[at] = kOnPath;
        chain.push_back(at);
        at = keys[at].parent_index;
      }
      std::uint32_t top = TOL_NO_CELL;
      if (state[at] == kDone) top = keys[at].live_ancestor;
      else if (state[at] == kTodo && keys[at].parent_place == TolDeletedPlace::live) top = keys[at].parent;
      if (state[at] == kTodo) {
        keys[at].live_ancestor = top;
        state[at] = kDone;
      }
      for (const std::size_t k : chain) {
        keys[k].live_ancestor = top;
        state[k] = kDone;
      }
    }

    // A loss anywhere below makes every deleted key above it partial; each
    // key is marked once, so loops end.
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (listed_values[i] < keys[i].value_count || keys[i].subkeys.size() < keys[i].subkey_count)
        bad[i] = true;
    std::vector<bool> below = bad;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (!bad[i]) continue;
      for (std::size_t at = keys[i].parent_index; at != TOL_DELETED_NONE && !below[at];
           at = keys[at].parent_index)
        below[at] = true;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
      TolDeletedKey& key = keys[i];
      const bool had = key.value_count > 0 || key.subkey_count > 0;
      if (had && key.values.empty() && key.subkeys.empty())
        key.confidence = TolDeletedConfidence::name_only;
      else if (below[i])
        key.confidence = TolDeletedConfidence::partial;
    }
  }

  const TolHive& hive_;
  const tol::ByteView bins_;
  const std::uint32_t length_;
  TolDeletedScan scan_;
  std::vector<std::uint32_t> value_lists_;  // per key found
  std::vector<std::pair<std::uint32_t, std::uint32_t>> data_fields_;  // per value found
  std::vector<std::uint32_t> live_keys_;    // every allocated nk
  std::unordered_map<std::uint32_t, std::size_t> key_at_;
  std::unordered_map<std::uint32_t, std::size_t> value_at_;
  std::vector<bool> key_gone_;
  std::vector<bool> value_gone_;
};

}  // namespace

TolDeletedScan tol_deleted_scan(const TolHive& hive) { return Scanner(hive).run(); }

bool tol_deleted_value_data(const TolHive& hive, const TolDeletedScan& scan,
                            const TolDeletedValue& value, std::vector<std::uint8_t>& out) {
  out.clear();
  const Unused unused(scan.unused);
  const auto rec = unused_bytes(hive, unused, value.record, TOL_VK_MIN_DATA);
  if (!rec || !rec->starts_with("vk")) return false;
  if (!deleted_data(hive, unused, rec->u32(TOL_VK_DATA_LENGTH), rec->u32(TOL_VK_DATA_OFFSET), &out)) {
    out.clear();
    return false;
  }
  return true;
}

std::string tol_deleted_key_path(const TolHive& hive, const TolDeletedScan& scan, std::size_t key) {
  if (key >= scan.keys.size()) return "?";
  std::vector<const std::string*> names;
  std::string path = "?";
  for (std::size_t at = key; names.size() < TOL_MAX_PATH_NAMES;) {
    const TolDeletedKey& k = scan.keys[at];
    names.push_back(&k.name);
    if (k.parent_place == TolDeletedPlace::deleted) {
      at = k.parent_index;
      continue;
    }
    if (k.parent_place == TolDeletedPlace::live) path = tol_hive_key_path(hive, k.parent);
    break;
  }
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += **it;
  }
  return path;
}

std::string tol_deleted_value_key_path(const TolHive& hive, const TolDeletedScan& scan,
                                       std::size_t value) {
  if (value >= scan.values.size()) return "?";
  const TolDeletedValue& v = scan.values[value];
  switch (v.owner_place) {
    case TolDeletedPlace::live: return tol_hive_key_path(hive, v.owner);
    case TolDeletedPlace::deleted: return tol_deleted_key_path(hive, scan, v.owner_index);
    case TolDeletedPlace::unknown: break;
  }
  return "?";
}

std::vector<std::size_t> tol_deleted_keys_below(const TolDeletedScan& scan, std::uint32_t nk) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < scan.keys.size(); ++i)
    if (scan.keys[i].parent_place == TolDeletedPlace::live && scan.keys[i].parent == nk)
      out.push_back(i);
  return out;
}

std::vector<std::size_t> tol_deleted_values_of(const TolDeletedScan& scan, std::uint32_t nk) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < scan.values.size(); ++i)
    if (scan.values[i].owner_place == TolDeletedPlace::live && scan.values[i].owner == nk)
      out.push_back(i);
  return out;
}

std::optional<std::size_t> tol_deleted_find_key(const TolDeletedScan& scan, std::uint32_t record) {
  const auto it = std::lower_bound(
      scan.keys.begin(), scan.keys.end(), record,
      [](const TolDeletedKey& k, std::uint32_t r) { return k.record < r; });
  if (it == scan.keys.end() || it->record != record) return std::nullopt;
  return static_cast<std::size_t>(it - scan.keys.begin());
}

std::optional<std::size_t> tol_deleted_find_value(const TolDeletedScan& scan, std::uint32_t record) {
  const auto it = std::lower_bound(
      scan.values.begin(), scan.values.end(), record,
      [](const TolDeletedValue& v, std::uint32_t r) { return v.record < r; });
  if (it == scan.values.end() || it->record != record) return std::nullopt;
  return static_cast<std::size_t>(it - scan.values.begin());
}

std::string tol_deleted_time_text(std::uint64_t filetime) {
  std::string text = tol_filetime_iso8601(filetime);
  // A deleted record's time may be garbage; beyond the year 9999 it is no time.
  return text.size() == sizeof("YYYY-MM-DDTHH:MM:SSZ") - 1 ? text : "?";
}

const char* tol_deleted_confidence_name(TolDeletedConfidence confidence) {
  switch (confidence) {
    case TolDeletedConfidence::intact: return "intact";
    case TolDeletedConfidence::partial: return "partial";
    case TolDeletedConfidence::name_only: return "name-only";
  }
  return "?";
}
