// Cell access, key names, subkey lists, lookups and key paths.
#include <algorithm>
#include <limits>

#include "hive_fixture.h"

namespace tol::test {
namespace {

using ReadKeys = HiveTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::uint32_t plain_nk(HiveBuilder& b, std::string_view name, std::uint32_t parent = kNoCell) {
  NkRecord r;
  r.name = encode_name(name);
  r.parent = parent;
  return b.nk(r);
}

// A root key whose record names `list` and says it has `count` subkeys.
std::uint32_t root_nk(HiveBuilder& b, std::uint32_t count, std::uint32_t list) {
  NkRecord r;
  r.name = encode_name("ROOT");
  r.subkey_count = count;
  r.subkey_list = list;
  const std::uint32_t off = b.nk(r);
  b.set_root(off);
  return off;
}

// nk record bytes cut to data_length (which may be too short for a key).
Bytes nk_bytes(std::string_view name, std::size_t data_length) {
  Bytes d(std::max<std::size_t>(data_length, 0x4C + name.size()), 0);
  d[0] = 'n';
  d[1] = 'k';
  d[2] = 0x20;
  d[0x48] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), d.begin() + 0x4C);
  d.resize(data_length);
  return d;
}

TEST_F(ReadKeys, CellBoundsFollowTheSizeField) {
  HiveBuilder b;
  const std::uint32_t small = b.alloc(12);
  const std::uint32_t freed = b.free_cell(12);
  const std::uint32_t four = b.alloc(12);
  const std::uint32_t three = b.alloc(12);
  const std::uint32_t zero = b.alloc(12);
  const std::uint32_t huge_neg = b.alloc(12);
  HiveBuilder::CellOptions rest;
  rest.reserve = b.bins_size() - b.cursor();
  const std::uint32_t last = b.cell(Bytes{}, rest);
  const std::uint32_t end = b.bins_size();
  b.set_cell_size(four, -4);
  b.set_cell_size(three, 3);
  b.set_cell_size(zero, 0);
  b.set_cell_size(huge_neg, std::numeric_limits<std::int32_t>::min());
  b.poke_u32(end - 4, 4);  // a 4-byte cell in the last 4 bytes

  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);
  ASSERT_EQ(hive->bins_length, end);
  auto size_of = [&](std::uint32_t off) -> std::optional<std::size_t> {
    const auto c = tol_hive_cell(*hive, off);
    if (!c) return std::nullopt;
    return c->size();
  };
  EXPECT_EQ(size_of(small), 12u);
  EXPECT_EQ(size_of(freed), 12u);  // the sign is not looked at
  EXPECT_EQ(size_of(four), 0u);
  EXPECT_EQ(size_of(three), std::nullopt);
  EXPECT_EQ(size_of(zero), std::nullopt);
  EXPECT_EQ(size_of(huge_neg), std::nullopt);
  EXPECT_EQ(size_of(last), rest.reserve - 4);
  EXPECT_EQ(size_of(end - 4), 0u);
  EXPECT_EQ(size_of(end - 3), std::nullopt);
  EXPECT_EQ(size_of(end), std::nullopt);
  EXPECT_EQ(size_of(TOL_NO_CELL), std::nullopt);
  EXPECT_EQ(size_of(0xFFFFFFF0u), std::nullopt);

  const auto data = tol_hive_cell(*hive, small);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->span().data(), hive->bins().span().data() + small + 4);
}

TEST_F(ReadKeys, CellMayEndExactlyAtTheEndOfTheBins) {
  HiveBuilder b;
  HiveBuilder::CellOptions rest;
  rest.reserve = b.bins_size() - b.cursor();
  const std::uint32_t last = b.cell(Bytes{}, rest);
  TolHivePtr exact = open(b);
  ASSERT_TRUE(tol_hive_cell(*exact, last));
  EXPECT_EQ(tol_hive_cell(*exact, last)->size(), rest.reserve - 4);

  b.set_cell_size(last, -static_cast<std::int32_t>(rest.reserve + 8));
  TolHivePtr past = open(b);
  EXPECT_FALSE(tol_hive_cell(*past, last));
}

