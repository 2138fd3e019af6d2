// Shared helpers of the .reg tests: builder hives opened writable, imports of
// literal text and whole-subtree snapshots to compare.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../hive/hive_fixture.h"
#include "../hive/peer_tools.h"
#include "hive/edit.h"
#include "reg/export.h"
#include "reg/import.h"

namespace tol::test {

struct RegValue {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const RegValue&) const = default;
};

struct RegTree {
  std::string name;
  std::vector<RegValue> values;
  std::vector<RegTree> subkeys;
  bool operator==(const RegTree&) const = default;
};

inline RegTree snapshot(const TolHive& hive, std::uint32_t nk) {
  RegTree t{tol_hive_key_name(hive, nk), {}, {}};
  for (std::uint32_t i = 0; i < tol_hive_value_count(hive, nk); ++i) {
    TolHiveValue v;
    if (tol_hive_read_value(hive, nk, i, v)) t.values.push_back({v.name, v.type, v.data});
  }
  for (const auto sub : tol_hive_subkeys(hive, nk)) t.subkeys.push_back(snapshot(hive, sub));
  return t;
}

inline std::optional<RegValue> value_of(const TolHive& hive, std::uint32_t nk,
                                        std::string_view name) {
  for (const RegValue& v : snapshot(hive, nk).values)
    if (v.name == name) return v;
  return std::nullopt;
}

inline std::vector<std::uint32_t> counters(const TolRegImportCounts& c) {
  return {c.keys, c.values, c.deleted_keys, c.deleted_values, c.errors};
}

class RegTest : public HiveTest {
 protected:
  // Opens a hive built from `root`, writable, and remembers where its keys are.
  TolHivePtr build(const KeySpec& root) {
    HiveBuilder b;
    tree_ = b.tree(root);
    TolHivePtr hive = open(b);
    if (hive) tol_hive_make_writable(*hive);
    return hive;
  }

  TolRegImportCounts import(TolHive& hive, std::uint32_t destination, std::string_view text) {
    TolRegImportCounts counts;
    EXPECT_TRUE(tol_reg_import(
        hive, destination, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
        counts, nullptr));
    return counts;
  }

  BuiltTree tree_;
};

}  // namespace tol::test
