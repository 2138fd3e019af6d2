// Cell allocator, data storage, list entry removal, writable accessors and
// the stored form of names.
#include <sys/mman.h>

#include "hive/edit.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

std::int32_t size_at(const TolHive& hive, std::uint32_t off) {
  return static_cast<std::int32_t>(hive.bins().u32(off));
}

// Fills the rest of the builder's open bin with one allocated cell, so that
// the bin offers no free space the test did not place itself.
void fill_bin(HiveBuilder& b) {
  const std::uint32_t end = (b.cursor() / 4096 + 1) * 4096;
  if (b.cursor() % 4096 != 0 && end > b.cursor()) b.alloc(end - b.cursor() - 4);
}

class Alloc : public HiveTest {
 protected:
  // Root and sk first, then whatever the test places, then a full bin.
  TolHivePtr open_writable(HiveBuilder& b) {
    fill_bin(b);
    TolHivePtr hive = open(b);
    if (hive) tol_hive_make_writable(*hive);
    return hive;
  }
};

TEST_F(Alloc, CellSizesRoundUpToEightAndSplitTheFreeRest) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  const std::uint32_t gap = b.free_cell(1000 - 4);  // a free cell of 1000 bytes
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);

  EXPECT_EQ(tol_hive_alloc_cell(*hive, 1), gap);
  EXPECT_EQ(size_at(*hive, gap), -8);
  EXPECT_EQ(size_at(*hive, gap + 8), 992);
  const std::uint32_t nk = tol_hive_alloc_cell(*hive, 76 + 8);
  EXPECT_EQ(nk, gap + 8);
  EXPECT_EQ(size_at(*hive, nk), -88);
  EXPECT_EQ(size_at(*hive, nk + 88), 904);
  EXPECT_EQ(hive->alloc_hint, 0u);
  EXPECT_EQ(hive->bins_length, 4096u);
}

TEST_F(Alloc, FreeCellIsSplitOnlyWhenTheRestHoldsACell) {
  struct Case {
    std::uint32_t n;
    std::int32_t taken;
    std::int32_t rest;  // 0: no free cell split off
  };
  for (const Case c : {Case{76, -80, 16}, Case{84, -88, 8}, Case{85, -96, 0}}) {
    HiveBuilder b;
    b.tree(key("ROOT"));
    const std::uint32_t gap = b.free_cell(96 - 4);
    b.alloc(4);  // keeps the cell after the gap allocated
    TolHivePtr hive = open_writable(b);
    ASSERT_NE(hive, nullptr);
    EXPECT_EQ(tol_hive_alloc_cell(*hive, c.n), gap) << c.n;
    EXPECT_EQ(size_at(*hive, gap), c.taken) << c.n;
    if (c.rest != 0) {
      EXPECT_EQ(size_at(*hive, gap + static_cast<std::uint32_t>(-c.taken)), c.rest);
    }
    EXPECT_EQ(size_at(*hive, gap + 96), -8) << "the following cell is untouched";
  }
}

TEST_F(Alloc, OddSizedFreeCellIsTakenWhole) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  const std::uint32_t area = b.alloc(200 - 4);
  // A free cell of 100 bytes followed by an allocated one of 100.
  b.poke_u32(area, 100);
  b.poke_u32(area + 100, static_cast<std::uint32_t>(-100));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(tol_hive_alloc_cell(*hive, 85), area);
  EXPECT_EQ(size_at(*hive, area), -100);
}

TEST_F(Alloc, OnlyTheHintBinIsSearched) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  fill_bin(b);
  b.new_bin();
  const std::uint32_t later = b.free_cell(500);  // suitable, but in another bin
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  ASSERT_EQ(hive->bins_length, 8192u);

  const std::uint32_t cell = tol_hive_alloc_cell(*hive, 100);
  EXPECT_EQ(cell, 8192u + 32);
  EXPECT_EQ(hive->bins_length, 12288u);
  EXPECT_EQ(hive->base().u32(0x28), 12288u);
  EXPECT_EQ(hive->alloc_hint, 8192u);
  EXPECT_TRUE(hive->bins().sub(8192, 4).starts_with("hbin"));
  EXPECT_EQ(hive->bins().u32(8192 + 4), 8192u);
  EXPECT_EQ(hive->bins().u32(8192 + 8), 4096u);
  EXPECT_EQ(size_at(*hive, cell), -104);
  EXPECT_EQ(size_at(*hive, cell + 104), 4096 - 32 - 104);
  EXPECT_GT(size_at(*hive, later), 0) << "the free cell of the middle bin stays free";

  // The next allocation stays in the new bin.
  EXPECT_EQ(tol_hive_alloc_cell(*hive, 4), cell + 104);
  EXPECT_EQ(hive->bins_length, 12288u);
}

