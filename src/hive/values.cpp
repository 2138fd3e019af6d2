// Value operations: set, delete and rename values of a key.
//
// The value list is never sorted; new values go to its end. Operations check
// everything that can fail before they change the image, so a refused
// operation leaves the hive as it was (apart from being made writable).
#include <glib.h>
#include <glib/gi18n-lib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hive/edit.h"
#include "hive/names.h"

namespace {

// A value list grown by doubling: a run of creations on one key reallocates
// the list only a logarithmic number of times.
constexpr std::uint32_t kFirstListBytes = 16;

// Room the largest-length fields of the key must offer: Windows hands them to
// programs that size their enumeration buffers from them.
struct Largest {
  std::uint32_t name_bytes = 0;  // UTF-16 bytes of a value name
  std::uint32_t data_bytes = 0;  // bytes of value data
};

// Raises, never lowers, the key's largest value name and data lengths.
void raise_largest(TolHive& hive, std::uint32_t key, Largest largest) {
  auto nk = tol_hive_key_mut(hive, key);
  if (!nk) return;
  if (nk->u32(TOL_NK_MAX_VALUE_NAME) < largest.name_bytes)
    nk->put_u32(TOL_NK_MAX_VALUE_NAME, largest.name_bytes);
  if (nk->u32(TOL_NK_MAX_VALUE_DATA) < largest.data_bytes)
    nk->put_u32(TOL_NK_MAX_VALUE_DATA, largest.data_bytes);
}

bool valid_name(std::string_view name) {
  return g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr);
}

// The stored form of a new name, or nothing when it cannot be stored: text
// that is not UTF-8 (it would be written as a second default value) or a name
// longer than the 16-bit length field can describe.
std::optional<TolEncodedName> encode_new_name(std::string_view name, GError** error) {
  if (!valid_name(name)) {
    tol_fail(error, TOL_HIVE_ERROR_INVALID_NAME, _("the name is not valid UTF-8 text"));
    return std::nullopt;
  }
  TolEncodedName encoded = tol_name_encode(name);
  if (!encoded.fits) {
    tol_fail(error, TOL_HIVE_ERROR_INVALID_NAME, _("the name is too long"));
    return std::nullopt;
  }
  return encoded;
}

// Data the format cannot store: more than a db record's 65535 segments.
bool too_long(GError** error, std::size_t size) {
  return tol_failf(error, TOL_HIVE_ERROR_TOO_LONG, _("the data are too long (%zu bytes)"), size);
}

// Cells a change to one value of a key frees or overwrites.
bool value_edit_allowed(TolHive& hive, std::uint32_t key, std::uint32_t vk, GError** error) {
  return tol_hive_edit_allowed(
      hive,
      [&](std::vector<std::uint32_t>& cells) {
        tol_footprint_key(hive, key, {}, cells);
        if (const auto nk = tol_hive_key(hive, key)) cells.push_back(nk->u32(TOL_NK_VALUE_LIST));
        if (vk != TOL_NO_CELL) tol_footprint_value(hive, vk, cells);
      },
      error);
}

bool no_key(GError** error) {
  return tol_fail(error, TOL_HIVE_ERROR_NOT_FOUND, _("the key cannot be read"));
}

bool no_value(GError** error, std::string_view name) {
  return tol_failf(error, TOL_HIVE_ERROR_NOT_FOUND, _("there is no value named %s"),
                   tol_quoted(name).c_str());
}

std::uint32_t data_bytes(std::span<const std::uint8_t> data) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(data.size(), UINT32_MAX));
}

