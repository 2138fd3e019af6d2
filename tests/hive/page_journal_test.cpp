// Undo and redo by pages: after any sequence of edits, undos and redos the
// image is byte for byte the one it was at that point, and steps cost what
// they touch.
#include <random>

#include "hive/copy.h"
#include "hive/edit.h"
#include "hive/page_journal.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

class PageJournal : public HiveTest {
 protected:
  TolHivePtr sample() {
    std::vector<KeySpec> keys;
    for (int i = 0; i < 40; ++i)
      keys.push_back(key("K" + std::to_string(i), {key("Sub")},
                         {val("v", 1, utf16le_sz("value " + std::to_string(i))),
                          val("blob", 3, pattern(3000, static_cast<std::uint32_t>(i)))}));
    HiveBuilder b;
    b.tree(key("ROOT", keys));
    return open(b);
  }

  // One edit picked by the generator; false when the engine refused it.
  static bool edit(TolHive& hive, std::mt19937& rng) {
    const std::uint32_t root = hive.root_cell;
    const auto subkeys = tol_hive_subkeys(hive, root);
    if (subkeys.empty()) return tol_hive_create_key(hive, root, "Fresh").has_value();
    const std::uint32_t k = subkeys[rng() % subkeys.size()];
    const std::string name = "N" + std::to_string(rng() % 1000);
    switch (rng() % 7) {
      case 0: return tol_hive_create_key(hive, k, name).has_value();
      case 1: return tol_hive_set_value(hive, k, name, 3, pattern(rng() % 64, 1));
      // Larger than one segment: big data in appended bins.
      case 2: return tol_hive_set_value(hive, k, "big", 3, pattern(20000 + rng() % 50000, 2));
      case 3: return tol_hive_delete_value(hive, k, "blob");
      case 4: return tol_hive_delete_key(hive, k);
      case 5: return tol_hive_rename_key(hive, k, name).has_value();
      default: return tol_hive_copy_subtree(hive, k, hive, subkeys[rng() % subkeys.size()], nullptr) > 0;
    }
  }
};

TEST_F(PageJournal, AnySequenceOfEditsUndosAndRedosGivesBackEachImageExactly) {
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    TolHivePtr hive = sample();
    ASSERT_NE(hive, nullptr);
    TolPageJournal journal;
    // images[i] is the image after i steps of the current history.
    std::vector<Bytes> images{image_of(*hive)};
    std::size_t at = 0;
    int edits = 0;
    int undos = 0;
    for (int round = 0; round < 60; ++round) {
      const unsigned what = rng() % 10;
      if (what < 5) {
        const Bytes before = image_of(*hive);
        journal.begin(*hive);
        if (!edit(*hive, rng)) {
          // A refused or failed operation is rolled back to the byte.
          journal.rollback(*hive);
          ASSERT_EQ(image_of(*hive), before);
          continue;
        }
        journal.commit(*hive);
        ++edits;
        images.resize(at + 1);
        images.push_back(image_of(*hive));
        ++at;
        EXPECT_FALSE(journal.can_redo());
      } else if (what < 8) {
        const bool can = journal.can_undo();
        ASSERT_EQ(journal.undo(*hive), can);
        if (!can) continue;
        --at;
        ++undos;
        ASSERT_EQ(image_of(*hive), images[at]) << "undo to step " << at;
      } else {
        const bool can = journal.can_redo();
        ASSERT_EQ(journal.redo(*hive), can);
        if (!can) continue;
        ++at;
        ASSERT_EQ(image_of(*hive), images[at]) << "redo to step " << at;
      }
    }
    EXPECT_GT(edits, 15);
    EXPECT_GT(undos, 5);
    // At most ten steps back, whatever the history was.
    std::size_t undone = 0;
    while (journal.undo(*hive)) ++undone;
    EXPECT_LE(undone, TolPageJournal::kMaxSteps);
    EXPECT_EQ(image_of(*hive), images[at - undone]);
  }
}

TEST_F(PageJournal, SmallStepsCostAFewPagesAndAFailedSaveKeepsTheStep) {
  // A hive of several hundred pages: ten small edits must not cost images.
  std::vector<KeySpec> keys;
  for (int i = 0; i < 400; ++i)
    keys.push_back(key("K" + std::to_string(i), {}, {val("blob", 3, pattern(4000, 3))}));
  HiveBuilder b;
  b.tree(key("ROOT", keys));
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);
  ASSERT_GT(hive->bins_length, 400u * 4096);
  TolPageJournal journal;
  for (int i = 0; i < 10; ++i) {
    journal.begin(*hive);
    ASSERT_TRUE(tol_hive_create_key(*hive, hive->root_cell, "New" + std::to_string(i)));
    journal.commit(*hive);
  }
  // The root's subkey list, the new key, a security record, the base block:
  // a handful of pages each.
  EXPECT_LT(journal.cost(), 10u * 8 * 4096) << journal.cost();

  // The window saves after an undo and puts the step back when that fails:
  // undo, then redo, leaves both lists as they were.
  const Bytes now = image_of(*hive);
  ASSERT_TRUE(journal.undo(*hive));
  ASSERT_TRUE(journal.redo(*hive));
  EXPECT_EQ(image_of(*hive), now);
  EXPECT_FALSE(journal.can_redo());
  std::size_t undone = 0;
  while (journal.undo(*hive)) ++undone;
  EXPECT_EQ(undone, 10u);
  EXPECT_FALSE(tol_hive_find_path(*hive, "New0"));
}

}  // namespace
}  // namespace tol::test
