// Values: counts, reading, data storage forms and lookup by name.
#include "hive_fixture.h"

namespace tol::test {
namespace {

using ReadValues = HiveTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A key with the given vk offsets in its value list, claiming `count` values.
std::uint32_t key_with_values(HiveBuilder& b, const std::vector<std::uint32_t>& vks,
                              std::optional<std::uint32_t> count = std::nullopt) {
  NkRecord r;
  r.name = encode_name("K");
  r.value_count = count.value_or(static_cast<std::uint32_t>(vks.size()));
  r.value_list = vks.empty() ? kNoCell : b.offsets(vks);
  const std::uint32_t nk = b.nk(r);
  b.set_root(nk);
  return nk;
}

std::uint32_t raw_vk(HiveBuilder& b, std::string_view name, std::uint32_t length_field,
                     std::uint32_t offset_field, std::uint32_t type = 3) {
  VkRecord r;
  r.name = encode_name(name);
  r.type = type;
  r.data_length = length_field;
  r.data_offset = offset_field;
  return b.vk(r);
}

Bytes prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

TEST_F(ReadValues, EveryStorageFormRoundTrips) {
  HiveBuilder b;
  const std::vector<ValueSpec> values{
      val("", 1, utf16le_sz("default")),
      val("dword", 4, le32(0x12345678)),
      val("three", 3, {0x41, 0x42, 0x43}),
      val("none", 3, {}),
      val("five", 3, pattern(5)),
      val("cell max", 3, pattern(16344, 2)),
      val("big min", 3, pattern(16345, 3)),
      val("big", 3, pattern(50000, 4)),
      val("Gr\xC3\xB6\xC3\x9F" "e", 1, utf16le_sz("x")),
  };
  const BuiltTree t = b.tree(key("ROOT", {}, values));
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);

  ASSERT_EQ(tol_hive_value_count(*hive, t.root), values.size());
  for (std::uint32_t i = 0; i < values.size(); ++i) {
    TolHiveValue v;
    ASSERT_TRUE(tol_hive_read_value(*hive, t.root, i, v)) << i;
    EXPECT_EQ(v.name, values[i].name);
    EXPECT_EQ(v.type, values[i].type);
    EXPECT_EQ(v.data, values[i].data) << values[i].name;
    EXPECT_EQ(v.length(), values[i].data.size());
    EXPECT_EQ(tol_hive_find_value(*hive, t.root, values[i].name), t.value("", values[i].name));
  }
  // The writer's choice of form, seen from the raw fields.
  EXPECT_EQ(tol_hive_vk(*hive, t.value("", "three"))->u32(TOL_VK_DATA_LENGTH), 0x80000003u);
  EXPECT_EQ(tol_hive_vk(*hive, t.value("", "none"))->u32(TOL_VK_DATA_LENGTH), 0x80000000u);
  const auto max_cell = tol_hive_vk(*hive, t.value("", "cell max"));
  EXPECT_FALSE(tol_hive_cell(*hive, max_cell->u32(TOL_VK_DATA_OFFSET))->starts_with("db"));
  const auto big_min = tol_hive_vk(*hive, t.value("", "big min"));
  const auto db = tol_hive_cell(*hive, big_min->u32(TOL_VK_DATA_OFFSET));
  ASSERT_TRUE(db && db->starts_with("db"));
  EXPECT_EQ(db->u16(2), 2u);
}

TEST_F(ReadValues, InlineDataIsTheFirstBytesOfTheOffsetField) {
  HiveBuilder b;
  TolHivePtr hive = open(b);
  EXPECT_EQ(tol_hive_value_data(*hive, 0x80000003u, 0x00434241u), (Bytes{0x41, 0x42, 0x43}));
  EXPECT_EQ(tol_hive_value_data(*hive, 0x80000004u, 0x44434241u), (Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(tol_hive_value_data(*hive, 0x80000007u, 0x44434241u), (Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(tol_hive_value_data(*hive, 0xFFFFFFFFu, 0x44434241u), (Bytes{0x41, 0x42, 0x43, 0x44}));
  EXPECT_EQ(tol_hive_value_data(*hive, 0x80000001u, 0xFFFFFF00u), (Bytes{0x00}));
  EXPECT_THAT(tol_hive_value_data(*hive, 0x80000000u, 0x44434241u), IsEmpty());
  // Length 0 without the inline bit: the offset is not followed.
  EXPECT_THAT(tol_hive_value_data(*hive, 0, 0x20), IsEmpty());
}

TEST_F(ReadValues, SingleCellMustHoldTheWholeLength) {
  HiveBuilder b;
  const Bytes data = pattern(40, 7);
  const std::uint32_t cell = b.data_cell(data);  // 44 data bytes after rounding
  const std::uint32_t max = b.data_cell(pattern(16344, 8));
  TolHivePtr hive = open(b);
  EXPECT_EQ(tol_hive_value_data(*hive, 40, cell), data);
  EXPECT_EQ(tol_hive_value_data(*hive, 10, cell), prefix(data, 10));
  EXPECT_EQ(tol_hive_value_data(*hive, 44, cell).size(), 44u);  // slack bytes count as the cell's
  EXPECT_THAT(tol_hive_value_data(*hive, 45, cell), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 40, TOL_NO_CELL), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 40, hive->bins_length - 2), IsEmpty());
  EXPECT_EQ(tol_hive_value_data(*hive, 16344, max), pattern(16344, 8));
}

TEST_F(ReadValues, BigDataGathersSegmentsUpToTheLength) {
  HiveBuilder b;
  const Bytes data = pattern(20000, 9);
  const std::uint32_t whole = b.big_data(data);
  const std::uint32_t seg_list = b.read_u32(whole, 4);
  const std::uint32_t first_seg = b.read_u32(seg_list, 0);
  // Same first segment, second one unreadable.
  const std::uint32_t broken_second = b.db(2, b.offsets({first_seg, TOL_NO_CELL}));
  const std::uint32_t broken_first = b.db(2, b.offsets({TOL_NO_CELL, first_seg}));
  // Segments shorter than 16344 contribute what they hold (sizes chosen so
  // that the cells have no slack).
  const std::uint32_t s1 = b.data_cell(prefix(data, 100));
  const std::uint32_t s2 = b.data_cell(Bytes(data.begin() + 100, data.begin() + 296));
  const std::uint32_t short_segs = b.db(2, b.offsets({s1, s2}));
  // A segment cell bigger than 16344 gives 16344 bytes only.
  const std::uint32_t fat = b.data_cell(pattern(17000, 10));
  const std::uint32_t fat_db = b.db(2, b.offsets({fat, fat}));
  const std::uint32_t zero_count = b.db(0, seg_list);
  const std::uint32_t list_short = b.db(3, seg_list);  // list holds 2 entries (cell of 12 bytes)
  b.set_cell_size(seg_list, -12);
  const std::uint32_t not_db = b.raw_list("dx", 2, {seg_list});
  const std::uint32_t db7 = b.cell(Bytes{'d', 'b', 2, 0, 0, 0, 0});
  b.set_cell_size(db7, -11);
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_value_data(*hive, 20000, whole), data);
  EXPECT_EQ(tol_hive_value_data(*hive, 16345, whole), prefix(data, 16345));
  EXPECT_EQ(tol_hive_value_data(*hive, 20000, broken_second), prefix(data, 16344));
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, broken_first), IsEmpty());
  EXPECT_EQ(tol_hive_value_data(*hive, 20000, short_segs), prefix(data, 296));
  const Bytes fat_data = tol_hive_value_data(*hive, 40000, fat_db);
  ASSERT_EQ(fat_data.size(), 2u * 16344);
  EXPECT_EQ(prefix(fat_data, 16344), prefix(pattern(17000, 10), 16344));
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, zero_count), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, list_short), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, not_db), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, db7), IsEmpty());
  EXPECT_THAT(tol_hive_value_data(*hive, 20000, TOL_NO_CELL), IsEmpty());
}

