// Atomic save: the bytes written, what survives of the old file's identity,
// and that every failing system call leaves the old file as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "hive/edit.h"
#include "hive/save.h"
#include "hive_fixture.h"

namespace tol::test {
namespace {

std::uint32_t get32(const Bytes& b, std::size_t off) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b.at(off + i)) << (8 * i);
  return v;
}

void put32(Bytes& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}


bool exists(const std::string& file) {
  struct stat st {};
  return lstat(file.c_str(), &st) == 0;
}

// What a save must write: the image with both sequence numbers at `sequence`,
// the bins size field equal to the bins written and the checksum recomputed.
Bytes sealed(Bytes image, std::uint32_t sequence) {
  put32(image, 0x04, sequence);
  put32(image, 0x08, sequence);
  put32(image, 0x28, static_cast<std::uint32_t>(image.size() - 4096));
  std::uint32_t sum = 0;
  for (std::size_t off = 0; off < 0x1FC; off += 4) sum ^= get32(image, off);
  put32(image, 0x1FC, sum == 0 ? 1 : sum == 0xFFFFFFFFu ? 0xFFFFFFFEu : sum);
  return image;
}

// --- A replaceable system-call layer that fails one chosen call. -------------

struct Fault {
  const char* label;
  const char* call;  // "open", "write", "fsync", "close", "rename"
  int nth;           // which call of that kind fails, from 1
  int err;
  bool short_write;  // the write reports one byte less instead of failing
  const char* format;
};

Fault g_fault{};
std::vector<std::string> g_log;
int g_counts[5];

int call_index(const char* call) {
  static const char* const kinds[] = {"open", "write", "fsync", "close", "rename"};
  for (int i = 0; i < 5; ++i)
    if (std::strcmp(kinds[i], call) == 0) return i;
  return -1;
}

// True when this call is the one to fail.
bool hit(const char* call) {
  const int n = ++g_counts[call_index(call)];
  return g_fault.call != nullptr && std::strcmp(g_fault.call, call) == 0 && g_fault.nth == n;
}

int fake_open(const char* path, int flags, mode_t mode) {
  g_log.push_back(std::string((flags & O_DIRECTORY) != 0 ? "open-dir " : "open ") + path);
  if (hit("open")) {
    errno = g_fault.err;
    return -1;
  }
  return ::open(path, flags, mode);
}

ssize_t fake_write(int fd, const void* buf, std::size_t n) {
  g_log.push_back("write " + std::to_string(n));
  if (hit("write")) {
    if (g_fault.short_write) return ::write(fd, buf, n - 1);
    errno = g_fault.err;
    return -1;
  }
  return ::write(fd, buf, n);
}

int fake_fsync(int fd) {
  g_log.push_back("fsync " + std::to_string(fd));
  if (hit("fsync")) {
    errno = g_fault.err;
    return -1;
  }
  return ::fsync(fd);
}

int fake_close(int fd) {
  g_log.push_back("close " + std::to_string(fd));
  const int r = ::close(fd);
  if (hit("close")) {
    errno = g_fault.err;
    return -1;
  }
  return r;
}

int fake_rename(const char* from, const char* to) {
  g_log.push_back("rename");
  if (hit("rename")) {
    errno = g_fault.err;
    return -1;
  }
  return ::rename(from, to);
}

constexpr TolSaveIo kFakeIo{fake_open, fake_write, fake_fsync, fake_close, fake_rename};

