// The consistency check: silent on sound hives of every list layout, one line
// naming the key for each kind of damage, and bounded on hostile ones.
#include <functional>
#include <random>

#include "hive/check.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string joined(const TolCheckReport& report) {
  std::string text;
  for (const auto& line : report.problems) text += line + "\n";
  return text;
}

// A hive with every list kind, big data, UTF-16 and Latin-1 names.
KeySpec sound_tree() {
  KeySpec root = key("ROOT");
  root.values = {
      val("", 1, utf16le_sz("default")),
      val("dw", 4, le32(1)),
      val("cell", 3, pattern(100, 1)),
      val("big", 3, pattern(40000, 2)),
      val("Gr\xC3\xB6\xC3\x9F" "e", 1, utf16le_sz("x")),
  };
  KeySpec lf = key("Lf", {key("zeta"), key("Alpha"), key("beta"), key("\xC3\xA9t\xC3\xA9")});
  KeySpec lh = key("Lh", {key("one"), key("two"), key("three")});
  lh.list = ListKind::lh;
  KeySpec li = key("Li", {key("x", {key("deep", {key("deeper")})}), key("y")});
  li.list = ListKind::li;
  KeySpec ri = key("Ri", {key("k1"), key("k2"), key("k3"), key("k4"), key("k5")});
  ri.list = ListKind::ri;
  ri.ri_parts = {{ListKind::lf, 2}, {ListKind::li, 1}, {ListKind::lh, 2}};
  KeySpec latin = key("Caf\xC3\xA9", {}, {val("\xC3\xBF", 3, pattern(7, 4))});
  latin.form = NameForm::Latin1;
  root.subkeys = {lf, lh, li, ri, latin, key("Z\xC3\xBCrich", {key("\xE6\x9D\xB1\xE4\xBA\xAC")})};
  return root;
}

class Check : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    tree_ = b_.tree(sound_tree());
  }

  TolCheckReport check() {
    TolHivePtr hive = open(b_);
    if (!hive) return {};
    return tol_hive_check(*hive);
  }

  HiveBuilder b_;
  BuiltTree tree_;
};

TEST_F(Check, SoundTreesPassAndNothingIsWritten) {
  TolHivePtr hive = open(b_);
  ASSERT_NE(hive, nullptr);
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << joined(report);
  EXPECT_EQ(report.keys, tree_.keys.size());
  EXPECT_EQ(report.values, 6u);
  EXPECT_EQ(report.security_records, 1u);
  EXPECT_FALSE(hive->writable);
}

TEST_F(Check, UpperBitsOfTheLargestSubkeyNameFieldAreNotALength) {
  const std::uint32_t root = tree_.root;
  b_.patch_u32(root, 0x34, 0xABCD0000u | b_.read_u32(root, 0x34));
  EXPECT_TRUE(check().ok()) << joined(check());
  b_.patch_u32(root, 0x34, 0xFFFF0000u | 2);
  EXPECT_THAT(check().problems, Contains(AllOf(StartsWith("\\: "), HasSubstr("largest subkey name length 2"))));
}

// One kind of damage per case: the line it must produce, key path first.
struct Damage {
  const char* name;
  std::function<void(HiveBuilder&, const BuiltTree&)> apply;
  const char* line_start;
  const char* text;
};

class CheckDamage : public Check, public ::testing::WithParamInterface<Damage> {};

TEST_P(CheckDamage, IsReported) {
  GetParam().apply(b_, tree_);
  const TolCheckReport report = check();
  EXPECT_THAT(report.problems,
              Contains(AllOf(StartsWith(GetParam().line_start), HasSubstr(GetParam().text))))
      << joined(report);
}

