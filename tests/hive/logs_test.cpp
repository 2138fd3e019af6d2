// Dirty hives: transaction logs of both generations applied on open, and what
// a save of the recovered image leaves on disk.
#include <algorithm>

#include "hive/check.h"
#include "hive/edit.h"
#include "hive/logs.h"
#include "hive/save.h"
#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(Marvin32, MatchesThePublishedTestValues) {
  Bytes counting(32);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
  const Bytes abcd = bytes_of("abcd");
  EXPECT_EQ(tol_marvin32({}), 0xB39EFCA403966E08ull);
  EXPECT_EQ(tol_marvin32(abcd), 0x20094FB11A6CD086ull);
  EXPECT_EQ(tol_marvin32(counting), 0xC64FEEE425C2E24Cull);
  // The builder's own copy writes the logs the engine is tested on.
  EXPECT_EQ(marvin32({}), 0xB39EFCA403966E08ull);
  EXPECT_EQ(marvin32(abcd), 0x20094FB11A6CD086ull);
  EXPECT_EQ(marvin32(counting), 0xC64FEEE425C2E24Cull);
}

// The hive file as the crash left it, and the state its logs bring it to: a
// changed value, a new key holding a value in a bin of several pages, and a
// bins area that has grown.
KeySpec before_tree() {
  return key("ROOT", {key("Keep", {}, {val("k", 4, le32(7))}), key("Old", {}, {val("v", 4, le32(1))})});
}
KeySpec after_tree() {
  return key("ROOT", {key("Keep", {}, {val("k", 4, le32(7))}),
                      key("New", {}, {val("big", 3, pattern(20000, 5)), val("s", 1, utf16le_sz("hi"))}),
                      key("Old", {}, {val("v", 4, le32(2))})});
}

class Logs : public HiveTest {
 protected:
  static constexpr std::uint32_t kSeq = 100;

  void SetUp() override {
    HiveTest::SetUp();
    HiveBuilder a;
    a.tree(before_tree());
    a.set_sequence(kSeq + 1, kSeq);  // the write of the hive file never finished
    before_ = a.image();
    HiveBuilder b;
    b.tree(after_tree());
    b.set_sequence(kSeq + 1, kSeq + 1);
    after_ = b.image();
    ASSERT_EQ(a.root(), b.root()) << "the logs carry no base block: both need one root";
    ASSERT_GT(b.bins_size(), a.bins_size());
    after_bins_ = b.bins_size();
    pages_ = changed_pages(before_, after_);
    ASSERT_GE(pages_.size(), 4u);
    primary_ = path("h.hiv");
  }

  // The changed pages in `count` entries numbered from `first`, in ascending
  // page order so that every bin's header page comes no later than its others.
  std::vector<LogEntrySpec> entries(std::uint32_t first, std::size_t count) const {
    std::vector<LogEntrySpec> out(count);
    for (std::size_t i = 0; i < count; ++i) {
      out[i].sequence = first + static_cast<std::uint32_t>(i);
      out[i].bins_size = after_bins_;
    }
    for (std::size_t p = 0; p < pages_.size(); ++p)
      out[std::min(count - 1, p * count / pages_.size())].pages.push_back(pages_[p]);
    return out;
  }

  void write_primary(const Bytes& image) { HiveBuilder::write_bytes(primary_, image); }
  void write_log(const std::string& suffix, const Bytes& bytes) {
    HiveBuilder::write_bytes(path("h.hiv" + suffix), bytes);
  }

  TolHivePtr open_primary(TolLogPolicy policy = TolLogPolicy::apply) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(primary_, &error, policy);
    EXPECT_NE(hive, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    return hive;
  }

  static std::uint32_t dword(const TolHive& hive, const char* key, const char* name) {
    const auto k = tol_hive_find_path(hive, key);
    if (!k) return 0xDEAD;
    const std::uint32_t vk = tol_hive_find_value(hive, *k, name);
    const auto cell = tol_hive_vk(hive, vk);
    return cell ? cell->u32(TOL_VK_DATA_OFFSET) : 0xDEAD;
  }

  static void expect_after(const TolHive& hive) {
    EXPECT_EQ(dword(hive, "Old", "v"), 2u);
    const auto added = tol_hive_find_path(hive, "New");
    ASSERT_TRUE(added);
    const auto big = tol_hive_vk(hive, tol_hive_find_value(hive, *added, "big"));
    ASSERT_TRUE(big);
    EXPECT_EQ(tol_hive_value_data(hive, big->u32(TOL_VK_DATA_LENGTH), big->u32(TOL_VK_DATA_OFFSET)),
              pattern(20000, 5));
    EXPECT_TRUE(tol_hive_check(hive).ok());
  }
  static void expect_before(const TolHive& hive) {
    EXPECT_EQ(dword(hive, "Old", "v"), 1u);
    EXPECT_FALSE(tol_hive_find_path(hive, "New"));
  }

