// Bounds-checked reading of keys, values and lists.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unordered_set>

#include "hive/cell_bounds.h"
#include "hive/hive.h"
#include "hive/names.h"

namespace {

// A walk over one subkey list tree. Lists are followed through at most
// TOL_MAX_LIST_NESTING levels of "ri", and the number of entries a walk may
// look at is capped by what the image could hold without sharing slots (one
// entry per 4 bytes): lists naming each other, or one list named many times,
// then end the walk instead of multiplying its cost.
class ListWalk {
 public:
  explicit ListWalk(const TolHive& hive) : hive_(hive), budget_(hive.bins_length / 4) {}

  // Calls visit(nk offset) for each entry in list order until it returns true.
  // Returns true when visit stopped the walk.
  template <typename Visit>
  bool run(std::uint32_t list, int depth, Visit&& visit) {
    if (depth > TOL_MAX_LIST_NESTING) return false;
    const auto cell = tol_hive_cell(hive_, list);
    if (!cell || cell->size() < 4) return false;
    const std::uint64_t count = cell->u16(2);

    if (cell->u8(0) == 'l') {
      std::uint64_t entry = 0;
      switch (cell->u8(1)) {
        case 'f':
        case 'h': entry = 8; break;
        case 'i': entry = 4; break;
        default: return false;
      }
      if (count == 0 || cell->size() < 4 + count * entry) return false;
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!spend()) return false;
        if (visit(cell->u32(4 + i * entry))) return true;
      }
      return false;
    }

    if (cell->starts_with("ri")) {
      if (cell->size() < 4 + count * 4) return false;
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!spend()) return false;
        if (run(cell->u32(4 + i * 4), depth + 1, visit)) return true;
      }
    }
    return false;
  }

 private:
  bool spend() {
    if (budget_ == 0) return false;
    --budget_;
    return true;
  }

  const TolHive& hive_;
  std::uint32_t budget_;
};

// Counts that size an allocation or a walk never exceed what the image could hold.
std::uint32_t clamp_count(const TolHive& hive, std::uint32_t count) {
  return std::min(count, hive.bins_length / 8);
}

}  // namespace

// --- Cell and record access ----------------------------------------------------

std::optional<tol::ByteView> tol_hive_cell(const TolHive& hive, std::uint32_t off) {
  const tol::ByteView bins = hive.bins();
  const auto range = tol::cell_range(bins, off);
  if (!range) return std::nullopt;
  return bins.sub(range->data, range->length);
}

std::optional<tol::ByteView> tol_hive_key(const TolHive& hive, std::uint32_t off) {
  auto cell = tol_hive_cell(hive, off);
  if (!cell || !tol::is_key_cell(*cell)) return std::nullopt;
  return cell;
}

std::optional<tol::ByteView> tol_hive_vk(const TolHive& hive, std::uint32_t off) {
  auto cell = tol_hive_cell(hive, off);
  if (!cell || cell->size() < TOL_VK_MIN_DATA || !cell->starts_with("vk")) return std::nullopt;
  if (cell->size() < std::size_t{TOL_VK_MIN_DATA} + cell->u16(TOL_VK_NAME_LENGTH))
    return std::nullopt;
  return cell;
}

// --- Keys ------------------------------------------------------------------------

namespace {

// Appends the decoded name; false (and nothing appended) when the record or
// its name cannot be read.
bool append_stored_key_name(const TolHive& hive, std::uint32_t nk, std::string& out) {
  const auto key = tol_hive_key(hive, nk);
  if (!key) return false;
  const std::uint16_t length = key->u16(TOL_NK_NAME_LENGTH);
  if (key->size() < std::size_t{TOL_NK_MIN_DATA} + length) return false;
  const bool one_byte = (key->u16(TOL_NK_FLAGS) & TOL_NK_FLAG_ASCII_NAME) != 0;
  tol_name_append(out, key->sub(TOL_NK_NAME, length).span(), one_byte);
  return true;
}

std::optional<std::string> decoded_key_name(const TolHive& hive, std::uint32_t nk) {
  std::string name;
  if (!append_stored_key_name(hive, nk, name)) return std::nullopt;
  return name;
}

}  // namespace

std::string tol_hive_decode_key_name(const TolHive& hive, std::uint32_t nk) {
  return decoded_key_name(hive, nk).value_or("?");
}

void tol_hive_append_key_name(const TolHive& hive, std::uint32_t nk, std::string& out) {
  if (!append_stored_key_name(hive, nk, out)) out += '?';
}

std::string tol_hive_key_name(const TolHive& hive, std::uint32_t nk) {
  if (auto it = hive.name_cache.find(nk); it != hive.name_cache.end()) return it->second;
  std::optional<std::string> name = decoded_key_name(hive, nk);
  if (!name) return "?";
  hive.name_cache.emplace(nk, *name);
  return *name;
}

