// Value operations: set, delete and rename, the records and lists they leave
// behind, the key's largest-length fields, and hives saved after them as read
// by the engine and by independent readers of the format.
#include <algorithm>
#include <map>
#include <sstream>

#include "hive/edit.h"
#include "hive/save.h"
#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;

struct Value {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const Value&) const = default;
};

void PrintTo(const Value& v, std::ostream* os) {
  *os << "{\"" << v.name << "\", " << v.type << ", " << v.data.size() << " bytes}";
}

std::vector<Value> values_of(const TolHive& hive, std::uint32_t nk) {
  std::vector<Value> values;
  for (std::uint32_t i = 0; i < tol_hive_value_count(hive, nk); ++i) {
    TolHiveValue v;
    if (tol_hive_read_value(hive, nk, i, v)) values.push_back({v.name, v.type, v.data});
  }
  return values;
}

std::vector<std::string> value_names(const TolHive& hive, std::uint32_t nk) {
  std::vector<std::string> names;
  for (const auto& v : values_of(hive, nk)) names.push_back(v.name);
  return names;
}

// Raw reads of the image, for what the read side does not show.
std::int32_t size_field(const TolHive& hive, std::uint32_t cell) {
  return static_cast<std::int32_t>(hive.bins().u32(cell));
}
std::uint32_t nk_u32(const TolHive& hive, std::uint32_t nk, std::uint32_t field) {
  return tol_hive_key(hive, nk)->u32(field);
}
std::uint32_t list_entry(const TolHive& hive, std::uint32_t list, std::uint32_t i) {
  return tol_hive_cell(hive, list)->u32(std::size_t{i} * 4);
}

Bytes image_of(const TolHive& hive) {
  Bytes bytes(hive.base().span().begin(), hive.base().span().end());
  bytes.insert(bytes.end(), hive.bins().span().begin(), hive.bins().span().end());
  return bytes;
}

std::string repeat(std::string_view unit, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += unit;
  return s;
}

class EditValues : public HiveTest {
 protected:
  // A root with one key K holding the given values.
  TolHivePtr hive_with(std::vector<ValueSpec> values, std::uint32_t max_name = 0,
                       std::uint32_t max_data = 0) {
    tree_ = builder_.tree(key("ROOT", {key("K", {}, std::move(values)), key("Empty")}));
    k_ = tree_.key("K");
    builder_.patch_u32(k_, TOL_NK_MAX_VALUE_NAME, max_name);
    builder_.patch_u32(k_, TOL_NK_MAX_VALUE_DATA, max_data);
    TolHivePtr hive = open(builder_);
    return hive;
  }

  HiveBuilder builder_;
  BuiltTree tree_;
  std::uint32_t k_ = kNoCell;
};