TEST_F(Alloc, AppendedBinSize) {
  struct Case {
    std::uint32_t n;
    std::uint32_t bin;
    std::int32_t cell;
  };
  for (const Case c :
       {Case{4060, 4096, -4064}, Case{4064, 8192, -4072}, Case{12000, 12288, -12008}}) {
    HiveBuilder b;
    b.tree(key("ROOT"));
    TolHivePtr hive = open_writable(b);
    ASSERT_NE(hive, nullptr);
    const std::uint32_t off = tol_hive_alloc_cell(*hive, c.n);
    EXPECT_EQ(off, 4096u + 32) << c.n;
    EXPECT_EQ(hive->bins_length, 4096u + c.bin) << c.n;
    EXPECT_EQ(hive->bins().u32(4096 + 8), c.bin) << c.n;
    EXPECT_EQ(size_at(*hive, off), c.cell) << c.n;
    // A new bin is zero apart from its header and cells.
    const auto data = tol_hive_cell(*hive, off);
    ASSERT_TRUE(data);
    for (const auto byte : data->span()) ASSERT_EQ(byte, 0);
  }
}

TEST_F(Alloc, DamagedHintBinIsNotSearched) {
  // Size field below 36, beyond the bins, and a cell of magnitude 4 in the walk.
  for (int damage = 0; damage < 3; ++damage) {
    HiveBuilder b;
    b.tree(key("ROOT"));
    if (damage == 2) {
      HiveBuilder::CellOptions stub;
      stub.size_field = -4;
      b.cell(Bytes(4, 0), stub);
    }
    b.free_cell(500);
    if (damage == 0) b.poke_u32(8, 20);
    if (damage == 1) b.poke_u32(8, 8192);
    TolHivePtr hive = open_writable(b);
    ASSERT_NE(hive, nullptr);
    EXPECT_EQ(tol_hive_alloc_cell(*hive, 16), 4096u + 32) << damage;
    EXPECT_EQ(hive->bins_length, 8192u) << damage;
  }
}

TEST_F(Alloc, ReusedCellsStartClean) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  const std::uint32_t old = b.cell(pattern(60, 7));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  tol_hive_free_cell(*hive, old);
  ASSERT_EQ(size_at(*hive, old), 64);
  hive->name_cache[old] = "read while free";
  ASSERT_EQ(tol_hive_alloc_cell(*hive, 60), old);
  for (const auto byte : tol_hive_cell(*hive, old)->span()) EXPECT_EQ(byte, 0);
  EXPECT_FALSE(hive->name_cache.contains(old));
}

TEST_F(Alloc, FreeCell) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("Child")}));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t child = t.key("Child");
  EXPECT_EQ(tol_hive_key_name(*hive, child), "Child");
  ASSERT_TRUE(hive->name_cache.contains(child));

  const std::int32_t before = size_at(*hive, child);
  tol_hive_free_cell(*hive, child);
  EXPECT_EQ(size_at(*hive, child), -before);
  EXPECT_FALSE(hive->name_cache.contains(child));
  const auto snapshot = hive->heap_bins;
  tol_hive_free_cell(*hive, child);
  tol_hive_free_cell(*hive, TOL_NO_CELL);
  tol_hive_free_cell(*hive, hive->bins_length - 2);
  tol_hive_free_cell(*hive, 0xFFFFFFF0u);
  EXPECT_EQ(hive->heap_bins, snapshot);
  // A freed record still reads as it was.
  EXPECT_EQ(tol_hive_key_name(*hive, child), "Child");
}

