// Creating, deleting and renaming keys: list layout and Windows order,
// largest-length fields, security reference counts, damaged structures, and
// edited hives read back by the engine and by the peer tools.
#include <algorithm>
#include <set>
#include <sstream>

#include "hive/check.h"
#include "hive/edit.h"
#include "hive/format.h"
#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::int32_t size_at(const TolHive& hive, std::uint32_t off) {
  return static_cast<std::int32_t>(hive.bins().u32(off));
}
bool is_free(const TolHive& hive, std::uint32_t off) { return size_at(hive, off) > 0; }

// Points the allocator past the image, so that the next allocation appends a
// bin and the cells an operation frees are not reused before the test looks.
void keep_freed_cells(TolHive& hive) {
  tol_hive_make_writable(hive);
  hive.alloc_hint = hive.bins_length;
}

std::uint32_t field(const TolHive& hive, std::uint32_t cell, std::uint32_t off) {
  return tol_hive_cell(hive, cell)->u32(off);
}
std::uint32_t list_of(const TolHive& hive, std::uint32_t nk) {
  return field(hive, nk, TOL_NK_SUBKEY_LIST);
}
std::uint32_t refcount(const TolHive& hive, std::uint32_t sk) {
  return field(hive, sk, TOL_SK_REFCOUNT);
}

// The list cell exactly as written: an "li" list whose count matches the key.
std::vector<std::uint32_t> li_entries(const TolHive& hive, std::uint32_t nk) {
  const auto list = tol_hive_cell(hive, list_of(hive, nk));
  EXPECT_TRUE(list && list->starts_with("li"));
  if (!list || !list->starts_with("li")) return {};
  EXPECT_EQ(list->u16(2), field(hive, nk, TOL_NK_SUBKEY_COUNT));
  std::vector<std::uint32_t> entries;
  for (std::uint32_t i = 0; i < list->u16(2); ++i) entries.push_back(list->u32(4 + i * 4));
  return entries;
}

class EditKeys : public HiveTest {
 protected:
  // Lays out the tree; the test may still patch the builder before opening.
  void build(const KeySpec& root) { tree_ = builder_.tree(root); }
  TolHivePtr open_tree(const KeySpec& root) {
    build(root);
    return open(builder_);
  }

