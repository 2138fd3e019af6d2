// Deleted keys and values: what the engine's own deletes leave in free cells,
// what the scan makes of it once some of those cells are reused, and
// restoring it as one undoable change.
#include <algorithm>
#include <functional>

#include "hive/check.h"
#include "hive/deleted.h"
#include "hive/document.h"
#include "hive/edit.h"
#include "hive_fixture.h"
#include "peer_tools.h"
#include "reg/export.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

constexpr std::uint64_t kBuilderTime = 0x01D9000000000000ull;

std::vector<std::string> key_paths(const TolHive& hive, const TolDeletedScan& scan) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < scan.keys.size(); ++i) paths.push_back(tol_deleted_key_path(hive, scan, i));
  return paths;
}

std::size_t key_index(const TolDeletedScan& scan, std::string_view name) {
  for (std::size_t i = 0; i < scan.keys.size(); ++i)
    if (scan.keys[i].name == name) return i;
  ADD_FAILURE() << "no deleted key " << name;
  return 0;
}

std::size_t value_index(const TolDeletedScan& scan, std::string_view name) {
  for (std::size_t i = 0; i < scan.values.size(); ++i)
    if (scan.values[i].name == name) return i;
  ADD_FAILURE() << "no deleted value " << name;
  return 0;
}

Bytes data_of(const TolHive& hive, const TolDeletedScan& scan, std::string_view name) {
  std::vector<std::uint8_t> data;
  EXPECT_TRUE(tol_deleted_value_data(hive, scan, scan.values[value_index(scan, name)], data)) << name;
  return data;
}

class Deleted : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    KeySpec gone = key("Gone", {key("Child", {}, {val("c", 1, utf16le_sz("child"))}), key("Child2")},
                       {val("text", 1, utf16le_sz("hello, deleted world")), val("num", 4, le32(7)),
                        val("big", 3, pattern(40000, 5))});
    KeySpec keep = key("Keep", {}, {val("a", 4, le32(1)), val("b", 3, pattern(30, 2))});
    tree_ = builder_.tree(key("ROOT", {gone, keep, key("Other", {key("GONE")}, {val("B", 4, le32(9))})}));
    file_ = write(builder_.image());
    GError* error = nullptr;
    doc_ = tol_document_open(file_, TolLogPolicy::apply, &error);
    ASSERT_NE(doc_, nullptr) << error->message;
    exported_ = tol_reg_export_text(hive(), tree_.key("Gone"));
  }
  void TearDown() override {
    g_clear_object(&doc_);
    HiveTest::TearDown();
  }

  TolHive& hive() { return tol_document_get_hive(doc_); }
  std::uint32_t at(const char* path) { return tol_hive_find_path(hive(), path).value_or(TOL_NO_CELL); }
  std::uint32_t field(std::uint32_t cell, std::uint32_t off) { return tol_hive_cell(hive(), cell)->u32(off); }

  bool change(const std::function<bool(TolHive&, GError**)>& op, GError** error = nullptr) {
    return tol_document_change(doc_, TolChange{}, op, error);
  }
  void remove_key(const char* path) {
    ASSERT_TRUE(change([&](TolHive& h, GError** e) { return tol_hive_delete_key(h, at(path), e); }));
  }
  std::optional<TolRestoreResult> restore_key(std::uint32_t record, TolRestoreOptions options = {},
                                              GError** error = nullptr) {
    std::optional<TolRestoreResult> done;
    change([&](TolHive& h, GError** e) {
      done = tol_deleted_restore_key(h, record, options, e);
      return done.has_value();
    }, error);
    return done;
  }
  std::optional<TolRestoreResult> restore_value(std::uint32_t record, TolRestoreOptions options = {},
                                                GError** error = nullptr) {
    std::optional<TolRestoreResult> done;
    change([&](TolHive& h, GError** e) {
      done = tol_deleted_restore_value(h, record, options, e);
      return done.has_value();
    }, error);
    return done;
  }
  // Hands a cell out again as the allocator would: allocated, its bytes zeroed.
  void reuse(std::uint32_t cell) {
    tol::MutByteView bins = tol_hive_bins_mut(hive());
    const auto size = static_cast<std::int32_t>(bins.u32(cell));
    const std::uint32_t magnitude = static_cast<std::uint32_t>(size < 0 ? -size : size);
    bins.put_u32(cell, static_cast<std::uint32_t>(-static_cast<std::int64_t>(magnitude)));
    bins.fill(std::size_t{cell} + 4, magnitude - 4, 0);
  }

  HiveBuilder builder_;
  BuiltTree tree_;
  std::string file_;
  TolDocument* doc_ = nullptr;
  std::string exported_;
};