  Bytes before_, after_;
  std::uint32_t after_bins_ = 0;
  std::vector<LogPage> pages_;
  std::string primary_;
};

TEST_F(Logs, EntriesAlternatingBetweenBothFilesAreAppliedInSequence) {
  write_primary(before_);
  auto all = entries(kSeq, 4);
  // Windows switched files after two entries: LOG2 holds the earlier ones.
  write_log(".LOG2", new_format_log(before_, kSeq, {all[0], all[1]}));
  write_log(".LOG1", new_format_log(before_, kSeq + 2, {all[2], all[3]}));
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  const TolLogReport& r = hive->logs;
  EXPECT_TRUE(r.complete);
  EXPECT_FALSE(tol_hive_has_pending_log(*hive));
  EXPECT_EQ(r.applied, 4u);
  EXPECT_THAT(r.files, ElementsAre("h.hiv.LOG2", "h.hiv.LOG1"));
  EXPECT_EQ(tol_log_summary(r),
            "4 entries applied from h.hiv.LOG2, h.hiv.LOG1 (sequence 100\u2013103)");
  EXPECT_EQ(hive->bins_length, after_bins_);
  EXPECT_EQ(tol_hive_primary_sequence(*hive), kSeq + 3);
  EXPECT_EQ(tol_hive_secondary_sequence(*hive), kSeq + 3);
  EXPECT_FALSE(tol_hive_needs_recovery(hive->base()));
  EXPECT_FALSE(hive->writable) << "recovery must not copy the whole image";
  expect_after(*hive);

  // Analysts can still see the file as it is on disk.
  TolHivePtr raw = open_primary(TolLogPolicy::ignore);
  ASSERT_NE(raw, nullptr);
  EXPECT_FALSE(raw->logs.examined);
  EXPECT_TRUE(tol_hive_has_pending_log(*raw));
  expect_before(*raw);
}

TEST_F(Logs, StaleEntriesAreSkippedAndOddLetterCaseIsFound) {
  write_primary(before_);
  // An older cycle in LOG1: entries the hive file holds already, which would
  // break it if applied again.
  LogEntrySpec stale;
  stale.sequence = kSeq - 5;
  stale.bins_size = after_bins_;
  stale.pages.push_back(LogPage{0, Bytes(4096, 0xEE)});
  write_log(".log1", new_format_log(before_, kSeq - 5, {stale}));
  write_log(".Log2", new_format_log(before_, kSeq, entries(kSeq, 2)));
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  EXPECT_TRUE(hive->logs.complete);
  EXPECT_EQ(hive->logs.applied, 2u);
  EXPECT_THAT(hive->logs.files, ElementsAre("h.hiv.Log2"));
  expect_after(*hive);
}