TEST_F(ReadValues, HugeBigDataLengthReadsWhatTheSegmentsHold) {
  HiveBuilder b;
  const Bytes data = pattern(20000, 11);
  const std::uint32_t db = b.big_data(data);
  TolHivePtr hive = open(b);
  // 2^31 - 1 bytes announced, two segments present: no 2 GiB buffer, and the
  // result is all that the two segment cells hold (the last one's slack too).
  const std::uint32_t last = tol_hive_cell(*hive, db)->u32(4);
  const std::uint32_t last_seg = tol_hive_cell(*hive, last)->u32(4);
  const std::size_t slack = tol_hive_cell(*hive, last_seg)->size() - (20000 - 16344);
  const Bytes read = tol_hive_value_data(*hive, 0x7FFFFFFFu, db);
  ASSERT_EQ(read.size(), 20000 + slack);
  EXPECT_EQ(prefix(read, 20000), data);
}

TEST_F(ReadValues, ReadValueChecksEveryStepAndLeavesOutAloneOnFailure) {
  HiveBuilder b;
  const std::uint32_t good = raw_vk(b, "good", 0x80000002u, 0x2211, 4);
  VkRecord long_name;
  long_name.name = encode_name("abcd");
  long_name.name_length = 5;  // 20 + 5 > 24 data bytes
  const std::uint32_t bad_name = b.vk(long_name);
  b.set_cell_size(bad_name, -28);
  const std::uint32_t not_vk = b.raw_list("VK", 0, {0, 0, 0, 0, 0});
  const std::uint32_t tiny_vk = b.cell(Bytes{'v', 'k', 0, 0});
  const std::uint32_t nk = key_with_values(b, {good, bad_name, not_vk, tiny_vk, TOL_NO_CELL});
  // Claims three values but its list holds one entry.
  const std::uint32_t short_list = key_with_values(b, {good}, 3);
  b.set_cell_size(b.read_u32(short_list, TOL_NK_VALUE_LIST), -8);
  TolHivePtr hive = open(b);

  TolHiveValue v;
  ASSERT_TRUE(tol_hive_read_value(*hive, nk, 0, v));
  EXPECT_EQ(v.name, "good");
  EXPECT_EQ(v.type, 4u);
  EXPECT_EQ(v.data, (Bytes{0x11, 0x22}));

  const TolHiveValue before = v;
  for (std::uint32_t i = 1; i < 6; ++i) {
    EXPECT_FALSE(tol_hive_read_value(*hive, nk, i, v)) << i;
    EXPECT_EQ(v.name, before.name);
    EXPECT_EQ(v.type, before.type);
    EXPECT_EQ(v.data, before.data);
  }
  EXPECT_FALSE(tol_hive_read_value(*hive, nk, 0xFFFFFFFFu, v));
  EXPECT_TRUE(tol_hive_read_value(*hive, short_list, 0, v));
  EXPECT_FALSE(tol_hive_read_value(*hive, short_list, 1, v));
  EXPECT_FALSE(tol_hive_read_value(*hive, good, 0, v));  // not a key

  tol_hive_value_clear(v);
  EXPECT_EQ(v.name, "");
  EXPECT_THAT(v.data, IsEmpty());
  EXPECT_EQ(v.length(), 0u);
}

