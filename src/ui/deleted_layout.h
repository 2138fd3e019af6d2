// Where the key tree hangs the deleted keys of one scan: below their live
// parents, below their deleted parents, or below the one node for those
// whose place is unknown. Made once per scan, so that expanding a row looks
// up its deleted children instead of passing over every deleted key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "hive/deleted.h"

struct TolDeletedLayout {
  TolDeletedScan scan;
  // Deleted keys by the live key whose subkeys they were, in scan order.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> below_live;
  // Per deleted key, the deleted keys shown below it. A chain of parents that
  // loops is cut once, where the loop closes, so the tree stays finite.
  std::vector<std::vector<std::size_t>> children;
  // Shown below the "location unknown" node: keys whose parent is nothing
  // recognisable, and one key of each loop; values whose key is unknown.
  std::vector<std::size_t> unknown_keys;
  std::vector<std::size_t> unknown_values;
};

TolDeletedLayout tol_deleted_layout_new(TolDeletedScan scan);
