// Randomly damaged hives must read as something (names, shorter data, no
// keys) and never make the engine read outside the image. The sanitizer build
// turns any stray read into a failure: the walks run on the writable heap copy,
// which is exactly bins-length bytes long, as well as on the mapping.
#include <iterator>
#include <random>

#include "hive_fixture.h"

namespace tol::test {
namespace {

using CorruptHives = HiveTest;

KeySpec sample_tree() {
  KeySpec root = key("ROOT");
  root.values = {
      val("", 1, utf16le_sz("default")),
      val("dw", 4, le32(7)),
      val("bin", 3, pattern(300, 1)),
      val("big", 3, pattern(20000, 2)),
      val("Gr\xC3\xB6\xC3\x9F" "e", 1, utf16le_sz("x")),
  };
  const ListKind kinds[] = {ListKind::li, ListKind::lf, ListKind::lh, ListKind::ri};
  for (int i = 0; i < 4; ++i) {
    KeySpec k = key("Key" + std::to_string(i));
    k.list = kinds[i];
    for (int j = 0; j < 5; ++j) {
      KeySpec c = key((j % 2 ? "c" : "C\xC3\xA9") + std::to_string(j));
      c.values = {val("v", 3, pattern(static_cast<std::size_t>(j * 7), 3)), val("s", 4, le32(1))};
      if (j == 2) c.subkeys = {key("deep", {key("deeper")})};
      k.subkeys.push_back(c);
    }
    root.subkeys.push_back(k);
  }
  return root;
}

// Reads everything reachable, with bounds on depth and work; returns the
// number of keys visited so that the walk is not optimised away.
class Walker {
 public:
  explicit Walker(const TolHive& hive) : hive_(hive) {}

  std::size_t run() {
    walk(hive_.root_cell, 0);
    return visited_;
  }

 private:
  void walk(std::uint32_t nk, int depth) {
    if (depth > 8 || visited_ >= 3000) return;
    ++visited_;
    const std::string name = tol_hive_key_name(hive_, nk);
    const std::string path = tol_hive_key_path(hive_, nk);
    (void)tol_hive_find_path(hive_, path);
    (void)tol_hive_key(hive_, nk);

    const std::uint32_t count = std::min<std::uint32_t>(tol_hive_value_count(hive_, nk), 64);
    for (std::uint32_t i = 0; i < count; ++i) {
      TolHiveValue v;
      if (tol_hive_read_value(hive_, nk, i, v)) {
        bytes_ += v.length();
        (void)tol_hive_find_value(hive_, nk, v.name);
      }
    }
    (void)tol_hive_find_value(hive_, nk, "missing");

    const auto children = tol_hive_subkeys(hive_, nk);
    for (std::size_t i = 0; i < children.size() && i < 64; ++i) {
      (void)tol_hive_find_subkey(hive_, nk, tol_hive_key_name(hive_, children[i]));
      walk(children[i], depth + 1);
    }
  }

  const TolHive& hive_;
  std::size_t visited_ = 0;
  std::size_t bytes_ = 0;
};

TEST_F(CorruptHives, RandomDamageNeverReadsOutsideTheImage) {
  HiveBuilder b;
  const BuiltTree t = b.tree(sample_tree());
  const Bytes clean = b.image();
  std::vector<std::uint32_t> cells;
  for (const auto& [p, off] : t.keys) cells.push_back(off);
  for (const auto& [p, off] : t.values) cells.push_back(off);
  for (const auto& [p, off] : t.lists) cells.push_back(off);
  const std::uint32_t interesting[] = {0, 1, 2, 3, 4, 0x7F, 0x80, 0xFFFF, 0x10000, 0x7FFFFFFF,
                                       0x80000000u, 0x80000007u, 0xFFFFFFF8u, 0xFFFFFFFFu};

  std::size_t opened = 0;
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    Bytes image = clean;
    auto put32 = [&image](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4 && at + i < image.size(); ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::size_t edits = 1 + pick(12);
    for (std::size_t e = 0; e < edits; ++e) {
      std::uint32_t value = pick(3) == 0 ? static_cast<std::uint32_t>(rng()) : interesting[pick(std::size(interesting))];
      if (pick(4) == 0) value = cells[pick(cells.size())];  // a real cell, maybe the wrong kind
      switch (pick(5)) {
        case 0:  // any byte of the bins
          image[4096 + pick(image.size() - 4096)] = static_cast<std::uint8_t>(rng());
          break;
        case 1:  // a field of a record, or its size
        case 2:
          put32(4096 + cells[pick(cells.size())] + 4 * pick(22), value);
          break;
        case 3: {  // a byte of a count or length of a record
          const std::size_t at = 4096 + cells[pick(cells.size())] + 4 + 2 * pick(40);
          if (at < image.size()) image[at] = static_cast<std::uint8_t>(value);
          break;
        }
        case 4:  // the base block's root or bins size
          put32(pick(2) ? 0x24 : 0x28, value);
          break;
      }
    }
    if (pick(8) == 0) image.resize(8192 + pick(image.size() - 8192));

    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(write(image), &error);
    ASSERT_NE(hive, nullptr) << "seed " << seed << ": " << (error ? error->message : "");
    ++opened;
    const std::size_t mapped = Walker(*hive).run();
    tol_hive_make_writable(*hive);
    hive->name_cache.clear();
    ASSERT_EQ(hive->heap_bins.size(), hive->bins_length);
    EXPECT_EQ(Walker(*hive).run(), mapped) << "seed " << seed;
    g_remove(files_.back().c_str());
  }
  EXPECT_EQ(opened, 150u);
}

}  // namespace
}  // namespace tol::test
