// Hives as Windows writes them: large values stored by the hive's version,
// and damage that edits refuse to spread, each refusal with its reason.
#include <map>
#include <set>
#include <utility>

#include "hive/check.h"
#include "hive/copy.h"
#include "hive/edit.h"
#include "hive/save.h"
#include "hive_fixture.h"
#include "peer_tools.h"
#include "reg/export.h"
#include "reg/import.h"
#include "search/replace.h"

namespace tol::test {
namespace {

using ::testing::HasSubstr;

const std::vector<std::size_t> kSizes = {16344, 16345, 200000};

std::string size_name(std::size_t n) { return "v" + std::to_string(n); }

Bytes value_of(const TolHive& hive, std::uint32_t key, const std::string& name) {
  const std::uint32_t vk = tol_hive_find_value(hive, key, name);
  const auto record = tol_hive_vk(hive, vk);
  if (!record) return {};
  return tol_hive_value_data(hive, record->u32(TOL_VK_DATA_LENGTH), record->u32(TOL_VK_DATA_OFFSET));
}

// Whether the value's data sit behind a db record (else in one cell).
bool behind_db(const TolHive& hive, std::uint32_t key, const std::string& name) {
  const auto record = tol_hive_vk(hive, tol_hive_find_value(hive, key, name));
  const auto place = tol_hive_data_place(hive, record->u32(TOL_VK_DATA_LENGTH),
                                         record->u32(TOL_VK_DATA_OFFSET));
  EXPECT_TRUE(place.windows_reads) << name;
  return place.layout == TolDataLayout::big_data;
}

std::string problems(const TolCheckReport& report) {
  std::string out;
  for (const auto& p : report.problems) out += p + "\n";
  return out;
}

class LargeValues : public HiveTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  // A hive of the parameter's minor version with the three sizes in "K".
  TolHivePtr build(HiveBuilder& b, BuiltTree& tree) {
    b.set_minor_version(GetParam());
    KeySpec k = key("K");
    for (const std::size_t n : kSizes) k.values.push_back(val(size_name(n), 3, pattern(n, n)));
    tree = b.tree(key("ROOT", {k, key("Empty")}));
    file_ = write(b.image());
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file_, &error);
    EXPECT_NE(hive, nullptr);
    g_clear_error(&error);
    return hive;
  }

  bool big_in_db() const { return GetParam() >= 4; }

  std::string file_;
};

