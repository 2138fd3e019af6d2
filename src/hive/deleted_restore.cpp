// Restoring deleted keys and values through the ordinary operations.
//
// Everything is read into memory before the first write: the allocator may
// hand out the very cells the deleted records lie in. The refusals a caller
// can act on (nothing left to restore, no place to restore into, the name is
// taken) are found before anything is written; a failure later, in one of
// the operations, can leave part of a subtree restored, which is why
// callers run a restore inside tol_document_change.
#include <glib/gi18n-lib.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "hive/deleted.h"
#include "hive/edit.h"
#include "hive/names.h"

namespace {

// Names tried after the original one when the caller allows renaming.
constexpr int kRenameTries = 100;

struct Recovered {
  std::string name;
  std::vector<TolHiveValue> values;
  std::vector<Recovered> subkeys;
};

// Reads a deleted key's subtree. Each deleted key is entered once (parent
// fields may loop), no deeper than any walk goes, and the data read stay
// within the image's size however many garbage records name the same cells.
class Gather {
 public:
  Gather(const TolHive& hive, const TolDeletedScan& scan, TolRestoreResult& result)
      : hive_(hive), scan_(scan), result_(result), budget_(hive.bins_length) {}

  void key(std::size_t index, int depth, Recovered& out) {
    seen_.insert(index);
    const TolDeletedKey& key = scan_.keys[index];
    out.name = key.name;
    records_.push_back(key.record);
    for (const std::size_t v : key.values) {
      if (const auto value = read_value(scan_.values[v], out.values)) {
        records_.push_back(scan_.values[v].record);
        out.values.push_back(std::move(*value));
      } else {
        ++result_.lost_values;
      }
    }
    for (const std::size_t s : key.subkeys) {
      const std::string& name = scan_.keys[s].name;
      const bool repeated = std::any_of(out.subkeys.begin(), out.subkeys.end(),
                                        [&](const Recovered& r) { return tol_name_equal(r.name, name); });
      if (repeated || depth + 1 >= TOL_MAX_KEY_DEPTH || seen_.contains(s)) {
        ++result_.lost_keys;
        continue;
      }
      out.subkeys.emplace_back();
      this->key(s, depth + 1, out.subkeys.back());
    }
  }

  std::optional<TolHiveValue> read_value(const TolDeletedValue& value,
                                         const std::vector<TolHiveValue>& siblings) {
    const bool repeated = std::any_of(siblings.begin(), siblings.end(), [&](const TolHiveValue& v) {
      return tol_name_equal(v.name, value.name);
    });
    if (repeated || !value.data_intact || value.length > budget_) return std::nullopt;
    TolHiveValue out;
    out.name = value.name;
    out.type = value.type;
    if (!tol_deleted_value_data(hive_, scan_, value, out.data)) return std::nullopt;
    budget_ -= std::min<std::uint64_t>(budget_, out.data.size());
    return out;
  }

  const std::vector<std::uint32_t>& records() const { return records_; }

 private:
  const TolHive& hive_;
  const TolDeletedScan& scan_;
  TolRestoreResult& result_;
  std::uint64_t budget_;
  std::unordered_set<std::size_t> seen_;
  std::vector<std::uint32_t> records_;
};

bool live_key(const TolHive& hive, std::uint32_t off) {
  return off != TOL_NO_CELL && tol_hive_key(hive, off) &&
         static_cast<std::int32_t>(hive.bins().u32(off)) < 0;
}

// The key to restore into: the caller's, or the original one when it is live.
std::optional<std::uint32_t> target(const TolHive& hive, std::uint32_t chosen,
                                    std::uint32_t original, bool original_deleted,
                                    GError** error) {
  if (chosen != TOL_NO_CELL) {
    if (live_key(hive, chosen)) return chosen;
    tol_fail(error, TOL_HIVE_ERROR_NOT_FOUND, _("the key to restore into cannot be read"));
    return std::nullopt;
  }
  if (original != TOL_NO_CELL) return original;
  tol_fail(error, TOL_HIVE_ERROR_INVALID,
           original_deleted ? _("its key is deleted too: restore that key first, or choose a key "
                                "to restore into")
                            : _("its key is unknown: choose a key to restore into"));
  return std::nullopt;
}

// "NAME (restored)", "NAME (restored 2)", ...; "(restored)" for the default value.
std::string restored_name(const std::string& name, int attempt) {
  if (attempt == 0) return name;
  const std::string mark = attempt == 1 ? "(restored)" : "(restored " + std::to_string(attempt) + ")";
  return name.empty() ? mark : name + " " + mark;
}

// The records the restore read from no longer read as deleted items.
bool clear_records(TolHive& hive, const std::vector<std::uint32_t>& records, GError** error) {
  const bool allowed = tol_hive_edit_allowed(
      hive, [&](std::vector<std::uint32_t>& cells) { cells = records; }, error);
  if (!allowed) return false;
  tol_hive_make_writable(hive);
  tol::MutByteView bins = tol_hive_bins_mut(hive);
  for (const std::uint32_t record : records) {
    tol_hive_note_write(hive, std::uint64_t{record} + 4, 2);
    bins.put_u16(std::size_t{record} + 4, 0);
    hive.name_cache.erase(record);
  }
  hive.dirty = true;
  return true;
}

// The values of a key just created, which has none yet.
bool create_values(TolHive& hive, std::uint32_t nk, const Recovered& node,
                   TolRestoreResult& result, GError** error) {
  ++result.keys;
  for (const TolHiveValue& v : node.values) {
    if (!tol_hive_set_value(hive, nk, v.name, v.type, v.data, error)) return false;
    ++result.values;
  }
  return true;
}

// The subkeys of a restored key. A name only Windows' order takes for a
// sibling's (Ä beside ä) is left out like a repeated one.
bool create_subkeys(TolHive& hive, std::uint32_t nk, const Recovered& node,
                    TolRestoreResult& result, GError** error) {
  for (const Recovered& sub : node.subkeys) {
    GError* refused = nullptr;
    const auto made = tol_hive_create_key(hive, nk, sub.name, &refused);
    if (!made) {
      if (refused && refused->domain == TOL_HIVE_ERROR && refused->code == TOL_HIVE_ERROR_EXISTS) {
        g_error_free(refused);
        ++result.lost_keys;
        continue;
      }
      g_propagate_error(error, refused);
      return false;
    }
    if (!create_values(hive, *made, sub, result, error) ||
        !create_subkeys(hive, *made, sub, result, error))
      return false;
  }
  return true;
}

}  // namespace