  // The image laid out as a save writes it: base block with a fresh checksum,
  // then the bins in use.
  std::string write_image(const TolHive& hive) {
    Bytes image(hive.base_copy.begin(), hive.base_copy.end());
    const std::uint32_t sum = tol_hive_checksum(ByteView(image));
    for (int i = 0; i < 4; ++i) image[0x1FC + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    image.insert(image.end(), hive.heap_bins.begin(), hive.heap_bins.begin() + hive.bins_length);
    return write(image);
  }

  HiveBuilder builder_;
  BuiltTree tree_;
};

// --- Create ------------------------------------------------------------------------

TEST_F(EditKeys, CreateGrowsASortedLiListInPlaceThenDoubles) {
  TolHivePtr hive = open_tree(key("ROOT", {key("P")}));
  ASSERT_NE(hive, nullptr);
  const std::uint32_t p = tree_.key("P");

  // First list: room for four; the fifth key moves to room for ten (44 data
  // bytes); the eleventh to room for 22 (92 data bytes).
  std::vector<std::uint32_t> lists;
  for (const char* name : {"d", "b", "e", "a", "c", "j", "f", "h", "g", "i", "k"}) {
    ASSERT_TRUE(tol_hive_create_key(*hive, p, name)) << name;
    const std::uint32_t list = list_of(*hive, p);
    const std::size_t n = lists.size() + 1;
    if (n == 1 || n == 5 || n == 11) {
      EXPECT_EQ(size_at(*hive, list), n == 1 ? -24 : (n == 5 ? -48 : -96)) << n;
      if (n > 1) {
        EXPECT_TRUE(is_free(*hive, lists.back())) << n;
      }
    } else {
      EXPECT_EQ(list, lists.back()) << n;
    }
    lists.push_back(list);
  }
  EXPECT_TRUE(hive->writable);
  EXPECT_TRUE(hive->dirty);

  EXPECT_EQ(li_entries(*hive, p).size(), 11u);
  EXPECT_THAT(subkey_names(*hive, p),
              ElementsAre("a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"));
  for (const auto nk : tol_hive_subkeys(*hive, p)) EXPECT_EQ(field(*hive, nk, TOL_NK_PARENT), p);
}

TEST_F(EditKeys, NewKeyRecord) {
  TolHivePtr hive = open_tree(key("ROOT", {key("P")}));
  ASSERT_NE(hive, nullptr);
  const std::uint32_t p = tree_.key("P");
  const gint64 before = g_get_real_time() * 10 + 116444736000000000;
  const auto ascii = tol_hive_create_key(*hive, p, "Software");
  const auto wide = tol_hive_create_key(*hive, p, "Z\xC3\xBCrich");
  ASSERT_TRUE(ascii && wide);

  const auto nk = tol_hive_key(*hive, *ascii);
  EXPECT_EQ(size_at(*hive, *ascii), -88);
  EXPECT_EQ(nk->u16(TOL_NK_FLAGS), 0x0020);
  EXPECT_GE(static_cast<gint64>(nk->u64(TOL_NK_TIMESTAMP)), before);
  EXPECT_EQ(nk->u32(TOL_NK_PARENT), p);
  for (const std::uint32_t off : {0x0Cu, 0x14u, 0x18u, 0x24u, 0x34u, 0x38u, 0x3Cu, 0x40u, 0x44u})
    EXPECT_EQ(nk->u32(off), 0u) << off;
  for (const std::uint32_t off : {0x1Cu, 0x20u, 0x28u, 0x30u})
    EXPECT_EQ(nk->u32(off), TOL_NO_CELL) << off;
  EXPECT_EQ(nk->u16(TOL_NK_NAME_LENGTH), 8);
  EXPECT_EQ(nk->u16(0x4A), 0);
  EXPECT_EQ(tol_hive_key_name(*hive, *ascii), "Software");

  const auto w = tol_hive_key(*hive, *wide);
  EXPECT_EQ(w->u16(TOL_NK_FLAGS), 0);
  EXPECT_EQ(w->u16(TOL_NK_NAME_LENGTH), 12);
  EXPECT_EQ(tol_hive_key_name(*hive, *wide), "Z\xC3\xBCrich");
}

TEST_F(EditKeys, CreateFindsTheExistingKeyAndWritesNothing) {
  TolHivePtr hive = open_tree(key("ROOT", {key("Run"), key("Caf\xC3\xA9")}));
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(tol_hive_create_key(*hive, tree_.root, "run"), tree_.key("Run"));
  // Windows would take CAFÉ for Café (its case rule covers Latin-1); the
  // ASCII rule of the lookup does not, so a second key would be a duplicate.
  EXPECT_FALSE(tol_hive_create_key(*hive, tree_.root, "CAF\xC3\x89"));
  EXPECT_FALSE(hive->writable);

  EXPECT_FALSE(tol_hive_create_key(*hive, TOL_NO_CELL, "x"));
  EXPECT_FALSE(tol_hive_create_key(*hive, tree_.sk, "x"));
  EXPECT_FALSE(tol_hive_create_key(*hive, tree_.root, std::string(65536, 'x')));
  EXPECT_FALSE(hive->writable);
}

TEST_F(EditKeys, CreateReplacesHashedAndIndexListsBySortedLi) {
  KeySpec lf = key("Lf", {key("zeta"), key("Alpha"), key("beta")});
  KeySpec lh = key("Lh", {key("one"), key("two"), key("three"), key("four"), key("five")});
  lh.list = ListKind::lh;
  KeySpec ri = key("Ri", {key("k1"), key("k2"), key("k3"), key("k4"), key("k5"), key("k6")});
  ri.list = ListKind::ri;
  ri.ri_parts = {{ListKind::lf, 2}, {ListKind::li, 1}, {ListKind::lh, 3}};
  TolHivePtr hive = open_tree(key("ROOT", {lf, lh, ri}));
  ASSERT_NE(hive, nullptr);
  std::vector<std::uint32_t> ri_leaves;
  for (std::uint32_t i = 0; i < 3; ++i)
    ri_leaves.push_back(tol_hive_cell(*hive, tree_.lists.at("Ri"))->u32(4 + i * 4));

  ASSERT_TRUE(tol_hive_create_key(*hive, tree_.key("Lf"), "Gamma"));
  ASSERT_TRUE(tol_hive_create_key(*hive, tree_.key("Lh"), "six"));
  ASSERT_TRUE(tol_hive_create_key(*hive, tree_.key("Ri"), "k35"));

  EXPECT_EQ(li_entries(*hive, tree_.key("Lf")).size(), 4u);
  EXPECT_EQ(size_at(*hive, list_of(*hive, tree_.key("Lf"))), -24) << "m = 3: room for four";
  EXPECT_THAT(subkey_names(*hive, tree_.key("Lf")), ElementsAre("Alpha", "beta", "Gamma", "zeta"));
  EXPECT_EQ(size_at(*hive, list_of(*hive, tree_.key("Lh"))), -(4 + 6 * 8 + 4))
      << "m = 5: room for 12";
  EXPECT_THAT(subkey_names(*hive, tree_.key("Lh")),
              ElementsAre("five", "four", "one", "six", "three", "two"));
  EXPECT_EQ(li_entries(*hive, tree_.key("Ri")).size(), 7u);
  EXPECT_THAT(subkey_names(*hive, tree_.key("Ri")),
              ElementsAre("k1", "k2", "k3", "k35", "k4", "k5", "k6"));

  for (const char* path : {"Lf", "Lh", "Ri"})
    EXPECT_TRUE(is_free(*hive, tree_.lists.at(path))) << path;
  for (const auto leaf : ri_leaves) EXPECT_TRUE(is_free(*hive, leaf));
}

TEST_F(EditKeys, CreateInsertsInPlaceOnlyIntoASortedList) {
  build(
      key("ROOT", {key("P", {key("zeta"), key("alpha")}), key("Q", {key("zeta"), key("alpha")})}));
  // Both keys get an "li" list with room for three more entries; P's is sorted,
  // Q's is not.
  const std::uint32_t p_list =
      builder_.raw_list("li", 2, {tree_.key("P\\alpha"), tree_.key("P\\zeta"), 0, 0, 0});
  const std::uint32_t q_list =
      builder_.raw_list("li", 2, {tree_.key("Q\\zeta"), tree_.key("Q\\alpha"), 0, 0, 0});
  builder_.patch_u32(tree_.key("P"), TOL_NK_SUBKEY_LIST, p_list);
  builder_.patch_u32(tree_.key("Q"), TOL_NK_SUBKEY_LIST, q_list);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);

