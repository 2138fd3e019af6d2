// Creating, deleting and renaming keys in the heap image.
//
// Subkey lists are written as flat "li" lists sorted the way Windows sorts
// them: Windows finds subkeys by binary search and treats a list out of order
// as damage when it loads the hive. A list's count is 16 bits, so a change
// that would need more entries is refused rather than wrapped.
#include <glib.h>
#include <glib/gi18n-lib.h>

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "hive/edit.h"
#include "hive/format.h"
#include "hive/names.h"
#include "hive/winorder.h"

namespace {

constexpr std::uint32_t kMaxListEntries = 0xFFFF;
// A list for up to four keys, the size every new list starts with.
constexpr std::uint32_t kSmallListData = 4 + 4 * 4;
constexpr std::uint64_t kFiletimeUnixEpoch = 116444736000000000ull;

std::uint64_t filetime_now() {
  return static_cast<std::uint64_t>(g_get_real_time()) * 10 + kFiletimeUnixEpoch;
}

tol::StoredName stored(const TolEncodedName& name) {
  return tol::StoredName(
      tol::ByteView(std::span<const std::uint8_t>(name.bytes).first(name.length)), name.one_byte);
}

bool in_windows_order(const TolHive& hive, const std::vector<std::uint32_t>& entries) {
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (tol::compare_windows(tol::stored_key_name(hive, entries[i - 1]),
                             tol::stored_key_name(hive, entries[i])) >= 0)
      return false;
  return true;
}

// Lists this engine or Windows wrote are in order already and cost one pass.
// Otherwise a stable sort, so that entries Windows would see as equal (damage)
// keep their order; each name is looked up once, and the views stay valid
// because nothing is allocated while sorting.
void order_windows(const TolHive& hive, std::vector<std::uint32_t>& entries) {
  if (in_windows_order(hive, entries)) return;
  std::vector<std::pair<tol::StoredName, std::uint32_t>> named;
  named.reserve(entries.size());
  for (const std::uint32_t nk : entries) named.emplace_back(tol::stored_key_name(hive, nk), nk);
  std::stable_sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
    return tol::compare_windows(a.first, b.first) < 0;
  });
  for (std::size_t i = 0; i < named.size(); ++i) entries[i] = named[i].second;
}

bool is_sk(const TolHive& hive, std::uint32_t off) {
  const auto cell = tol_hive_cell(hive, off);
  return cell && cell->size() >= TOL_SK_MIN_DATA && cell->starts_with("sk");
}

bool is_list_cell(tol::ByteView cell) {
  return cell.starts_with("li") || cell.starts_with("lf") || cell.starts_with("lh") ||
         cell.starts_with("ri");
}

// Releases a subkey list that is being replaced or dropped. Only cells that
// carry a list signature are freed: a damaged offset may name a live record.
// The leaf lists of an "ri" are nobody else's and go with it.
void free_subkey_list(TolHive& hive, std::uint32_t list) {
  const auto cell = tol_hive_cell(hive, list);
  if (!cell || !is_list_cell(*cell)) return;
  if (cell->starts_with("ri")) {
    const std::uint32_t count = cell->u16(2);
    std::vector<std::uint32_t> leaves;
    if (cell->size() >= 4 + std::uint64_t{count} * 4)
      for (std::uint32_t i = 0; i < count; ++i) leaves.push_back(cell->u32(4 + std::size_t{i} * 4));
    for (const std::uint32_t leaf : leaves) {
      const auto sub = tol_hive_cell(hive, leaf);
      if (sub && is_list_cell(*sub) && !sub->starts_with("ri")) tol_hive_free_cell(hive, leaf);
    }
  }
  tol_hive_free_cell(hive, list);
}

// A new "li" list with `data` bytes of room holding the entries, in order.
std::uint32_t write_li(TolHive& hive, const std::vector<std::uint32_t>& entries,
                       std::uint32_t data) {
  const std::uint32_t off = tol_hive_alloc_cell(hive, data);
  auto cell = tol_hive_cell_mut(hive, off);
  cell->put_u8(0, 'l');
  cell->put_u8(1, 'i');
  cell->put_u16(2, static_cast<std::uint16_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) cell->put_u32(4 + i * 4, entries[i]);
  return off;
}

