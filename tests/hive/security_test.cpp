// Security descriptors: the self-relative checks, and storing a key's own sk
// record so that the hive's list of sk records stays closed.
#include <set>

#include "hive/check.h"
#include "hive/edit.h"
#include "hive/security.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

void put_u16(Bytes& b, std::size_t off, std::uint16_t v) {
  b.at(off) = static_cast<std::uint8_t>(v);
  b.at(off + 1) = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(Bytes& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// n bytes: revision 1, the control flags, all four offsets 0.
Bytes descriptor(std::size_t n, std::uint16_t control = 0x8004) {
  Bytes d(n, 0);
  if (n > 0) d[0] = 1;
  if (n >= 4) put_u16(d, 2, control);
  return d;
}

// The owner at 20 with a SID of c sub-authorities, in n bytes.
Bytes with_owner(std::size_t n, std::uint8_t sub_authorities, std::size_t field = 4) {
  Bytes d = descriptor(n);
  put_u32(d, field, 20);
  if (n > 21) d[21] = sub_authorities;
  return d;
}

// An ACL at 20 whose size field says `size`, in n bytes.
Bytes with_acl(std::size_t n, std::uint16_t size, std::size_t field = 16) {
  Bytes d = descriptor(n);
  put_u32(d, field, 20);
  if (n > 23) put_u16(d, 22, size);
  return d;
}

TEST(SecurityDescriptor, HeaderAndPartBounds) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool valid;
  };
  Bytes revision2 = descriptor(20);
  revision2[0] = 2;
  Bytes owner_at_end = descriptor(20);
  put_u32(owner_at_end, 4, 20);
  const Case cases[] = {
      {"plausible descriptor", default_security_descriptor(), true},
      {"20 bytes, no parts", descriptor(20), true},
      {"19 bytes", descriptor(19), false},
      {"empty", Bytes{}, false},
      {"revision 2", revision2, false},
      {"self-relative bit clear", descriptor(20, 0x0004), false},
      {"owner offset equal to the length", owner_at_end, false},
      {"fewer than 8 bytes at the owner", with_owner(27, 0), false},
      {"owner with 5 sub-authorities in 27 bytes", with_owner(47, 5), false},
      {"owner with 5 sub-authorities in 28 bytes", with_owner(48, 5), true},
      {"group with 2 sub-authorities in 15 bytes", with_owner(35, 2, 8), false},
      {"group with 2 sub-authorities in 16 bytes", with_owner(36, 2, 8), true},
      {"DACL size 4", with_acl(40, 4), false},
      {"DACL size 8", with_acl(40, 8), true},
      {"DACL exactly to the end", with_acl(40, 20), true},
      {"DACL past the end", with_acl(40, 21), false},
      {"SACL size 7", with_acl(40, 7, 12), false},
      {"SACL past the end", with_acl(40, 21, 12), false},
  };
  for (const auto& c : cases) EXPECT_EQ(tol_security_descriptor_valid(c.bytes), c.valid) << c.what;
}

class Security : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    tree_ = b_.tree(key("R", {key("A", {key("A1")}), key("B")}));
  }

  static std::uint32_t sk_of(const TolHive& hive, std::uint32_t key) {
    return tol_hive_key(hive, key)->u32(0x2C);
  }
  static std::uint32_t field(const TolHive& hive, std::uint32_t cell, std::uint32_t off) {
    return tol_hive_cell(hive, cell)->u32(off);
  }
  // The sk records met walking forward links from the root key's record,
  // until it comes back (at most 1000 steps).
  static std::vector<std::uint32_t> ring(const TolHive& hive) {
    std::vector<std::uint32_t> seen;
    const std::uint32_t start = sk_of(hive, hive.root_cell);
    std::uint32_t off = start;
    do {
      seen.push_back(off);
      off = field(hive, off, 0x04);
    } while (off != start && seen.size() < 1000);
    return seen;
  }
  static std::string problems(const TolCheckReport& r) { return ::testing::PrintToString(r.problems); }

  HiveBuilder b_;
  BuiltTree tree_;
};

TEST_F(Security, ReadsTheDescriptorOfAValidRecordOnly) {
  TolHivePtr hive = open(b_);
  EXPECT_EQ(tol_hive_key_security(*hive, tree_.key("A")), default_security_descriptor());

  HiveBuilder b;
  const BuiltTree t = b.tree(key("R", {key("Long"), key("None")}));
  const std::uint32_t own = b.sk(descriptor(20), 1);
  b.patch_u32(own, 0x10, 25);  // one byte more than the cell (of 48 bytes) holds
  b.patch_u32(t.key("Long"), 0x2C, own);
  b.patch_u32(t.key("None"), 0x2C, t.root);
  TolHivePtr damaged = open(b);
  EXPECT_FALSE(tol_hive_key_security(*damaged, t.key("Long")).has_value());
  EXPECT_FALSE(tol_hive_key_security(*damaged, t.key("None")).has_value());
  EXPECT_FALSE(tol_hive_key_security(*damaged, own).has_value());  // not a key
}