  ASSERT_TRUE(tol_hive_create_key(*hive, tree_.key("P"), "mid"));
  EXPECT_EQ(list_of(*hive, tree_.key("P")), p_list);
  EXPECT_THAT(subkey_names(*hive, tree_.key("P")), ElementsAre("alpha", "mid", "zeta"));

  ASSERT_TRUE(tol_hive_create_key(*hive, tree_.key("Q"), "mid"));
  EXPECT_NE(list_of(*hive, tree_.key("Q")), q_list);
  EXPECT_THAT(subkey_names(*hive, tree_.key("Q")), ElementsAre("alpha", "mid", "zeta"));
}

TEST_F(EditKeys, ListsNeverExceedSixteenBitCounts) {
  build(key("ROOT", {key("Full", {key("k")}), key("Big", {key("A"), key("X")})}));
  // 65535 entries already: one more does not fit the count.
  const std::uint32_t full =
      builder_.raw_list("li", 0xFFFF, std::vector<std::uint32_t>(0xFFFF, tree_.key("Full\\k")));
  builder_.patch_u32(tree_.key("Full"), TOL_NK_SUBKEY_LIST, full);
  builder_.patch_u32(tree_.key("Full"), TOL_NK_SUBKEY_COUNT, 0xFFFF);
  // An "ri" holding 70000 entries cannot become one flat list.
  std::vector<std::uint32_t> first(40000, tree_.key("Big\\X"));
  first[0] = tree_.key("Big\\A");
  const std::uint32_t big = builder_.ri(
      {builder_.li(first), builder_.li(std::vector<std::uint32_t>(30000, tree_.key("Big\\X")))});
  builder_.patch_u32(tree_.key("Big"), TOL_NK_SUBKEY_LIST, big);
  builder_.patch_u32(tree_.key("Big"), TOL_NK_SUBKEY_COUNT, 70000);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);

  EXPECT_FALSE(tol_hive_create_key(*hive, tree_.key("Full"), "new"));
  EXPECT_FALSE(tol_hive_delete_key(*hive, tree_.key("Big\\A")));
  EXPECT_FALSE(tol_hive_rename_key(*hive, tree_.key("Big\\A"), "B"));
  EXPECT_FALSE(hive->writable) << "a refused operation changes nothing";

  // X is listed 69999 times: a key with that many owners is not freed.
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_hive_delete_key(*hive, tree_.key("Big\\X"), &error));
  EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED));
}

// --- Largest-length fields ------------------------------------------------------