class Save : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    g_fault = Fault{};
    g_log.clear();
    std::memset(g_counts, 0, sizeof g_counts);
    KeySpec root = key("ROOT", {key("Software")},
                       {val("cell", 3, pattern(100, 1)), val("dw", 4, le32(7))});
    tree_ = builder_.tree(root);
    builder_.set_sequence(5, 3);
  }

  void TearDown() override {
    tol_hive_save_set_io(nullptr);
    HiveTest::TearDown();
  }

  // Writes the builder's hive, opens it and changes one data byte in memory.
  // `image` receives the bytes the save is expected to write (before sealing).
  TolHivePtr changed_hive(Bytes& image, const Bytes& trailing = {}) {
    image = builder_.image();
    Bytes file = image;
    file.insert(file.end(), trailing.begin(), trailing.end());
    file_ = write(file);
    tmp_ = path(file_.substr(dir_.size() + 1) + ".tolvane-tmp");
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file_, &error);
    EXPECT_NE(hive, nullptr);
    if (hive == nullptr) return hive;
    tol_hive_make_writable(*hive);
    const std::uint32_t data = builder_.read_u32(tree_.value("", "cell"), 8);
    hive->heap_bins.at(data + 4) ^= 0xFF;
    image.at(4096 + data + 4) ^= 0xFF;
    hive->dirty = true;
    return hive;
  }

  HiveBuilder builder_;
  BuiltTree tree_;
  std::string file_;
  std::string tmp_;
};

TEST_F(Save, WritesTheWholeImageWithSequenceNumbersAndChecksum) {
  Bytes image;
  // Bytes behind the bins length are not part of the hive and are not kept.
  TolHivePtr hive = changed_hive(image, Bytes(100, 0xEE));
  ASSERT_NE(hive, nullptr);
  GError* error = nullptr;
  ASSERT_TRUE(tol_hive_save(*hive, &error));
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(file_bytes(file_), sealed(image, 6));  // primary 5 + 1, secondary follows
  EXPECT_FALSE(hive->dirty);
  EXPECT_TRUE(hive->writable);
  EXPECT_FALSE(exists(tmp_));

  // The next change advances them once more, from the saved value.
  hive->dirty = true;
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_EQ(file_bytes(file_), sealed(image, 7));

  // And the engine reads its own output back.
  TolHivePtr again = tol_hive_open(file_, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(tol_hive_primary_sequence(*again), 7u);
  EXPECT_FALSE(tol_hive_has_pending_log(*again));
}

// Images of several megabytes live in a differently allocated buffer; growing
// into one by an edit and saving it must keep every byte.
TEST_F(Save, AnImageGrownPastSeveralMegabytesSavesWhole) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  const Bytes large = pattern(3 << 20, 9);
  ASSERT_TRUE(tol_hive_set_value(*hive, hive->root_cell, "large", 3, large));
  ASSERT_GT(hive->bins_length, 3u << 20);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  TolHivePtr again = tol_hive_open(file_, nullptr);
  ASSERT_NE(again, nullptr);
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < tol_hive_value_count(*again, again->root_cell); ++i) {
    TolHiveValue value;
    ASSERT_TRUE(tol_hive_read_value(*again, again->root_cell, i, value));
    names.push_back(value.name);
    if (value.name == "large") {
      EXPECT_EQ(value.data, large);
    } else if (value.name == "dw") {
      EXPECT_EQ(value.data, le32(7));
    }
  }
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("cell", "dw", "large"));
}

TEST_F(Save, SequenceNumbersWrapAtThirtyTwoBits) {
  builder_.set_sequence(0xFFFFFFFFu, 0xFFFFFFFFu);
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_EQ(file_bytes(file_), sealed(image, 0));
}

TEST_F(Save, NothingIsWrittenForAnUnchangedHive) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  hive.reset();
  // Back-date the file so that any rewrite would show in its time stamp.
  const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file_.c_str(), old_times, 0), 0);
  struct stat before {};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);

  tol_hive_save_set_io(&kFakeIo);
  TolHivePtr mapped = tol_hive_open(file_, nullptr);
  ASSERT_NE(mapped, nullptr);
  EXPECT_TRUE(tol_hive_save(*mapped, nullptr));  // never made writable
  tol_hive_make_writable(*mapped);
  EXPECT_TRUE(tol_hive_save(*mapped, nullptr));  // writable but clean

  EXPECT_THAT(g_log, ::testing::IsEmpty());
  struct stat after {};
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(file_bytes(file_), builder_.image());
}