// Programs size their enumeration buffers from this field, so it only grows.
// Its upper 16 bits are not part of the length and stay as found.
void raise_largest_subkey_name(TolHive& hive, std::uint32_t parent, std::uint32_t utf16_bytes) {
  auto key = tol_hive_key_mut(hive, parent);
  if (!key) return;
  const std::uint32_t field = key->u32(TOL_NK_MAX_SUBKEY_NAME);
  const std::uint32_t wanted = std::min<std::uint32_t>(utf16_bytes, 0xFFFF);
  if (wanted > (field & 0xFFFFu))
    key->put_u32(TOL_NK_MAX_SUBKEY_NAME, (field & 0xFFFF0000u) | wanted);
}

// An empty stored name, whether asked for or left by text the encoder could
// not take (a name read from a damaged hive may hold U+0000), makes a key
// nobody can find by its name again.
bool storable(const TolEncodedName& name) { return name.length != 0; }

std::uint32_t utf16_bytes(const TolEncodedName& name) {
  return name.one_byte ? std::uint32_t{name.length} * 2 : name.length;
}

using NkFields = TolNkFields;

NkFields read_fields(tol::ByteView key) {
  NkFields f;
  f.parent = key.u32(TOL_NK_PARENT);
  f.subkey_count = key.u32(TOL_NK_SUBKEY_COUNT);
  f.volatile_count = key.u32(0x18);
  f.subkey_list = key.u32(TOL_NK_SUBKEY_LIST);
  f.volatile_list = key.u32(0x20);
  f.value_count = key.u32(TOL_NK_VALUE_COUNT);
  f.value_list = key.u32(TOL_NK_VALUE_LIST);
  f.sk = key.u32(TOL_NK_SECURITY);
  f.class_cell = key.u32(TOL_NK_CLASS);
  f.largest_subkey_name = key.u32(TOL_NK_MAX_SUBKEY_NAME);
  f.largest_subkey_class = key.u32(0x38);
  f.largest_value_name = key.u32(TOL_NK_MAX_VALUE_NAME);
  f.largest_value_data = key.u32(TOL_NK_MAX_VALUE_DATA);
  f.class_length = key.u16(0x4A);
  return f;
}

// Allocates and writes a whole nk record; returns its offset.
std::uint32_t write_nk(TolHive& hive, const TolEncodedName& name, const NkFields& f) {
  const std::uint32_t off = tol_hive_alloc_cell(hive, TOL_NK_MIN_DATA + name.length);
  auto nk = tol_hive_cell_mut(hive, off);
  nk->fill(0, TOL_NK_MIN_DATA, 0);
  nk->put_u8(0, 'n');
  nk->put_u8(1, 'k');
  nk->put_u16(TOL_NK_FLAGS, name.one_byte ? TOL_NK_FLAG_ASCII_NAME : 0);
  nk->put_u64(TOL_NK_TIMESTAMP, filetime_now());
  nk->put_u32(TOL_NK_PARENT, f.parent);
  nk->put_u32(TOL_NK_SUBKEY_COUNT, f.subkey_count);
  nk->put_u32(0x18, f.volatile_count);
  nk->put_u32(TOL_NK_SUBKEY_LIST, f.subkey_list);
  nk->put_u32(0x20, f.volatile_list);
  nk->put_u32(TOL_NK_VALUE_COUNT, f.value_count);
  nk->put_u32(TOL_NK_VALUE_LIST, f.value_list);
  nk->put_u32(TOL_NK_SECURITY, f.sk);
  nk->put_u32(TOL_NK_CLASS, f.class_cell);
  nk->put_u32(TOL_NK_MAX_SUBKEY_NAME, f.largest_subkey_name);
  nk->put_u32(0x38, f.largest_subkey_class);
  nk->put_u32(TOL_NK_MAX_VALUE_NAME, f.largest_value_name);
  nk->put_u32(TOL_NK_MAX_VALUE_DATA, f.largest_value_data);
  nk->put_u16(TOL_NK_NAME_LENGTH, name.length);
  nk->put_u16(0x4A, f.class_length);
  nk->put_bytes(TOL_NK_NAME, std::span<const std::uint8_t>(name.bytes).first(name.length));
  return off;
}

// The entries of a key's subkey list as they read, or nothing when it has none.
std::vector<std::uint32_t> list_entries(const TolHive& hive, std::uint32_t list) {
  std::vector<std::uint32_t> entries;
  if (list != TOL_NO_CELL) tol_hive_collect_list(hive, list, entries);
  return entries;
}