TEST_F(ReadKeys, OverlappingCellsAreEachReadByTheirOwnSize) {
  HiveBuilder b;
  const std::uint32_t outer = b.free_cell(200);
  b.put_cell(outer + 8, -88, nk_bytes("Inner", 84));
  const std::uint32_t spill = b.alloc(12);
  const std::uint32_t next = plain_nk(b, "Next");
  b.set_cell_size(spill, -(16 + 40));  // runs 40 bytes into the next record
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_cell(*hive, outer)->size(), 204u);
  EXPECT_EQ(tol_hive_key_name(*hive, outer + 8), "Inner");
  EXPECT_EQ(tol_hive_cell(*hive, spill)->size(), 52u);
  EXPECT_EQ(tol_hive_key_name(*hive, next), "Next");
}

TEST_F(ReadKeys, KeyRecordNeedsMagnitude80AndSignature) {
  HiveBuilder b;
  const std::uint32_t k72 = b.cell(nk_bytes("A", 68));
  const std::uint32_t k80 = b.cell(nk_bytes("A", 76));
  HiveBuilder::CellOptions free;
  free.free = true;
  const std::uint32_t k80_free = b.cell(nk_bytes("A", 76), free);
  Bytes upper = nk_bytes("A", 76);
  upper[0] = 'N';
  upper[1] = 'K';
  const std::uint32_t kNK = b.cell(upper);
  TolHivePtr hive = open(b);

  EXPECT_FALSE(tol_hive_key(*hive, k72));
  EXPECT_EQ(tol_hive_key_name(*hive, k72), "?");
  ASSERT_TRUE(tol_hive_key(*hive, k80));
  EXPECT_EQ(tol_hive_key(*hive, k80)->size(), 76u);
  EXPECT_TRUE(tol_hive_key(*hive, k80_free));
  EXPECT_FALSE(tol_hive_key(*hive, kNK));
}

TEST_F(ReadKeys, NameNeedsRoomForItsLength) {
  HiveBuilder b;
  // 84 data bytes: room for 8 name bytes, not 9.
  const std::uint32_t fits = b.cell(nk_bytes("ABCDEFGH", 84));
  Bytes over = nk_bytes("ABCDEFGH", 84);
  over[0x48] = 9;
  const std::uint32_t too_long = b.cell(over);
  TolHivePtr hive = open(b);
  EXPECT_EQ(tol_hive_key_name(*hive, fits), "ABCDEFGH");
  EXPECT_EQ(tol_hive_key_name(*hive, too_long), "?");
}

TEST_F(ReadKeys, NamesDecodeLatin1AndUtf16) {
  HiveBuilder b;
  NkRecord latin;
  latin.name = Name{Bytes{'C', 'a', 'f', 0xE9}, true};
  const std::uint32_t cafe = b.nk(latin);
  NkRecord wide;
  wide.name = encode_name("Z\xC3\xBCrich");
  const std::uint32_t zurich = b.nk(wide);
  NkRecord odd;
  odd.name = Name{Bytes{'A', 0, 'B'}, false};
  const std::uint32_t odd_off = b.nk(odd);
  NkRecord lone;
  lone.name = Name{Bytes{'A', 0, 0x00, 0xDC}, false};
  const std::uint32_t lone_off = b.nk(lone);
  NkRecord flagged;  // one-byte bytes but the flag is clear: read as UTF-16
  flagged.name = Name{Bytes{'A', 'B'}, false};
  const std::uint32_t flagged_off = b.nk(flagged);
  TolHivePtr hive = open(b);

  EXPECT_EQ(wide.name.bytes.size(), 12u);
  EXPECT_EQ(tol_hive_key_name(*hive, cafe), "Caf\xC3\xA9");
  EXPECT_EQ(tol_hive_key_name(*hive, zurich), "Z\xC3\xBCrich");
  EXPECT_EQ(tol_hive_key_name(*hive, odd_off), "A");
  EXPECT_EQ(tol_hive_key_name(*hive, lone_off), "?");
  EXPECT_EQ(tol_hive_key_name(*hive, flagged_off), "\xE4\x89\x81");  // U+4241
}