std::optional<TolRestoreResult> tol_deleted_restore_key(TolHive& hive, std::uint32_t record,
                                                        const TolRestoreOptions& options,
                                                        GError** error) {
  const TolDeletedScan scan = tol_deleted_scan(hive);
  const auto index = tol_deleted_find_key(scan, record);
  if (!index) {
    tol_failf(error, TOL_HIVE_ERROR_NOT_FOUND,
              _("no deleted key is left at %s: its cells have been reused or restored"),
              tol_hex(record).c_str());
    return std::nullopt;
  }
  const TolDeletedKey& key = scan.keys[*index];
  const auto parent =
      target(hive, options.parent,
             key.parent_place == TolDeletedPlace::live ? key.parent : TOL_NO_CELL,
             key.parent_place == TolDeletedPlace::deleted, error);
  if (!parent) return std::nullopt;

  TolRestoreResult result;
  Recovered tree;
  Gather gather(hive, scan, result);
  gather.key(*index, 0, tree);

  int attempt = 0;
  while (tol_hive_find_subkey(hive, *parent, restored_name(tree.name, attempt))) {
    if (!options.rename || ++attempt > kRenameTries) {
      tol_failf(error, TOL_HIVE_ERROR_EXISTS, _("a key named %s already exists"),
                tol_quoted(restored_name(tree.name, attempt == 0 ? 0 : attempt - 1)).c_str());
      return std::nullopt;
    }
  }
  if (!clear_records(hive, gather.records(), error)) return std::nullopt;

  std::optional<std::uint32_t> made;
  for (;; ++attempt) {
    GError* refused = nullptr;
    made = tol_hive_create_key(hive, *parent, restored_name(tree.name, attempt), &refused);
    if (made) break;
    // Taken only in Windows' order of names (Ä beside ä): the next name.
    const bool taken = refused && refused->domain == TOL_HIVE_ERROR &&
                       refused->code == TOL_HIVE_ERROR_EXISTS;
    if (!taken || !options.rename || attempt >= kRenameTries) {
      g_propagate_error(error, refused);
      return std::nullopt;
    }
    g_error_free(refused);
  }
  result.key = *made;
  result.name = restored_name(tree.name, attempt);
  if (!create_values(hive, *made, tree, result, error) ||
      !create_subkeys(hive, *made, tree, result, error))
    return std::nullopt;
  return result;
}

std::optional<TolRestoreResult> tol_deleted_restore_value(TolHive& hive, std::uint32_t record,
                                                          const TolRestoreOptions& options,
                                                          GError** error) {
  const TolDeletedScan scan = tol_deleted_scan(hive);
  const auto index = tol_deleted_find_value(scan, record);
  if (!index) {
    tol_failf(error, TOL_HIVE_ERROR_NOT_FOUND,
              _("no deleted value is left at %s: its cells have been reused or restored"),
              tol_hex(record).c_str());
    return std::nullopt;
  }
  const TolDeletedValue& value = scan.values[*index];
  const auto key =
      target(hive, options.parent,
             value.owner_place == TolDeletedPlace::live ? value.owner : TOL_NO_CELL,
             value.owner_place == TolDeletedPlace::deleted, error);
  if (!key) return std::nullopt;

  TolRestoreResult result;
  Gather gather(hive, scan, result);
  const auto data = gather.read_value(value, {});
  if (!data) {
    tol_failf(error, TOL_HIVE_ERROR_DAMAGED,
              _("the data of the value %s are lost: their cells have been reused"),
              tol_quoted(value.name).c_str());
    return std::nullopt;
  }
  int attempt = 0;
  while (tol_hive_find_value(hive, *key, restored_name(value.name, attempt)) != TOL_NO_CELL) {
    if (!options.rename || ++attempt > kRenameTries) {
      tol_failf(error, TOL_HIVE_ERROR_EXISTS, _("a value named %s already exists"),
                tol_quoted(restored_name(value.name, attempt == 0 ? 0 : attempt - 1)).c_str());
      return std::nullopt;
    }
  }
  if (!clear_records(hive, {value.record}, error)) return std::nullopt;
  result.name = restored_name(value.name, attempt);
  if (!tol_hive_set_value(hive, *key, result.name, data->type, data->data, error))
    return std::nullopt;
  result.key = *key;
  result.values = 1;
  return result;
}
