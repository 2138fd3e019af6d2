// Atomic save: the whole image goes to a temporary file beside the hive, which
// is flushed and renamed over it, so the path always names either the old hive
// or the complete new one.
#include <fcntl.h>
#include <glib/gi18n-lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "hive/edit.h"
#include "hive/save.h"

namespace {

int real_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t real_write(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
int real_fsync(int fd) { return ::fsync(fd); }
int real_close(int fd) { return ::close(fd); }
int real_rename(const char* from, const char* to) { return ::rename(from, to); }

constexpr TolSaveIo kRealIo{real_open, real_write, real_fsync, real_close, real_rename};
TolSaveIo g_io = kRealIo;

// A descriptor closed through the hooks; close() reports the call's result so
// that a failing close of the temporary file counts as a failed save.
class SaveFd {
 public:
  explicit SaveFd(int fd) : fd_(fd) {}
  SaveFd(const SaveFd&) = delete;
  SaveFd& operator=(const SaveFd&) = delete;
  ~SaveFd() {
    if (fd_ >= 0) g_io.close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return g_io.close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes the temporary file unless the save got as far as renaming it.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!kept_) {
      const int saved = errno;
      ::unlink(path_.c_str());
      errno = saved;
    }
  }
  const char* c_str() const { return path_.c_str(); }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

bool fail(GError** error, int err, const char* format) {
  g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(err),
              g_dgettext(GETTEXT_PACKAGE, format), g_strerror(err));
  return false;
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  errno = 0;
  const ssize_t n = g_io.write(fd, bytes.data(), bytes.size());
  if (n == static_cast<ssize_t>(bytes.size())) return true;
  // A short write leaves errno alone; the usual cause is a full disk.
  if (n >= 0 || errno == 0) errno = ENOSPC;
  return false;
}

// Gives the new file the old one's owner, group and permission bits, so that a
// 0600 hive (SAM, SECURITY) never becomes readable by others through a save.
// Ownership is best effort: an unprivileged process may keep at least a group
// it belongs to. Failures leave the restrictive mode the file was created with.
void copy_attributes(int fd, const struct stat& original) {
  if (fchown(fd, original.st_uid, original.st_gid) != 0 && errno == EPERM &&
      fchown(fd, static_cast<uid_t>(-1), original.st_gid) != 0) {
    // Neither owner nor group could be kept: the file stays the caller's.
  }
  (void)fchmod(fd, original.st_mode & 07777);
}

// Makes the rename itself durable. The new file is already in place, so a
// directory that cannot be flushed (some file systems refuse) is not a failure.
void flush_directory(const std::string& hive_path) {
  gchar* dir = g_path_get_dirname(hive_path.c_str());
  const int fd = g_io.open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  g_free(dir);
  if (fd < 0) return;
  (void)g_io.fsync(fd);
  g_io.close(fd);
}

void seal_base_block(TolHive& hive) {
  tol::MutByteView base = tol_hive_base_mut(hive);
  // Above every number the logs carry: a reader that finds the saved file
  // dirty one day must never take those old entries for newer changes.
  const std::uint32_t sequence =
      std::max(base.u32(TOL_BASE_SEQ_PRIMARY), hive.logs.highest_sequence) + 1;
  base.put_u32(TOL_BASE_SEQ_PRIMARY, sequence);
  base.put_u32(TOL_BASE_SEQ_SECONDARY, sequence);
  base.put_u32(TOL_BASE_BINS_SIZE, hive.bins_length);
  base.put_u32(TOL_BASE_CHECKSUM, tol_hive_checksum(base.view()));
}

// Moves the temporary file to a path that must stay free until then. Where the
// file system cannot rename without replacing, a hard link does the same.
int move_into_free_path(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

// The save itself: `replace` swaps the file at hive.path, otherwise the path
// must not name anything and the file's attributes come from `model`.
bool write_image(TolHive& hive, bool replace, const std::string& model, GError** error) {
  tol_hive_whole_bins(hive);
  seal_base_block(hive);

  std::optional<struct stat> original;
  if (struct stat st {}; ::stat(replace ? hive.path.c_str() : model.c_str(), &st) == 0)
    original = st;

  // unlink removes a symbolic link itself, never its target, so a link planted
  // at the temporary path cannot redirect the write; O_EXCL|O_NOFOLLOW then
  // refuses anything that appears there in between.
  TempFile temp(hive.path + ".tolvane-tmp");
  ::unlink(temp.c_str());
  SaveFd fd(g_io.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      original ? 0600 : 0644));
  if (!fd.valid()) {
    temp.keep();  // not ours: nothing was created
    return fail(error, errno, N_("cannot create temporary file: %s"));
  }
  if (original) copy_attributes(fd.get(), *original);

  const char* const failed = N_("saving the hive failed: %s");
  if (!write_all(fd.get(), hive.base().span())) return fail(error, errno, failed);
  if (!write_all(fd.get(), hive.bins().span())) return fail(error, errno, failed);
  const bool flushed = g_io.fsync(fd.get()) == 0;
  int err = errno;
  const bool closed = fd.close();
  if (flushed) err = errno;
  if (!flushed || !closed) return fail(error, err, failed);
  const int moved = replace ? g_io.rename(temp.c_str(), hive.path.c_str())
                            : move_into_free_path(temp.c_str(), hive.path.c_str());
  if (moved != 0) return fail(error, errno, failed);
  temp.keep();

  flush_directory(hive.path);
  hive.dirty = false;
  // The file is clean now, and Windows ignores the logs of a clean hive.
  hive.logs.pending = false;
  return true;
}

}  // namespace

void tol_hive_save_set_io(const TolSaveIo* io) { g_io = io != nullptr ? *io : kRealIo; }

bool tol_hive_save(TolHive& hive, GError** error) {
  if (!hive.writable || !hive.dirty) return true;
  return write_image(hive, true, {}, error);
}

bool tol_hive_save_new(TolHive& hive, const std::string& attributes_of, GError** error) {
  tol_hive_make_writable(hive);
  return write_image(hive, false, attributes_of, error);
}