// Where recovery has to stop, and what the hive then says and shows.
TEST_F(Logs, RecoveryStopsBeforeAnEntryThatCannotBeTrusted) {
  struct Case {
    const char* name;
    std::function<void(std::vector<LogEntrySpec>&)> damage;
    std::uint32_t applied;
    const char* problem;
  };
  const std::vector<Case> cases = {
      {"hash of the pages", [](auto& e) { e[1].break_hash1 = true; }, 1,
       "entry 101: hash mismatch; 1 entry applied"},
      {"hash of the header", [](auto& e) { e[0].break_hash2 = true; }, 0,
       "entry 100: hash mismatch; 0 entries applied"},
      {"gap", [](auto& e) { e[1].sequence = kSeq + 5; }, 1, "entry 101 missing; 1 entry applied"},
      {"bins size", [](auto& e) { e[1].bins_size += 100; }, 1,
       "entry 101: hive-bins size not a multiple of 4096; 1 entry applied"},
      {"broken bin", [](auto& e) {
         auto& pages = e[1].pages;
         auto header = std::find_if(pages.begin(), pages.end(), [](const LogPage& p) {
           return std::equal(p.bytes.begin(), p.bytes.begin() + 4, "hbin");
         });
         ASSERT_NE(header, pages.end());
         header->bytes[0] = 'X';  // the bin header's signature
       }, 1, "entry 101: the page at 0x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_primary(before_);
    auto all = entries(kSeq, 2);
    c.damage(all);
    write_log(".LOG1", new_format_log(before_, kSeq, all));
    TolHivePtr hive = open_primary();
    ASSERT_NE(hive, nullptr);
    EXPECT_EQ(hive->logs.applied, c.applied);
    EXPECT_THAT(hive->logs.problem, HasSubstr(c.problem));
    EXPECT_FALSE(hive->logs.complete);
    EXPECT_TRUE(tol_hive_has_pending_log(*hive)) << "partly recovered hives stay dirty";
    if (c.applied == 0) expect_before(*hive);
    // Half a change is no hive Windows ever wrote, but reading it stays safe.
    (void)tol_hive_check(*hive);
  }
}

TEST_F(Logs, ADamagedBaseBlockIsTakenFromTheLatestLog) {
  Bytes primary = before_;
  primary[0x30] ^= 0xFF;  // the checksum no longer matches
  write_primary(primary);
  auto all = entries(kSeq, 2);
  write_log(".LOG1", new_format_log(after_, kSeq, all));
  write_log(".LOG2", new_format_log(after_, kSeq - 10, {}));
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  EXPECT_TRUE(hive->logs.base_from_log);
  EXPECT_TRUE(hive->logs.complete);
  EXPECT_EQ(hive->base().u32(0x1C), 0u) << "a primary's file type";
  EXPECT_FALSE(tol_hive_needs_recovery(hive->base()));
  expect_after(*hive);
}

TEST_F(Logs, OldFormatBitmapOfDirtyBlocks) {
  Bytes primary = before_;
  write_primary(primary);
  std::vector<std::uint32_t> blocks;
  for (const LogPage& p : pages_) blocks.push_back(p.offset);
  write_log(".LOG1", old_format_log(after_, blocks));
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  EXPECT_TRUE(hive->logs.old_format);
  EXPECT_TRUE(hive->logs.complete);
  EXPECT_EQ(hive->logs.applied, 8 * blocks.size());
  EXPECT_EQ(tol_log_summary(hive->logs), std::to_string(8 * blocks.size()) + " pages applied from h.hiv.LOG1");
  EXPECT_EQ(tol_hive_secondary_sequence(*hive), kSeq + 1);
  expect_after(*hive);

  // A log written at another time belongs to another state of the file.
  Bytes other = after_;
  other[0x0C] = 0x42;
  write_log(".LOG1", old_format_log(other, blocks));
  hive = open_primary();
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(hive->logs.applied, 0u);
  EXPECT_THAT(hive->logs.problem, HasSubstr("another time"));
  expect_before(*hive);
}

TEST_F(Logs, MissingEmptyOrBrokenLogsLeaveTheFileAsItIs) {
  write_primary(before_);
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(hive->logs.problem, "no log files");
  EXPECT_TRUE(tol_hive_has_pending_log(*hive));
  EXPECT_EQ(tol_log_summary(hive->logs), "not applied: no log files");

  write_log(".LOG1", {});
  write_log(".LOG2", {});
  hive = open_primary();
  EXPECT_EQ(hive->logs.problem, "LOG1: empty, LOG2: empty");

  Bytes broken = new_format_log(before_, kSeq, entries(kSeq, 1));
  broken[0x30] ^= 1;
  write_log(".LOG1", broken);
  hive = open_primary();
  EXPECT_EQ(hive->logs.problem, "LOG1: checksum wrong, LOG2: empty");
  expect_before(*hive);

  // A clean hive never looks for its logs.
  HiveBuilder clean;
  clean.tree(before_tree());
  write_primary(clean.image());
  hive = open_primary();
  EXPECT_FALSE(hive->logs.examined);
  EXPECT_FALSE(tol_hive_has_pending_log(*hive));
  EXPECT_EQ(tol_log_summary(hive->logs), "");
}

TEST_F(Logs, ASavedRecoveryIsCleanKeepsTheLoggedChangesAndLeavesTheLogsAlone) {
  write_primary(before_);
  auto all = entries(kSeq, 3);
  const Bytes log1 = new_format_log(before_, kSeq, all);
  write_log(".LOG1", log1);
  TolHivePtr hive = open_primary();
  ASSERT_NE(hive, nullptr);
  ASSERT_TRUE(hive->logs.complete);
  const auto keep = tol_hive_find_path(*hive, "Keep");
  ASSERT_TRUE(keep);
  ASSERT_TRUE(tol_hive_create_key(*hive, *keep, "Edited"));
  GError* error = nullptr;
  ASSERT_TRUE(tol_hive_save(*hive, &error)) << error->message;

  EXPECT_EQ(file_bytes(primary_ + ".LOG1"), log1);
  TolHivePtr saved = open_primary(TolLogPolicy::ignore);
  ASSERT_NE(saved, nullptr);
  EXPECT_FALSE(tol_hive_needs_recovery(saved->base()));
  EXPECT_GT(tol_hive_secondary_sequence(*saved), kSeq + 2) << "above every logged entry";
  expect_after(*saved);
  EXPECT_TRUE(tol_hive_find_path(*saved, "Keep\\Edited"));
  // Opened again with its logs: clean, so they are not even read.
  EXPECT_FALSE(open_primary()->logs.examined);

  if (installed("hivexget")) {
    const Outcome r = run({"hivexget", primary_, "\\New", "s"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "hi\n");
  }
  if (installed("regfexport")) {
    const Outcome r = run({"regfexport", primary_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Edited"));
    EXPECT_THAT(r.out, HasSubstr("Data size: 20000"));
  }
  if (installed("reglookup")) {
    const Outcome r = run({"reglookup", "-p", "/New", primary_});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("/New/big"));
  }
}

}  // namespace
}  // namespace tol::test