TEST_F(Deleted, TheEnginesDeleteLeavesTheSubtreeWhole) {
  EXPECT_TRUE(tol_deleted_scan(hive()).keys.empty());
  EXPECT_TRUE(tol_deleted_scan(hive()).values.empty());
  remove_key("Gone");

  // The engine frees cells without clearing them: every record is still there.
  const TolDeletedScan scan = tol_deleted_scan(hive());
  EXPECT_THAT(key_paths(hive(), scan), UnorderedElementsAre("Gone", "Gone\\Child", "Gone\\Child2"));
  const TolDeletedKey& gone = scan.keys[key_index(scan, "Gone")];
  EXPECT_EQ(gone.record, tree_.key("Gone"));
  EXPECT_EQ(gone.parent_place, TolDeletedPlace::live);
  EXPECT_EQ(gone.parent, tree_.root);
  EXPECT_EQ(gone.last_write, kBuilderTime);
  EXPECT_EQ(tol_deleted_time_text(gone.last_write), "2022-11-24T12:26:38Z");
  EXPECT_EQ(gone.confidence, TolDeletedConfidence::intact);
  EXPECT_EQ(gone.values.size(), 3u);
  EXPECT_EQ(gone.subkeys.size(), 2u);
  EXPECT_THAT(tol_deleted_keys_below(scan, tree_.root), ElementsAre(key_index(scan, "Gone")));
  const TolDeletedKey& child = scan.keys[key_index(scan, "Child")];
  EXPECT_EQ(child.parent_place, TolDeletedPlace::deleted);
  EXPECT_EQ(child.live_ancestor, tree_.root);

  ASSERT_EQ(scan.values.size(), 4u);
  for (const TolDeletedValue& v : scan.values) {
    EXPECT_EQ(v.confidence, TolDeletedConfidence::intact) << v.name;
    EXPECT_EQ(v.owner_place, TolDeletedPlace::deleted) << v.name;
    EXPECT_EQ(v.evidence, TolDeletedEvidence::deleted_key) << v.name;
  }
  EXPECT_EQ(data_of(hive(), scan, "text"), utf16le_sz("hello, deleted world"));
  EXPECT_EQ(data_of(hive(), scan, "num"), le32(7));
  EXPECT_EQ(data_of(hive(), scan, "big"), pattern(40000, 5));
  EXPECT_EQ(tol_deleted_value_key_path(hive(), scan, value_index(scan, "c")), "Gone\\Child");
}

// Each reused cell takes exactly what it held away, and never reads as the
// deleted item's: a big value's segment, a key's value list, a parent.
TEST_F(Deleted, ReusedCellsAreNeverReadAsTheDeletedItems) {
  const std::uint32_t gone = tree_.key("Gone");
  const std::uint32_t list = field(gone, TOL_NK_VALUE_LIST);
  const std::uint32_t segments = field(field(tree_.value("Gone", "big"), TOL_VK_DATA_OFFSET), 4);
  const std::uint32_t second_segment = field(segments, 4);
  remove_key("Gone");

  reuse(second_segment);
  TolDeletedScan scan = tol_deleted_scan(hive());
  const TolDeletedValue& big = scan.values[value_index(scan, "big")];
  EXPECT_FALSE(big.data_intact);
  EXPECT_EQ(big.confidence, TolDeletedConfidence::name_only);
  std::vector<std::uint8_t> data{1};
  EXPECT_FALSE(tol_deleted_value_data(hive(), scan, big, data));
  EXPECT_TRUE(data.empty());
  EXPECT_EQ(scan.keys[key_index(scan, "Gone")].confidence, TolDeletedConfidence::partial);
  EXPECT_EQ(scan.keys[key_index(scan, "Child")].confidence, TolDeletedConfidence::intact);

  reuse(list);
  scan = tol_deleted_scan(hive());
  EXPECT_TRUE(scan.keys[key_index(scan, "Gone")].values.empty());
  EXPECT_EQ(scan.keys[key_index(scan, "Gone")].confidence, TolDeletedConfidence::partial);
  const std::size_t text = value_index(scan, "text");
  EXPECT_EQ(scan.values[text].owner_place, TolDeletedPlace::unknown);
  EXPECT_EQ(tol_deleted_value_key_path(hive(), scan, text), "?");
  EXPECT_EQ(data_of(hive(), scan, "text"), utf16le_sz("hello, deleted world"));

  reuse(gone);
  scan = tol_deleted_scan(hive());
  EXPECT_THAT(key_paths(hive(), scan), UnorderedElementsAre("?\\Child", "?\\Child2"));
  EXPECT_EQ(scan.keys[key_index(scan, "Child")].live_ancestor, TOL_NO_CELL);
  EXPECT_EQ(tol_deleted_value_key_path(hive(), scan, value_index(scan, "c")), "?\\Child");
}