void set_subkey_list(TolHive& hive, std::uint32_t parent, std::uint32_t count, std::uint32_t list) {
  auto key = tol_hive_key_mut(hive, parent);
  if (!key) return;
  key->put_u32(TOL_NK_SUBKEY_COUNT, count);
  key->put_u32(TOL_NK_SUBKEY_LIST, list);
}

// Releases subtrees. Every key is released once, however many lists name it,
// and the keys above the deleted one are never released: in a damaged hive a
// list may name a key twice or an ancestor, and such structures would
// otherwise multiply the walk or free live keys.
class Release {
 public:
  Release(TolHive& hive, std::uint32_t start) : hive_(hive) {
    seen_.insert(hive.root_cell);
    std::uint32_t off = start;
    for (int i = 0; i < TOL_MAX_KEY_DEPTH; ++i) {
      const auto key = tol_hive_key(hive, off);
      if (!key) break;
      off = key->u32(TOL_NK_PARENT);
      if (off == start || !seen_.insert(off).second) break;
    }
  }

  void run(std::uint32_t nk, int level) {
    if (level >= TOL_MAX_KEY_DEPTH || !seen_.insert(nk).second) return;
    for (const std::uint32_t sub : tol_hive_subkeys(hive_, nk))
      if (!owned_elsewhere(sub, nk)) run(sub, level + 1);

    const auto key = tol_hive_key(hive_, nk);
    if (!key) return;
    const NkFields f = read_fields(*key);

    if (f.value_list != TOL_NO_CELL) {
      const auto list = tol_hive_cell(hive_, f.value_list);
      std::vector<std::uint32_t> values;
      if (f.value_count >= 1 && list && list->size() >= std::uint64_t{f.value_count} * 4)
        for (std::uint32_t i = 0; i < f.value_count; ++i)
          values.push_back(list->u32(std::size_t{i} * 4));
      for (const std::uint32_t vk : values) tol_hive_free_value(hive_, vk);
      tol_hive_free_plain_cell(hive_, f.value_list);
    }

    if (is_sk(hive_, f.sk)) {
      auto sk = tol_hive_cell_mut(hive_, f.sk);
      const std::uint32_t refs = sk->u32(TOL_SK_REFCOUNT);
      if (refs > 0) sk->put_u32(TOL_SK_REFCOUNT, refs - 1);
    }

    if (f.class_length > 0) {
      const auto cls = tol_hive_cell(hive_, f.class_cell);
      if (cls && cls->size() >= f.class_length) tol_hive_free_plain_cell(hive_, f.class_cell);
    }
    free_subkey_list(hive_, f.subkey_list);
    tol_hive_free_cell(hive_, nk);
  }

 private:
  // A listed key whose parent field names another key belongs to that key,
  // which still lists it: it stays, at worst unreachable from here.
  bool owned_elsewhere(std::uint32_t sub, std::uint32_t nk) const {
    const auto key = tol_hive_key(hive_, sub);
    if (!key) return false;
    const std::uint32_t parent = key->u32(TOL_NK_PARENT);
    return parent != nk && tol_hive_key(hive_, parent).has_value();
  }

  TolHive& hive_;
  std::unordered_set<std::uint32_t> seen_;
};

// Whether the key's own subtree lists the key again. Renaming frees the old
// record, which such a list would go on naming.
bool lists_itself(const TolHive& hive, std::uint32_t key) {
  bool found = false;
  tol_hive_walk_subtree(hive, key, [&](std::uint32_t nk) {
    for (const std::uint32_t sub : tol_hive_subkeys(hive, nk)) found = found || sub == key;
    return !found;
  });
  return found;
}

// Why a name cannot be stored as a key's name.
bool name_refused(const TolEncodedName& name, GError** error) {
  if (!name.fits) return tol_fail(error, TOL_HIVE_ERROR_INVALID_NAME, _("the name is too long"));
  return tol_fail(error, TOL_HIVE_ERROR_INVALID_NAME, _("a key name cannot be empty"));
}

bool key_exists(const TolHive& hive, std::uint32_t sibling, GError** error) {
  return tol_failf(error, TOL_HIVE_ERROR_EXISTS, _("a key named %s already exists"),
                   tol_quoted(tol_hive_key_name(hive, sibling)).c_str());
}

