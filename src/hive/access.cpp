// Writable access to the heap image: the same bounds as the read accessors.
#include <algorithm>

#include "hive/cell_bounds.h"
#include "hive/edit.h"

tol::MutByteView tol_hive_bins_mut(TolHive& hive) {
  if (!hive.writable) return {};
  const std::span<std::uint8_t> heap(hive.heap_bins);
  return tol::MutByteView(heap.first(std::min<std::size_t>(hive.bins_length, heap.size())));
}

tol::MutByteView tol_hive_base_mut(TolHive& hive) {
  if (!hive.writable) return {};
  return tol::MutByteView(std::span<std::uint8_t>(hive.base_copy));
}

std::optional<tol::MutByteView> tol_hive_cell_mut(TolHive& hive, std::uint32_t off) {
  const tol::MutByteView bins = tol_hive_bins_mut(hive);
  const auto range = tol::cell_range(bins.view(), off);
  if (!range) return std::nullopt;
  // With its size field, which freeing and splitting rewrite.
  tol_hive_note_write(hive, std::uint64_t{range->data} - 4, std::uint64_t{range->length} + 4);
  return bins.sub(range->data, range->length);
}

std::optional<tol::MutByteView> tol_hive_key_mut(TolHive& hive, std::uint32_t off) {
  auto cell = tol_hive_cell_mut(hive, off);
  if (!cell || !tol::is_key_cell(cell->view())) return std::nullopt;
  return cell;
}