TEST_F(EditKeys, LargestSubkeyNameLengthOnlyGrows) {
  build(key("ROOT", {key("P", {key("ab")})}));
  builder_.patch_u32(tree_.key("P"), 0x34, 0xABCD0004u);  // upper bits are not the length
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t p = tree_.key("P");
  auto largest = [&] { return field(*hive, p, TOL_NK_MAX_SUBKEY_NAME); };

  const auto longer = tol_hive_create_key(*hive, p, "LongerName");  // 10 characters, 20 bytes
  ASSERT_TRUE(longer);
  EXPECT_EQ(largest(), 0xABCD0014u);
  ASSERT_TRUE(tol_hive_create_key(*hive, p, "Z\xC3\xBCrich"));  // UTF-16: 12 bytes
  EXPECT_EQ(largest(), 0xABCD0014u);
  ASSERT_TRUE(tol_hive_create_key(*hive, p,
                                  "\xE6\x9D\xB1\xE4\xBA\xAC\xE9\x83\xBD\xE5\xBA\x81"
                                  "\xE5\xA4\xA7\xE5\xAD\xA6\xE5\x9B\xB3\xE6\x9B\xB8"
                                  "\xE9\xA4\xA8\xE5\x88\xA5\xE9\xA4\xA8\xE6\x9D\xB1"));
  EXPECT_EQ(largest(), 0xABCD0018u) << "12 UTF-16 units";
  ASSERT_TRUE(tol_hive_delete_key(*hive, *longer));
  EXPECT_EQ(largest(), 0xABCD0018u) << "never lowered";
  const auto renamed = tol_hive_rename_key(*hive, tree_.key("P\\ab"), "abcdefghijklmnop");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(largest(), 0xABCD0020u);
}

TEST_F(EditKeys, RenamedKeyKeepsItsOwnFields) {
  build(key("ROOT", {key("Old", {key("c1"), key("c2")},
                         {val("value", 3, pattern(30)), val("dw", 4, le32(5))})}));
  const std::uint32_t cls = builder_.cell(utf16le("cls"));
  const std::uint32_t old = tree_.key("Old");
  builder_.patch_u32(old, TOL_NK_CLASS, cls);
  builder_.patch_u16(old, 0x4A, 6);
  builder_.patch_u32(old, 0x38, 6);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  const Bytes before(tol_hive_key(*hive, old)->span().begin(),
                     tol_hive_key(*hive, old)->span().end());
  const std::uint32_t refs = refcount(*hive, tree_.sk);

  keep_freed_cells(*hive);
  const auto nk = tol_hive_rename_key(*hive, old, "New");
  ASSERT_TRUE(nk);
  EXPECT_NE(*nk, old);
  EXPECT_TRUE(is_free(*hive, old));
  EXPECT_TRUE(hive->dirty);
  const auto rec = tol_hive_key(*hive, *nk);
  for (std::uint32_t off = 0x10; off < 0x44; off += 4)
    EXPECT_EQ(rec->u32(off), ByteView(before).u32(off)) << "field " << off;
  EXPECT_EQ(rec->u16(0x4A), 6);
  EXPECT_EQ(refcount(*hive, tree_.sk), refs) << "the new record takes over the reference";
  EXPECT_EQ(tol_hive_find_path(*hive, "New"), *nk);
  EXPECT_FALSE(tol_hive_find_path(*hive, "Old"));
  EXPECT_THAT(subkey_names(*hive, *nk), ElementsAre("c1", "c2"));
  for (const auto sub : tol_hive_subkeys(*hive, *nk))
    EXPECT_EQ(field(*hive, sub, TOL_NK_PARENT), *nk);
  EXPECT_EQ(tol_hive_value_count(*hive, *nk), 2u);
  EXPECT_EQ(tol_hive_key_path(*hive, tol_hive_subkeys(*hive, *nk)[0]), "New\\c1");
}

// --- Rename ------------------------------------------------------------------------

TEST_F(EditKeys, RenameMovesTheKeyToItsSortedPlace) {
  TolHivePtr hive = open_tree(key("ROOT", {key("P", {key("a"), key("b"), key("c"), key("d")})}));
  ASSERT_NE(hive, nullptr);
  const std::uint32_t p = tree_.key("P");
  const std::uint32_t old_list = list_of(*hive, p);
  keep_freed_cells(*hive);
  ASSERT_TRUE(tol_hive_rename_key(*hive, tree_.key("P\\a"), "z"));
  EXPECT_THAT(subkey_names(*hive, p), ElementsAre("b", "c", "d", "z"));
  EXPECT_EQ(li_entries(*hive, p).size(), 4u);
  EXPECT_EQ(size_at(*hive, list_of(*hive, p)), -24);
  EXPECT_TRUE(is_free(*hive, old_list));
  ASSERT_TRUE(tol_hive_rename_key(*hive, tree_.key("P\\c"), "_c"));
  EXPECT_THAT(subkey_names(*hive, p), ElementsAre("b", "d", "z", "_c"));
}