TEST_F(EditValues, SetStoresEachDataFormAndAppends) {
  TolHivePtr hive = hive_with({val("first", 4, le32(1))});
  ASSERT_NE(hive, nullptr);
  const Bytes cell = pattern(16344, 4);
  const Bytes big = pattern(16345, 5);
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "", 1, utf16le_sz("x")));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "inline", 3, Bytes{1, 2, 3, 4}));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "empty", 3, Bytes{}));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "cell", 3, cell));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "big", 3, big));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "Gr\xC3\xB6\xC3\x9F" "e", 7, utf16le_sz("a")));
  EXPECT_TRUE(hive->dirty);
  EXPECT_THAT(values_of(*hive, k_),
              ElementsAre(Value{"first", 4, le32(1)}, Value{"", 1, utf16le_sz("x")},
                          Value{"inline", 3, {1, 2, 3, 4}}, Value{"empty", 3, {}},
                          Value{"cell", 3, cell}, Value{"big", 3, big},
                          Value{"Gr\xC3\xB6\xC3\x9F" "e", 7, utf16le_sz("a")}));

  const auto inline_vk = tol_hive_vk(*hive, tol_hive_find_value(*hive, k_, "inline"));
  EXPECT_EQ(inline_vk->u32(TOL_VK_DATA_LENGTH), 0x80000004u);
  EXPECT_EQ(inline_vk->u16(TOL_VK_FLAGS), TOL_VK_FLAG_ASCII_NAME);
  EXPECT_EQ(inline_vk->u16(TOL_VK_FLAGS + 2), 0u);
  const auto empty_vk = tol_hive_vk(*hive, tol_hive_find_value(*hive, k_, "empty"));
  EXPECT_EQ(empty_vk->u32(TOL_VK_DATA_LENGTH), 0x80000000u);
  EXPECT_EQ(empty_vk->u32(TOL_VK_DATA_OFFSET), 0u);
  const auto wide_vk = tol_hive_vk(*hive, tol_hive_find_value(*hive, k_, "gr\xC3\xB6\xC3\x9F" "e"));
  EXPECT_EQ(wide_vk->u16(TOL_VK_FLAGS), 0u);
  EXPECT_EQ(wide_vk->u16(TOL_VK_NAME_LENGTH), 10u);
  const auto big_vk = tol_hive_vk(*hive, tol_hive_find_value(*hive, k_, "big"));
  EXPECT_TRUE(tol_hive_cell(*hive, big_vk->u32(TOL_VK_DATA_OFFSET))->starts_with("db"));
}

TEST_F(EditValues, ReplaceKeepsSpellingPlaceAndList) {
  TolHivePtr hive = hive_with({val("Path", 1, utf16le_sz("C:\\")), val("Other", 4, le32(2))});
  ASSERT_NE(hive, nullptr);
  const std::uint32_t list = nk_u32(*hive, k_, TOL_NK_VALUE_LIST);
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "PATH", 2, utf16le_sz("%windir%")));
  EXPECT_THAT(values_of(*hive, k_), ElementsAre(Value{"Path", 2, utf16le_sz("%windir%")},
                                                Value{"Other", 4, le32(2)}));
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_LIST), list);
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_COUNT), 2u);
}

TEST_F(EditValues, ReplacingBigDataByInlineDataFreesEveryCell) {
  TolHivePtr hive = hive_with({val("big", 3, pattern(20000, 6))});
  ASSERT_NE(hive, nullptr);
  const std::uint32_t vk = tree_.value("K", "big");
  const std::uint32_t db = builder_.read_u32(vk, TOL_VK_DATA_OFFSET);
  const std::uint32_t segments = builder_.read_u32(db, 4);
  const std::uint32_t first = builder_.read_u32(segments, 0);
  const std::uint32_t second = builder_.read_u32(segments, 4);

  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "big", 4, Bytes{7, 8}));
  for (const std::uint32_t cell : {db, segments, first, second}) EXPECT_GT(size_field(*hive, cell), 0) << cell;
  EXPECT_LT(size_field(*hive, vk), 0);
  const auto record = tol_hive_vk(*hive, vk);
  EXPECT_EQ(record->u32(TOL_VK_DATA_LENGTH), 0x80000002u);
  EXPECT_EQ(record->u32(TOL_VK_DATA_OFFSET), 0x0807u);
  EXPECT_THAT(values_of(*hive, k_), ElementsAre(Value{"big", 4, {7, 8}}));
}

