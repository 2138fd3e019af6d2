// Copying a key with its subtree: between hives, within one, merging into
// what exists, and refusing or bounding copies that would never end.
#include <map>
#include <tuple>

#include "hive/check.h"
#include "hive/copy.h"
#include "hive/edit.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;

using Values = std::vector<std::tuple<std::string, std::uint32_t, Bytes>>;
using Dump = std::map<std::string, Values>;

// Every key below `key` by relative path, with its values in list order.
void dump(const TolHive& hive, std::uint32_t key, const std::string& path, Dump& out) {
  Values& values = out[path];
  for (std::uint32_t i = 0; i < tol_hive_value_count(hive, key); ++i) {
    TolHiveValue v;
    if (tol_hive_read_value(hive, key, i, v)) values.emplace_back(v.name, v.type, v.data);
  }
  for (const std::uint32_t sub : tol_hive_subkeys(hive, key))
    dump(hive, sub, path + "\\" + tol_hive_key_name(hive, sub), out);
}

Dump dump(const TolHive& hive, std::uint32_t key) {
  Dump out;
  dump(hive, key, "", out);
  return out;
}

KeySpec vendor() {
  KeySpec v = key("Vendor", {key("a"), key("b", {key("b1"), key("b2")}), key("c")});
  v.values = {
      val("", 1, utf16le_sz("default")),
      val("dw", 4, le32(42)),
      val("cell", 3, pattern(500, 1)),
      val("big", 3, pattern(40000, 2)),
      val("Gr\xC3\xB6\xC3\x9F" "e", 1, utf16le_sz("x")),
  };
  v.subkeys[1].values = {val("inner", 3, pattern(17000, 3))};
  return v;
}

struct CopyResult {
  std::uint32_t count = 0;
  int code = -1;
  std::string message;
};

CopyResult copy(TolHive& src, std::uint32_t key, TolHive& dst, std::uint32_t parent) {
  GError* error = nullptr;
  CopyResult r;
  r.count = tol_hive_copy_subtree(src, key, dst, parent, &error);
  if (error != nullptr) {
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    r.code = error->code;
    r.message = error->message;
    g_error_free(error);
  }
  return r;
}

std::string problems(const TolCheckReport& r) { return ::testing::PrintToString(r.problems); }

using Copy = HiveTest;

TEST_F(Copy, BetweenHivesCopiesEveryKeyAndValue) {
  HiveBuilder sb;
  const BuiltTree s = sb.tree(key("R", {vendor(), key("Solo")}));
  HiveBuilder db;
  const BuiltTree d = db.tree(key("D", {key("Target")}));
  TolHivePtr src = open(sb);
  TolHivePtr dst = open(db);

  const CopyResult r = copy(*src, s.key("Vendor"), *dst, d.key("Target"));
  EXPECT_EQ(r.count, 6u);
  EXPECT_EQ(r.message, "");
  const auto copied = tol_hive_find_path(*dst, "Target\\Vendor");
  ASSERT_TRUE(copied.has_value());
  EXPECT_EQ(dump(*dst, *copied), dump(*src, s.key("Vendor")));
  EXPECT_FALSE(src->writable);  // the source is only read
  const TolCheckReport report = tol_hive_check(*dst);
  EXPECT_TRUE(report.ok()) << problems(report);

  EXPECT_EQ(copy(*src, s.key("Solo"), *dst, d.root).count, 1u);
}

TEST_F(Copy, MergesIntoAnExistingKeyKeepingItsSpelling) {
  HiveBuilder sb;
  const BuiltTree s = sb.tree(key("R", {key("Run", {}, {val("PATH", 4, le32(5)), val("new", 3, {1, 2, 3})})}));
  HiveBuilder db;
  const BuiltTree d =
      db.tree(key("D", {key("run", {}, {val("Path", 1, utf16le_sz("old")), val("keep", 4, le32(9))})}));
  TolHivePtr src = open(sb);
  TolHivePtr dst = open(db);

  EXPECT_EQ(copy(*src, s.key("Run"), *dst, d.root).count, 1u);
  EXPECT_THAT(subkey_names(*dst, d.root), ElementsAre("run"));
  EXPECT_EQ(dump(*dst, d.key("run"))[""],
            (Values{{"Path", 4, le32(5)}, {"keep", 4, le32(9)}, {"new", 3, Bytes{1, 2, 3}}}));
  const TolCheckReport report = tol_hive_check(*dst);
  EXPECT_TRUE(report.ok()) << problems(report);
}

TEST_F(Copy, WithinOneHiveRefusesItselfAndItsDescendants) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("R", {key("A", {key("B")}, {val("v", 4, le32(1))}), key("AB")}));
  TolHivePtr hive = open(b);
  const std::string refused = "a key cannot be copied into itself or its descendant";
  for (const auto& [from, into] : {std::pair{"A", "A\\B"}, std::pair{"A", "A"}, std::pair{"", "AB"}}) {
    const CopyResult r = copy(*hive, t.key(from), *hive, t.key(into));
    EXPECT_EQ(r.count, 0u) << from << " into " << into;
    EXPECT_EQ(r.code, G_FILE_ERROR_LOOP);
    EXPECT_EQ(r.message, refused);
  }
  EXPECT_FALSE(hive->writable);

  // A sibling whose name merely starts with the source's name.
  EXPECT_EQ(copy(*hive, t.key("A"), *hive, t.key("AB")).count, 2u);
  EXPECT_EQ(dump(*hive, *tol_hive_find_path(*hive, "AB\\A")), dump(*hive, t.key("A")));
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);
}