TEST_F(Save, ReplacesTheFileAndFlushesTheDirectoryAfterTheRename) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  const std::string link = path("hardlink.hiv");
  ASSERT_EQ(::link(file_.c_str(), link.c_str()), 0);

  tol_hive_save_set_io(&kFakeIo);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  // A new file took the path; a hard link to the old one keeps the old bytes.
  EXPECT_EQ(file_bytes(link), builder_.image());
  EXPECT_EQ(file_bytes(file_), sealed(image, 6));

  // Two writes, each the whole part; the directory is flushed once the
  // temporary file has its final name.
  ASSERT_GE(g_log.size(), 9u);
  EXPECT_EQ(g_log[0], "open " + tmp_);
  EXPECT_EQ(g_log[1], "write 4096");
  EXPECT_EQ(g_log[2], "write " + std::to_string(image.size() - 4096));
  EXPECT_EQ(g_log[3].rfind("fsync ", 0), 0u);
  EXPECT_EQ(g_log[4].rfind("close ", 0), 0u);
  EXPECT_EQ(g_log[5], "rename");
  gchar* dir = g_path_get_dirname(file_.c_str());
  EXPECT_EQ(g_log[6], std::string("open-dir ") + dir);
  g_free(dir);
  EXPECT_EQ(g_log[7].rfind("fsync ", 0), 0u);
  EXPECT_EQ(g_log[8].rfind("close ", 0), 0u);
}

TEST_F(Save, AFailedDirectoryFlushDoesNotUndoASave) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  g_fault = Fault{"dir fsync", "fsync", 2, EINVAL, false, ""};
  tol_hive_save_set_io(&kFakeIo);
  EXPECT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_FALSE(hive->dirty);
  EXPECT_EQ(file_bytes(file_), sealed(image, 6));
}

TEST_F(Save, KeepsPermissionBitsAndOwnership) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  // A SAM-like hive: nobody but the owner may read it.
  ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // Bits the umask would strip from a newly created file are kept as well.
  ASSERT_EQ(chmod(file_.c_str(), 0666), 0);
  const mode_t old_umask = umask(022);
  hive->dirty = true;
  const bool saved = tol_hive_save(*hive, nullptr);
  umask(old_umask);
  ASSERT_TRUE(saved);
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);

  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  ASSERT_EQ(chown(file_.c_str(), 4321, 8765), 0);
  hive->dirty = true;
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
}

TEST_F(Save, RemovesAStaleTemporaryFile) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  // Left by a crash: bigger than the hive, and readable by everyone.
  HiveBuilder::write_bytes(tmp_, Bytes(3 * image.size(), 0x55));
  ASSERT_EQ(chmod(tmp_.c_str(), 0666), 0);
  ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_EQ(file_bytes(file_), sealed(image, 6));
  EXPECT_FALSE(exists(tmp_));
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(Save, NeverWritesThroughASymbolicLinkAtTheTemporaryPath) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  const std::string victim = path("victim.txt");
  HiveBuilder::write_bytes(victim, bytes_of("keep"));
  ASSERT_EQ(symlink(victim.c_str(), tmp_.c_str()), 0);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_EQ(file_bytes(victim), bytes_of("keep"));
  EXPECT_EQ(file_bytes(file_), sealed(image, 6));
  EXPECT_FALSE(exists(tmp_));

  // A dangling link must not make the save create its target either.
  const std::string target = path("planted.hiv");
  ASSERT_EQ(symlink(target.c_str(), tmp_.c_str()), 0);
  hive->dirty = true;
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_FALSE(exists(target));
  EXPECT_EQ(file_bytes(file_), sealed(image, 7));
}

TEST_F(Save, DirectoryWithoutWritePermission) {
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  ASSERT_EQ(chmod(dir_.c_str(), 0500), 0);
  if (access(dir_.c_str(), W_OK) == 0) {
    chmod(dir_.c_str(), 0700);
    GTEST_SKIP() << "this process may write to any directory";
  }
  GError* error = nullptr;
  const bool saved = tol_hive_save(*hive, &error);
  chmod(dir_.c_str(), 0700);
  ASSERT_FALSE(saved);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, G_FILE_ERROR_ACCES);
  EXPECT_EQ(std::string(error->message),
            std::string("cannot create temporary file: ") + g_strerror(EACCES));
  g_error_free(error);
  EXPECT_TRUE(hive->dirty);
  EXPECT_EQ(file_bytes(file_), builder_.image());
}