TEST_F(Alloc, StoreDataChoosesTheForm) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t length = hive->bins_length;

  auto empty = tol_hive_store_data(*hive, {});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->length, 0x80000000u);
  EXPECT_EQ(empty->offset, 0u);
  const Bytes four{0x41, 0x42, 0x43, 0x44};
  auto in = tol_hive_store_data(*hive, four);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->length, 0x80000004u);
  EXPECT_EQ(in->offset, 0x44434241u);
  const Bytes three{1, 2, 3};
  EXPECT_EQ(tol_hive_store_data(*hive, three)->offset, 0x030201u);
  EXPECT_EQ(hive->bins_length, length);

  struct Case {
    std::size_t n;
    std::vector<std::uint32_t> segments;  // empty: one cell
  };
  for (const Case& c :
       {Case{5, {}}, Case{16344, {}}, Case{16345, {16344, 1}}, Case{32689, {16344, 16344, 1}}}) {
    const Bytes data = pattern(c.n, static_cast<std::uint32_t>(c.n));
    const auto fields = tol_hive_store_data(*hive, data);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->length, c.n);
    EXPECT_EQ(tol_hive_value_data(*hive, fields->length, fields->offset), data) << c.n;
    const auto cell = tol_hive_cell(*hive, fields->offset);
    ASSERT_TRUE(cell);
    if (c.segments.empty()) {
      EXPECT_EQ(size_at(*hive, fields->offset), -static_cast<std::int32_t>((c.n + 11) & ~7u));
      continue;
    }
    EXPECT_TRUE(cell->starts_with("db"));
    EXPECT_EQ(size_at(*hive, fields->offset), -16);
    ASSERT_EQ(cell->u16(2), c.segments.size());
    const std::uint32_t list = cell->u32(4);
    EXPECT_EQ(size_at(*hive, list), -static_cast<std::int32_t>((c.segments.size() * 4 + 11) & ~7u));
    // Segment cells hold 4 bytes beyond their data, which peers rely on.
    for (std::size_t i = 0; i < c.segments.size(); ++i) {
      const std::uint32_t seg = tol_hive_cell(*hive, list)->u32(i * 4);
      EXPECT_EQ(size_at(*hive, seg), -static_cast<std::int32_t>((c.segments[i] + 4 + 11) & ~7u))
          << i;
    }
  }
}

TEST_F(Alloc, StoreDataRefusesMoreSegmentsThanTheCountHolds) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  // An untouched anonymous mapping stands in for 1 GiB of data: only its
  // length is looked at.
  const std::size_t n = std::size_t{65535} * 16344 + 1;
  void* area = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(area, MAP_FAILED);
  const auto snapshot = hive->heap_bins;
  EXPECT_FALSE(tol_hive_store_data(*hive, std::span(static_cast<const std::uint8_t*>(area), n)));
  EXPECT_EQ(hive->heap_bins, snapshot);
  munmap(area, n);
}

TEST_F(Alloc, FreeDataAndValue) {
  HiveBuilder b;
  const BuiltTree t = b.tree(
      key("ROOT", {},
          {val("small", 3, pattern(100)), val("big", 3, pattern(20000)), val("in", 4, le32(16))}));
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);

  // Inline data names no cell, whatever its bytes look like.
  const std::uint32_t victim = t.value("", "small");
  const auto snapshot = hive->heap_bins;
  tol_hive_free_data(*hive, 0x80000004u, victim);
  tol_hive_free_data(*hive, 0, victim);
  tol_hive_free_data(*hive, 100, TOL_NO_CELL);
  EXPECT_EQ(hive->heap_bins, snapshot);

  const auto vk = tol_hive_vk(*hive, t.value("", "big"));
  const std::uint32_t db = vk->u32(8);
  const std::uint32_t list = tol_hive_cell(*hive, db)->u32(4);
  const std::uint32_t seg0 = tol_hive_cell(*hive, list)->u32(0);
  const std::uint32_t seg1 = tol_hive_cell(*hive, list)->u32(4);
  tol_hive_free_value(*hive, t.value("", "big"));
  for (const std::uint32_t off : {t.value("", "big"), db, list, seg0, seg1})
    EXPECT_GT(size_at(*hive, off), 0) << off;

  const std::uint32_t data = tol_hive_vk(*hive, t.value("", "small"))->u32(8);
  tol_hive_free_value(*hive, t.value("", "small"));
  EXPECT_GT(size_at(*hive, data), 0);
  EXPECT_GT(size_at(*hive, t.value("", "small")), 0);

  // Not a vk record: nothing happens.
  const auto before = hive->heap_bins;
  tol_hive_free_value(*hive, t.root);
  EXPECT_EQ(hive->heap_bins, before);
}