TEST_F(EditKeys, CaseOnlyRenameAppliesTheNewSpelling) {
  TolHivePtr hive =
      open_tree(key("ROOT", {key("Foo", {key("sub")}), key("Bar"), key("Caf\xC3\xA9")}));
  ASSERT_NE(hive, nullptr);
  const auto upper = tol_hive_rename_key(*hive, tree_.key("Foo"), "FOO");
  ASSERT_TRUE(upper);
  EXPECT_NE(*upper, tree_.key("Foo"));
  EXPECT_EQ(tol_hive_key_name(*hive, *upper), "FOO");
  EXPECT_THAT(subkey_names(*hive, tree_.root), ElementsAre("Bar", "Caf\xC3\xA9", "FOO"));
  EXPECT_EQ(tol_hive_key_path(*hive, tol_hive_subkeys(*hive, *upper)[0]), "FOO\\sub");

  // The same spelling again: nothing to write.
  const auto snapshot = hive->heap_bins;
  EXPECT_EQ(tol_hive_rename_key(*hive, *upper, "FOO"), *upper);
  EXPECT_EQ(hive->heap_bins, snapshot);

  // Non-ASCII case change of the key itself is no collision either.
  const auto cafe = tol_hive_rename_key(*hive, tree_.key("Caf\xC3\xA9"), "CAF\xC3\x89");
  ASSERT_TRUE(cafe);
  EXPECT_EQ(tol_hive_key_name(*hive, *cafe), "CAF\xC3\x89");
}

TEST_F(EditKeys, RenameRefusesSiblingNames) {
  TolHivePtr hive = open_tree(key("ROOT", {key("Foo"), key("bar"), key("Caf\xC3\xA9")}));
  ASSERT_NE(hive, nullptr);
  const std::uint32_t foo = tree_.key("Foo");
  EXPECT_FALSE(tol_hive_rename_key(*hive, foo, "Bar"));
  EXPECT_FALSE(tol_hive_rename_key(*hive, foo, "BAR"));
  EXPECT_FALSE(tol_hive_rename_key(*hive, foo, "CAF\xC3\x89")) << "Windows takes it for Café";
  EXPECT_FALSE(tol_hive_rename_key(*hive, tree_.root, "x"));
  EXPECT_FALSE(tol_hive_rename_key(*hive, TOL_NO_CELL, "x"));
  EXPECT_FALSE(tol_hive_rename_key(*hive, tree_.sk, "x"));
  EXPECT_FALSE(tol_hive_rename_key(*hive, foo, std::string(65536, 'x')));
  EXPECT_FALSE(hive->writable);
}

// --- Security ------------------------------------------------------------------------

TEST_F(EditKeys, NewKeysShareTheRootDescriptor) {
  build(key("ROOT", {key("P")}));
  // P has a descriptor of its own; new keys still take the root's.
  const std::uint32_t own = builder_.sk(default_security_descriptor(), 1);
  builder_.patch_u32(tree_.key("P"), TOL_NK_SECURITY, own);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t refs = refcount(*hive, tree_.sk);
  const auto nk = tol_hive_create_key(*hive, tree_.key("P"), "child");
  ASSERT_TRUE(nk);
  EXPECT_EQ(field(*hive, *nk, TOL_NK_SECURITY), tree_.sk);
  EXPECT_EQ(refcount(*hive, tree_.sk), refs + 1);
  EXPECT_EQ(refcount(*hive, own), 1u);
}

TEST_F(EditKeys, RootWithoutDescriptorGivesNone) {
  build(key("ROOT"));
  builder_.patch_u32(tree_.root, TOL_NK_SECURITY, TOL_NO_CELL);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t refs = refcount(*hive, tree_.sk);
  const auto nk = tol_hive_create_key(*hive, tree_.root, "child");
  ASSERT_TRUE(nk);
  EXPECT_EQ(field(*hive, *nk, TOL_NK_SECURITY), TOL_NO_CELL);
  EXPECT_EQ(refcount(*hive, tree_.sk), refs);
}

// --- Delete --------------------------------------------------------------------------