void tol_hive_collect_list(const TolHive& hive, std::uint32_t list,
                           std::vector<std::uint32_t>& out) {
  ListWalk(hive).run(list, 0, [&](std::uint32_t nk) {
    out.push_back(nk);
    return false;
  });
}

std::vector<std::uint32_t> tol_hive_subkeys(const TolHive& hive, std::uint32_t nk) {
  std::vector<std::uint32_t> keys;
  tol_hive_subkeys_into(hive, nk, keys);
  return keys;
}

void tol_hive_subkeys_into(const TolHive& hive, std::uint32_t nk, std::vector<std::uint32_t>& out) {
  out.clear();
  const auto key = tol_hive_key(hive, nk);
  if (!key) return;
  const std::uint32_t n = clamp_count(hive, key->u32(TOL_NK_SUBKEY_COUNT));
  if (n == 0) return;
  out.reserve(n);
  tol_hive_collect_list(hive, key->u32(TOL_NK_SUBKEY_LIST), out);
}

std::optional<std::uint32_t> tol_hive_find_subkey(const TolHive& hive, std::uint32_t parent,
                                                  std::string_view name) {
  const auto key = tol_hive_key(hive, parent);
  if (!key) return std::nullopt;
  std::optional<std::uint32_t> found;
  ListWalk(hive).run(key->u32(TOL_NK_SUBKEY_LIST), 0, [&](std::uint32_t nk) {
    if (!tol_name_equal(tol_hive_key_name(hive, nk), name)) return false;
    found = nk;
    return true;
  });
  return found;
}

std::string tol_hive_key_path(const TolHive& hive, std::uint32_t nk) {
  if (nk == hive.root_cell) return {};
  std::vector<std::string> names;
  std::uint32_t off = nk;
  for (int i = 0; i < TOL_MAX_PATH_NAMES; ++i) {
    const auto key = tol_hive_key(hive, off);
    if (!key) break;
    names.push_back(tol_hive_key_name(hive, off));
    off = key->u32(TOL_NK_PARENT);
    if (off == hive.root_cell || off == TOL_NO_CELL) break;
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (!path.empty() || it != names.rbegin()) path += '\\';
    path += *it;
  }
  return path;
}

std::optional<std::uint32_t> tol_hive_key_parent(const TolHive& hive, std::uint32_t nk) {
  if (nk == hive.root_cell) return std::nullopt;
  const auto key = tol_hive_key(hive, nk);
  if (!key) return std::nullopt;
  const std::uint32_t parent = key->u32(TOL_NK_PARENT);
  if (parent == TOL_NO_CELL) return std::nullopt;
  return parent;
}

std::optional<std::uint32_t> tol_hive_find_path(const TolHive& hive, std::string_view path) {
  std::uint32_t key = hive.root_cell;
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    const std::string_view name = path.substr(0, cut);
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    if (name.empty()) continue;
    const auto next = tol_hive_find_subkey(hive, key, name);
    if (!next) return std::nullopt;
    key = *next;
  }
  return key;
}

// --- Values ----------------------------------------------------------------------

void tol_hive_value_clear(TolHiveValue& value) {
  value.name.clear();
  value.name.shrink_to_fit();
  value.type = 0;
  value.data.clear();
  value.data.shrink_to_fit();
}

std::uint32_t tol_hive_value_count(const TolHive& hive, std::uint32_t nk) {
  const auto key = tol_hive_key(hive, nk);
  return key ? clamp_count(hive, key->u32(TOL_NK_VALUE_COUNT)) : 0;
}