TEST_F(Alloc, ListRemove) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  const std::uint32_t list = b.offsets({7, 9, 7, 11, 7, 13});
  TolHivePtr hive = open_writable(b);
  ASSERT_NE(hive, nullptr);
  auto entries = [&] {
    std::vector<std::uint32_t> e;
    for (std::uint32_t i = 0; i < 6; ++i) e.push_back(tol_hive_cell(*hive, list)->u32(i * 4));
    return e;
  };
  EXPECT_EQ(tol_hive_list_remove(*hive, list, 0, 7), 0u);
  EXPECT_EQ(tol_hive_list_remove(*hive, TOL_NO_CELL, 6, 7), 6u);
  ASSERT_EQ(tol_hive_cell(*hive, list)->size(), 28u);
  EXPECT_EQ(tol_hive_list_remove(*hive, list, 8, 7), 8u) << "cell too small for the count";
  EXPECT_EQ(entries(), (std::vector<std::uint32_t>{7, 9, 7, 11, 7, 13}));
  EXPECT_EQ(tol_hive_list_remove(*hive, list, 5, 7), 2u) << "only the first five entries count";
  EXPECT_EQ(entries(), (std::vector<std::uint32_t>{9, 11, 7, 11, 7, 13}));
}

TEST_F(Alloc, WritableAccessorsFollowTheReadBounds) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT"));
  const std::uint32_t tiny = b.cell(Bytes(8, 0));
  const std::uint32_t short_nk = b.cell(Bytes{'n', 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const std::uint32_t three = b.alloc(12);
  const std::uint32_t huge = b.alloc(12);
  const std::uint32_t minimum = b.alloc(12);
  b.set_cell_size(three, -3);
  b.set_cell_size(huge, -0x7FFFFFF0);
  b.set_cell_size(minimum, static_cast<std::int32_t>(0x80000000u));
  fill_bin(b);
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);

  EXPECT_EQ(tol_hive_bins_mut(*hive).size(), 0u);
  EXPECT_EQ(tol_hive_base_mut(*hive).size(), 0u);
  EXPECT_FALSE(tol_hive_cell_mut(*hive, t.root)) << "a mapped hive is never written";

  tol_hive_make_writable(*hive);
  EXPECT_EQ(tol_hive_bins_mut(*hive).size(), hive->bins_length);
  EXPECT_EQ(tol_hive_base_mut(*hive).size(), 4096u);
  for (const std::uint32_t off : {t.root, t.sk, tiny, short_nk, three, huge, minimum, TOL_NO_CELL,
                                  hive->bins_length - 4, hive->bins_length - 3, 0xFFFFFFF8u}) {
    const auto ro = tol_hive_cell(*hive, off);
    const auto rw = tol_hive_cell_mut(*hive, off);
    ASSERT_EQ(ro.has_value(), rw.has_value()) << off;
    if (ro) {
      EXPECT_EQ(ro->span().data(), rw->view().span().data());
      EXPECT_EQ(ro->size(), rw->size());
    }
    EXPECT_EQ(tol_hive_key(*hive, off).has_value(), tol_hive_key_mut(*hive, off).has_value())
        << off;
  }
  EXPECT_TRUE(tol_hive_key_mut(*hive, t.root));
  EXPECT_FALSE(tol_hive_key_mut(*hive, short_nk));
  EXPECT_FALSE(tol_hive_cell_mut(*hive, three));
  EXPECT_FALSE(tol_hive_cell_mut(*hive, huge));
}

// --- Names ---------------------------------------------------------------------------

TEST(NameEncode, StoredForms) {
  const auto run = tol_name_encode("Run");
  EXPECT_TRUE(run.one_byte);
  EXPECT_TRUE(run.fits);
  EXPECT_EQ(run.length, 3);
  EXPECT_EQ(run.bytes, (std::vector<std::uint8_t>{'R', 'u', 'n'}));

  const auto grosse = tol_name_encode(
      "Gr\xC3\xB6\xC3\x9F"
      "e");  // Größe
  EXPECT_FALSE(grosse.one_byte);
  EXPECT_EQ(grosse.length, 10);
  EXPECT_EQ(grosse.bytes, utf16le("Gr\xC3\xB6\xC3\x9F"
                                  "e"));

  const auto emoji = tol_name_encode("\xF0\x9F\x98\x80");
  EXPECT_EQ(emoji.bytes, (std::vector<std::uint8_t>{0x3D, 0xD8, 0x00, 0xDE}));

  for (const std::string_view bad : {std::string_view("\xC3"),
                                     std::string_view("a\xFF"
                                                      "b"),
                                     std::string_view("\xC3\xA9\0x", 4)}) {
    const auto e = tol_name_encode(bad);
    EXPECT_TRUE(e.one_byte);
    EXPECT_EQ(e.length, 0);
    EXPECT_EQ(e.bytes.size(), 1u) << "an empty name still has a buffer";
  }
  EXPECT_EQ(tol_name_encode("").bytes.size(), 1u);
}