TEST_F(EditValues, ValueListGrowsByDoubling) {
  TolHivePtr hive = hive_with({});
  ASSERT_NE(hive, nullptr);
  const std::uint32_t key = tree_.key("Empty");
  ASSERT_TRUE(tol_hive_set_value(*hive, key, "v1", 4, le32(1)));
  const std::uint32_t first_list = nk_u32(*hive, key, TOL_NK_VALUE_LIST);
  EXPECT_EQ(size_field(*hive, first_list), -24);  // 16 bytes asked for: room for five
  for (int i = 2; i <= 5; ++i) {
    ASSERT_TRUE(tol_hive_set_value(*hive, key, "v" + std::to_string(i), 4, le32(i)));
    EXPECT_EQ(nk_u32(*hive, key, TOL_NK_VALUE_LIST), first_list) << i;
  }
  ASSERT_TRUE(tol_hive_set_value(*hive, key, "v6", 4, le32(6)));
  const std::uint32_t second_list = nk_u32(*hive, key, TOL_NK_VALUE_LIST);
  ASSERT_NE(second_list, first_list);
  EXPECT_GT(size_field(*hive, first_list), 0);  // freed
  EXPECT_LE(size_field(*hive, second_list), -48);  // 40 bytes asked for: room for eleven
  EXPECT_GT(size_field(*hive, second_list), -56);
  for (int i = 7; i <= 11; ++i) {
    ASSERT_TRUE(tol_hive_set_value(*hive, key, "v" + std::to_string(i), 4, le32(i)));
    EXPECT_EQ(nk_u32(*hive, key, TOL_NK_VALUE_LIST), second_list) << i;
  }
  EXPECT_EQ(value_names(*hive, key).size(), 11u);
  EXPECT_EQ(value_names(*hive, key).back(), "v11");
}

TEST_F(EditValues, AppendingToAnUnreadableListKeepsWhatCanBeRead) {
  // The key claims five values, its list holds two.
  tree_ = builder_.tree(key("ROOT"));
  const std::uint32_t a = builder_.value("a", 4, le32(1));
  const std::uint32_t b = builder_.value("b", 4, le32(2));
  NkRecord r;
  r.name = encode_name("K");
  r.parent = tree_.root;
  r.value_count = 5;
  r.value_list = builder_.offsets({a, b});
  const std::uint32_t k = builder_.nk(r);
  builder_.set_root(k);
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  EXPECT_THAT(value_names(*hive, k), ElementsAre("a", "b"));
  ASSERT_TRUE(tol_hive_set_value(*hive, k, "c", 4, le32(3)));
  EXPECT_THAT(value_names(*hive, k), ElementsAre("a", "b", "c"));
}

TEST_F(EditValues, DeleteKeepsTheListAndRemovesEveryCopyOfTheEntry) {
  TolHivePtr hive = hive_with({val("only", 3, pattern(100, 1))});
  ASSERT_NE(hive, nullptr);
  const std::uint32_t list = nk_u32(*hive, k_, TOL_NK_VALUE_LIST);
  const std::uint32_t vk = tree_.value("K", "only");
  EXPECT_FALSE(tol_hive_delete_value(*hive, k_, "missing"));
  EXPECT_FALSE(hive->dirty);
  ASSERT_TRUE(tol_hive_delete_value(*hive, k_, "ONLY"));
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_COUNT), 0u);
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_LIST), list);
  EXPECT_GT(size_field(*hive, vk), 0);
  EXPECT_GT(size_field(*hive, builder_.read_u32(vk, TOL_VK_DATA_OFFSET)), 0);
  EXPECT_EQ(tol_hive_find_value(*hive, k_, "only"), TOL_NO_CELL);
  // The freed list keeps room: the next value goes into it.
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "again", 4, le32(1)));
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_LIST), list);

  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT"));
  const std::uint32_t x = b.value("x", 4, le32(1));
  const std::uint32_t y = b.value("y", 4, le32(2));
  b.patch_u32(t.root, TOL_NK_VALUE_COUNT, 3);
  b.patch_u32(t.root, TOL_NK_VALUE_LIST, b.offsets({x, y, x}));
  TolHivePtr damaged = open(b);
  ASSERT_NE(damaged, nullptr);
  // A record listed twice has two owners to the census: freeing it is refused.
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_hive_delete_value(*damaged, t.root, "x", &error));
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED)) << error->message;
  EXPECT_FALSE(damaged->writable);
  // A value whose cells have one owner still goes; the shared one stays listed.
  ASSERT_TRUE(tol_hive_delete_value(*damaged, t.root, "y"));
  EXPECT_EQ(nk_u32(*damaged, t.root, TOL_NK_VALUE_COUNT), 2u);
  EXPECT_EQ(list_entry(*damaged, nk_u32(*damaged, t.root, TOL_NK_VALUE_LIST), 1), x);
}

