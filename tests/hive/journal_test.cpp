// Undo journal: whole-image snapshots, at most ten, restored byte for byte.
#include "hive/save.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

class JournalTest : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    tree_ = builder_.tree(key("ROOT", {key("A"), key("B")}, {val("v", 3, pattern(64, 9))}));
    file_ = write(builder_.image());
    hive_ = tol_hive_open(file_, nullptr);
    ASSERT_NE(hive_, nullptr);
    marker_ = builder_.read_u32(tree_.value("", "v"), 8) + 4;  // first data byte
  }

  // A change the test can recognise in a snapshot: one data byte set to n.
  void change(std::uint8_t n) {
    tol_hive_make_writable(*hive_);
    hive_->heap_bins.at(marker_) = n;
    hive_->dirty = true;
  }

  // Appends a zeroed bin, as the allocator does when the hive runs out of room.
  void grow() {
    hive_->heap_bins.resize(hive_->heap_bins.size() + 8192);
    hive_->bins_length += 8192;
    hive_->alloc_hint = hive_->bins_length - 8192;
    hive_->dirty = true;
  }

  HiveBuilder builder_;
  BuiltTree tree_;
  std::string file_;
  TolHivePtr hive_;
  std::uint32_t marker_ = 0;
};

TEST_F(JournalTest, RecordingAMappedHiveSnapshotsTheFileImage) {
  TolUndoJournal journal;
  tol_journal_record(journal, *hive_);
  EXPECT_TRUE(hive_->writable);
  EXPECT_FALSE(hive_->dirty);
  ASSERT_EQ(journal.snapshots.size(), 1u);
  EXPECT_EQ(*journal.snapshots.front(), builder_.image());
}

TEST_F(JournalTest, ElevenRecordsKeepTheNewestTen) {
  TolUndoJournal journal;
  for (std::uint8_t i = 0; i <= 10; ++i) {
    change(i);
    tol_journal_record(journal, *hive_);
  }
  ASSERT_EQ(journal.snapshots.size(), TolUndoJournal::kMaxSnapshots);
  change(99);
  // Newest first: 10, 9, ..., 1; the snapshot holding 0 was dropped.
  for (int expected = 10; expected >= 1; --expected) {
    ASSERT_TRUE(tol_journal_restore(journal, *hive_));
    EXPECT_EQ(hive_->heap_bins.at(marker_), expected);
  }
  EXPECT_TRUE(journal.snapshots.empty());
  EXPECT_FALSE(tol_journal_restore(journal, *hive_));
  EXPECT_EQ(hive_->heap_bins.at(marker_), 1);
}

TEST_F(JournalTest, RestoreBringsBackTheExactImageAfterTheBinsGrew) {
  TolUndoJournal journal;
  change(1);
  const Bytes before = image_of(*hive_);
  tol_journal_record(journal, *hive_);
  const auto snapshot = journal.snapshots.back();

  change(2);
  grow();
  tol_hive_key_name(*hive_, tree_.key("A"));  // something in the name cache
  hive_->base_copy.at(0x28) ^= 0xFF;
  hive_->dirty = false;  // as after a save of the changed image

  ASSERT_TRUE(tol_journal_restore(journal, *hive_));
  EXPECT_EQ(image_of(*hive_), before);
  EXPECT_EQ(hive_->bins_length, before.size() - 4096);
  EXPECT_EQ(hive_->heap_bins.size(), before.size() - 4096);
  EXPECT_EQ(hive_->alloc_hint, 0u);
  EXPECT_TRUE(hive_->name_cache.empty());
  EXPECT_TRUE(hive_->dirty);
  // The snapshot was never touched by the later changes.
  EXPECT_EQ(*snapshot, before);

  // The file shrinks back with the next save.
  ASSERT_TRUE(tol_hive_save(*hive_, nullptr));
  TolHivePtr saved = tol_hive_open(file_, nullptr);
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(saved->mapping.length(), before.size());
  EXPECT_THAT(subkey_names(*saved, tree_.root), ::testing::ElementsAre("A", "B"));
}

TEST_F(JournalTest, RestoreFromAnEmptyJournalChangesNothing) {
  TolUndoJournal journal;
  EXPECT_FALSE(tol_journal_restore(journal, *hive_));
  EXPECT_FALSE(hive_->writable);
  EXPECT_FALSE(hive_->dirty);
}

TEST_F(JournalTest, ASnapshotWithoutABaseBlockIsOnlyDropped) {
  TolUndoJournal journal;
  tol_journal_record(journal, *hive_);
  journal.snapshots.push_back(std::make_shared<const std::vector<std::uint8_t>>(100, 0));
  change(5);
  hive_->dirty = false;
  ASSERT_TRUE(tol_journal_restore(journal, *hive_));
  EXPECT_EQ(journal.snapshots.size(), 1u);
  EXPECT_EQ(hive_->heap_bins.at(marker_), 5);
  EXPECT_FALSE(hive_->dirty);
}

}  // namespace
}  // namespace tol::test