TEST_F(EditKeys, DeleteReleasesTheSubtree) {
  KeySpec a = key("A", {key("A1", {key("A1a")}, {val("big", 3, pattern(20000))}), key("A2")},
                  {val("v", 1, utf16le_sz("text")), val("n", 4, le32(1))});
  TolHivePtr hive = open_tree(key("ROOT", {key("P", {a, key("B")})}));
  ASSERT_NE(hive, nullptr);
  const std::uint32_t refs = refcount(*hive, tree_.sk);
  std::vector<std::uint32_t> cells;
  for (const char* path : {"P\\A", "P\\A\\A1", "P\\A\\A1\\A1a", "P\\A\\A2"})
    cells.push_back(tree_.key(path));
  for (const auto& [name, off] : tree_.values)
    if (name.rfind("P\\A", 0) == 0) cells.push_back(off);
  const auto big = tol_hive_vk(*hive, tree_.value("P\\A\\A1", "big"));
  const std::uint32_t db = big->u32(8);
  cells.push_back(db);
  cells.push_back(tol_hive_cell(*hive, db)->u32(4));
  cells.push_back(tol_hive_vk(*hive, tree_.value("P\\A", "v"))->u32(8));
  cells.push_back(field(*hive, tree_.key("P\\A"), TOL_NK_VALUE_LIST));
  cells.push_back(tree_.lists.at("P\\A"));
  const std::uint32_t old_list = tree_.lists.at("P");

  keep_freed_cells(*hive);
  ASSERT_TRUE(tol_hive_delete_key(*hive, tree_.key("P\\A")));
  EXPECT_TRUE(hive->dirty);
  for (const auto off : cells) EXPECT_TRUE(is_free(*hive, off)) << off;
  EXPECT_EQ(refcount(*hive, tree_.sk), refs - 4);
  EXPECT_TRUE(is_free(*hive, old_list));
  EXPECT_EQ(li_entries(*hive, tree_.key("P")), std::vector<std::uint32_t>{tree_.key("P\\B")});
  EXPECT_FALSE(is_free(*hive, tree_.key("P\\B")));

  ASSERT_TRUE(tol_hive_delete_key(*hive, tree_.key("P\\B")));
  EXPECT_EQ(list_of(*hive, tree_.key("P")), TOL_NO_CELL);
  EXPECT_EQ(field(*hive, tree_.key("P"), TOL_NK_SUBKEY_COUNT), 0u);
}

TEST_F(EditKeys, DeleteRefusals) {
  TolHivePtr hive = open_tree(key("ROOT", {key("P")}));
  ASSERT_NE(hive, nullptr);
  EXPECT_FALSE(tol_hive_delete_key(*hive, tree_.root));
  EXPECT_FALSE(tol_hive_delete_key(*hive, TOL_NO_CELL));
  EXPECT_FALSE(tol_hive_delete_key(*hive, tree_.sk));
  EXPECT_FALSE(hive->writable);
}

TEST_F(EditKeys, ASecurityRecordCountedTooLowIsNotReleased) {
  build(key("ROOT", {key("P", {key("a", {key("b"), key("c")}), key("d"), key("e")})}));
  builder_.patch_u32(tree_.sk, TOL_SK_REFCOUNT, 3);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  // Counting it down would free the record the root and others still use.
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_hive_delete_key(*hive, tree_.key("P"), &error));
  ASSERT_NE(error, nullptr);
  EXPECT_THAT(error->message, HasSubstr("security record"));
  EXPECT_EQ(refcount(*hive, tree_.sk), 3u);
}

TEST_F(EditKeys, DeepSubtreeIsReleasedDownToTheDepthLimit) {
  KeySpec chain = key("k");
  for (int i = 0; i < 299; ++i) chain = key("k", {chain});
  TolHivePtr hive = open_tree(key("ROOT", {key("P", {chain})}));
  ASSERT_NE(hive, nullptr);
  std::vector<std::uint32_t> levels{tree_.key("P")};
  while (levels.size() < 301) levels.push_back(tol_hive_subkeys(*hive, levels.back()).at(0));

  ASSERT_TRUE(tol_hive_delete_key(*hive, tree_.key("P")));
  EXPECT_TRUE(is_free(*hive, levels[0]));
  EXPECT_TRUE(is_free(*hive, levels[256]));
  EXPECT_FALSE(is_free(*hive, levels[257]));
  EXPECT_FALSE(is_free(*hive, levels[300]));
  EXPECT_THAT(subkey_names(*hive, tree_.root), ElementsAre());
}

TEST_F(EditKeys, CyclicListsAreReleasedOnce) {
  build(key("ROOT", {key("P", {key("C"), key("D")})}));
  const std::uint32_t c = tree_.key("P\\C");
  // C's list names C itself twice, its parent and the root: every level of
  // the walk would otherwise double and reach the keys above.
  const std::uint32_t loop = builder_.li({c, c, tree_.key("P"), tree_.root, c, c});
  builder_.patch_u32(c, TOL_NK_SUBKEY_LIST, loop);
  builder_.patch_u32(c, TOL_NK_SUBKEY_COUNT, 6);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t refs = refcount(*hive, tree_.sk);

  keep_freed_cells(*hive);
  // The census sees C owned twice: the delete is refused. The walk below
  // still has to guard itself for callers that free a subtree directly.
  EXPECT_FALSE(tol_hive_delete_key(*hive, c));
  tol_hive_free_subtree(*hive, c, 0);
  EXPECT_TRUE(is_free(*hive, c));
  EXPECT_TRUE(is_free(*hive, loop));
  EXPECT_FALSE(is_free(*hive, tree_.key("P")));
  EXPECT_FALSE(is_free(*hive, tree_.root));
  EXPECT_EQ(refcount(*hive, tree_.sk), refs - 1);

  tol_hive_free_subtree(*hive, tree_.key("P\\D"), 0);
  EXPECT_TRUE(is_free(*hive, tree_.key("P\\D")));
  EXPECT_FALSE(is_free(*hive, tree_.key("P")));
}

