// A read-only consistency check of a whole hive.
#pragma once

#include <glib.h>

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "hive/hive.h"

struct TolCheckReport {
  std::vector<std::string> problems;  // one line each, empty when the hive is sound
  std::uint32_t keys = 0;
  std::uint32_t values = 0;
  std::uint32_t security_records = 0;
  // Cells an edit must not free or overwrite, with the reason (see TolCensus).
  std::unordered_map<std::uint32_t, std::string> unsafe_cells;
  bool ok() const { return problems.empty(); }
};

// Walks every reachable record; never repairs anything.
TolCheckReport tol_hive_check(const TolHive& hive);
// The hive's census, taken by one check the first time it is asked for.
const TolCensus& tol_hive_census(TolHive& hive);
// False with TOL_HIVE_ERROR_DAMAGED, naming the damage, when an edit that
// frees or overwrites these cells would spread damage the census found.
bool tol_hive_cells_safe(TolHive& hive, std::span<const std::uint32_t> cells, GError** error);
