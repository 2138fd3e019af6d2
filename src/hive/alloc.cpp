// Cell allocation, value data storage and list entry removal in the heap image.
//
// The allocator is first fit within one bin (the hint bin) and otherwise
// appends a bin: allocations cost at most one bin walk, never a hive walk.
// Free cells are never merged and the image never shrinks.
#include <glib.h>

#include <algorithm>
#include <limits>

#include "hive/edit.h"
#include "hive/format.h"

namespace {

constexpr std::uint32_t kBinGrain = 4096;
constexpr std::uint32_t kMinCell = 8;
constexpr std::uint32_t kMaxSegments = 0xFFFF;  // db count field is 16 bits

std::uint32_t magnitude(std::int32_t size) {
  return size < 0 ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(size))
                  : static_cast<std::uint32_t>(size);
}

std::uint32_t negative(std::uint32_t size) {
  return static_cast<std::uint32_t>(-static_cast<std::int64_t>(size));
}

// Marks the free cell at c (size m) allocated for need bytes, splitting off the
// rest when it can hold a cell of its own. Reused space is zeroed so that no
// bytes of a freed record (old names, old data) end up in the slack of a new
// one and the image depends only on the operations applied.
void take(tol::MutByteView bins, std::uint32_t c, std::uint32_t m, std::uint32_t need, bool clear) {
  std::uint32_t used = m;
  if (m - need >= kMinCell) {
    used = need;
    bins.put_u32(std::size_t{c} + need, m - need);
  }
  bins.put_u32(c, negative(used));
  if (clear) bins.fill(std::size_t{c} + 4, used - 4, 0);
}

// A free cell that still holds a record some live key names (damage the
// census found) is not handed out: writing into it would destroy that record.
bool holds_unsafe(const TolHive& hive, std::uint32_t cell, std::uint32_t size) {
  if (!hive.census) return false;
  for (const auto& [off, reason] : hive.census->unsafe)
    if (off >= cell && off - cell < size) return true;
  return false;
}

std::optional<std::uint32_t> search_hint_bin(TolHive& hive, std::uint32_t need) {
  tol::MutByteView bins = tol_hive_bins_mut(hive);
  const std::uint64_t h = hive.alloc_hint;
  if (h >= bins.size()) return std::nullopt;
  const std::uint64_t s = bins.u32(h + 8);
  if (s < TOL_BIN_HEADER_SIZE + 4 || h + s > bins.size()) return std::nullopt;
  const std::uint64_t end = h + s;
  for (std::uint64_t c = h + TOL_BIN_HEADER_SIZE; c + 4 <= end;) {
    const auto v = static_cast<std::int32_t>(bins.u32(c));
    const std::uint32_t m = magnitude(v);
    if (m < kMinCell || c + m > end) break;
    if (v > 0 && m >= need && !holds_unsafe(hive, static_cast<std::uint32_t>(c), m)) {
      tol_hive_note_write(hive, c, m);
      take(bins, static_cast<std::uint32_t>(c), m, need, true);
      // Reading ignores the sign of the size field, so a free cell may have
      // had its old name cached; the cell now gets a new record.
      hive.name_cache.erase(static_cast<std::uint32_t>(c));
      return static_cast<std::uint32_t>(c);
    }
    c += m;
  }
  return std::nullopt;
}

std::uint32_t append_bin(TolHive& hive, std::uint32_t need) {
  tol_hive_whole_bins(hive);
  const std::uint32_t start = hive.bins_length;
  const std::uint64_t wanted = std::uint64_t{need} + TOL_BIN_HEADER_SIZE;
  const std::uint64_t size = (wanted + kBinGrain - 1) / kBinGrain * kBinGrain;
  if (start + size > std::numeric_limits<std::uint32_t>::max())
    g_error("obraz hive przekroczylby 4 GiB");

  const auto end = static_cast<std::uint32_t>(start + size);
  hive.heap_bins.resize(end);
  hive.bins_length = end;
  tol_hive_base_mut(hive).put_u32(TOL_BASE_BINS_SIZE, end);

  tol::MutByteView bins = tol_hive_bins_mut(hive);
  // The buffer may have held bytes past the old length (an image restored
  // from a longer one): a new bin starts out all zero.
  bins.fill(start, size, 0);
  static constexpr std::uint8_t kSignature[] = {'h', 'b', 'i', 'n'};
  bins.put_bytes(start, kSignature);
  bins.put_u32(std::size_t{start} + 4, start);
  bins.put_u32(std::size_t{start} + 8, static_cast<std::uint32_t>(size));
  const std::uint32_t cell = start + TOL_BIN_HEADER_SIZE;
  take(bins, cell, static_cast<std::uint32_t>(size) - TOL_BIN_HEADER_SIZE, need, false);
  hive.alloc_hint = start;
  return cell;
}

}  // namespace

