// What the hostile corpus found wrong in the engine, pinned down one hive at a
// time: each test names the behaviour that used to crash, hang, exhaust
// memory or spread damage.
#include <gmock/gmock.h>

#include "corpus.h"
#include "hive/check.h"
#include "hive/copy.h"
#include "hive/create.h"
#include "hive/edit.h"
#include "hive/save.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

class Regressions : public HiveTest {
 protected:
  TolHivePtr open_hostile(const std::string& name) { return open(hostile_hive(name).image); }

  std::uint32_t at(const TolHive& hive, const char* path) {
    return tol_hive_find_path(hive, path).value();
  }

  static bool allocated(const TolHive& hive, std::uint32_t off) {
    return static_cast<std::int32_t>(hive.bins().u32(off)) < 0;
  }

  static std::string problems(const TolHive& hive) {
    std::string text;
    for (const auto& line : tol_hive_check(hive).problems) text += line + "\n";
    return text;
  }

  // A fresh sound hive to copy into.
  TolHivePtr destination() {
    const std::string file = path();
    if (!tol_hive_create_file(file, "DEST", nullptr)) return nullptr;
    return tol_hive_open(file, nullptr);
  }
};

TEST_F(Regressions, BigDataNeverGatherMoreThanTheImageHolds) {
  // 65535 segment entries naming one 16 KiB cell, a length of 2 GiB: the read
  // used to reserve 1 GiB and could gather it.
  TolHivePtr hive = open_hostile("db-repeated-segment");
  ASSERT_NE(hive, nullptr);
  const std::uint32_t victim = at(*hive, "Victim");
  TolHiveValue value;
  ASSERT_TRUE(tol_hive_read_value(*hive, victim, 1, value));
  EXPECT_EQ(value.length(), hive->bins_length);
  EXPECT_EQ(Bytes(value.data.begin(), value.data.begin() + kSegment), pattern(kSegment, 8));
}

TEST_F(Regressions, CopiesOfMultiplyingListsStopEarly) {
  // A key listed twice on each of 40 levels, and two keys that both list
  // their parent: the copy's walk doubled with every level and never ended.
  for (const char* name : {"diamond-40", "cycle-fanout"}) {
    SCOPED_TRACE(name);
    TolHivePtr source = open_hostile(name);
    TolHivePtr dest = destination();
    ASSERT_TRUE(source && dest);
    GError* error = nullptr;
    const std::uint32_t copied =
        tol_hive_copy_subtree(*source, at(*source, "Victim"), *dest, dest->root_cell, &error);
    EXPECT_GT(copied, 40u);
    EXPECT_LE(copied, source->bins_length / 80 * 2 + 2 * TOL_MAX_KEY_DEPTH);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, G_FILE_ERROR_LOOP);
    g_clear_error(&error);
  }
}

TEST_F(Regressions, CopiesLeaveNamelessKeysBehind) {
  TolHivePtr source = open_hostile("name-empty");
  TolHivePtr dest = destination();
  ASSERT_TRUE(source && dest);
  GError* error = nullptr;
  EXPECT_EQ(tol_hive_copy_subtree(*source, at(*source, "Victim"), *dest, dest->root_cell, &error),
            2u);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error->message, "failed to create key \"\"");
  g_clear_error(&error);
  EXPECT_EQ(subkey_names(*dest, at(*dest, "Victim")), std::vector<std::string>{"x"});
  EXPECT_EQ(problems(*dest), "");
}

TEST_F(Regressions, CheckReportsKeyNamesReadersRefuse) {
  TolHivePtr empty = open_hostile("name-empty");
  TolHivePtr odd = open_hostile("name-odd-utf16");
  ASSERT_TRUE(empty && odd);
  EXPECT_THAT(problems(*empty), HasSubstr("Victim\\: the key name is empty"));
  EXPECT_THAT(problems(*odd), HasSubstr(": the UTF-16 key name has an odd number of bytes"));
}

TEST_F(Regressions, KeysTheirParentDoesNotListStay) {
  // Deleting or renaming frees the key's record, which the list that does
  // name it would go on naming: such keys are left alone.
  for (const char* name :
       {"parent-self", "parent-cycle-below-root", "parent-junk", "root-cell-too-small"}) {
    SCOPED_TRACE(name);
    TolHivePtr hive = open_hostile(name);
    ASSERT_NE(hive, nullptr);
    const std::uint32_t victim = hostile_hive(name).victim;
    EXPECT_FALSE(tol_hive_delete_key(*hive, victim));
    EXPECT_FALSE(tol_hive_rename_key(*hive, victim, "Renamed"));
    EXPECT_FALSE(hive->dirty);
    EXPECT_TRUE(tol_hive_set_value(*hive, victim, "still", 4, le32(1)));
  }
}

// An edit the census refuses says the hive is damaged, and writes nothing.
void expect_refused_as_damage(bool done, GError* error) {
  EXPECT_FALSE(done);
  EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED))
      << (error ? error->message : "no error");
  g_clear_error(&error);
}