TEST_P(LargeValues, ReadSetDeleteAndSaveFollowTheVersion) {
  HiveBuilder b;
  BuiltTree tree;
  TolHivePtr hive = build(b, tree);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t k = tree.key("K");
  for (const std::size_t n : kSizes) EXPECT_EQ(value_of(*hive, k, size_name(n)), pattern(n, n)) << n;
  EXPECT_TRUE(tol_hive_check(*hive).ok()) << problems(tol_hive_check(*hive));

  // New and replaced data take the version's layout; the freed cells of the
  // old layout go back to the allocator without touching anything else.
  ASSERT_TRUE(tol_hive_set_value(*hive, k, "new", 3, pattern(200000, 9)));
  ASSERT_TRUE(tol_hive_set_value(*hive, k, size_name(16345), 3, pattern(100000, 8)));
  ASSERT_TRUE(tol_hive_set_value(*hive, k, size_name(200000), 3, pattern(16345, 7)));
  ASSERT_TRUE(tol_hive_delete_value(*hive, k, size_name(16344)));
  EXPECT_EQ(behind_db(*hive, k, "new"), big_in_db());
  EXPECT_EQ(behind_db(*hive, k, size_name(16345)), big_in_db());
  GError* error = nullptr;
  ASSERT_TRUE(tol_hive_save(*hive, &error));
  tol_hive_close(std::move(hive));

  hive = tol_hive_open(file_, &error);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(value_of(*hive, k, "new"), pattern(200000, 9));
  EXPECT_EQ(value_of(*hive, k, size_name(16345)), pattern(100000, 8));
  EXPECT_EQ(value_of(*hive, k, size_name(200000)), pattern(16345, 7));
  EXPECT_EQ(tol_hive_find_value(*hive, k, size_name(16344)), TOL_NO_CELL);
  EXPECT_TRUE(tol_hive_check(*hive).ok()) << problems(tol_hive_check(*hive));

  if (installed("hivexget")) {
    EXPECT_EQ(hivexget_bytes(file_, "\\K", "new", path("new.bin")), pattern(200000, 9));
    EXPECT_EQ(hivexget_bytes(file_, "\\K", size_name(16345), path("b.bin")), pattern(100000, 8));
  }
  if (installed("regfexport")) {
    const Outcome r = run({"regfexport", file_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Data size: 200000"));
    EXPECT_THAT(r.out, HasSubstr("Data size: 100000"));
  }
}

TEST_P(LargeValues, ExportImportAndReplaceKeepEveryByte) {
  HiveBuilder b;
  BuiltTree tree;
  TolHivePtr hive = build(b, tree);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t k = tree.key("K");
  // A REG_SZ long enough to need the large layout, replaced in place.
  std::string text(20000, 'a');
  ASSERT_TRUE(tol_hive_set_value(*hive, k, "text", 1, utf16le_sz(text)));

  // The export names the key by its own name, so importing it below Empty
  // makes Empty\K.
  const std::string reg = tol_reg_export_text(*hive, k);
  EXPECT_EQ(reg.find("hex:\r\n"), std::string::npos) << "a large value exported empty";
  TolRegImportCounts counts;
  GError* error = nullptr;
  ASSERT_TRUE(tol_reg_import(*hive, tree.key("Empty"),
                             {reinterpret_cast<const std::uint8_t*>(reg.data()), reg.size()},
                             counts, &error));
  EXPECT_EQ(counts.errors, 0u);
  const auto copied = tol_hive_find_path(*hive, "Empty\\K");
  ASSERT_TRUE(copied);
  for (const std::size_t n : kSizes)
    EXPECT_EQ(value_of(*hive, *copied, size_name(n)), pattern(n, n)) << n;

  TolReplaceReport report;
  TolReplaceOptions options;
  ASSERT_TRUE(tol_replace_tree(*hive, k, "a", "b", options, report, &error));
  EXPECT_EQ(value_of(*hive, k, "text"), utf16le_sz(std::string(20000, 'b')));
  EXPECT_TRUE(tol_hive_check(*hive).ok()) << problems(tol_hive_check(*hive));
}

INSTANTIATE_TEST_SUITE_P(Versions, LargeValues, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "minor" + std::to_string(info.param); });

TEST_F(HiveTest, CopiesBetweenVersionsTakeTheTargetsLayout) {
  std::map<std::uint32_t, TolHivePtr> hives;
  std::map<std::uint32_t, BuiltTree> trees;
  for (const std::uint32_t minor : {3u, 5u}) {
    HiveBuilder b;
    b.set_minor_version(minor);
    KeySpec k = key("K");
    k.values = {val("big", 3, pattern(200000, minor)), val("edge", 3, pattern(16345, minor))};
    trees[minor] = b.tree(key("ROOT", {k}));
    hives[minor] = open(b);
    ASSERT_NE(hives[minor], nullptr);
  }
  for (const auto& [from, to] : {std::pair{3u, 5u}, std::pair{5u, 3u}}) {
    TolHive& dst = *hives[to];
    GError* error = nullptr;
    const auto made = tol_hive_create_key(dst, dst.root_cell, "From");
    ASSERT_TRUE(made);
    ASSERT_EQ(tol_hive_copy_subtree(*hives[from], trees[from].key("K"), dst, *made, &error), 1u);
    const auto copy = tol_hive_find_path(dst, "From\\K");
    ASSERT_TRUE(copy);
    EXPECT_EQ(value_of(dst, *copy, "big"), pattern(200000, from));
    EXPECT_EQ(value_of(dst, *copy, "edge"), pattern(16345, from));
    EXPECT_EQ(behind_db(dst, *copy, "big"), to >= 4);
    EXPECT_TRUE(tol_hive_check(dst).ok()) << problems(tol_hive_check(dst));
  }
}

// Other tools write big data in one cell of a 1.5 hive, and older writers put
// db records into 1.3 hives: both are read, and the check says Windows won't.
TEST_F(HiveTest, LargeDataInTheOtherLayoutReadsButIsReported) {
  for (const std::uint32_t minor : {3u, 5u}) {
    HiveBuilder b;
    b.set_minor_version(minor);
    const BuiltTree tree = b.tree(key("ROOT"));
    const Bytes data = pattern(30000, minor);
    VkRecord r;
    r.name = encode_name("odd");
    r.type = 3;
    r.data_length = static_cast<std::uint32_t>(data.size());
    r.data_offset = minor >= 4 ? b.data_cell(data) : b.big_data(data);
    b.patch_u32(tree.root, TOL_NK_VALUE_COUNT, 1);
    b.patch_u32(tree.root, TOL_NK_VALUE_LIST, b.offsets({b.vk(r)}));
    b.patch_u32(tree.root, TOL_NK_MAX_VALUE_DATA, 30000);
    b.patch_u32(tree.root, TOL_NK_MAX_VALUE_NAME, 6);
    TolHivePtr hive = open(b);
    ASSERT_NE(hive, nullptr);
    EXPECT_EQ(value_of(*hive, tree.root, "odd"), data) << minor;
    const TolCheckReport report = tol_hive_check(*hive);
    ASSERT_EQ(report.problems.size(), 1u) << problems(report);
    EXPECT_THAT(report.problems[0], HasSubstr("Windows will not read this value"));
    // Setting it again writes the version's own layout.
    ASSERT_TRUE(tol_hive_set_value(*hive, tree.root, "odd", 3, data));
    EXPECT_TRUE(tol_hive_check(*hive).ok()) << problems(tol_hive_check(*hive));
  }
}

// --- Damage that never spreads -----------------------------------------------

// A hive with one of each kind of damage the census must see. Keys A and B
// share one subkey list, C and D one value list, E's two values one data
// cell, and F's value record lies in a free cell. G is sound.
class SharedCells : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    KeySpec root = key("ROOT", {key("A", {key("a1"), key("a2")}), key("B", {key("b1")}),
                                key("C", {}, {val("c", 3, pattern(40, 1))}),
                                key("D", {}, {val("d", 3, pattern(40, 2))}),
                                key("E", {}, {val("e1", 3, pattern(64, 3)), val("e2", 3, pattern(64, 4))}),
                                key("F", {}, {val("f", 3, pattern(64, 5))}),
                                key("G", {key("g1")}, {val("g", 4, le32(7))})});
    tree_ = b_.tree(root);
    b_.patch_u32(tree_.key("B"), TOL_NK_SUBKEY_LIST, tree_.lists.at("A"));
    b_.patch_u32(tree_.key("B"), TOL_NK_SUBKEY_COUNT, 2);
    b_.patch_u32(tree_.key("D"), TOL_NK_VALUE_LIST, b_.read_u32(tree_.key("C"), TOL_NK_VALUE_LIST));
    b_.patch_u32(tree_.value("E", "e2"), TOL_VK_DATA_OFFSET,
                 b_.read_u32(tree_.value("E", "e1"), TOL_VK_DATA_OFFSET));
    b_.set_cell_size(tree_.value("F", "f"), 32);  // vk of a one-letter name: 4 + 21 -> 32
  }

  // Problem lines without their numbers: counts that an edit changes (a
  // reference count the damage already made wrong) are no new problem.
  std::set<std::string> check_problems(const TolHive& hive) {
    std::set<std::string> lines;
    for (std::string p : tol_hive_check(hive).problems) {
      std::erase_if(p, [](char c) { return c >= '0' && c <= '9'; });
      lines.insert(p);
    }
    return lines;
  }

  HiveBuilder b_;
  BuiltTree tree_;
};