TEST(NameEncode, LengthMustFitSixteenBits) {
  EXPECT_TRUE(tol_name_encode(std::string(65535, 'a')).fits);
  EXPECT_EQ(tol_name_encode(std::string(65535, 'a')).length, 65535);
  EXPECT_FALSE(tol_name_encode(std::string(65536, 'a')).fits);
  std::string e_acute;
  for (int i = 0; i < 32767; ++i) e_acute += "\xC3\xA9";
  EXPECT_TRUE(tol_name_encode(e_acute).fits);
  EXPECT_EQ(tol_name_encode(e_acute).length, 65534);
  EXPECT_FALSE(tol_name_encode(e_acute + "\xC3\xA9").fits);
}

TEST(NameEncode, Utf16Bytes) {
  EXPECT_EQ(tol_name_utf16_bytes("Run"), 6u);
  EXPECT_EQ(tol_name_utf16_bytes("Gr\xC3\xB6\xC3\x9F"
                                 "e"),
            10u);
  EXPECT_EQ(tol_name_utf16_bytes("\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(tol_name_utf16_bytes(""), 0u);
  EXPECT_EQ(tol_name_utf16_bytes(std::string(40000, 'x')), 80000u);
}

TEST(WindowsOrder, UpperCasesBeforeComparing) {
  auto cmp = [](std::string_view a, std::string_view b) {
    const int r = tol_name_compare_windows(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  };
  EXPECT_EQ(cmp("software", "SOFTWARE"), 0);
  EXPECT_EQ(cmp("Run", "RunOnce"), -1) << "a prefix sorts first";
  EXPECT_EQ(cmp("RunOnce", "run"), 1);
  EXPECT_EQ(cmp("", "a"), -1);
  // Upper case, not lower case: '_' (0x5F) sorts after the letters.
  EXPECT_EQ(cmp("a_", "ab"), 1);
  EXPECT_EQ(cmp("a[", "aZ"), 1);

  // Latin-1: à-þ to À-Þ, ÷ stays, ÿ to U+0178; µ and ß stay.
  EXPECT_EQ(cmp("caf\xC3\xA9", "CAF\xC3\x89"), 0);  // café / CAFÉ
  EXPECT_EQ(cmp("\xC3\xBF", "\xC5\xB8"), 0);        // ÿ / Ÿ
  EXPECT_EQ(cmp("\xC3\xBF", "\xC4\x80"), 1);        // ÿ (U+0178) after Ā (U+0100)
  EXPECT_EQ(cmp("\xC3\xB7", "\xC3\xB8"), 1);        // ÷ (F7) after ø (D8)
  EXPECT_EQ(cmp("\xC2\xB5", "\xC3\xA0"), -1);       // µ (B5) before à (C0)
  EXPECT_NE(cmp("\xC2\xB5", "\xCE\x9C"), 0);        // µ is not Greek Mu
  EXPECT_EQ(cmp("\xC3\x9F", "\xC3\xBE"), 1);        // ß (DF) after þ (DE)
  EXPECT_EQ(cmp("\xC3\x9F", "SS"), 1);

  // Other BMP units: simple mapping; surrogates compared as units.
  EXPECT_EQ(cmp("\xD0\xB6", "\xD0\x96"), 0);               // ж / Ж
  EXPECT_EQ(cmp("\xCF\x82", "\xCE\xA3"), 0);               // ς / Σ
  EXPECT_EQ(cmp("\xF0\x9F\x98\x80", "\xEF\xBD\x9A"), -1);  // 😀 (D83D..) before ｚ (FF3A)
  EXPECT_EQ(cmp("\xE6\x9D\xB1", "Z"), 1);
}

}  // namespace
}  // namespace tol::test