// --- Edited hives written out and read back -----------------------------------------


class EditedHive : public EditKeys {
 protected:
  void SetUp() override {
    EditKeys::SetUp();
    KeySpec lf = key("Lf", {key("zeta"), key("Alpha"), key("beta"), key("Gamma")});
    KeySpec lh = key("Lh", {key("one"), key("two"), key("three")});
    lh.list = ListKind::lh;
    KeySpec ri = key("Ri", {key("k1"), key("k2"), key("k3"), key("k4"), key("k5"), key("k6")});
    ri.list = ListKind::ri;
    ri.ri_parts = {{ListKind::lf, 2}, {ListKind::li, 1}, {ListKind::lh, 3}};
    KeySpec root = key("ROOT", {lf, lh, ri, key("Plain", {key("x")}, {val("dw", 4, le32(7))})});
    TolHivePtr hive = open_tree(root);
    ASSERT_NE(hive, nullptr);
    TolHive& h = *hive;
    auto at = [&](const char* path) { return *tol_hive_find_path(h, path); };

    for (const char* name : {"delta",
                             "\xC3\x89p\xC3\xA9"
                             "e",
                             "_under", "aa"})  // Épée
      ASSERT_TRUE(tol_hive_create_key(h, at("Lf"), name));
    ASSERT_TRUE(tol_hive_rename_key(h, at("Lf\\Alpha"), "omega"));
    for (const char* name : {"k0", "k35"}) ASSERT_TRUE(tol_hive_create_key(h, at("Ri"), name));
    ASSERT_TRUE(tol_hive_rename_key(h, at("Ri\\k1"), "K1"));
    ASSERT_TRUE(tol_hive_create_key(h, at("Lh"), "four"));
    ASSERT_TRUE(tol_hive_delete_key(h, at("Lh\\two")));
    // µ and ß keep their codes, ÿ sorts as U+0178.
    for (const char* name :
         {"\xC3\xBFx", "\xC4\x80x", "\xC3\x80s", "\xC2\xB5s", "As"})  // ÿx Āx Às µs As
      ASSERT_TRUE(tol_hive_create_key(h, at("Plain"), name));
    ASSERT_TRUE(tol_hive_create_key(h, h.root_cell, "Neu\xC3\x9F"));  // Neuß
    std::uint32_t parent = h.root_cell;
    for (const char* name : {"New", "Sub", "Leaf"}) parent = *tol_hive_create_key(h, parent, name);

    file_ = write_image(h);
    expected_ = {"", "Lf", "Lh", "Ri", "Plain", "Neu\xC3\x9F", "New", "New\\Sub", "New\\Sub\\Leaf"};
    for (const auto& n : lf_order_) expected_.insert("Lf\\" + n);
    for (const auto& n : lh_order_) expected_.insert("Lh\\" + n);
    for (const auto& n : ri_order_) expected_.insert("Ri\\" + n);
    for (const auto& n : plain_order_) expected_.insert("Plain\\" + n);
  }


  std::set<std::string> expected_paths(const std::string& prefix, char sep, bool only_ascii) const {
    std::set<std::string> paths;
    for (std::string p : expected_) {
      if (only_ascii && !ascii(p)) continue;
      std::replace(p.begin(), p.end(), '\\', sep);
      paths.insert(p.empty() ? prefix
                             : prefix + (prefix.back() == sep ? "" : std::string(1, sep)) + p);
    }
    return paths;
  }

  std::string file_;
  std::set<std::string> expected_;
  const std::vector<std::string> root_order_{"Lf", "Lh", "Neu\xC3\x9F", "New", "Plain", "Ri"};
  const std::vector<std::string> lf_order_{"aa",
                                           "beta",
                                           "delta",
                                           "Gamma",
                                           "omega",
                                           "zeta",
                                           "_under",
                                           "\xC3\x89p\xC3\xA9"
                                           "e"};
  const std::vector<std::string> lh_order_{"four", "one", "three"};
  const std::vector<std::string> ri_order_{"k0", "K1", "k2", "k3", "k35", "k4", "k5", "k6"};
  const std::vector<std::string> plain_order_{"As",        "x",         "\xC2\xB5s",
                                              "\xC3\x80s", "\xC4\x80x", "\xC3\xBFx"};
};