TEST_F(SharedCells, EveryEditWorksCleanlyOrIsRefusedWithItsReason) {
  struct Edit {
    std::string what;
    std::function<bool(TolHive&, GError**)> run;
  };
  const auto at = [this](const char* path) { return tree_.key(path); };
  const std::vector<Edit> edits = {
      {"delete A", [&](TolHive& h, GError** e) { return tol_hive_delete_key(h, at("A"), e); }},
      {"delete a1", [&](TolHive& h, GError** e) { return tol_hive_delete_key(h, at("A\\a1"), e); }},
      {"create under B", [&](TolHive& h, GError** e) { return tol_hive_create_key(h, at("B"), "n", e).has_value(); }},
      {"rename B", [&](TolHive& h, GError** e) { return tol_hive_rename_key(h, at("B"), "Bee", e).has_value(); }},
      {"set in D", [&](TolHive& h, GError** e) { return tol_hive_set_value(h, at("D"), "x", 4, le32(1), e); }},
      {"delete c", [&](TolHive& h, GError** e) { return tol_hive_delete_value(h, at("C"), "c", e); }},
      {"replace e2", [&](TolHive& h, GError** e) { return tol_hive_set_value(h, at("E"), "e2", 3, pattern(9, 9), e); }},
      {"rename e1", [&](TolHive& h, GError** e) { return tol_hive_rename_value(h, at("E"), "e1", "e9", e); }},
      {"delete f", [&](TolHive& h, GError** e) { return tol_hive_delete_value(h, at("F"), "f", e); }},
      {"delete F", [&](TolHive& h, GError** e) { return tol_hive_delete_key(h, at("F"), e); }},
      {"delete G", [&](TolHive& h, GError** e) { return tol_hive_delete_key(h, at("G"), e); }},
      {"set in G", [&](TolHive& h, GError** e) { return tol_hive_set_value(h, at("G"), "y", 4, le32(2), e); }},
      {"create under root", [&](TolHive& h, GError** e) { return tol_hive_create_key(h, h.root_cell, "Z", e).has_value(); }},
  };
  const Bytes image = b_.image();
  std::set<std::string> refused;
  for (const Edit& edit : edits) {
    TolHivePtr hive = open(image);
    ASSERT_NE(hive, nullptr);
    const std::set<std::string> before = check_problems(*hive);
    ASSERT_FALSE(before.empty());
    g_autoptr(GError) error = nullptr;
    if (edit.run(*hive, &error)) {
      // Worked: no problem the hive did not have before (paths of renamed or
      // deleted keys drop out, so only new lines count).
      for (const std::string& p : check_problems(*hive))
        EXPECT_TRUE(before.contains(p)) << edit.what << " spread the damage: " << p;
    } else {
      ASSERT_NE(error, nullptr) << edit.what;
      EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED))
          << edit.what << ": " << error->message;
      EXPECT_THAT(error->message, HasSubstr("damaged")) << edit.what;
      EXPECT_EQ(check_problems(*hive), before) << edit.what;
      refused.insert(edit.what);
    }
  }
  EXPECT_EQ(refused, (std::set<std::string>{"delete A", "delete a1", "create under B", "rename B",
                                            "set in D", "delete c", "replace e2", "rename e1",
                                            "delete f", "delete F"}));
}