// The decoded name of a readable vk record.
std::string vk_name(tol::ByteView vk) {
  const bool one_byte = (vk.u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
  return tol_name_decode(vk.sub(TOL_VK_NAME, vk.u16(TOL_VK_NAME_LENGTH)).span(), one_byte);
}

// How a new entry joins the key's value list, decided before anything is
// allocated so that nothing can fail half way.
struct ListPlan {
  std::uint32_t list = TOL_NO_CELL;  // the current list
  std::uint32_t kept = 0;            // entries carried over (the new one goes after them)
  bool in_place = false;             // the current list has room for one more
  std::uint32_t new_bytes = 0;       // size of a new list otherwise
  bool free_old = false;
};

std::optional<ListPlan> plan_append(const TolHive& hive, std::uint32_t key, GError** error) {
  const auto nk = tol_hive_key(hive, key);
  if (!nk) {
    no_key(error);
    return std::nullopt;
  }
  ListPlan plan;
  const std::uint32_t count = nk->u32(TOL_NK_VALUE_COUNT);
  plan.list = nk->u32(TOL_NK_VALUE_LIST);
  const auto cell = tol_hive_cell(hive, plan.list);
  const std::uint64_t capacity = cell ? cell->size() / 4 : 0;
  if (plan.list != TOL_NO_CELL && cell && count < capacity) {
    plan.kept = count;
    plan.in_place = true;
    return plan;
  }
  // A count the list cannot hold (damage) keeps the entries that can still be
  // read, so the new list has no holes and no absurd size.
  plan.kept = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, capacity));
  const std::uint64_t bytes = plan.kept <= 3 ? kFirstListBytes : std::uint64_t{plan.kept} * 8;
  if (bytes > UINT32_MAX / 2) {
    tol_fail(error, TOL_HIVE_ERROR_TOO_MANY, _("the key has too many values"));
    return std::nullopt;
  }
  plan.new_bytes = static_cast<std::uint32_t>(bytes);
  plan.free_old = plan.list != TOL_NO_CELL && count >= 1;
  return plan;
}

// Puts vk into entry plan.kept of the key's value list (a new list when the
// plan says so) and updates the key's count and list offset.
void append_to_list(TolHive& hive, std::uint32_t key, const ListPlan& plan, std::uint32_t vk) {
  std::uint32_t list = plan.list;
  if (!plan.in_place) {
    list = tol_hive_alloc_cell(hive, plan.new_bytes);
    std::vector<std::uint32_t> entries;
    if (const auto old = tol_hive_cell(hive, plan.list)) {
      for (std::uint32_t i = 0; i < plan.kept; ++i) entries.push_back(old->u32(std::size_t{i} * 4));
    }
    if (auto cell = tol_hive_cell_mut(hive, list)) {
      for (std::size_t i = 0; i < entries.size(); ++i) cell->put_u32(i * 4, entries[i]);
    }
    if (plan.free_old) tol_hive_free_cell(hive, plan.list);
  }
  if (auto cell = tol_hive_cell_mut(hive, list)) cell->put_u32(std::size_t{plan.kept} * 4, vk);
  if (auto nk = tol_hive_key_mut(hive, key)) {
    nk->put_u32(TOL_NK_VALUE_COUNT, plan.kept + 1);
    nk->put_u32(TOL_NK_VALUE_LIST, list);
  }
}

// Writes a complete vk record for a stored name and stored data.
std::uint32_t write_vk(TolHive& hive, const TolEncodedName& name, std::uint32_t type,
                       TolDataFields data) {
  const std::uint32_t vk = tol_hive_alloc_cell(hive, TOL_VK_MIN_DATA + name.length);
  auto cell = tol_hive_cell_mut(hive, vk);
  if (!cell) return vk;  // a fresh cell is always readable
  static constexpr std::uint8_t kSignature[] = {'v', 'k'};
  cell->put_bytes(0, kSignature);
  cell->put_u16(TOL_VK_NAME_LENGTH, name.length);
  cell->put_u32(TOL_VK_DATA_LENGTH, data.length);
  cell->put_u32(TOL_VK_DATA_OFFSET, data.offset);
  cell->put_u32(TOL_VK_TYPE, type);
  cell->put_u16(TOL_VK_FLAGS, name.one_byte ? TOL_VK_FLAG_ASCII_NAME : 0);
  cell->put_u16(TOL_VK_FLAGS + 2, 0);
  cell->put_bytes(TOL_VK_NAME, std::span<const std::uint8_t>(name.bytes).first(name.length));
  return vk;
}