TEST_F(EditedHive, EngineReadsTheEditedTree) {
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(file_, &error);
  ASSERT_NE(hive, nullptr) << error->message;
  std::set<std::string> seen;
  std::vector<std::uint32_t> todo{hive->root_cell};
  while (!todo.empty()) {
    const std::uint32_t nk = todo.back();
    todo.pop_back();
    seen.insert(tol_hive_key_path(*hive, nk));
    for (const auto sub : tol_hive_subkeys(*hive, nk)) {
      EXPECT_EQ(field(*hive, sub, TOL_NK_PARENT), nk);
      todo.push_back(sub);
    }
  }
  EXPECT_EQ(seen, expected_);
  EXPECT_EQ(subkey_names(*hive, hive->root_cell), root_order_);
  EXPECT_EQ(subkey_names(*hive, *tol_hive_find_path(*hive, "Lf")), lf_order_);
  EXPECT_EQ(subkey_names(*hive, *tol_hive_find_path(*hive, "Ri")), ri_order_);
  EXPECT_EQ(subkey_names(*hive, *tol_hive_find_path(*hive, "Plain")), plain_order_);
  TolHiveValue dw;
  ASSERT_TRUE(tol_hive_read_value(*hive, *tol_hive_find_path(*hive, "Plain"), 0, dw));
  EXPECT_EQ(dw.data, le32(7));

  const TolCheckReport report = tol_hive_check(*hive);
  for (const auto& problem : report.problems) ADD_FAILURE() << problem;
}

TEST_F(EditedHive, Hivexsh) {
  TOL_REQUIRE_TOOL("hivexsh");
  const std::string script = path("script.txt");
  ASSERT_TRUE(g_file_set_contents(
      script.c_str(), "ls\ncd \\Lf\nls\ncd \\Lh\nls\ncd \\Ri\nls\ncd \\Plain\nls\nlsval dw\n", -1,
      nullptr));
  const Outcome r = run({"hivexsh", "-f", script, file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // hivexsh sorts what it lists by its own rule, so each listing is compared
  // as a set.
  const std::vector<std::string> out = lines(r.out);
  std::size_t at = 0;
  for (const auto* part : {&root_order_, &lf_order_, &lh_order_, &ri_order_, &plain_order_}) {
    ASSERT_LE(at + part->size(), out.size());
    EXPECT_EQ(std::set<std::string>(out.begin() + static_cast<std::ptrdiff_t>(at),
                                    out.begin() + static_cast<std::ptrdiff_t>(at + part->size())),
              std::set<std::string>(part->begin(), part->end()));
    at += part->size();
  }
  EXPECT_EQ(std::vector<std::string>(out.begin() + static_cast<std::ptrdiff_t>(at), out.end()),
            std::vector<std::string>{"7"});
}

TEST_F(EditedHive, HivexshVisitsEveryKey) {
  TOL_REQUIRE_TOOL("hivexsh");
  std::string commands;
  for (const auto& p : expected_) commands += "cd \\" + p + "\nls\nlsval\n";
  const std::string script = path("every.txt");
  ASSERT_TRUE(g_file_set_contents(script.c_str(), commands.c_str(), -1, nullptr));
  const Outcome r = run({"hivexsh", "-f", script, file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(EditedHive, HivexregeditExport) {
  TOL_REQUIRE_TOOL("hivexregedit");
  const Outcome r = run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Perl warns when it prints a name beyond Latin-1; nothing else may appear.
  for (const auto& line : lines(r.err))
    EXPECT_NE(line.find("Wide character in print"), std::string::npos) << line;
  EXPECT_EQ(hivexregedit_keys(r.out), expected_paths("\\", '\\', false));
}

TEST_F(EditedHive, Regfexport) {
  TOL_REQUIRE_TOOL("regfexport");
  const Outcome r = run({"regfexport", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::set<std::string> keys;
  for (const auto& line : lines(r.out))
    if (line.rfind("Key path: ", 0) == 0) keys.insert(line.substr(10));
  EXPECT_EQ(keys, expected_paths("ROOT", '\\', false));
}

TEST_F(EditedHive, Reglookup) {
  TOL_REQUIRE_TOOL("reglookup");
  const Outcome r = run({"reglookup", "-s", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& line : lines(r.err))
    EXPECT_TRUE(line.find("converting") != std::string::npos ||
                line.find("quoting") != std::string::npos)
        << line;
  std::set<std::string> keys;
  for (const auto& line : lines(r.out)) {
    const auto comma = line.find(',');
    if (comma != std::string::npos && line.compare(comma, 5, ",KEY,") == 0) {
      keys.insert(line.substr(0, comma));
      EXPECT_NE(line.find("S-1-5-32-544,S-1-5-18"), std::string::npos) << line;
    }
  }
  for (const auto& p : expected_paths("/", '/', true)) EXPECT_TRUE(keys.contains(p)) << p;
  EXPECT_EQ(keys.size(), expected_.size());
}

}  // namespace
}  // namespace tol::test
