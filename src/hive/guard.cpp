// What an edit frees or overwrites, checked against the hive's census before
// the edit writes anything. A sound hive has nothing in its census, and then
// none of these cells are even collected.
#include <glib/gi18n-lib.h>

#include "hive/check.h"
#include "hive/edit.h"

namespace {

void add_list_cells(const TolHive& hive, std::uint32_t list, std::vector<std::uint32_t>& out) {
  const auto cell = tol_hive_cell(hive, list);
  if (!cell) return;
  out.push_back(list);
  if (!cell->starts_with("ri")) return;
  const std::uint64_t count = std::min<std::uint64_t>(cell->u16(2), (cell->size() - 4) / 4);
  for (std::uint64_t i = 0; i < count; ++i) out.push_back(cell->u32(4 + i * 4));
}

}  // namespace

void tol_footprint_key(const TolHive& hive, std::uint32_t nk, TolFootprint parts,
                       std::vector<std::uint32_t>& out) {
  const auto key = tol_hive_key(hive, nk);
  out.push_back(nk);
  if (!key) return;
  if (parts.subkeys) add_list_cells(hive, key->u32(TOL_NK_SUBKEY_LIST), out);
  if (parts.values) {
    const std::uint32_t list = key->u32(TOL_NK_VALUE_LIST);
    out.push_back(list);
    const auto cell = tol_hive_cell(hive, list);
    const std::uint64_t count =
        cell ? std::min<std::uint64_t>(key->u32(TOL_NK_VALUE_COUNT), cell->size() / 4) : 0;
    for (std::uint64_t i = 0; i < count; ++i) tol_footprint_value(hive, cell->u32(i * 4), out);
  }
  if (parts.security) out.push_back(key->u32(TOL_NK_SECURITY));
  if (parts.class_name) out.push_back(key->u32(TOL_NK_CLASS));
}

void tol_footprint_value(const TolHive& hive, std::uint32_t vk, std::vector<std::uint32_t>& out) {
  out.push_back(vk);
  const auto record = tol_hive_vk(hive, vk);
  if (!record) return;
  const std::uint32_t offset = record->u32(TOL_VK_DATA_OFFSET);
  const TolDataPlace place = tol_hive_data_place(hive, record->u32(TOL_VK_DATA_LENGTH), offset);
  if (place.layout == TolDataLayout::cell) out.push_back(offset);
  if (place.layout != TolDataLayout::big_data) return;
  out.push_back(offset);
  const auto db = tol_hive_cell(hive, offset);
  if (!db || db->size() <= 7) return;
  const std::uint32_t list = db->u32(4);
  out.push_back(list);
  const auto segments = tol_hive_cell(hive, list);
  if (!segments) return;
  const std::uint64_t count = std::min<std::uint64_t>(db->u16(2), segments->size() / 4);
  for (std::uint64_t i = 0; i < count; ++i) out.push_back(segments->u32(i * 4));
}

void tol_footprint_subtree(const TolHive& hive, std::uint32_t nk, std::vector<std::uint32_t>& out) {
  tol_hive_walk_subtree(hive, nk, [&](std::uint32_t key) {
    tol_footprint_key(hive, key, {true, true, true, true}, out);
    return true;
  });
}

bool tol_hive_edit_allowed(TolHive& hive, const std::function<void(std::vector<std::uint32_t>&)>& collect,
                           GError** error) {
  if (!tol_hive_bins_intact(hive))
    return tol_fail(error, TOL_HIVE_ERROR_DAMAGED,
                    _("the hive is damaged: its bins are broken, and what an edit writes behind "
                      "them would be lost"));
  if (tol_hive_census(hive).unsafe.empty()) return true;
  std::vector<std::uint32_t> cells;
  collect(cells);
  return tol_hive_cells_safe(hive, cells, error);
}