TEST_F(Regressions, KeysListedInTheirOwnSubtreeKeepTheirRecord) {
  for (const char* name : {"list-self", "list-grandchild-loop"}) {
    SCOPED_TRACE(name);
    TolHivePtr hive = open_hostile(name);
    ASSERT_NE(hive, nullptr);
    EXPECT_FALSE(tol_hive_rename_key(*hive, at(*hive, "Victim"), "Renamed"));
    EXPECT_TRUE(tol_hive_rename_key(*hive, at(*hive, "Keep"), "Kept"));
    // The victim's record has two owners: its parent and its own subtree.
    GError* error = nullptr;
    const bool done = tol_hive_delete_key(*hive, at(*hive, "Victim"), &error);
    expect_refused_as_damage(done, error);
  }
}

TEST_F(Regressions, KeysWithSubkeysTheEngineCannotReadAreNotRenamed) {
  // hivex follows the six levels of "ri" and found V1 and V2 naming the
  // freed record as their parent.
  for (const char* name : {"ri-nested-6", "ri-self-1000", "subkey-count-huge"}) {
    SCOPED_TRACE(name);
    TolHivePtr hive = open_hostile(name);
    ASSERT_NE(hive, nullptr);
    EXPECT_FALSE(tol_hive_rename_key(*hive, at(*hive, "Victim"), "Renamed"));
  }
  TolHivePtr sound = open_hostile("control-base");
  ASSERT_NE(sound, nullptr);
  EXPECT_TRUE(tol_hive_rename_key(*sound, at(*sound, "Victim"), "Renamed"));
}

TEST_F(Regressions, DeletingAKeyLeavesTheKeysItListsThatBelongElsewhere) {
  TolHivePtr hive = open_hostile("list-names-sibling");
  ASSERT_NE(hive, nullptr);
  const std::uint32_t keep = at(*hive, "Keep");
  const std::uint32_t victim = at(*hive, "Victim");
  ASSERT_THAT(tol_hive_subkeys(*hive, victim), Contains(keep));
  GError* error = nullptr;
  const bool done = tol_hive_delete_key(*hive, victim, &error);
  expect_refused_as_damage(done, error);
  EXPECT_TRUE(allocated(*hive, keep));
  EXPECT_TRUE(allocated(*hive, at(*hive, "Keep\\Child")));
  EXPECT_FALSE(hive->dirty);
}

TEST_F(Regressions, FreedDataNeverTakeARecordWithThem) {
  // Value data whose offset names the root, another key's subkey list, or
  // big data segments naming keys.
  for (const char* name :
       {"data-at-root", "data-at-sibling-list", "db-segments-name-keys", "db-is-list"}) {
    SCOPED_TRACE(name);
    TolHivePtr hive = open_hostile(name);
    ASSERT_NE(hive, nullptr);
    const std::uint32_t victim = at(*hive, "Victim");
    const std::uint32_t keep_list = tol_hive_key(*hive, at(*hive, "Keep"))->u32(TOL_NK_SUBKEY_LIST);
    const std::uint32_t value_list = tol_hive_key(*hive, victim)->u32(TOL_NK_VALUE_LIST);
    // Refused where the census sees the record the data name; done cleanly
    // where it does not.
    GError* error = nullptr;
    if (tol_hive_delete_value(*hive, victim, "b", &error))
      EXPECT_EQ(problems(*hive), "");
    else
      expect_refused_as_damage(false, error);
    for (const std::uint32_t off : {hive->root_cell, victim, keep_list, value_list})
      EXPECT_TRUE(allocated(*hive, off)) << off;
  }
}

TEST_F(Regressions, BrokenBinChainsAreNotEdited) {
  // Readers stop at a bin without its signature; whatever an edit put behind
  // it would be lost to them.
  TolHivePtr hive = open_hostile("bin-signature-missing");
  ASSERT_NE(hive, nullptr);
  EXPECT_FALSE(tol_hive_bins_intact(*hive));
  EXPECT_FALSE(tol_hive_create_key(*hive, hive->root_cell, "New"));
  EXPECT_FALSE(tol_hive_set_value(*hive, hive->root_cell, "v", 4, le32(1)));
  EXPECT_FALSE(tol_hive_delete_key(*hive, at(*hive, "Keep")));
  EXPECT_FALSE(hive->writable);
  TolHivePtr sound = open_hostile("control-base");
  ASSERT_NE(sound, nullptr);
  EXPECT_TRUE(tol_hive_bins_intact(*sound));
}

TEST_F(Regressions, SavedImagesHoldWholeBins) {
  // A file cut inside its second bin, and a bins size that ends 100 bytes
  // into it: new bins went behind the partial one and saves kept its length.
  for (const char* name : {"truncated-file", "bins-size-odd"}) {
    SCOPED_TRACE(name);
    TolHivePtr hive = open_hostile(name);
    ASSERT_NE(hive, nullptr);
    ASSERT_NE(hive->bins_length % 4096, 0u);
    ASSERT_TRUE(tol_hive_create_key(*hive, hive->root_cell, "New"));
    ASSERT_TRUE(tol_hive_set_value(*hive, at(*hive, "New"), "big", 3, pattern(6000)));
    ASSERT_TRUE(tol_hive_save(*hive, nullptr));
    TolHivePtr saved = tol_hive_open(hive->path, nullptr);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->bins_length % 4096, 0u);
    EXPECT_EQ(saved->base().u32(TOL_BASE_BINS_SIZE), saved->bins_length);
    EXPECT_EQ(problems(*saved), "");
  }
}

}  // namespace
}  // namespace tol::test