TEST_F(ReadKeys, NameCacheKeepsDecodedNamesButNeverQuestionMarks) {
  HiveBuilder b;
  const std::uint32_t named = plain_nk(b, "Alpha");
  const std::uint32_t spot = b.alloc(76 + 8);
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);

  EXPECT_EQ(tol_hive_key_name(*hive, spot), "?");
  EXPECT_FALSE(hive->name_cache.contains(spot));
  EXPECT_EQ(tol_hive_key_name(*hive, named), "Alpha");
  EXPECT_EQ(hive->name_cache.at(named), "Alpha");

  // Change the image under the cache: the cached name stays, the "?" does not.
  tol_hive_make_writable(*hive);
  const Bytes fresh = nk_bytes("Beta", 76 + 8);
  std::copy(fresh.begin(), fresh.end(), hive->heap_bins.begin() + spot + 4);
  hive->heap_bins[named + 4 + TOL_NK_NAME] = 'X';
  EXPECT_EQ(tol_hive_key_name(*hive, spot), "Beta");
  EXPECT_EQ(tol_hive_key_name(*hive, named), "Alpha");
}

TEST_F(ReadKeys, EveryListKindInStoredOrder) {
  HiveBuilder b;
  KeySpec root = key("ROOT");
  for (const ListKind kind : {ListKind::li, ListKind::lf, ListKind::lh, ListKind::ri}) {
    KeySpec k = key("K" + std::to_string(static_cast<int>(kind)),
                    {key("zeta"), key("Alpha"), key("beta"), key("Gamma"), key("delta")});
    k.list = kind;
    k.keep_order = true;
    root.subkeys.push_back(k);
  }
  KeySpec sorted = key("Sorted", {key("zeta"), key("Alpha"), key("beta"), key("_x"), key("[y")});
  root.subkeys.push_back(sorted);
  const BuiltTree t = b.tree(root);
  TolHivePtr hive = open(b);

  for (int kind = 0; kind < 4; ++kind) {
    const std::string path = "K" + std::to_string(kind);
    EXPECT_THAT(subkey_names(*hive, t.key(path)), ElementsAre("zeta", "Alpha", "beta", "Gamma", "delta"))
        << path;
  }
  // The builder sorts the Windows way (upper-cased, so "zeta" comes before
  // '[' and '_'); the engine keeps that order as stored.
  EXPECT_THAT(subkey_names(*hive, t.key("Sorted")), ElementsAre("Alpha", "beta", "zeta", "[y", "_x"));
  EXPECT_THAT(subkey_names(*hive, t.key("K0\\zeta")), IsEmpty());
}

TEST_F(ReadKeys, RiOfLfAndLiYieldsAllKeysInOrder) {
  HiveBuilder b;
  const std::uint32_t a = plain_nk(b, "a");
  const std::uint32_t c = plain_nk(b, "c");
  const std::uint32_t bk = plain_nk(b, "b");
  const std::uint32_t lf = b.lf({a, c});
  const std::uint32_t li = b.li({bk});
  const std::uint32_t root = root_nk(b, 3, b.ri({lf, li}));
  TolHivePtr hive = open(b);
  EXPECT_THAT(tol_hive_subkeys(*hive, root), ElementsAre(a, c, bk));
  std::vector<std::uint32_t> out{77};
  tol_hive_collect_list(*hive, lf, out);
  EXPECT_THAT(out, ElementsAre(77u, a, c));  // appends
}

