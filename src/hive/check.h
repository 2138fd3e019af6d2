// A read-only consistency check of a whole hive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hive/hive.h"

struct TolCheckReport {
  std::vector<std::string> problems;  // one line each, empty when the hive is sound
  std::uint32_t keys = 0;
  std::uint32_t values = 0;
  std::uint32_t security_records = 0;
  bool ok() const { return problems.empty(); }
};

// Walks every reachable record; never repairs anything.
TolCheckReport tol_hive_check(const TolHive& hive);