TEST_F(Save, DirectoryGoneSinceOpening) {
  const std::string sub = dir_ + "/sub";
  const std::string gone = dir_ + "/gone";
  ASSERT_EQ(g_mkdir(sub.c_str(), 0700), 0);
  const std::string file = path("sub/h.hiv");
  builder_.write_file(file);
  TolHivePtr hive = tol_hive_open(file, nullptr);
  ASSERT_NE(hive, nullptr);
  tol_hive_make_writable(*hive);
  hive->dirty = true;
  ASSERT_EQ(rename(sub.c_str(), gone.c_str()), 0);

  GError* error = nullptr;
  const bool saved = tol_hive_save(*hive, &error);
  const bool tmp_left = exists(gone + "/h.hiv.tolvane-tmp");
  g_remove((gone + "/h.hiv").c_str());
  g_rmdir(gone.c_str());
  ASSERT_FALSE(saved);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, G_FILE_ERROR_NOENT);
  EXPECT_EQ(std::string(error->message),
            std::string("cannot create temporary file: ") + g_strerror(ENOENT));
  g_error_free(error);
  EXPECT_FALSE(tmp_left);
  EXPECT_TRUE(hive->dirty);
}

class SaveFault : public Save, public ::testing::WithParamInterface<Fault> {};

TEST_P(SaveFault, LeavesTheOldFileAndNoTemporaryFile) {
  const Fault fault = GetParam();
  Bytes image;
  TolHivePtr hive = changed_hive(image);
  ASSERT_NE(hive, nullptr);
  ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
  struct stat before {};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);

  g_fault = fault;
  tol_hive_save_set_io(&kFakeIo);
  GError* error = nullptr;
  ASSERT_FALSE(tol_hive_save(*hive, &error));
  ASSERT_NE(error, nullptr);
  // A write that reports fewer bytes sets no errno: a full disk is the cause.
  const int err = fault.short_write ? ENOSPC : fault.err;
  EXPECT_EQ(error->domain, G_FILE_ERROR);
  EXPECT_EQ(error->code, g_file_error_from_errno(err));
  gchar* expected = g_strdup_printf(fault.format, g_strerror(err));
  EXPECT_EQ(std::string(error->message), expected);
  g_free(expected);
  g_error_free(error);

  EXPECT_TRUE(hive->dirty);
  EXPECT_EQ(file_bytes(file_), builder_.image());
  struct stat after {};
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_FALSE(exists(tmp_));
  // Only the temporary file was ever opened, and every descriptor was closed.
  EXPECT_EQ(std::count_if(g_log.begin(), g_log.end(),
                          [](const std::string& s) { return s.rfind("open", 0) == 0; }),
            1);
  const bool opened = std::strcmp(fault.call, "open") != 0;
  EXPECT_EQ(std::count_if(g_log.begin(), g_log.end(),
                          [](const std::string& s) { return s.rfind("close", 0) == 0; }),
            opened ? 1 : 0);

  // The change stays in memory, and the sequence numbers advanced by the
  // failed attempt advance once more with the next save.
  tol_hive_save_set_io(nullptr);
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  EXPECT_EQ(file_bytes(file_), sealed(image, 7));
}

constexpr const char* kCreate = "cannot create temporary file: %s";
constexpr const char* kSave = "saving the hive failed: %s";

INSTANTIATE_TEST_SUITE_P(
    EachStep, SaveFault,
    ::testing::Values(Fault{"CreateDenied", "open", 1, EACCES, false, kCreate},
                      Fault{"CreateReadOnlyFs", "open", 1, EROFS, false, kCreate},
                      Fault{"BaseBlockWriteFails", "write", 1, EIO, false, kSave},
                      Fault{"BaseBlockWriteShort", "write", 1, 0, true, kSave},
                      Fault{"BinsWriteFails", "write", 2, EDQUOT, false, kSave},
                      Fault{"BinsWriteShort", "write", 2, 0, true, kSave},
                      Fault{"FlushFails", "fsync", 1, EIO, false, kSave},
                      Fault{"CloseFails", "close", 1, EIO, false, kSave},
                      Fault{"RenameFails", "rename", 1, EXDEV, false, kSave}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tol::test