TEST_F(ReadKeys, RecordCountGatesTheListWhichGivesTheNumber) {
  HiveBuilder b;
  const std::uint32_t x = plain_nk(b, "x");
  const std::uint32_t y = plain_nk(b, "y");
  const std::uint32_t z = plain_nk(b, "z");
  const std::uint32_t list = b.li({x, y, z});
  const std::uint32_t none = root_nk(b, 0, list);
  const std::uint32_t one = root_nk(b, 1, list);
  const std::uint32_t many = root_nk(b, 0xFFFFFFFFu, list);  // clamped, not allocated
  const std::uint32_t junk = root_nk(b, 3, b.li({x, TOL_NO_CELL, 12345}));
  TolHivePtr hive = open(b);

  EXPECT_THAT(tol_hive_subkeys(*hive, none), IsEmpty());
  EXPECT_THAT(tol_hive_subkeys(*hive, one), ElementsAre(x, y, z));
  EXPECT_THAT(tol_hive_subkeys(*hive, many), ElementsAre(x, y, z));
  // Entries are handed out as stored; what they name is checked when read.
  EXPECT_THAT(tol_hive_subkeys(*hive, junk), ElementsAre(x, TOL_NO_CELL, 12345u));
  EXPECT_THAT(subkey_names(*hive, junk), ElementsAre("x", "?", "?"));
  EXPECT_THAT(tol_hive_subkeys(*hive, x), IsEmpty());
  EXPECT_THAT(tol_hive_subkeys(*hive, TOL_NO_CELL), IsEmpty());
}

TEST_F(ReadKeys, ListIsReadOnlyWhenItsCellHoldsEveryEntry) {
  HiveBuilder b;
  const std::uint32_t x = plain_nk(b, "x");
  const std::uint32_t y = plain_nk(b, "y");
  // lf of count 3 in a cell with 24 data bytes: 4 + 3 * 8 does not fit.
  const std::uint32_t lf_short = b.raw_list("lf", 3, {x, 0, y, 0, x});
  b.set_cell_size(lf_short, -28);
  const std::uint32_t lf_ok = b.raw_list("lf", 2, {x, 0, y, 0});
  const std::uint32_t lh_short = b.raw_list("lh", 2, {x, 0, y});
  b.set_cell_size(lh_short, -20);  // 16 data bytes for 20 needed
  const std::uint32_t li_short = b.raw_list("li", 3, {x, y});
  const std::uint32_t li_zero = b.raw_list("li", 0, {x, y});
  const std::uint32_t unknown_l = b.raw_list("lk", 1, {x});
  const std::uint32_t unknown = b.raw_list("xy", 1, {x});
  const std::uint32_t ri_short = b.raw_list("ri", 2, {lf_ok});
  b.set_cell_size(ri_short, -12);  // 8 data bytes for 12 needed
  const std::uint32_t tiny = b.cell(Bytes{'l', 'i', 1});
  b.set_cell_size(tiny, -7);

  TolHivePtr hive = open(b);
  auto collect = [&](std::uint32_t list) {
    std::vector<std::uint32_t> out;
    tol_hive_collect_list(*hive, list, out);
    return out;
  };
  ASSERT_EQ(tol_hive_cell(*hive, lf_short)->size(), 24u);
  EXPECT_THAT(collect(lf_short), IsEmpty());
  EXPECT_THAT(collect(lf_ok), ElementsAre(x, y));
  EXPECT_THAT(collect(lh_short), IsEmpty());
  EXPECT_THAT(collect(li_short), IsEmpty());
  EXPECT_THAT(collect(li_zero), IsEmpty());
  EXPECT_THAT(collect(unknown_l), IsEmpty());
  EXPECT_THAT(collect(unknown), IsEmpty());
  EXPECT_THAT(collect(ri_short), IsEmpty());
  EXPECT_THAT(collect(tiny), IsEmpty());
  EXPECT_THAT(collect(TOL_NO_CELL), IsEmpty());
}