// The vk offsets of the key's value list, or nothing when the list cannot hold
// the number of values the key claims.
std::optional<std::vector<std::uint32_t>> value_entries(const TolHive& hive, std::uint32_t key) {
  const auto nk = tol_hive_key(hive, key);
  if (!nk) return std::nullopt;
  const std::uint32_t count = nk->u32(TOL_NK_VALUE_COUNT);
  std::vector<std::uint32_t> entries;
  if (count == 0) return entries;
  const auto list = tol_hive_cell(hive, nk->u32(TOL_NK_VALUE_LIST));
  if (!list || list->size() < std::uint64_t{count} * 4) return std::nullopt;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) entries.push_back(list->u32(std::size_t{i} * 4));
  return entries;
}

// Whether a value other than `self` is named `name`.
bool name_taken(const TolHive& hive, const std::vector<std::uint32_t>& entries,
                std::uint32_t self, std::string_view name) {
  return std::any_of(entries.begin(), entries.end(), [&](std::uint32_t off) {
    if (off == self) return false;
    const auto vk = tol_hive_vk(hive, off);
    return vk && tol_name_equal(vk_name(*vk), name);
  });
}

bool replace_data(TolHive& hive, std::uint32_t key, std::uint32_t vk, std::uint32_t type,
                  std::span<const std::uint8_t> data, GError** error) {
  const auto old = tol_hive_vk(hive, vk);
  if (!old) return tol_fail(error, TOL_HIVE_ERROR_DAMAGED, _("the value record cannot be read"));
  const std::uint32_t old_length = old->u32(TOL_VK_DATA_LENGTH);
  const std::uint32_t old_offset = old->u32(TOL_VK_DATA_OFFSET);
  const bool one_byte = (old->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
  const std::uint32_t name_length = old->u16(TOL_VK_NAME_LENGTH);

  // Stored before the old data are released: data too long for the format are
  // refused while the value is still whole.
  const auto fields = tol_hive_store_data(hive, data);
  if (!fields) return too_long(error, data.size());
  tol_hive_free_data(hive, old_length, old_offset);

  if (auto cell = tol_hive_cell_mut(hive, vk)) {
    cell->put_u32(TOL_VK_DATA_LENGTH, fields->length);
    cell->put_u32(TOL_VK_DATA_OFFSET, fields->offset);
    cell->put_u32(TOL_VK_TYPE, type);
  }
  raise_largest(hive, key, {one_byte ? name_length * 2 : name_length, data_bytes(data)});
  hive.dirty = true;
  return true;
}

bool add_value(TolHive& hive, std::uint32_t key, std::string_view name, std::uint32_t type,
               std::span<const std::uint8_t> data, GError** error) {
  const auto encoded = encode_new_name(name, error);
  if (!encoded) return false;
  const auto plan = plan_append(hive, key, error);
  if (!plan) return false;
  const auto fields = tol_hive_store_data(hive, data);
  if (!fields) return too_long(error, data.size());

  const std::uint32_t vk = write_vk(hive, *encoded, type, *fields);
  append_to_list(hive, key, *plan, vk);
  raise_largest(hive, key, {tol_name_utf16_bytes(name), data_bytes(data)});
  hive.dirty = true;
  return true;
}

}  // namespace

bool tol_hive_set_value(TolHive& hive, std::uint32_t key, std::string_view name, std::uint32_t type,
                        std::span<const std::uint8_t> data, GError** error) {
  if (key == TOL_NO_CELL || !tol_hive_key(hive, key)) return no_key(error);
  const std::uint32_t vk = tol_hive_find_value(hive, key, name);
  if (!value_edit_allowed(hive, key, vk, error)) return false;
  tol_hive_make_writable(hive);
  if (vk != TOL_NO_CELL) return replace_data(hive, key, vk, type, data, error);
  return add_value(hive, key, name, type, data, error);
}