TEST_F(EditValues, RenameMovesTheValueToTheEndWithItsData) {
  const Bytes big = pattern(40000, 7);
  TolHivePtr hive = hive_with({val("first", 3, big), val("second", 4, le32(2)),
                               val("third", 1, utf16le_sz("3"))});
  ASSERT_NE(hive, nullptr);
  const std::uint32_t list = nk_u32(*hive, k_, TOL_NK_VALUE_LIST);
  const std::uint32_t old_vk = tree_.value("K", "first");
  ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "FIRST", "renamed"));
  EXPECT_THAT(values_of(*hive, k_),
              ElementsAre(Value{"second", 4, le32(2)}, Value{"third", 1, utf16le_sz("3")},
                          Value{"renamed", 3, big}));
  EXPECT_EQ(nk_u32(*hive, k_, TOL_NK_VALUE_LIST), list);  // reused in place
  EXPECT_GT(size_field(*hive, old_vk), 0);
  EXPECT_GT(size_field(*hive, builder_.read_u32(old_vk, TOL_VK_DATA_OFFSET)), 0);
}

TEST_F(EditValues, RenameToTheEmptyNameMakesTheDefaultValue) {
  TolHivePtr hive = hive_with({val("a", 4, le32(1)), val("b", 4, le32(2))});
  ASSERT_NE(hive, nullptr);
  ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "a", ""));
  EXPECT_THAT(value_names(*hive, k_), ElementsAre("b", ""));
  const auto vk = tol_hive_vk(*hive, tol_hive_find_value(*hive, k_, ""));
  ASSERT_TRUE(vk);
  EXPECT_EQ(vk->u16(TOL_VK_NAME_LENGTH), 0u);
  // Now that there is a default value, another rename to it collides.
  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "b", ""));
}

TEST_F(EditValues, CaseOnlyRenameAppliesTheNewSpelling) {
  TolHivePtr hive = hive_with({val("Colour", 1, utf16le_sz("red")), val("Size", 4, le32(3))});
  ASSERT_NE(hive, nullptr);
  ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "Colour", "colour"));
  EXPECT_THAT(values_of(*hive, k_), ElementsAre(Value{"Size", 4, le32(3)},
                                                Value{"colour", 1, utf16le_sz("red")}));
  // Asked by any spelling; the other value still collides.
  ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "COLOUR", "COLOUR"));
  EXPECT_THAT(value_names(*hive, k_), ElementsAre("Size", "COLOUR"));
  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "COLOUR", "size"));
}

TEST_F(EditValues, RenameToTheSameSpellingChangesNothing) {
  TolHivePtr hive = hive_with({val("Colour", 1, utf16le_sz("red")), val("Size", 4, le32(3))});
  ASSERT_NE(hive, nullptr);
  const Bytes before = image_of(*hive);
  EXPECT_TRUE(tol_hive_rename_value(*hive, k_, "colour", "Colour"));
  EXPECT_FALSE(hive->dirty);
  EXPECT_EQ(image_of(*hive), before);
}