TEST_F(Security, StoreJoinsTheNewRecordToTheListAndMovesOneReference) {
  TolHivePtr hive = open(b_);
  const std::uint32_t shared = tree_.sk;
  const Bytes sd = descriptor(20);
  ASSERT_TRUE(tol_hive_store_security(*hive, tree_.key("A"), sd));
  EXPECT_TRUE(hive->writable);
  EXPECT_TRUE(hive->dirty);

  const std::uint32_t own = sk_of(*hive, tree_.key("A"));
  ASSERT_NE(own, shared);
  const auto cell = tol_hive_cell(*hive, own);
  ASSERT_TRUE(cell.has_value());
  EXPECT_EQ(cell->size(), 44u);  // a cell of 48 bytes
  EXPECT_TRUE(cell->starts_with("sk"));
  EXPECT_EQ(cell->u32(0x0C), 1u);
  EXPECT_EQ(cell->u32(0x10), 20u);
  EXPECT_EQ(tol_hive_key_security(*hive, tree_.key("A")), sd);
  EXPECT_EQ(field(*hive, shared, 0x0C), 3u);
  for (const char* other : {"", "A\\A1", "B"}) EXPECT_EQ(sk_of(*hive, tree_.key(other)), shared) << other;
  // A list of two: each record's links name the other.
  EXPECT_EQ(field(*hive, shared, 0x04), own);
  EXPECT_EQ(field(*hive, shared, 0x08), own);
  EXPECT_EQ(field(*hive, own, 0x04), shared);
  EXPECT_EQ(field(*hive, own, 0x08), shared);
  TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);

  // Next to a record in the middle of the list, on the root, and again on a
  // key whose record then nobody uses.
  ASSERT_TRUE(tol_hive_store_security(*hive, tree_.key("A\\A1"), default_security_descriptor()));
  ASSERT_TRUE(tol_hive_store_security(*hive, tree_.root, descriptor(24)));
  ASSERT_TRUE(tol_hive_store_security(*hive, tree_.key("A"), descriptor(28)));
  EXPECT_EQ(field(*hive, own, 0x0C), 0u);
  EXPECT_EQ(field(*hive, shared, 0x0C), 1u);
  report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);
  EXPECT_EQ(report.security_records, 5u);
  const auto records = ring(*hive);
  EXPECT_EQ(std::set<std::uint32_t>(records.begin(), records.end()).size(), 5u);
}

TEST_F(Security, ARecordOffTheListIsNotExtendedButTheRootsListIs) {
  // Key B holds a record linked only to itself, as older editors wrote them.
  const std::uint32_t orphan = b_.sk(default_security_descriptor(), 1);
  b_.patch_u32(tree_.key("B"), 0x2C, orphan);
  b_.patch_u32(tree_.sk, 0x0C, 3);
  TolHivePtr hive = open(b_);
  EXPECT_THAT(tol_hive_check(*hive).problems, Contains(HasSubstr("not on the hive's security list")));

  ASSERT_TRUE(tol_hive_store_security(*hive, tree_.key("B"), descriptor(20)));
  const std::uint32_t own = sk_of(*hive, tree_.key("B"));
  const auto records = ring(*hive);
  EXPECT_THAT(records, Contains(own));
  EXPECT_EQ(field(*hive, orphan, 0x04), orphan);
  EXPECT_EQ(field(*hive, orphan, 0x0C), 0u);
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);
}

TEST_F(Security, ARecordCountedTooLowIsLeftAlone) {
  b_.patch_u32(tree_.sk, 0x0C, 0);
  TolHivePtr hive = open(b_);
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_hive_store_security(*hive, tree_.key("B"), descriptor(20), &error));
  EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED));
  EXPECT_EQ(field(*hive, tree_.sk, 0x0C), 0u);
}

TEST_F(Security, RefusalsChangeNothing) {
  TolHivePtr hive = open(b_);
  EXPECT_FALSE(tol_hive_store_security(*hive, tree_.key("A"), descriptor(20, 0x0004)));
  EXPECT_FALSE(tol_hive_store_security(*hive, tree_.key("A"), descriptor(19)));
  EXPECT_FALSE(tol_hive_store_security(*hive, tree_.sk, descriptor(20)));  // not a key
  EXPECT_FALSE(tol_hive_store_security(*hive, kNoCell, descriptor(20)));
  EXPECT_FALSE(hive->writable);
  EXPECT_FALSE(hive->dirty);
}

TEST_F(HiveTest, SecurityStoreWithoutAnyRecordMakesAListOfOne) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("R"));
  b.patch_u32(t.root, 0x2C, kNoCell);
  TolHivePtr hive = open(b);
  ASSERT_TRUE(tol_hive_store_security(*hive, t.root, descriptor(20)));
  const std::uint32_t own = tol_hive_key(*hive, t.root)->u32(0x2C);
  EXPECT_EQ(tol_hive_cell(*hive, own)->u32(0x04), own);
  EXPECT_EQ(tol_hive_cell(*hive, own)->u32(0x08), own);
}

// Large descriptors on many keys: bins are appended while the list is
// rewritten, so every record must be looked up again after each allocation.
TEST_F(HiveTest, SecurityStoresThatGrowTheImageKeepTheListClosed) {
  KeySpec root = key("R");
  for (int i = 0; i < 60; ++i) root.subkeys.push_back(key("k" + std::to_string(i)));
  HiveBuilder b;
  const BuiltTree t = b.tree(root);
  TolHivePtr hive = open(b);
  const std::uint32_t before = hive->bins_length;
  for (int i = 0; i < 60; ++i) {
    Bytes sd = with_acl(3000, 2980);
    sd[100] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(tol_hive_store_security(*hive, t.key("k" + std::to_string(i)), sd));
  }
  EXPECT_GT(hive->bins_length, before + 60 * 3000);
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
  EXPECT_EQ(report.security_records, 61u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(tol_hive_key_security(*hive, t.key("k" + std::to_string(i)))->at(100), i);
}

}  // namespace
}  // namespace tol::test