const Damage kDamage[] = {
    {"Checksum", [](HiveBuilder& b, const BuiltTree&) { b.override_checksum(0x1234); },
     "base block", "checksum 0x1234 should be"},
    {"BinsSizeBeyondFile", [](HiveBuilder& b, const BuiltTree&) { b.set_base_u32(0x28, b.bins_size() + 4096); },
     "base block", "exceeds"},
    {"BinSignature", [](HiveBuilder& b, const BuiltTree&) { b.poke_u32(0, 0x6E696278); },
     "bin at 0x0", "\"hbin\""},
    {"CellSizeNotMultipleOf8",
     [](HiveBuilder& b, const BuiltTree& t) { b.set_cell_size(t.value("", "dw"), -28); },
     "bin at 0x0", "does not fit the bin"},
    {"UnreadableKey",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.lists.at("Li"), 8, t.value("", "dw")); },
     "\\Li\\", "is unreadable"},
    {"ListSignature", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u16(t.lists.at("Lh"), 0, 0x7878); },
     "\\Lh: ", "signature \"xx\""},
    {"ListTooShort", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u16(t.lists.at("Li"), 2, 200); },
     "\\Li: ", "too short for its 200 entries"},
    {"NestedRi",
     [](HiveBuilder& b, const BuiltTree& t) {
       b.patch_u32(t.lists.at("Ri"), 4, b.ri({t.lists.at("Lf")}));
     },
     "\\Ri: ", "inside an \"ri\" list"},
    {"OutOfOrder",
     [](HiveBuilder& b, const BuiltTree& t) {
       b.patch_u32(t.lists.at("Li"), 4, t.key("Li\\y"));
       b.patch_u32(t.lists.at("Li"), 8, t.key("Li\\x"));
     },
     "\\Li: ", "out of Windows order: \"y\" before \"x\""},
    {"DuplicateSubkey",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.lists.at("Li"), 8, t.key("Li\\x")); },
     "\\Li: ", "two subkeys are named \"x\""},
    {"SharedKeyRecord",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.lists.at("Lh"), 4, t.key("Li\\y")); },
     "\\Li\\y: ", "is already used as the key record of \\Lh\\y"},
    {"Parent", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.key("Lh\\two"), 0x10, t.root); },
     "\\Lh\\two: ", "parent field"},
    {"SubkeyCount", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.key("Lf"), 0x14, 5); },
     "\\Lf: ", "subkey count 5 but the subkey list holds 4"},
    {"SubkeysWithoutList", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.key("Lf"), 0x1C, kNoCell); },
     "\\Lf: ", "4 subkeys but no subkey list"},
    {"ValueCount", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.root, 0x24, 9); },
     "\\: ", "value count 9"},
    {"UnreadableValue",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u16(t.value("", "cell"), 0, 0x7878); },
     "\\: ", "value 2 (record at"},
    {"DuplicateValue",
     [](HiveBuilder& b, const BuiltTree& t) {
       b.patch_u16(t.value("", "cell"), 0x02, 2);
       b.patch_bytes(t.value("", "cell"), 0x14, bytes_of("DW"));
     },
     "\\: ", "two values are named \"DW\""},
    {"ShortDataCell",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.value("", "cell"), 4, 200); },
     "\\: value \"cell\"", "shorter than 200 bytes"},
    {"InlineTooLong",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.value("", "dw"), 4, 0x80000007u); },
     "\\: value \"dw\"", "inline data length 7"},
    {"SegmentCount",
     [](HiveBuilder& b, const BuiltTree& t) { b.patch_u16(b.read_u32(t.value("", "big"), 8), 2, 2); },
     "\\: value \"big\"", "give 32688 of 40000 bytes"},
    {"UnreadableSegment",
     [](HiveBuilder& b, const BuiltTree& t) {
       b.patch_u32(b.read_u32(b.read_u32(t.value("", "big"), 8), 4), 4, kNoCell);
     },
     "\\: value \"big\"", "data segment 1 at 0xFFFFFFFF is unreadable"},
    {"ShortSegment",
     [](HiveBuilder& b, const BuiltTree& t) {
       const std::uint32_t list = b.read_u32(b.read_u32(t.value("", "big"), 8), 4);
       b.patch_u32(list, 0, t.value("", "cell"));
     },
     "\\: value \"big\"", "data segment 0 holds only"},
    {"FreeCell",
     [](HiveBuilder& b, const BuiltTree& t) { b.set_cell_size(t.value("", "dw"), 32); },
     "\\: value \"dw\"", "lies in a free cell"},
    {"LargestSubkeyName", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.key("Lf"), 0x34, 9); },
     "\\Lf: ", "largest subkey name length 9 is below the 10 bytes"},
    {"LargestValueName", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.key("Caf\xC3\xA9"), 0x3C, 1); },
     "\\Caf\xC3\xA9: ", "largest value name length 1 is below the 2 bytes"},
    {"LargestValueData", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.root, 0x40, 39999); },
     "\\: ", "largest value data length 39999 is below the 40000 bytes"},
    {"ReferenceCount", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.sk, 0x0C, 3); },
     "security record at", "reference count 3 but 24 keys use it"},
    {"InvalidDescriptor", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u8(t.sk, 0x14, 2); },
     "security record at", "not a valid self-relative descriptor"},
    {"DescriptorPastCell", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.sk, 0x10, 4000); },
     "security record at", "runs past the end"},
    {"SecurityRecordOffTheList",
     [](HiveBuilder& b, const BuiltTree& t) {
       // The way a record linked only to itself looks to Windows.
       b.patch_u32(t.key("Lh\\one"), 0x2C, b.sk(default_security_descriptor(), 1));
       b.patch_u32(t.sk, 0x0C, b.read_u32(t.sk, 0x0C) - 1);
     },
     "\\Lh\\one: ", "is not on the hive's security list"},
    {"SecurityListOpen",
     [](HiveBuilder& b, const BuiltTree& t) {
       const std::uint32_t other = b.sk(default_security_descriptor(), 0, kNoCell, t.sk);
       b.patch_u32(t.sk, 0x04, other);
     },
     "security list", "loops at"},
    {"SecurityBackLink", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.sk, 0x08, t.root); },
     "security list", "back link"},
    {"SecurityForwardLink", [](HiveBuilder& b, const BuiltTree& t) { b.patch_u32(t.sk, 0x04, t.root); },
     "security list", "which is not a security record"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, CheckDamage, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HiveTest, CheckFindsARecordInsideAnotherCell) {
  HiveBuilder b;
  const std::uint32_t sk = b.sk(default_security_descriptor(), 2);
  NkRecord root;
  root.name = encode_name("R");
  root.sk = sk;
  const std::uint32_t root_off = b.nk(root);
  const std::uint32_t pad = b.alloc(4);  // a cell of 8 bytes
  NkRecord child;
  child.name = encode_name("B");
  child.parent = root_off;
  child.sk = sk;
  const std::uint32_t child_off = b.nk(child);  // a cell of 88 bytes
  b.patch_u32(root_off, 0x14, 1);
  b.patch_u32(root_off, 0x1C, b.li({child_off}));
  b.patch_u32(root_off, 0x34, 2);
  b.set_root(root_off);
  TolHivePtr sound = open(b);
  EXPECT_TRUE(tol_hive_check(*sound).ok()) << joined(tol_hive_check(*sound));

  b.set_cell_size(pad, -96);  // swallows the child's cell
  TolHivePtr hive = open(b);
  EXPECT_THAT(tol_hive_check(*hive).problems,
              Contains(AllOf(StartsWith("\\B: "), HasSubstr("does not start a cell"))));
}