TEST_F(EditValues, FailedRenameLeavesTheValueIntact) {
  const Bytes data = pattern(30000, 8);
  TolHivePtr hive = hive_with({val("Colour", 3, data), val("size", 4, le32(3))});
  ASSERT_NE(hive, nullptr);
  tol_hive_make_writable(*hive);
  const Bytes before = image_of(*hive);
  const std::vector<Value> values = values_of(*hive, k_);

  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "Colour", "Size"));            // collision
  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "Colour", repeat("\xC3\xA9", 32768)));  // too long
  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "Colour", "bad\xFF"));         // not UTF-8
  EXPECT_FALSE(tol_hive_rename_value(*hive, k_, "Missing", "Other"));
  EXPECT_FALSE(tol_hive_rename_value(*hive, TOL_NO_CELL, "Colour", "Other"));
  EXPECT_FALSE(tol_hive_rename_value(*hive, tree_.value("K", "size"), "Colour", "Other"));

  EXPECT_EQ(image_of(*hive), before);
  EXPECT_EQ(values_of(*hive, k_), values);
  EXPECT_FALSE(hive->dirty);
}

TEST_F(EditValues, RefusedArgumentsChangeNothing) {
  TolHivePtr hive = hive_with({val("a", 4, le32(1))});
  ASSERT_NE(hive, nullptr);
  tol_hive_make_writable(*hive);
  const Bytes before = image_of(*hive);
  EXPECT_FALSE(tol_hive_set_value(*hive, TOL_NO_CELL, "a", 4, le32(2)));
  EXPECT_FALSE(tol_hive_set_value(*hive, tree_.value("K", "a"), "a", 4, le32(2)));
  EXPECT_FALSE(tol_hive_set_value(*hive, k_, std::string(65536, 'n'), 4, le32(2)));
  EXPECT_FALSE(tol_hive_set_value(*hive, k_, "bad\xFF", 4, le32(2)));
  EXPECT_FALSE(tol_hive_delete_value(*hive, TOL_NO_CELL, "a"));
  EXPECT_FALSE(tol_hive_delete_value(*hive, tree_.value("K", "a"), "a"));
  EXPECT_EQ(image_of(*hive), before);
  EXPECT_FALSE(hive->dirty);

  // The longest name the length field can describe is accepted.
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, std::string(65535, 'n'), 4, le32(2)));
  EXPECT_EQ(value_names(*hive, k_).back().size(), 65535u);
}

TEST_F(EditValues, LargestLengthFieldsAreRaisedNeverLowered) {
  TolHivePtr hive = hive_with({val("a", 4, le32(1))});
  ASSERT_NE(hive, nullptr);
  auto largest = [&] {
    return std::pair(nk_u32(*hive, k_, TOL_NK_MAX_VALUE_NAME), nk_u32(*hive, k_, TOL_NK_MAX_VALUE_DATA));
  };
  // Names count UTF-16 bytes, also when stored one byte per character.
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "abc", 3, pattern(10)));
  EXPECT_EQ(largest(), std::pair(6u, 10u));
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "x", 3, Bytes{1}));
  EXPECT_EQ(largest(), std::pair(6u, 10u));
  // Replacing data raises the data field.
  ASSERT_TRUE(tol_hive_set_value(*hive, k_, "A", 3, pattern(20000)));
  EXPECT_EQ(largest(), std::pair(6u, 20000u));
  // Zürich plus an emoji: 6 units + a surrogate pair.
  ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "x", "Z\xC3\xBCrich\xF0\x9F\x98\x80"));
  EXPECT_EQ(largest(), std::pair(16u, 20000u));
  ASSERT_TRUE(tol_hive_delete_value(*hive, k_, "A"));
  EXPECT_EQ(largest(), std::pair(16u, 20000u));

  // Fields already larger than anything written stay as found.
  HiveBuilder b;
  BuiltTree t = b.tree(key("ROOT"));
  b.patch_u32(t.root, TOL_NK_MAX_VALUE_NAME, 300);
  b.patch_u32(t.root, TOL_NK_MAX_VALUE_DATA, 70000);
  TolHivePtr other = open(b);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(tol_hive_set_value(*other, t.root, "name", 3, pattern(100)));
  EXPECT_EQ(nk_u32(*other, t.root, TOL_NK_MAX_VALUE_NAME), 300u);
  EXPECT_EQ(nk_u32(*other, t.root, TOL_NK_MAX_VALUE_DATA), 70000u);
}