std::uint32_t tol_hive_alloc_cell(TolHive& hive, std::uint32_t n) {
  tol_hive_make_writable(hive);
  const std::uint64_t need64 = (std::uint64_t{n} + 11) & ~std::uint64_t{7};
  if (need64 > std::numeric_limits<std::uint32_t>::max() - kBinGrain)
    g_error("obraz hive przekroczylby 4 GiB");
  const auto need = static_cast<std::uint32_t>(need64);
  if (const auto cell = search_hint_bin(hive, need)) return *cell;
  return append_bin(hive, need);
}

bool tol_hive_bins_intact(const TolHive& hive) {
  if (hive.bins_intact) return *hive.bins_intact;
  const tol::ByteView bins = hive.bins();
  const std::uint64_t end =
      (std::uint64_t{hive.bins_length} + kBinGrain - 1) / kBinGrain * kBinGrain;
  std::uint64_t off = 0;
  while (off < hive.bins_length) {
    const tol::ByteView header = bins.sub(off, TOL_BIN_HEADER_SIZE);
    const std::uint64_t size = header.u32(8);
    if (!header.starts_with("hbin") || header.u32(4) != off || size < kBinGrain ||
        size % kBinGrain != 0 || off + size > end)
      break;
    off += size;
  }
  hive.bins_intact = off == end;
  return *hive.bins_intact;
}

void tol_hive_whole_bins(TolHive& hive) {
  tol_hive_make_writable(hive);
  const std::uint32_t rest = hive.bins_length % kBinGrain;
  if (rest == 0) return;
  const std::uint32_t end = hive.bins_length + (kBinGrain - rest);
  if (end < hive.bins_length) g_error("obraz hive przekroczylby 4 GiB");
  const std::uint32_t start = hive.bins_length;
  hive.heap_bins.resize(end);
  hive.bins_length = end;
  tol_hive_bins_mut(hive).fill(start, end - start, 0);
}

void tol_hive_free_cell(TolHive& hive, std::uint32_t off) {
  tol::MutByteView bins = tol_hive_bins_mut(hive);
  if (off == TOL_NO_CELL || !bins.has(off, 4)) return;
  const auto v = static_cast<std::int32_t>(bins.u32(off));
  // INT32_MIN has no positive counterpart; such a size field is damage, left as found.
  if (v >= 0 || v == std::numeric_limits<std::int32_t>::min()) return;
  tol_hive_note_write(hive, off, 4);
  bins.put_u32(off, magnitude(v));
  hive.name_cache.erase(off);
}

std::optional<TolDataFields> tol_hive_store_data(TolHive& hive,
                                                 std::span<const std::uint8_t> data) {
  TolDataFields fields;
  if (data.size() <= 4) {
    fields.length = TOL_DATA_INLINE_BIT | static_cast<std::uint32_t>(data.size());
    fields.offset = 0;
    for (std::size_t i = 0; i < data.size(); ++i)
      fields.offset |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    return fields;
  }
  if (data.size() > std::uint64_t{kMaxSegments} * TOL_BIG_DATA_SEGMENT) return std::nullopt;
  const auto n = static_cast<std::uint32_t>(data.size());
  fields.length = n;

  if (n <= TOL_BIG_DATA_SEGMENT || tol_hive_minor_version(hive) < TOL_FIRST_BIG_DATA_MINOR) {
    const std::uint32_t cell = tol_hive_alloc_cell(hive, n);
    tol_hive_cell_mut(hive, cell)->put_bytes(0, data);
    fields.offset = cell;
    return fields;
  }

  // Every segment cell keeps 4 bytes beyond its data, as a full segment of
  // Windows does (16344 + 4 rounds up to 16352 anyway): hivex and libregf
  // take a segment's length as its cell size minus 8 and would otherwise drop
  // the last bytes of a short final segment.
  std::vector<std::uint32_t> segments;
  for (std::size_t at = 0; at < data.size(); at += TOL_BIG_DATA_SEGMENT) {
    const auto part =
        data.subspan(at, std::min<std::size_t>(TOL_BIG_DATA_SEGMENT, data.size() - at));
    const std::uint32_t cell =
        tol_hive_alloc_cell(hive, static_cast<std::uint32_t>(part.size()) + 4);
    tol_hive_cell_mut(hive, cell)->put_bytes(0, part);
    segments.push_back(cell);
  }
  const auto count = static_cast<std::uint32_t>(segments.size());
  const std::uint32_t list = tol_hive_alloc_cell(hive, count * 4);
  {
    auto cell = tol_hive_cell_mut(hive, list);
    for (std::uint32_t i = 0; i < count; ++i) cell->put_u32(std::size_t{i} * 4, segments[i]);
  }
  const std::uint32_t db = tol_hive_alloc_cell(hive, 8);
  auto cell = tol_hive_cell_mut(hive, db);
  cell->put_u8(0, 'd');
  cell->put_u8(1, 'b');
  cell->put_u16(2, static_cast<std::uint16_t>(count));
  cell->put_u32(4, list);
  fields.offset = db;
  return fields;
}