// A vk left in the slack of a key record with room to spare is found; bytes
// that merely start like records, or records with an impossible time, are not.
TEST_F(Deleted, SlackRemnantsCountAndGarbageDoesNot) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("Live")}));
  NkRecord roomy;
  roomy.name = encode_name("Roomy");
  roomy.parent = t.root;
  roomy.extra = 96;
  const std::uint32_t host = b.nk(roomy);
  Bytes vk(24, 0);
  vk[0] = 'v', vk[1] = 'k', vk[2] = 4, vk[4] = 4, vk[7] = 0x80, vk[16] = 1;
  const Bytes inline_data = le32(0xCAFE);
  std::copy(inline_data.begin(), inline_data.end(), vk.begin() + 8);
  std::copy_n("Left", 4, vk.begin() + 20);
  b.put_cell(host + 88, 32, vk);

  Bytes nk_garbage = bytes_of("nk");
  const Bytes noise = pattern(150, 9);
  nk_garbage.insert(nk_garbage.end(), noise.begin(), noise.end());
  b.cell(nk_garbage, {.free = true, .size_field = std::nullopt, .reserve = 0});
  Bytes vk_garbage = bytes_of("vk");
  vk_garbage.insert(vk_garbage.end(), noise.begin(), noise.begin() + 40);
  b.cell(vk_garbage, {.free = true, .size_field = std::nullopt, .reserve = 0});
  NkRecord real;
  real.name = encode_name("Real");
  real.parent = t.root;
  const std::uint32_t late = b.nk(real);
  const std::uint32_t found = b.nk(real);
  b.patch_u32(late, TOL_NK_TIMESTAMP + 4, 0x7FFFFFFF);  // beyond the year 30000
  b.set_cell_size(late, 88);
  b.set_cell_size(found, 88);

  TolHivePtr hive = open(b);
  const TolDeletedScan scan = tol_deleted_scan(*hive);
  ASSERT_EQ(scan.keys.size(), 1u);
  EXPECT_EQ(scan.keys[0].record, found);
  EXPECT_EQ(tol_deleted_key_path(*hive, scan, 0), "Real");
  ASSERT_EQ(scan.values.size(), 1u);
  EXPECT_EQ(scan.values[0].name, "Left");
  EXPECT_TRUE(scan.values[0].in_slack);
  EXPECT_EQ(data_of(*hive, scan, "Left"), inline_data);
}

// A deleted value is a live key's when an old value list in a free cell
// names it beside that key's live values; a record in a free cell that a
// live list still names is damage, not a deleted value.
TEST_F(Deleted, OldValueListsTellTheKey) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("K", {}, {val("a", 4, le32(1)), val("b", 4, le32(2))})}));
  const std::uint32_t x = b.value("x", 4, le32(3));
  b.set_cell_size(x, 32);
  const std::uint32_t old = b.offsets({t.value("K", "a"), x, t.value("K", "b")});
  b.set_cell_size(old, 16);
  b.set_cell_size(t.value("K", "b"), 32);

  TolHivePtr hive = open(b);
  const TolDeletedScan scan = tol_deleted_scan(*hive);
  ASSERT_EQ(scan.values.size(), 1u);
  EXPECT_EQ(scan.values[0].name, "x");
  EXPECT_EQ(scan.values[0].evidence, TolDeletedEvidence::old_list);
  EXPECT_EQ(scan.values[0].owner, t.key("K"));
  EXPECT_THAT(tol_deleted_values_of(scan, t.key("K")), ElementsAre(0u));
}