TEST_F(HiveTest, CheckIsBoundedOnCyclesAndDeepTrees) {
  // A key listed as its own subkey.
  {
    HiveBuilder b;
    const BuiltTree t = b.tree(key("R", {key("A", {key("B")})}));
    b.patch_u32(t.lists.at("A"), 4, t.key("A"));
    TolHivePtr hive = open(b);
    EXPECT_THAT(tol_hive_check(*hive).problems,
                Contains(AllOf(StartsWith("\\A\\A: "), HasSubstr("already used as the key record of \\A"))));
  }
  // 300 sound levels: everything below level 256 is reported once, not walked.
  {
    KeySpec chain = key("k");
    for (int i = 0; i < 300; ++i) chain = key("k", {chain});
    HiveBuilder b;
    b.tree(chain);
    TolHivePtr hive = open(b);
    const TolCheckReport report = tol_hive_check(*hive);
    EXPECT_EQ(report.keys, 257u);
    // The keys below were not counted, so their references are not judged.
    ASSERT_EQ(report.problems.size(), 1u) << joined(report);
    EXPECT_THAT(report.problems[0], HasSubstr("keys nested deeper than 256 levels"));
  }
}

// Random bytes written over a sound hive: the check reports and returns, and
// the sanitizer build proves it never reads outside the image.
TEST_F(HiveTest, CheckSurvivesRandomDamage) {
  HiveBuilder b;
  b.tree(sound_tree());
  const Bytes sound = b.image();
  std::mt19937 rng(20240607);
  for (int round = 0; round < 150; ++round) {
    Bytes image = sound;
    std::uniform_int_distribution<std::size_t> at(4096, image.size() - 1);
    const int hits = 1 + round % 40;
    for (int i = 0; i < hits; ++i) image[at(rng)] = static_cast<std::uint8_t>(rng());
    TolHivePtr hive = open(image);
    ASSERT_NE(hive, nullptr);
    const TolCheckReport report = tol_hive_check(*hive);
    EXPECT_LE(report.problems.size(), 1001u);
  }
}

}  // namespace
}  // namespace tol::test