TEST_F(ReadValues, ValueCountIsClampedToTheImage) {
  HiveBuilder b;
  const std::uint32_t good = raw_vk(b, "v", 0x80000000u, 0);
  const std::uint32_t nk = key_with_values(b, {good}, 0xFFFFFFFFu);
  TolHivePtr hive = open(b);
  EXPECT_EQ(tol_hive_value_count(*hive, nk), hive->bins_length / 8);
  EXPECT_EQ(tol_hive_value_count(*hive, good), 0u);
  TolHiveValue v;
  EXPECT_TRUE(tol_hive_read_value(*hive, nk, 0, v));
  EXPECT_FALSE(tol_hive_read_value(*hive, nk, 1, v));
  // The list cannot hold 2^32 - 1 entries, so lookup by name finds nothing.
  EXPECT_EQ(tol_hive_find_value(*hive, nk, "v"), TOL_NO_CELL);
}

TEST_F(ReadValues, ValueNamesDecodeLikeKeyNames) {
  HiveBuilder b;
  VkRecord latin;
  latin.name = Name{Bytes{0xE9}, true};
  latin.data_length = 0x80000000u;
  const std::uint32_t e = b.vk(latin);
  VkRecord lone;
  lone.name = Name{Bytes{0x00, 0xD8}, false};
  lone.data_length = 0x80000000u;
  const std::uint32_t q = b.vk(lone);
  const std::uint32_t nk = key_with_values(b, {e, q});
  TolHivePtr hive = open(b);
  TolHiveValue v;
  ASSERT_TRUE(tol_hive_read_value(*hive, nk, 0, v));
  EXPECT_EQ(v.name, "\xC3\xA9");
  ASSERT_TRUE(tol_hive_read_value(*hive, nk, 1, v));
  EXPECT_EQ(v.name, "?");
  EXPECT_EQ(tol_hive_find_value(*hive, nk, "\xC3\xA9"), e);
  EXPECT_EQ(tol_hive_find_value(*hive, nk, "\xC3\x89"), TOL_NO_CELL);  // É is not é
}

TEST_F(ReadValues, FindValueSkipsBrokenEntriesAndTakesTheFirstMatch) {
  HiveBuilder b;
  const std::uint32_t def = raw_vk(b, "", 0x80000000u, 0);
  const std::uint32_t first = raw_vk(b, "Path", 0x80000000u, 0);
  const std::uint32_t second = raw_vk(b, "PATH", 0x80000000u, 0);
  const std::uint32_t junk = b.alloc(24);
  const std::uint32_t nk = key_with_values(b, {junk, TOL_NO_CELL, first, second, def});
  const std::uint32_t no_values = key_with_values(b, {first}, 0);
  const std::uint32_t short_list = key_with_values(b, {first, second}, 3);
  b.set_cell_size(b.read_u32(short_list, TOL_NK_VALUE_LIST), -12);
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_find_value(*hive, nk, "path"), first);
  EXPECT_EQ(tol_hive_find_value(*hive, nk, "PATH"), first);
  EXPECT_EQ(tol_hive_find_value(*hive, nk, ""), def);
  EXPECT_EQ(tol_hive_find_value(*hive, nk, "Pat"), TOL_NO_CELL);
  EXPECT_EQ(tol_hive_find_value(*hive, no_values, "Path"), TOL_NO_CELL);
  EXPECT_EQ(tol_hive_find_value(*hive, short_list, "Path"), TOL_NO_CELL);
  EXPECT_EQ(tol_hive_find_value(*hive, TOL_NO_CELL, "Path"), TOL_NO_CELL);
}

}  // namespace
}  // namespace tol::test
