// The undo journal: whole-image snapshots, so that undo is exact whatever an
// operation did to the image (allocations, list rewrites, appended bins).
#include <cstdint>
#include <memory>
#include <vector>

#include "hive/save.h"

void tol_journal_record(TolUndoJournal& journal, TolHive& hive) {
  tol_hive_make_writable(hive);
  const auto base = hive.base().span();
  const auto bins = hive.bins().span();
  auto snapshot = std::make_shared<std::vector<std::uint8_t>>();
  snapshot->reserve(base.size() + bins.size());
  snapshot->insert(snapshot->end(), base.begin(), base.end());
  snapshot->insert(snapshot->end(), bins.begin(), bins.end());
  journal.snapshots.push_back(std::move(snapshot));
  while (journal.snapshots.size() > TolUndoJournal::kMaxSnapshots) journal.snapshots.pop_front();
}

bool tol_journal_apply(const TolUndoJournal& journal, TolHive& hive) {
  if (journal.snapshots.empty()) return false;
  const std::vector<std::uint8_t>& snapshot = *journal.snapshots.back();
  // Recording never makes a snapshot without a whole base block; such a
  // snapshot changes nothing.
  if (snapshot.size() < TOL_BASE_BLOCK_SIZE) return true;

  tol_hive_make_writable(hive);
  const auto split = snapshot.begin() + TOL_BASE_BLOCK_SIZE;
  hive.base_copy.assign(snapshot.begin(), split);
  hive.heap_bins.assign(split, snapshot.end());
  hive.bins_length = static_cast<std::uint32_t>(hive.heap_bins.size());
  // The restored image may have freed or moved every cell the hint and the
  // cached names referred to, and may have other bins.
  tol_hive_image_replaced(hive);
  return true;
}

bool tol_journal_restore(TolUndoJournal& journal, TolHive& hive) {
  if (!tol_journal_apply(journal, hive)) return false;
  journal.snapshots.pop_back();
  return true;
}