bool too_many_subkeys(GError** error) {
  return tol_failf(error, TOL_HIVE_ERROR_TOO_MANY, _("a key can have at most %u subkeys"),
                   kMaxListEntries);
}

bool unreadable_key(GError** error) {
  return tol_fail(error, TOL_HIVE_ERROR_NOT_FOUND, _("the key cannot be read"));
}

// A key whose parent field does not lead back to a list naming it.
bool not_listed(GError** error) {
  return tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
                  _("the hive is damaged here: the key's parent does not list it"));
}

// The cells a change to the parent's subkey list frees or overwrites.
void parent_cells(const TolHive& hive, std::uint32_t parent, std::vector<std::uint32_t>& cells) {
  tol_footprint_key(hive, parent, {.subkeys = true}, cells);
}

}  // namespace

void tol_hive_free_subtree(TolHive& hive, std::uint32_t key, int level) {
  tol_hive_make_writable(hive);
  Release(hive, key).run(key, level);
}

std::optional<std::uint32_t> tol_hive_create_key(TolHive& hive, std::uint32_t parent,
                                                 std::string_view name, GError** error) {
  // Everything is planned before the first write, so that a refusal leaves
  // the image as it was.
  const auto parent_key = tol_hive_key(hive, parent);
  if (parent == TOL_NO_CELL || !parent_key) {
    unreadable_key(error);
    return std::nullopt;
  }
  const std::uint32_t count = parent_key->u32(TOL_NK_SUBKEY_COUNT);
  const std::uint32_t old_list = parent_key->u32(TOL_NK_SUBKEY_LIST);
  std::vector<std::uint32_t> entries = list_entries(hive, old_list);

  // One pass over the siblings finds the sorted place, whether the list is in
  // order, and the siblings Windows would take for the same name. A name
  // equal under the ASCII rule of the lookup is also equal in Windows' order,
  // so an existing key of that name is among those.
  const TolEncodedName encoded = tol_name_encode(name);
  const tol::StoredName wanted = stored(encoded);
  std::size_t position = entries.size();
  bool sorted = true;
  std::vector<std::uint32_t> same;
  std::optional<tol::StoredName> previous;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const tol::StoredName current = tol::stored_key_name(hive, entries[i]);
    const int order = tol::compare_windows(current, wanted);
    if (order == 0) same.push_back(entries[i]);
    if (order > 0 && position == entries.size()) position = i;
    if (previous && tol::compare_windows(*previous, current) >= 0) sorted = false;
    previous = current;
  }
  for (const std::uint32_t sibling : same)
    if (tol_name_equal(tol_hive_key_name(hive, sibling), name)) return sibling;
  // Windows would take such a sibling for the new key (Ä against ä, say).
  if (!same.empty()) {
    key_exists(hive, same.front(), error);
    return std::nullopt;
  }
  if (!encoded.fits || !storable(encoded)) {
    name_refused(encoded, error);
    return std::nullopt;
  }
  if (entries.size() + 1 > kMaxListEntries) {
    too_many_subkeys(error);
    return std::nullopt;
  }
  const bool allowed = tol_hive_edit_allowed(
      hive,
      [&](std::vector<std::uint32_t>& cells) {
        parent_cells(hive, parent, cells);
        tol_footprint_key(hive, hive.root_cell, {.security = true}, cells);
      },
      error);
  if (!allowed) return std::nullopt;

  bool in_place = false;
  if (const auto cell = tol_hive_cell(hive, old_list); cell && sorted) {
    in_place = cell->size() >= 4 && cell->starts_with("li") && cell->u16(2) == count &&
               count == entries.size() && count + 1 < cell->size() / 4;
  }

  tol_hive_make_writable(hive);
  NkFields fields;
  fields.parent = parent;
  if (const auto root = tol_hive_key(hive, hive.root_cell)) {
    const std::uint32_t sk = root->u32(TOL_NK_SECURITY);
    if (is_sk(hive, sk)) {
      auto cell = tol_hive_cell_mut(hive, sk);
      const std::uint32_t refs = cell->u32(TOL_SK_REFCOUNT);
      if (refs < std::numeric_limits<std::uint32_t>::max())
        cell->put_u32(TOL_SK_REFCOUNT, refs + 1);
      fields.sk = sk;
    }
  }
  const std::uint32_t nk = write_nk(hive, encoded, fields);
  hive.dirty = true;
  if (!tol_hive_key(hive, parent)) {
    unreadable_key(error);
    return std::nullopt;
  }

  std::uint32_t list = old_list;
  if (in_place) {
    auto cell = tol_hive_cell_mut(hive, old_list);
    for (std::size_t i = count; i > position; --i) cell->put_u32(4 + i * 4, cell->u32(i * 4));
    cell->put_u32(4 + position * 4, nk);
    cell->put_u16(2, static_cast<std::uint16_t>(count + 1));
  } else {
    const std::size_t m = entries.size();
    if (sorted) {
      entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(position), nk);
    } else {
      entries.push_back(nk);
      order_windows(hive, entries);
    }
    // Room for 2m + 2 entries: a run of creations under one key reallocates
    // its list only a logarithmic number of times.
    const auto data = m <= 3 ? kSmallListData : static_cast<std::uint32_t>((m + 1) * 8 + 4);
    list = write_li(hive, entries, data);
    free_subkey_list(hive, old_list);
  }

  set_subkey_list(hive, parent, static_cast<std::uint32_t>(in_place ? count + 1 : entries.size()),
                  list);
  raise_largest_subkey_name(hive, parent, utf16_bytes(encoded));
  return nk;
}

