// Opening, closing and copy-on-write of hive files; the base block checksum.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hive_fixture.h"

namespace tol::test {
namespace {

constexpr const char* kCannotOpen = "Cannot open the file";
constexpr const char* kTooSmall = "File is too small — it is not a registry hive";
constexpr const char* kNoSignature = "Missing 'regf' signature — it is not a registry hive";

using OpenTest = HiveTest;

Bytes regf_file(std::size_t size) {
  Bytes b{'r', 'e', 'g', 'f'};
  b.resize(size, 0);
  return b;
}

TEST_F(OpenTest, RefusesMissingFileWithCannotOpen) {
  EXPECT_EQ(open_error(dir_ + "/does-not-exist.hiv"), kCannotOpen);
}

TEST_F(OpenTest, SizeLimitIsExactly8192Bytes) {
  EXPECT_EQ(open_error(write(regf_file(8191))), kTooSmall);
  EXPECT_EQ(open_error(write(regf_file(0))), kTooSmall);
  EXPECT_EQ(open_error(write(regf_file(8192))), "");
}

TEST_F(OpenTest, SignatureIsCaseSensitiveAndCheckedAfterSize) {
  Bytes upper = regf_file(8192);
  upper[0] = 'R';
  upper[1] = 'E';
  upper[2] = 'G';
  upper[3] = 'F';
  EXPECT_EQ(open_error(write(upper)), kNoSignature);
  EXPECT_EQ(open_error(write(Bytes(8192, 0))), kNoSignature);
  // A short file is refused for its size even without a signature.
  EXPECT_EQ(open_error(write(Bytes(100, 'x'))), kTooSmall);
}

TEST_F(OpenTest, DirectoryIsRefused) {
  const std::string message = open_error(dir_);
  EXPECT_TRUE(message == kCannotOpen || message == kTooSmall) << message;
}

TEST_F(OpenTest, UnreadableFileGivesCannotOpen) {
  const std::string file = write(regf_file(8192));
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  if (access(file.c_str(), R_OK) != 0) {
    EXPECT_EQ(open_error(file), kCannotOpen);
    return;
  }
  // Root reads any file: try again as an unprivileged user in a child.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    if (access(file.c_str(), R_OK) == 0) _exit(3);
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file, &error);
    const bool ok = !hive && error && error->domain == G_FILE_ERROR &&
                    std::string(error->message) == kCannotOpen;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop to a user that file modes apply to";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(OpenTest, OpenedHiveTakesRootAndBinsFromBaseBlock) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("Software")}));
  const std::string file = write(b.image());
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(file, &error);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(hive->root_cell, t.root);
  EXPECT_EQ(hive->bins_length, b.bins_size());
  EXPECT_EQ(hive->path, file);
  EXPECT_FALSE(hive->writable);
  EXPECT_FALSE(hive->dirty);
  EXPECT_EQ(hive->alloc_hint, 0u);
  EXPECT_TRUE(hive->name_cache.empty());
  EXPECT_TRUE(hive->base_copy.empty());
  EXPECT_TRUE(hive->heap_bins.empty());
  EXPECT_EQ(hive->base().size(), 4096u);
  EXPECT_EQ(tol_hive_key_name(*hive, hive->root_cell), "ROOT");
}

TEST_F(OpenTest, BinsLengthIsTheSmallerOfFieldAndFile) {
  HiveBuilder b;
  b.tree(key("ROOT", {key("A")}));
  const std::uint32_t real = b.bins_size();

  b.override_bins_size(0xFFFFF000u);
  EXPECT_EQ(open(b)->bins_length, real);

  // Bytes after the declared area are not part of the hive.
  b.override_bins_size(4096);
  Bytes longer = b.image();
  EXPECT_EQ(open(longer)->bins_length, 4096u);

  // Zero: the hive opens, its root reads as "?" without subkeys or values.
  b.override_bins_size(0);
  TolHivePtr empty = open(b);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->bins_length, 0u);
  EXPECT_EQ(tol_hive_key_name(*empty, empty->root_cell), "?");
  EXPECT_TRUE(tol_hive_subkeys(*empty, empty->root_cell).empty());
  EXPECT_EQ(tol_hive_value_count(*empty, empty->root_cell), 0u);
}

