// The one rule that decides which bytes of the hive-bins area belong to a cell
// and whether a cell holds a key record. The read-only and the writable
// accessors both go through it, so the two can never disagree about bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "hive/bytes.h"
#include "hive/format.h"

namespace tol {

struct CellRange {
  std::size_t data = 0;    // offset of the cell data in the bins area
  std::size_t length = 0;  // magnitude of the size field minus 4
};

// Where the data of the cell at off lie inside bins, or nothing. The sign of
// the size field is not looked at; sums are computed in 64 bits.
inline std::optional<CellRange> cell_range(ByteView bins, std::uint32_t off) {
  if (off == TOL_NO_CELL) return std::nullopt;
  const std::uint64_t length = bins.size();
  if (std::uint64_t{off} + 4 > length) return std::nullopt;
  const auto size = static_cast<std::int32_t>(bins.u32(off));
  const std::uint64_t magnitude = size < 0
                                      ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(size))
                                      : static_cast<std::uint64_t>(size);
  if (magnitude <= 3 || off + magnitude > length) return std::nullopt;
  return CellRange{std::size_t{off} + 4, static_cast<std::size_t>(magnitude - 4)};
}

// Whether cell data (as cell_range delimits them) hold an nk record.
inline bool is_key_cell(ByteView data) {
  return data.size() >= TOL_NK_MIN_DATA && data.starts_with("nk");
}

}  // namespace tol