TEST_F(Deleted, RestoringAKeyIsOneUndoableChange) {
  remove_key("Gone");
  const TolDeletedScan scan = tol_deleted_scan(hive());
  const auto done = restore_key(scan.keys[key_index(scan, "Gone")].record);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->name, "Gone");
  EXPECT_EQ(done->keys, 3u);
  EXPECT_EQ(done->values, 4u);
  EXPECT_EQ(done->lost_keys + done->lost_values, 0u);
  EXPECT_EQ(done->key, at("Gone"));
  EXPECT_EQ(tol_reg_export_text(hive(), at("Gone")), exported_);
  EXPECT_TRUE(tol_hive_check(hive()).ok());
  // What it was restored from no longer reads as deleted.
  EXPECT_TRUE(tol_deleted_scan(hive()).keys.empty());

  ASSERT_TRUE(tol_document_undo(doc_, nullptr));
  EXPECT_EQ(at("Gone"), TOL_NO_CELL);
  EXPECT_EQ(tol_deleted_scan(hive()).keys.size(), 3u);
  ASSERT_TRUE(tol_document_redo(doc_, nullptr));
  TolHivePtr disk = tol_hive_open(file_, nullptr);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(tol_reg_export_text(*disk, *tol_hive_find_path(*disk, "Gone")), exported_);

  if (installed("reglookup")) {
    const Outcome r = run({"reglookup", "-p", "/Gone", file_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("/Gone/Child/c,SZ,child,"));
    EXPECT_THAT(r.out, HasSubstr("/Gone/big,BINARY,"));
  }
  if (installed("regfexport")) {
    const Outcome r = run({"regfexport", file_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Key path: ROOT\\Gone\\Child2"));
    EXPECT_THAT(r.out, HasSubstr("Data size: 40000"));
  }
  if (installed("hivexget")) {
    const Outcome r = run({"hivexget", file_, "\\Gone", "num"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "7\n");
  }
}

TEST_F(Deleted, RestoreRefusesWhatItCannotDoAndRenamesOnRequest) {
  remove_key("Gone");
  const TolDeletedScan scan = tol_deleted_scan(hive());
  const std::uint32_t gone = scan.keys[key_index(scan, "Gone")].record;
  const std::uint32_t child = scan.keys[key_index(scan, "Child")].record;
  const Bytes before = image_of(hive());

  GError* error = nullptr;
  EXPECT_FALSE(tol_deleted_restore_key(hive(), child, {}, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, TOL_HIVE_ERROR_INVALID);
  EXPECT_THAT(error->message, HasSubstr("deleted too"));
  g_clear_error(&error);
  const TolRestoreOptions into_other{.parent = at("Other"), .rename = false};
  EXPECT_FALSE(tol_deleted_restore_key(hive(), gone, into_other, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, TOL_HIVE_ERROR_EXISTS);
  EXPECT_THAT(error->message, HasSubstr("\"Gone\""));
  g_clear_error(&error);
  EXPECT_EQ(image_of(hive()), before) << "a refusal writes nothing";

  const auto renamed = restore_key(gone, {.parent = at("Other"), .rename = true});
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->name, "Gone (restored)");
  EXPECT_EQ(renamed->keys, 3u);
  EXPECT_EQ(renamed->key, at("Other\\Gone (restored)"));
  EXPECT_THAT(subkey_names(hive(), renamed->key), ElementsAre("Child", "Child2"));

  // Restored with its parent, the child is no longer there to restore.
  EXPECT_FALSE(restore_key(child, {.parent = at("Other"), .rename = true}, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, TOL_HIVE_ERROR_NOT_FOUND);
  g_clear_error(&error);
}

// The engine deletes a value by closing the gap in the list; the last one
// stays behind the count, which tells whose it was.
TEST_F(Deleted, ADeletedValueGoesBackIntoItsKey) {
  const std::uint32_t keep = at("Keep");
  ASSERT_TRUE(change([&](TolHive& h, GError** e) { return tol_hive_delete_value(h, keep, "b", e); }));
  const TolDeletedScan scan = tol_deleted_scan(hive());
  ASSERT_EQ(scan.values.size(), 1u);
  EXPECT_EQ(scan.values[0].evidence, TolDeletedEvidence::list_slack);
  EXPECT_THAT(tol_deleted_values_of(scan, keep), ElementsAre(0u));
  EXPECT_EQ(tol_deleted_value_key_path(hive(), scan, 0), "Keep");
  const std::uint32_t record = scan.values[0].record;

  GError* error = nullptr;
  EXPECT_FALSE(restore_value(record, {.parent = at("Other"), .rename = false}, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, TOL_HIVE_ERROR_EXISTS);
  EXPECT_THAT(error->message, HasSubstr("\"b\""));
  g_clear_error(&error);

  const auto done = restore_value(record);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->key, keep);
  TolHiveValue value;
  ASSERT_TRUE(tol_hive_read_value(hive(), keep, 1, value));
  EXPECT_EQ(value.name, "b");
  EXPECT_EQ(value.data, pattern(30, 2));
  EXPECT_TRUE(tol_deleted_scan(hive()).values.empty());
  EXPECT_FALSE(restore_value(record, {}, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, TOL_HIVE_ERROR_NOT_FOUND);
  g_clear_error(&error);
}

}  // namespace
}  // namespace tol::test