// --- Saved hives read by the engine and by the peers. -------------------------


class SavedAfterEdits : public EditValues {
 protected:
  void SetUp() override {
    EditValues::SetUp();
    TolHivePtr hive = hive_with({val("Colour", 1, utf16le_sz("red")), val("gone", 4, le32(9)),
                                 val("big", 3, pattern(20000, 1)), val("keep", 3, pattern(10, 2))});
    ASSERT_NE(hive, nullptr);
    const std::uint32_t empty = tree_.key("Empty");
    ASSERT_TRUE(tol_hive_rename_value(*hive, k_, "Colour", "colour"));
    ASSERT_TRUE(tol_hive_delete_value(*hive, k_, "gone"));
    ASSERT_TRUE(tol_hive_set_value(*hive, k_, "BIG", 3, Bytes{0xAB}));
    ASSERT_TRUE(tol_hive_set_value(*hive, k_, "", 1, utf16le_sz("default")));
    ASSERT_TRUE(tol_hive_set_value(*hive, k_, "huge", 3, pattern(50001, 3)));
    ASSERT_TRUE(tol_hive_set_value(*hive, k_, "dw", 4, le32(0x12345678)));
    for (int i = 0; i < 12; ++i)
      ASSERT_TRUE(tol_hive_set_value(*hive, empty, "v" + std::to_string(i), 3, pattern(5 + i * 3, i)));
    ASSERT_TRUE(tol_hive_rename_value(*hive, empty, "v0", "Gr\xC3\xB6\xC3\x9F" "e"));
    ASSERT_TRUE(tol_hive_set_value(*hive, tree_.root, "rootval", 4, le32(1)));
    file_ = hive->path;
    ASSERT_TRUE(tol_hive_save(*hive, nullptr));
    expected_["K"] = values_of(*hive, k_);
    expected_["Empty"] = values_of(*hive, empty);
    expected_[""] = values_of(*hive, tree_.root);
  }


  std::string file_;
  std::map<std::string, std::vector<Value>> expected_;
};

TEST_F(SavedAfterEdits, EngineReadsTheSameValues) {
  EXPECT_THAT(expected_["K"],
              ElementsAre(Value{"big", 3, {0xAB}}, Value{"keep", 3, pattern(10, 2)},
                          Value{"colour", 1, utf16le_sz("red")}, Value{"", 1, utf16le_sz("default")},
                          Value{"huge", 3, pattern(50001, 3)}, Value{"dw", 4, le32(0x12345678)}));
  TolHivePtr saved = tol_hive_open(file_, nullptr);
  ASSERT_NE(saved, nullptr);
  for (const auto& [path, values] : expected_) {
    const auto nk = tol_hive_find_path(*saved, path);
    ASSERT_TRUE(nk) << path;
    EXPECT_EQ(values_of(*saved, *nk), values) << path;
  }
  EXPECT_EQ(expected_["Empty"].size(), 12u);
  EXPECT_EQ(expected_["Empty"].back().name, "Gr\xC3\xB6\xC3\x9F" "e");
}