bool tol_hive_delete_key(TolHive& hive, std::uint32_t key, GError** error) {
  if (key != TOL_NO_CELL && key == hive.root_cell)
    return tol_fail(error, TOL_HIVE_ERROR_INVALID, _("the root key cannot be deleted"));
  const auto record = tol_hive_key(hive, key);
  if (key == TOL_NO_CELL || !record) return unreadable_key(error);
  const std::uint32_t parent = record->u32(TOL_NK_PARENT);

  // A parent field naming the key itself is damage, not a parent. A key its
  // parent field does not lead back to is listed by some other key, which
  // would go on naming the freed cells: such a key is not deleted.
  const auto parent_key = parent == key ? std::nullopt : tol_hive_key(hive, parent);
  if (!parent_key) return not_listed(error);
  const std::uint32_t old_list = parent_key->u32(TOL_NK_SUBKEY_LIST);
  std::vector<std::uint32_t> entries = list_entries(hive, old_list);
  if (std::erase(entries, key) == 0) return not_listed(error);
  if (entries.size() > kMaxListEntries) return too_many_subkeys(error);
  const bool allowed = tol_hive_edit_allowed(
      hive,
      [&](std::vector<std::uint32_t>& cells) {
        parent_cells(hive, parent, cells);
        tol_footprint_subtree(hive, key, cells);
      },
      error);
  if (!allowed) return false;

  tol_hive_make_writable(hive);
  // The parent's new list is written before the subtree is released: the
  // allocator would otherwise hand it the first cell the delete freed, the
  // deleted key's own record, which is what a later undelete needs most.
  std::uint32_t list = TOL_NO_CELL;
  if (!entries.empty()) {
    order_windows(hive, entries);
    list = write_li(hive, entries, static_cast<std::uint32_t>(entries.size() * 4 + 4));
  }
  free_subkey_list(hive, old_list);
  set_subkey_list(hive, parent, static_cast<std::uint32_t>(entries.size()), list);
  tol_hive_free_subtree(hive, key, 0);
  hive.dirty = true;
  return true;
}