void tol_hive_free_plain_cell(TolHive& hive, std::uint32_t off) {
  const auto cell = tol_hive_cell(hive, off);
  if (!cell) return;
  const bool record = (cell->size() >= TOL_NK_MIN_DATA && cell->starts_with("nk")) ||
                      (cell->size() >= TOL_VK_MIN_DATA && cell->starts_with("vk")) ||
                      (cell->size() >= TOL_SK_MIN_DATA && cell->starts_with("sk")) ||
                      (cell->size() > 7 && cell->starts_with("db")) ||
                      (cell->size() >= 4 && (cell->starts_with("li") || cell->starts_with("lf") ||
                                             cell->starts_with("lh") || cell->starts_with("ri")));
  if (!record) tol_hive_free_cell(hive, off);
}

// Only cells the data could be read from are freed: an offset whose cell is
// too small, or that names no db record where big data are due, names
// nothing of this value (a damaged hive may have it name a live record).
void tol_hive_free_data(TolHive& hive, std::uint32_t length_field, std::uint32_t offset_field) {
  if (offset_field == TOL_NO_CELL || static_cast<std::int32_t>(length_field) <= 0) return;
  const TolDataPlace place = tol_hive_data_place(hive, length_field, offset_field);
  if (place.layout == TolDataLayout::cell) {
    const auto cell = tol_hive_cell(hive, offset_field);
    if (cell && cell->size() >= place.length) tol_hive_free_plain_cell(hive, offset_field);
    return;
  }
  if (place.layout != TolDataLayout::big_data) return;
  const auto db = tol_hive_cell(hive, offset_field);
  if (!db || db->size() <= 7 || !db->starts_with("db")) return;
  const std::uint32_t count = db->u16(2);
  const std::uint32_t list = db->u32(4);
  std::vector<std::uint32_t> segments;
  const auto cell = tol_hive_cell(hive, list);
  if (count >= 1 && cell && cell->size() >= std::uint64_t{count} * 4)
    for (std::uint32_t i = 0; i < count; ++i) segments.push_back(cell->u32(std::size_t{i} * 4));
  for (const std::uint32_t segment : segments) tol_hive_free_plain_cell(hive, segment);
  tol_hive_free_plain_cell(hive, list);
  tol_hive_free_cell(hive, offset_field);
}

void tol_hive_free_value(TolHive& hive, std::uint32_t vk) {
  const auto cell = tol_hive_cell(hive, vk);
  if (!cell || cell->size() < TOL_VK_MIN_DATA || !cell->starts_with("vk")) return;
  const std::uint32_t length = cell->u32(TOL_VK_DATA_LENGTH);
  const std::uint32_t offset = cell->u32(TOL_VK_DATA_OFFSET);
  tol_hive_free_data(hive, length, offset);
  tol_hive_free_cell(hive, vk);
}

std::uint32_t tol_hive_list_remove(TolHive& hive, std::uint32_t list, std::uint32_t count,
                                   std::uint32_t target) {
  if (list == TOL_NO_CELL || count == 0) return count;
  auto cell = tol_hive_cell_mut(hive, list);
  if (!cell || cell->size() < std::uint64_t{count} * 4) return count;
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t entry = cell->u32(std::size_t{i} * 4);
    if (entry == target) continue;
    if (kept != i) cell->put_u32(std::size_t{kept} * 4, entry);
    ++kept;
  }
  return kept;
}