TEST_F(SavedAfterEdits, Hivexsh) {
  TOL_REQUIRE_TOOL("hivexsh");
  const std::string script = path("script.txt");
  ASSERT_TRUE(g_file_set_contents(
      script.c_str(), "ls\nlsval\ncd K\nlsval\nlsval dw\ncd \\Empty\nlsval\n", -1, nullptr));
  const Outcome r = run({"hivexsh", "-f", script, file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto out = lines(r.out);
  // ls, the root's value, K's six values, the dword alone, Empty's twelve.
  ASSERT_EQ(out.size(), 2u + 1u + 6u + 1u + 12u) << r.out;
  EXPECT_EQ(out[0], "Empty");
  EXPECT_EQ(out[1], "K");
  EXPECT_EQ(out[2], "\"rootval\"=dword:00000001");
  EXPECT_EQ(out[3].rfind("\"big\"=", 0), 0u) << out[3];
  EXPECT_EQ(out[5].rfind("\"colour\"=", 0), 0u) << out[5];
  EXPECT_EQ(out[6], "\"@\"=\"default\"");
  EXPECT_EQ(out[9], "305419896");
}

TEST_F(SavedAfterEdits, HivexgetBigData) {
  TOL_REQUIRE_TOOL("hivexget");
  EXPECT_EQ(hivexget_bytes(file_, "\\K", "huge", path("huge.bin")), pattern(50001, 3));
}

TEST_F(SavedAfterEdits, HivexregeditExportHasEveryValue) {
  TOL_REQUIRE_TOOL("hivexregedit");
  const Outcome r = run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Value lines and their continuations, per key.
  std::map<std::string, std::vector<std::string>> names;
  std::string key_path;
  for (const auto& line : lines(r.out)) {
    if (line.size() > 2 && line.front() == '[') {
      key_path = line.substr(1, line.size() - 2);
    } else if (!line.empty() && (line.front() == '"' || line.front() == '@')) {
      names[key_path].push_back(line.front() == '@' ? "" : line.substr(1, line.find("\"=") - 1));
    }
  }
  EXPECT_THAT(names["\\K"], ::testing::UnorderedElementsAre("big", "keep", "colour", "", "huge", "dw"));
  EXPECT_EQ(names["\\Empty"].size(), 12u);
  EXPECT_NE(r.out.find("\"dw\"=dword:12345678"), std::string::npos);
}

TEST_F(SavedAfterEdits, RegfexportSizes) {
  TOL_REQUIRE_TOOL("regfexport");
  const Outcome r = run({"regfexport", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::map<std::string, std::map<std::string, std::string>> sizes;  // key -> value -> size
  std::string key_path;
  std::string value;
  for (const auto& line : lines(r.out)) {
    if (line.rfind("Key path: ", 0) == 0) key_path = line.substr(10);
    else if (line.rfind("Value: ", 0) == 0) value = line.substr(line.find(' ', 7) + 1);
    else if (line.rfind("Data size: ", 0) == 0) sizes[key_path][value] = line.substr(11);
  }
  const auto& k = sizes["ROOT\\K"];
  EXPECT_EQ(k.size(), 6u);
  EXPECT_EQ(k.at("big"), "1");
  EXPECT_EQ(k.at("keep"), "10");
  EXPECT_EQ(k.at("colour"), "8");
  EXPECT_EQ(k.at("huge"), "50001");
  EXPECT_EQ(k.at("dw"), "4");
  EXPECT_EQ(sizes["ROOT\\Empty"].size(), 12u);
  EXPECT_EQ(sizes["ROOT"].at("rootval"), "4");
}

TEST_F(SavedAfterEdits, Reglookup) {
  TOL_REQUIRE_TOOL("reglookup");
  const Outcome r = run({"reglookup", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& line : lines(r.err)) {
    EXPECT_TRUE(line.find("converting") != std::string::npos || line.find("quoting") != std::string::npos)
        << line;
  }
  std::size_t k_values = 0;
  std::size_t empty_values = 0;
  for (const auto& line : lines(r.out)) {
    if (line.rfind("/K/", 0) == 0) ++k_values;
    if (line.rfind("/Empty/", 0) == 0) ++empty_values;
  }
  EXPECT_EQ(k_values, 6u);
  EXPECT_EQ(empty_values, 12u);
  EXPECT_NE(r.out.find("/K/dw,DWORD,0x12345678,"), std::string::npos);
  EXPECT_NE(r.out.find("/K/colour,SZ,red,"), std::string::npos);
}

}  // namespace
}  // namespace tol::test