TEST_F(OpenTest, NothingButSizeAndSignatureIsValidated) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  b.override_checksum(0xDEADBEEF);
  b.set_base_u32(0x14, 99);  // major version
  b.set_sequence(5, 1);
  b.poke_u32(0, 0);  // first bin header signature
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(tol_hive_key_name(*hive, hive->root_cell), "ROOT");

  b.set_root(0x12345678);
  TolHivePtr lost = open(b);
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(tol_hive_key_name(*lost, lost->root_cell), "?");
  EXPECT_EQ(tol_hive_key_path(*lost, lost->root_cell), "");
}

TEST_F(OpenTest, SequenceNumbersTellPendingLogs) {
  HiveBuilder b;
  b.tree(key("ROOT"));
  b.set_sequence(7, 7);
  TolHivePtr synced = open(b);
  EXPECT_EQ(tol_hive_primary_sequence(*synced), 7u);
  EXPECT_EQ(tol_hive_secondary_sequence(*synced), 7u);
  EXPECT_FALSE(tol_hive_has_pending_log(*synced));

  b.set_sequence(9, 8);
  TolHivePtr pending = open(b);
  EXPECT_EQ(tol_hive_primary_sequence(*pending), 9u);
  EXPECT_EQ(tol_hive_secondary_sequence(*pending), 8u);
  EXPECT_TRUE(tol_hive_has_pending_log(*pending));
}

TEST_F(OpenTest, MakeWritableCopiesBothAreasAndReadsTheCopies) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("Software", {key("Vendor")})}));
  b.set_sequence(3, 2);
  TolHivePtr hive = open(b);
  ASSERT_NE(hive, nullptr);
  const std::uint32_t length = hive->bins_length;

  tol_hive_make_writable(*hive);
  EXPECT_TRUE(hive->writable);
  EXPECT_FALSE(hive->dirty);
  ASSERT_EQ(hive->base_copy.size(), 4096u);
  ASSERT_EQ(hive->heap_bins.size(), length);
  EXPECT_EQ(hive->bins().span().data(), hive->heap_bins.data());
  EXPECT_EQ(hive->base().span().data(), hive->base_copy.data());
  EXPECT_EQ(tol_hive_primary_sequence(*hive), 3u);
  EXPECT_EQ(tol_hive_key_path(*hive, t.key("Software\\Vendor")), "Software\\Vendor");

  // A second call keeps the copies (and any change made to them).
  hive->heap_bins[t.key("Software") + 4 + TOL_NK_NAME] = 's';
  tol_hive_make_writable(*hive);
  hive->name_cache.clear();
  EXPECT_EQ(tol_hive_key_name(*hive, t.key("Software")), "software");
  tol_hive_close(std::move(hive));
}

TEST(Checksum, XorOfTheFirst127WordsWithTwoRemappedResults) {
  Bytes base(4096, 0);
  EXPECT_EQ(tol_hive_checksum(ByteView(base)), 1u);  // XOR 0 -> 1

  base[0x10] = 0xFF;
  base[0x11] = 0xFF;
  base[0x12] = 0xFF;
  base[0x13] = 0xFF;
  EXPECT_EQ(tol_hive_checksum(ByteView(base)), 0xFFFFFFFEu);  // XOR ~0 -> ~1

  base[0x1F8] = 0x02;  // the last summed word
  EXPECT_EQ(tol_hive_checksum(ByteView(base)), 0xFFFFFFFDu);

  // The checksum field itself and what follows it are not summed.
  Bytes other = base;
  other[0x1FC] = 0x55;
  other[0x200] = 0x77;
  EXPECT_EQ(tol_hive_checksum(ByteView(other)), tol_hive_checksum(ByteView(base)));

  // The builder's checksum agrees with the engine's.
  HiveBuilder b;
  b.tree(key("ROOT"));
  const Bytes image = b.image();
  ByteView view(image);
  EXPECT_EQ(tol_hive_checksum(view), view.u32(0x1FC));
}

}  // namespace
}  // namespace tol::test