TEST_F(ReadKeys, NestedRiIsFollowedToABoundedDepth) {
  HiveBuilder b;
  const std::uint32_t leaf_key = plain_nk(b, "leaf");
  std::uint32_t list = b.li({leaf_key});
  std::vector<std::uint32_t> levels{list};  // levels[n]: n ri lists above the li
  for (int i = 0; i < TOL_MAX_LIST_NESTING + 1; ++i) levels.push_back(list = b.ri({list}));
  const std::uint32_t deepest_read = root_nk(b, 1, levels[TOL_MAX_LIST_NESTING]);
  const std::uint32_t too_deep = root_nk(b, 1, levels[TOL_MAX_LIST_NESTING + 1]);
  TolHivePtr hive = open(b);

  EXPECT_THAT(tol_hive_subkeys(*hive, deepest_read), ElementsAre(leaf_key));
  EXPECT_EQ(tol_hive_find_subkey(*hive, deepest_read, "LEAF"), leaf_key);
  EXPECT_THAT(tol_hive_subkeys(*hive, too_deep), IsEmpty());
  EXPECT_EQ(tol_hive_find_subkey(*hive, too_deep, "leaf"), std::nullopt);
}

TEST_F(ReadKeys, ListsNamingEachOtherEndAndStayBounded) {
  HiveBuilder b;
  const std::uint32_t k = plain_nk(b, "k");
  const std::uint32_t li = b.li({k});
  // An ri whose first entry names the li and the 1999 others name itself: a
  // walk that only bounded the depth would visit 2000^4 lists.
  const std::uint32_t self = b.alloc(4 + 2000 * 4);
  b.patch_bytes(self, 0, bytes_of("ri"));
  b.patch_u16(self, 2, 2000);
  for (std::uint32_t i = 0; i < 2000; ++i) b.patch_u32(self, 4 + i * 4, i == 0 ? li : self);
  const std::uint32_t root = root_nk(b, 5, self);
  // Two ri lists naming each other with no leaf at all.
  const std::uint32_t r1 = b.alloc(8);
  const std::uint32_t r2 = b.raw_list("ri", 1, {r1});
  b.patch_bytes(r1, 0, bytes_of("ri"));
  b.patch_u16(r1, 2, 1);
  b.patch_u32(r1, 4, r2);
  const std::uint32_t loop = root_nk(b, 1, r1);
  TolHivePtr hive = open(b);

  const auto keys = tol_hive_subkeys(*hive, root);
  EXPECT_FALSE(keys.empty());
  EXPECT_LE(keys.size(), hive->bins_length / 4);
  for (const auto off : keys) EXPECT_EQ(off, k);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "k"), k);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "missing"), std::nullopt);
  EXPECT_THAT(tol_hive_subkeys(*hive, loop), IsEmpty());
  EXPECT_EQ(tol_hive_find_subkey(*hive, loop, "k"), std::nullopt);
}

TEST_F(ReadKeys, FindSubkeyFoldsAsciiOnlyAndTakesTheFirstMatch) {
  HiveBuilder b;
  const std::uint32_t soft = plain_nk(b, "Software");
  const std::uint32_t apfel = plain_nk(b, "\xC3\x84pfel");
  const std::uint32_t first = plain_nk(b, "Twin");
  const std::uint32_t second = plain_nk(b, "twin");
  const std::uint32_t lf = b.lf({soft, apfel});
  const std::uint32_t li = b.li({first});
  const std::uint32_t lh = b.lh({second});
  const std::uint32_t root = root_nk(b, 4, b.ri({lf, li, lh}));
  // The record's count is not consulted, the list's own count is.
  const std::uint32_t zero_count = root_nk(b, 0, lf);
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "software"), soft);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "SOFTWARE"), soft);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "Softwar"), std::nullopt);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "\xC3\x84PFEL"), apfel);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "\xC3\xA4pfel"), std::nullopt);
  EXPECT_EQ(tol_hive_find_subkey(*hive, root, "TWIN"), first);
  EXPECT_EQ(tol_hive_find_subkey(*hive, zero_count, "software"), soft);
  EXPECT_THAT(tol_hive_subkeys(*hive, zero_count), IsEmpty());
  EXPECT_EQ(tol_hive_find_subkey(*hive, soft, "x"), std::nullopt);
  EXPECT_EQ(tol_hive_find_subkey(*hive, TOL_NO_CELL, "software"), std::nullopt);
}