// Within one hive every write may move the image the source is read from.
TEST_F(Copy, WithinOneHiveWhileTheImageGrows) {
  KeySpec src = vendor();
  for (int i = 0; i < 12; ++i)
    src.subkeys[0].subkeys.push_back(
        key("k" + std::to_string(i), {}, {val("d", 3, pattern(9000 + 997 * static_cast<std::size_t>(i), 7))}));
  HiveBuilder b;
  const BuiltTree t = b.tree(key("R", {src, key("Dst")}));
  TolHivePtr hive = open(b);
  const Dump before = dump(*hive, t.key("Vendor"));

  EXPECT_EQ(copy(*hive, t.key("Vendor"), *hive, t.key("Dst")).count, 18u);
  EXPECT_EQ(dump(*hive, *tol_hive_find_path(*hive, "Dst\\Vendor")), before);
  EXPECT_EQ(dump(*hive, t.key("Vendor")), before);
  TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);

  // Into its own parent: every key meets itself, and nothing changes.
  EXPECT_EQ(copy(*hive, t.key("Vendor\\b"), *hive, t.key("Vendor")).count, 3u);
  EXPECT_EQ(dump(*hive, t.key("Vendor")), before);
  report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << problems(report);
}

TEST_F(Copy, ACyclicSourceStopsAtLevel257AndTheRestIsStillCopied) {
  // A lists itself and Z as its subkeys.
  HiveBuilder sb;
  const BuiltTree s = sb.tree(key("R", {key("A", {key("Z")})}));
  const std::uint32_t a = s.key("A");
  sb.patch_u32(a, 0x14, 2);
  sb.patch_u32(a, 0x1C, sb.li({a, s.key("A\\Z")}));
  HiveBuilder db;
  const BuiltTree d = db.tree(key("D"));
  TolHivePtr src = open(sb);
  TolHivePtr dst = open(db);

  const CopyResult r = copy(*src, a, *dst, d.root);
  // Levels 0 to 256 copy A, levels 1 to 256 copy Z beside it.
  EXPECT_EQ(r.count, 257u + 256u);
  EXPECT_EQ(r.code, G_FILE_ERROR_LOOP);
  EXPECT_EQ(r.message, "key nesting is too deep (possible cycle in source data)");
  int levels = 0;
  std::optional<std::uint32_t> next = tol_hive_find_subkey(*dst, d.root, "A");
  for (; next; next = tol_hive_find_subkey(*dst, *next, "A")) ++levels;
  EXPECT_EQ(levels, 257);
}

// A subkey that cannot be copied costs its subtree, not the whole copy: the
// count leaves it out and the error names the first such failure.
TEST_F(Copy, ADamagedSubkeyFailsAloneAndIsReported) {
  HiveBuilder sb;
  const BuiltTree s = sb.tree(key("R", {key("Top", {key("Good", {key("Deep")}), key("Bad"), key("Gone")})}));
  sb.patch_u16(s.key("Top\\Bad"), 0x48, 0);               // no name
  sb.patch_bytes(s.key("Top\\Gone"), 0, bytes_of("vk"));  // not a key record
  HiveBuilder db;
  const BuiltTree d = db.tree(key("D"));
  TolHivePtr src = open(sb);
  TolHivePtr dst = open(db);

  const CopyResult r = copy(*src, s.key("Top"), *dst, d.root);
  EXPECT_EQ(r.count, 3u);
  EXPECT_EQ(r.code, G_FILE_ERROR_FAILED);
  EXPECT_EQ(r.message, "failed to create key \"\"");
  EXPECT_THAT(subkey_names(*dst, *tol_hive_find_path(*dst, "Top")), ElementsAre("Good"));
  EXPECT_TRUE(tol_hive_find_path(*dst, "Top\\Good\\Deep").has_value());
  const TolCheckReport report = tol_hive_check(*dst);
  EXPECT_TRUE(report.ok()) << problems(report);
}

TEST_F(Copy, ArgumentAndCreateFailures) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("R", {key("Vendor")}, {val("v", 3, pattern(8))}));
  TolHivePtr hive = open(b);
  HiveBuilder ob;
  const BuiltTree o = ob.tree(key("O"));
  TolHivePtr other = open(ob);

  for (const auto& [from, into] : {std::pair{kNoCell, o.root}, std::pair{t.key("Vendor"), kNoCell}}) {
    const CopyResult r = copy(*hive, from, *other, into);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.code, G_FILE_ERROR_INVAL);
    EXPECT_EQ(r.message, "invalid copy arguments");
  }
  // A destination that is a value record, not a key.
  const CopyResult r = copy(*other, o.root, *hive, t.value("", "v"));
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(r.code, G_FILE_ERROR_FAILED);
  EXPECT_EQ(r.message, "cannot create key \"O\": the key cannot be read");
}

}  // namespace
}  // namespace tol::test