bool tol_hive_delete_value(TolHive& hive, std::uint32_t key, std::string_view name,
                           GError** error) {
  if (key == TOL_NO_CELL || !tol_hive_key(hive, key)) return no_key(error);
  const std::uint32_t vk = tol_hive_find_value(hive, key, name);
  if (vk == TOL_NO_CELL) return no_value(error, name);
  if (!value_edit_allowed(hive, key, vk, error)) return false;
  tol_hive_make_writable(hive);

  tol_hive_free_value(hive, vk);
  hive.dirty = true;
  auto nk = tol_hive_key_mut(hive, key);
  if (!nk) return no_key(error);
  const std::uint32_t remaining = tol_hive_list_remove(hive, nk->u32(TOL_NK_VALUE_LIST),
                                                       nk->u32(TOL_NK_VALUE_COUNT), vk);
  // The list cell stays, also when it is empty now.
  nk->put_u32(TOL_NK_VALUE_COUNT, remaining);
  return true;
}

bool tol_hive_rename_value(TolHive& hive, std::uint32_t key, std::string_view old_name,
                           std::string_view new_name, GError** error) {
  if (key == TOL_NO_CELL || !tol_hive_key(hive, key)) return no_key(error);
  const std::uint32_t vk = tol_hive_find_value(hive, key, old_name);
  if (vk == TOL_NO_CELL) return no_value(error, old_name);
  const auto old = tol_hive_vk(hive, vk);
  if (!old) return tol_fail(error, TOL_HIVE_ERROR_DAMAGED, _("the value record cannot be read"));
  // The same spelling: nothing to write. A change of letter case alone is a
  // real rename and goes on below.
  if (vk_name(*old) == new_name) return true;

  // Everything that can fail is checked before the old record is released.
  const auto encoded = encode_new_name(new_name, error);
  if (!encoded) return false;
  const auto entries = value_entries(hive, key);
  if (!entries)
    return tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
                    _("the hive is damaged here: the value list is shorter than its count"));
  if (name_taken(hive, *entries, vk, new_name))
    return tol_failf(error, TOL_HIVE_ERROR_EXISTS, _("a value named %s already exists"),
                     tol_quoted(new_name).c_str());
  if (!value_edit_allowed(hive, key, vk, error)) return false;
  const std::uint32_t type = old->u32(TOL_VK_TYPE);
  // Unreadable data are kept as empty data.
  const std::vector<std::uint8_t> data =
      tol_hive_value_data(hive, old->u32(TOL_VK_DATA_LENGTH), old->u32(TOL_VK_DATA_OFFSET));

  tol_hive_make_writable(hive);
  const auto fields = tol_hive_store_data(hive, data);
  if (!fields) return too_long(error, data.size());

  // The list held the value at least once, so removing it leaves room for the
  // renamed record at the end: the list cell is reused in place.
  tol_hive_free_value(hive, vk);
  hive.dirty = true;
  const auto nk = tol_hive_key(hive, key);
  if (!nk) return no_key(error);
  ListPlan plan;
  plan.list = nk->u32(TOL_NK_VALUE_LIST);
  plan.kept = tol_hive_list_remove(hive, plan.list, nk->u32(TOL_NK_VALUE_COUNT), vk);
  plan.in_place = true;

  const std::uint32_t renamed = write_vk(hive, *encoded, type, *fields);
  append_to_list(hive, key, plan, renamed);
  raise_largest(hive, key, {tol_name_utf16_bytes(new_name), data_bytes(data)});
  return true;
}

std::uint32_t tol_hive_write_vk(TolHive& hive, const TolEncodedName& name, std::uint32_t type,
                                TolDataFields data) {
  return write_vk(hive, name, type, data);
}