TEST_F(ReadKeys, KeyPathAndFindPathRoundTrip) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("Software", {key("Vendor", {key("App")})}), key("System")}));
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_key_path(*hive, t.root), "");
  EXPECT_EQ(tol_hive_key_path(*hive, t.key("Software")), "Software");
  EXPECT_EQ(tol_hive_key_path(*hive, t.key("Software\\Vendor\\App")), "Software\\Vendor\\App");
  for (const auto& [path, off] : t.keys) EXPECT_EQ(tol_hive_find_path(*hive, path), off) << path;

  EXPECT_EQ(tol_hive_find_path(*hive, ""), t.root);
  EXPECT_EQ(tol_hive_find_path(*hive, "\\"), t.root);
  EXPECT_EQ(tol_hive_find_path(*hive, "\\software\\\\VENDOR\\"), t.key("Software\\Vendor"));
  EXPECT_EQ(tol_hive_find_path(*hive, "Software\\Missing"), std::nullopt);
  EXPECT_EQ(tol_hive_find_path(*hive, "Software\\Vendor\\App\\Deeper"), std::nullopt);
  EXPECT_EQ(tol_hive_key_path(*hive, TOL_NO_CELL), "");
}

TEST_F(ReadKeys, KeyPathKeepsThe256NamesNearestTheKey) {
  HiveBuilder b;
  KeySpec root = key("ROOT");
  KeySpec* at = &root;
  for (int i = 1; i <= 300; ++i) {
    at->subkeys.push_back(key("k" + std::to_string(i)));
    at = &at->subkeys.back();
  }
  const BuiltTree t = b.tree(root);
  std::string deepest;
  for (const auto& [path, off] : t.keys)
    if (path.size() > deepest.size()) deepest = path;
  TolHivePtr hive = open(b);

  const std::string path = tol_hive_key_path(*hive, t.key(deepest));
  std::string expected;
  for (int i = 45; i <= 300; ++i) expected += (i == 45 ? "k" : "\\k") + std::to_string(i);
  EXPECT_EQ(path, expected);
  // 255 levels: the whole path fits.
  std::string at255 = deepest.substr(0, deepest.find("\\k256"));
  EXPECT_EQ(tol_hive_key_path(*hive, t.key(at255)), at255);
  EXPECT_EQ(tol_hive_find_path(*hive, deepest), t.key(deepest));
}

TEST_F(ReadKeys, KeyPathStopsAtBrokenOrLoopingParents) {
  HiveBuilder b;
  const std::uint32_t orphan = plain_nk(b, "Orphan", 0x00ABCDEF);
  const std::uint32_t a = plain_nk(b, "A");
  const std::uint32_t bb = plain_nk(b, "B", a);
  b.patch_u32(a, TOL_NK_PARENT, bb);
  const std::uint32_t child = plain_nk(b, "C", orphan);
  root_nk(b, 0, kNoCell);
  TolHivePtr hive = open(b);

  EXPECT_EQ(tol_hive_key_path(*hive, orphan), "Orphan");
  EXPECT_EQ(tol_hive_key_path(*hive, child), "Orphan\\C");
  const std::string loop = tol_hive_key_path(*hive, a);
  EXPECT_EQ(std::count(loop.begin(), loop.end(), '\\'), 255);
  EXPECT_EQ(loop.substr(loop.size() - 3), "B\\A");
}

}  // namespace
}  // namespace tol::test