TEST_F(HiveTest, RefusalsNameTheirReason) {
  HiveBuilder b;
  const BuiltTree tree = b.tree(key("ROOT", {key("A", {}, {val("v", 4, le32(1))}), key("B")}));
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);
  GError* e = nullptr;
  // Reads `e` only after the call has set it.
  const auto reason = [&e](bool ok, GError*, TolHiveError code) -> std::string {
    EXPECT_FALSE(ok);
    GError* error = std::exchange(e, nullptr);
    if (error == nullptr) return "(no error)";
    EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, code)) << error->message;
    std::string message = error->message;
    g_error_free(error);
    return message;
  };
  EXPECT_EQ(reason(tol_hive_rename_key(*hive, tree.key("A"), "b", &e).has_value(), e,
                   TOL_HIVE_ERROR_EXISTS),
            "a key named \"B\" already exists");
  EXPECT_EQ(reason(tol_hive_create_key(*hive, hive->root_cell, "", &e).has_value(), e,
                   TOL_HIVE_ERROR_INVALID_NAME),
            "a key name cannot be empty");
  EXPECT_EQ(reason(tol_hive_delete_value(*hive, tree.key("A"), "w", &e), e, TOL_HIVE_ERROR_NOT_FOUND),
            "there is no value named \"w\"");
  ASSERT_TRUE(tol_hive_set_value(*hive, tree.key("A"), "w", 4, le32(2)));
  EXPECT_EQ(reason(tol_hive_rename_value(*hive, tree.key("A"), "w", "V", &e), e, TOL_HIVE_ERROR_EXISTS),
            "a value named \"V\" already exists");
  EXPECT_EQ(reason(tol_hive_delete_key(*hive, hive->root_cell, &e), e, TOL_HIVE_ERROR_INVALID),
            "the root key cannot be deleted");
}

}  // namespace
}  // namespace tol::test
