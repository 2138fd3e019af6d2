// Inputs the fuzz drivers once crashed on, replayed through the same drivers
// in the normal test run, and the seed inputs, so that a driver that stopped
// reaching the engine (or an engine change that breaks on a plain input) is
// noticed without a fuzzing run. A driver that finds a fault traps, which
// fails the whole test binary loudly.
#include <gtest/gtest.h>

#include <glib.h>

#include "../hive/hive_fixture.h"
#include "harness.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive_builder.h"
#include "search/pattern.h"
#include "search/replace.h"

namespace tol::fuzz {
namespace {

TEST(FuzzSeeds, EverySeedRunsCleanThroughItsDriver) {
  for (const auto& seed : read_seeds()) {
    SCOPED_TRACE(seed.name);
    run_read(seed.bytes);
  }
  for (const auto& seed : import_seeds()) {
    SCOPED_TRACE(seed.name);
    run_import(seed.bytes);
  }
  for (const auto& seed : search_seeds()) {
    SCOPED_TRACE(seed.name);
    run_search(seed.bytes);
  }
  for (const auto& seed : edit_seeds()) {
    SCOPED_TRACE(seed.name);
    run_edit(seed.bytes);
  }
  for (const auto& seed : logs_seeds()) {
    SCOPED_TRACE(seed.name);
    run_logs(seed.bytes);
  }
}

// Input bytes of a driver, written as the fuzzer printed them.
Bytes bytes(std::initializer_list<std::uint8_t> list) { return Bytes(list); }

// PCRE2 is told its patterns are UTF-8 and read past the end of a replace
// find text that was not (an escaped plain text is still the user's bytes).
TEST(FuzzRegressions, PatternThatIsNotUtf8IsAnErrorNotARead) {
  run_search(bytes({0x0f, 0x0b, 0x02, 0x56, 0x65, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                    0x01, 0x6c, 0x65, 0x61, 0x73, 0x65}));

  for (const char* pattern : {"Ve\xff\xffx", "(\xc3", "a\xf0\x9f"}) {
    GError* error = nullptr;
    EXPECT_EQ(tol_pattern_compile(pattern, G_REGEX_CASELESS, &error), nullptr) << pattern;
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
    g_clear_error(&error);
  }
}

// A one-byte key name may hold a zero byte. Decoded it is valid text with
// U+0000 in it, which the name encoder did not take: a copy of such a key
// from a damaged hive became a key with an empty name in the destination.
class FuzzRegressionNames : public test::HiveTest {};

TEST_F(FuzzRegressionNames, NameWithZeroByteIsNotCopiedAsAnEmptyName) {
  test::HiveBuilder b;
  const auto tree = b.tree(test::key("ROOT", {test::key("Zero"), test::key("Software")}));
  b.patch_bytes(tree.key("Zero"), TOL_NK_NAME, test::Bytes{0x45, 0x01, 0x00, 0x62});
  b.patch_u16(tree.key("Zero"), TOL_NK_NAME_LENGTH, 5);
  b.patch_u8(tree.key("Zero"), TOL_NK_NAME + 4, 0xE0);
  run_read(b.image());

  TolHivePtr hive = open(b.image());
  const std::string name = tol_hive_key_name(*hive, tree.key("Zero"));
  ASSERT_EQ(name, std::string("E\x01\0b\xC3\xA0", 6));
  EXPECT_EQ(tol_hive_create_key(*hive, hive->root_cell, name), std::nullopt);
  EXPECT_EQ(tol_hive_create_key(*hive, hive->root_cell, ""), std::nullopt);
  EXPECT_EQ(tol_hive_rename_key(*hive, tree.key("Software"), name), std::nullopt);
  EXPECT_EQ(tol_hive_rename_key(*hive, tree.key("Software"), ""), std::nullopt);
  EXPECT_EQ(test::subkey_names(*hive, hive->root_cell), (std::vector<std::string>{"Software", name}));
}

}  // namespace
}  // namespace tol::fuzz