std::optional<std::uint32_t> tol_hive_rename_key(TolHive& hive, std::uint32_t key,
                                                 std::string_view new_name, GError** error) {
  if (key != TOL_NO_CELL && key == hive.root_cell) {
    tol_fail(error, TOL_HIVE_ERROR_INVALID, _("the root key cannot be renamed"));
    return std::nullopt;
  }
  const auto record = tol_hive_key(hive, key);
  if (key == TOL_NO_CELL || !record) {
    unreadable_key(error);
    return std::nullopt;
  }
  const std::uint32_t parent = record->u32(TOL_NK_PARENT);

  const TolEncodedName encoded = tol_name_encode(new_name);
  if (!encoded.fits || !storable(encoded)) {
    name_refused(encoded, error);
    return std::nullopt;
  }
  // The same spelling: nothing to write. A change of letter case alone is a
  // rename like any other.
  if (tol_hive_key_name(hive, key) == new_name) return key;

  // The old record is freed, so nothing may go on naming it: the key must be
  // listed by the key its parent field names (whose list is rewritten), not
  // by a list inside its own subtree, and all its subkeys must be readable
  // (other readers follow lists nested deeper than this engine does, and
  // would find children whose parent field still names the old record).
  if (tol_hive_subkeys(hive, key).size() != tol_hive_key(hive, key)->u32(TOL_NK_SUBKEY_COUNT)) {
    tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
             _("the hive is damaged here: the key's subkey list does not hold its subkey count"));
    return std::nullopt;
  }
  const auto parent_key = parent == key ? std::nullopt : tol_hive_key(hive, parent);
  if (!parent_key) {
    not_listed(error);
    return std::nullopt;
  }
  const std::uint32_t old_list = parent_key->u32(TOL_NK_SUBKEY_LIST);
  std::vector<std::uint32_t> entries = list_entries(hive, old_list);
  if (entries.size() > kMaxListEntries) {
    too_many_subkeys(error);
    return std::nullopt;
  }
  if (std::find(entries.begin(), entries.end(), key) == entries.end()) {
    not_listed(error);
    return std::nullopt;
  }
  if (lists_itself(hive, key)) {
    tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
             _("the hive is damaged here: the key is listed again inside its own subtree"));
    return std::nullopt;
  }
  // A sibling equal under the ASCII rule of the lookup is also equal in
  // Windows' order; one equal only there would be the same key to Windows.
  const tol::StoredName wanted = stored(encoded);
  for (const std::uint32_t sibling : entries)
    if (sibling != key && tol::compare_windows(tol::stored_key_name(hive, sibling), wanted) == 0) {
      key_exists(hive, sibling, error);
      return std::nullopt;
    }
  const bool allowed = tol_hive_edit_allowed(
      hive,
      [&](std::vector<std::uint32_t>& cells) {
        parent_cells(hive, parent, cells);
        tol_footprint_key(hive, key, {.subkeys = true}, cells);
        for (const std::uint32_t sub : tol_hive_subkeys(hive, key)) cells.push_back(sub);
      },
      error);
  if (!allowed) return std::nullopt;

  tol_hive_make_writable(hive);
  // The new record takes over everything but the name, including the old
  // record's security reference and largest-length fields.
  const NkFields fields = read_fields(*tol_hive_key(hive, key));
  const std::uint32_t nk = write_nk(hive, encoded, fields);
  hive.dirty = true;

  if (tol_hive_key(hive, parent)) {
    // The key moves to its sorted place among the others; each entry that
    // named the old record names the new one.
    const auto copies = static_cast<std::size_t>(std::count(entries.begin(), entries.end(), key));
    std::erase(entries, key);
    order_windows(hive, entries);
    const tol::StoredName renamed = tol::stored_key_name(hive, nk);
    const auto at = std::upper_bound(entries.begin(), entries.end(), renamed,
                                     [&hive](const tol::StoredName& name, std::uint32_t sibling) {
                                       return tol::compare_windows(
                                                  name, tol::stored_key_name(hive, sibling)) < 0;
                                     });
    entries.insert(at, copies, nk);
    free_subkey_list(hive, old_list);
    const std::uint32_t list =
        entries.empty()
            ? TOL_NO_CELL
            : write_li(hive, entries, static_cast<std::uint32_t>(entries.size() * 4 + 4));
    if (auto p = tol_hive_key_mut(hive, parent)) p->put_u32(TOL_NK_SUBKEY_LIST, list);
    raise_largest_subkey_name(hive, parent, utf16_bytes(encoded));
  }

  // A listed key whose parent field names some other key belongs to that one.
  for (const std::uint32_t sub : tol_hive_subkeys(hive, nk)) {
    auto child = tol_hive_key_mut(hive, sub);
    if (!child) continue;
    const std::uint32_t owner = child->u32(TOL_NK_PARENT);
    if (owner == key || !tol_hive_key(hive, owner)) child->put_u32(TOL_NK_PARENT, nk);
  }

  tol_hive_free_cell(hive, key);
  return nk;
}

std::uint32_t tol_hive_write_nk(TolHive& hive, const TolEncodedName& name, const TolNkFields& f) {
  return write_nk(hive, name, f);
}

std::uint32_t tol_hive_write_subkey_list(TolHive& hive, const std::vector<std::uint32_t>& entries) {
  return write_li(hive, entries, static_cast<std::uint32_t>(entries.size() * 4 + 4));
}