bool tol_hive_read_value(const TolHive& hive, std::uint32_t nk, std::uint32_t index,
                         TolHiveValue& out) {
  const auto key = tol_hive_key(hive, nk);
  if (!key || index >= key->u32(TOL_NK_VALUE_COUNT)) return false;
  const auto list = tol_hive_cell(hive, key->u32(TOL_NK_VALUE_LIST));
  if (!list || list->size() < (std::uint64_t{index} + 1) * 4) return false;
  const auto vk = tol_hive_vk(hive, list->u32(std::size_t{index} * 4));
  if (!vk) return false;

  const bool one_byte = (vk->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
  // Assigned in place: a walk that reads every value into one TolHiveValue
  // reuses its buffers instead of allocating two per value.
  out.name.clear();
  tol_name_append(out.name, vk->sub(TOL_VK_NAME, vk->u16(TOL_VK_NAME_LENGTH)).span(), one_byte);
  out.type = vk->u32(TOL_VK_TYPE);
  tol_hive_value_data_into(hive, vk->u32(TOL_VK_DATA_LENGTH), vk->u32(TOL_VK_DATA_OFFSET), out.data);
  return true;
}

void tol_hive_walk_subtree(const TolHive& hive, std::uint32_t nk,
                           const std::function<bool(std::uint32_t key)>& visit) {
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, int>> pending = {{nk, 0}};
  while (!pending.empty()) {
    const auto [key, level] = pending.back();
    pending.pop_back();
    if (level >= TOL_MAX_KEY_DEPTH || !seen.insert(key).second) continue;
    if (!visit(key)) return;
    for (const std::uint32_t sub : tol_hive_subkeys(hive, key)) pending.emplace_back(sub, level + 1);
  }
}

TolDataPlace tol_hive_data_place(const TolHive& hive, std::uint32_t length_field,
                                 std::uint32_t offset_field) {
  TolDataPlace place;
  place.length = length_field & ~TOL_DATA_INLINE_BIT;
  if ((length_field & TOL_DATA_INLINE_BIT) != 0) {
    place.layout = TolDataLayout::inline_data;
    return place;
  }
  if (place.length == 0) return place;
  place.layout = TolDataLayout::cell;
  if (place.length <= TOL_BIG_DATA_SEGMENT) return place;

  const auto cell = tol_hive_cell(hive, offset_field);
  const bool db = cell && cell->size() > 7 && cell->starts_with("db");
  const bool fits = cell && cell->size() >= place.length;
  if (tol_hive_minor_version(hive) < TOL_FIRST_BIG_DATA_MINOR) {
    // A cell large enough is the data, even when its bytes begin with "db".
    if (!fits && db) place = {TolDataLayout::big_data, place.length, false};
  } else {
    if (db) place.layout = TolDataLayout::big_data;
    else if (fits) place.windows_reads = false;
    else place.layout = TolDataLayout::big_data;
  }
  return place;
}

std::vector<std::uint8_t> tol_hive_value_data(const TolHive& hive, std::uint32_t length_field,
                                              std::uint32_t offset_field) {
  std::vector<std::uint8_t> data;
  tol_hive_value_data_into(hive, length_field, offset_field, data);
  if (data.empty()) data.shrink_to_fit();
  return data;
}

void tol_hive_value_data_into(const TolHive& hive, std::uint32_t length_field,
                              std::uint32_t offset_field, std::vector<std::uint8_t>& data) {
  data.clear();
  const TolDataPlace place = tol_hive_data_place(hive, length_field, offset_field);
  const std::uint32_t length = place.length;

  if (place.layout == TolDataLayout::inline_data) {
    const std::uint32_t n = std::min<std::uint32_t>(length, 4);
    for (std::uint32_t i = 0; i < n; ++i)
      data.push_back(static_cast<std::uint8_t>(offset_field >> (8 * i)));
    return;
  }
  if (place.layout == TolDataLayout::empty) return;

  if (place.layout == TolDataLayout::cell) {
    const auto cell = tol_hive_cell(hive, offset_field);
    if (!cell || cell->size() < length) return;
    const auto bytes = cell->sub(0, length).span();
    data.assign(bytes.begin(), bytes.end());
    return;
  }

  const auto db = tol_hive_cell(hive, offset_field);
  if (!db || db->size() <= 7 || !db->starts_with("db")) return;
  const std::uint32_t count = db->u16(2);
  if (count == 0) return;
  const auto segments = tol_hive_cell(hive, db->u32(4));
  if (!segments || segments->size() < std::uint64_t{count} * 4) return;

  // The length field alone could ask for 2 GiB, and a segment list may name
  // one cell 65535 times: a sound value never holds more bytes than the image
  // that stores it, so no more are gathered.
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(
      {length, std::uint64_t{count} * TOL_BIG_DATA_SEGMENT, hive.bins_length}));
  data.reserve(wanted);
  for (std::uint32_t i = 0; i < count && data.size() < wanted; ++i) {
    const auto segment = tol_hive_cell(hive, segments->u32(std::size_t{i} * 4));
    if (!segment) break;
    const std::size_t take = std::min<std::size_t>(
        {segment->size(), TOL_BIG_DATA_SEGMENT, wanted - data.size()});
    const auto bytes = segment->sub(0, take).span();
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
}

std::uint32_t tol_hive_find_value(const TolHive& hive, std::uint32_t nk, std::string_view name) {
  const auto key = tol_hive_key(hive, nk);
  if (!key) return TOL_NO_CELL;
  const std::uint32_t count = key->u32(TOL_NK_VALUE_COUNT);
  if (count == 0) return TOL_NO_CELL;
  const auto list = tol_hive_cell(hive, key->u32(TOL_NK_VALUE_LIST));
  if (!list || list->size() < std::uint64_t{count} * 4) return TOL_NO_CELL;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t off = list->u32(std::size_t{i} * 4);
    const auto vk = tol_hive_vk(hive, off);
    if (!vk) continue;
    const bool one_byte = (vk->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
    const auto stored = vk->sub(TOL_VK_NAME, vk->u16(TOL_VK_NAME_LENGTH)).span();
    if (tol_name_stored_equal(stored, one_byte, name)) return off;
  }
  return TOL_NO_CELL;
}
