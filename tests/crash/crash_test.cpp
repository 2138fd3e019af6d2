// A saver killed with SIGKILL at any moment must leave the hive's path naming a
// complete image, the one before the save or the one after it, and the next
// save must succeed and clear away whatever the killed one left.
//
// Child processes open a hive of several megabytes, rewrite megabytes of it and
// save. The parent kills them either after a random delay or once they report
// that they stand at a chosen point of the save (inside the write, before the
// flush, before or after the rename). In the child every system call of the
// save goes through TolSaveIo hooks that fingerprint the bytes written and
// announce the fingerprint just before the rename, so the parent knows every
// image that can have reached the path.
//
// TOL_CRASH_KILLS sets the number of kills (half of them at random moments),
// TOL_CRASH_SEED repeats the random choices of an earlier run.
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hive/check.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/save.h"
#include "hive_builder.h"
#include "temp_dir.h"

namespace tol::test {
namespace {

constexpr int kBlobs = 3;
constexpr std::size_t kBlobSize = std::size_t{512} << 10;
constexpr int kKeys = 64;
// The allocator looks for free space only in the bin it used last, so the
// rewritten blobs land in new bins and every save grows the image; past this
// size the test starts again from a freshly built hive.
constexpr std::uint64_t kStartOverSize = std::uint64_t{6} << 20;
// Only guards against a child that never reaches its stop; not a performance limit.
constexpr int kHangGuardMs = 300000;

// A fingerprint of an image; MD5 because only accidents need telling apart.
using Digest = std::array<std::uint8_t, 16>;

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

std::string hex(const Digest& d) {
  std::string s;
  char buf[4];
  for (int i = 0; i < 6; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", d[i]);
    s += buf;
  }
  return s;
}

Digest finish(GChecksum* sum) {
  Digest d{};
  gsize n = d.size();
  g_checksum_get_digest(sum, d.data(), &n);
  return d;
}

std::optional<Digest> file_digest(const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return std::nullopt;
  GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
  g_checksum_update(sum, reinterpret_cast<const guchar*>(contents), static_cast<gssize>(length));
  g_free(contents);
  const Digest d = finish(sum);
  g_checksum_free(sum);
  return d;
}

// The data a generation writes; blobs differ in size so that no two line up.
Bytes blob(std::uint32_t generation, int i) {
  return pattern(kBlobSize + static_cast<std::size_t>(i) * 4099, generation * kBlobs + i + 1);
}


// Big data at the root, a generation mark in every key and some filler, about
// two and a half megabytes in all.
KeySpec generation_tree(std::uint32_t g) {
  KeySpec root;
  root.name = "ROOT";
  root.values.push_back(val("generation", 4, le32(g)));
  for (int i = 0; i < kBlobs; ++i)
    root.values.push_back(val("blob" + std::to_string(i), 3, blob(g, i)));
  for (int k = 0; k < kKeys; ++k) {
    KeySpec key;
    key.name = "Key" + std::to_string(k);
    key.values.push_back(val("generation", 4, le32(g)));
    for (int j = 0; j < 4; ++j)
      key.values.push_back(val("fill" + std::to_string(j), 3, pattern(4000, 100 + k * 4 + j)));
    root.subkeys.push_back(std::move(key));
  }
  return root;
}

std::map<std::string, TolHiveValue> values_of(const TolHive& hive, std::uint32_t key) {
  std::map<std::string, TolHiveValue> out;
  const std::uint32_t n = tol_hive_value_count(hive, key);
  for (std::uint32_t i = 0; i < n; ++i) {
    TolHiveValue v;
    if (tol_hive_read_value(hive, key, i, v)) out[v.name] = std::move(v);
  }
  return out;
}

std::optional<std::uint32_t> generation_of(const TolHive& hive, std::uint32_t key) {
  auto values = values_of(hive, key);
  auto it = values.find("generation");
  if (it == values.end() || it->second.data.size() != 4) return std::nullopt;
  const auto& d = it->second.data;
  return d[0] | d[1] << 8 | d[2] << 16 | static_cast<std::uint32_t>(d[3]) << 24;
}

// --- The saver, run in a child process -------------------------------------

// Where a child halts inside its save and waits to be killed.
enum class Stop { None, BeforeCreate, MidWrite, BeforeFlush, BeforeClose, BeforeRename,
                  AtDirectoryOpen, AtDirectoryClose };

const char* stop_name(Stop s) {
  switch (s) {
    case Stop::None: return "none";
    case Stop::BeforeCreate: return "before creating the temporary file";
    case Stop::MidWrite: return "inside the write";
    case Stop::BeforeFlush: return "before the flush";
    case Stop::BeforeClose: return "before the close";
    case Stop::BeforeRename: return "before the rename";
    case Stop::AtDirectoryOpen: return "after the rename";
    case Stop::AtDirectoryClose: return "after the directory flush";
  }
  return "?";
}

bool stops_before_rename(Stop s) { return s < Stop::AtDirectoryOpen; }

struct Plan {
  Stop stop = Stop::None;
  double where = 0;  // inside the write: share of the image written before the stop
  int saves = 0;     // 0: save until killed
};

// One message to the parent, written with one call so that it arrives whole.
struct Report {
  char tag = 0;  // 'R': about to rename an image with this digest; 'S': stopped
  std::uint64_t written = 0;  // bytes in the temporary file so far
  Digest digest{};
};
static_assert(sizeof(Report) <= PIPE_BUF);

// The child's hook state; every child starts from a fresh copy of it.
struct Saver {
  int pipe = -1;
  Plan plan;
  int temp_fd = -1;
  std::uint64_t total = 0;  // bytes the current save writes
  std::uint64_t written = 0;
  GChecksum* sum = nullptr;
};
Saver g_saver;

void report(char tag, const Digest& digest = {}) {
  Report r;
  r.tag = tag;
  r.written = g_saver.written;
  r.digest = digest;
  if (::write(g_saver.pipe, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(20);
}

[[noreturn]] void stop_here() {
  report('S');
  for (;;) pause();
}

bool stopping(Stop s) { return g_saver.plan.stop == s; }

int saver_open(const char* path, int flags, mode_t mode) {
  if ((flags & O_DIRECTORY) != 0) {
    if (stopping(Stop::AtDirectoryOpen)) stop_here();
    return ::open(path, flags, mode);
  }
  if (stopping(Stop::BeforeCreate)) stop_here();
  g_checksum_reset(g_saver.sum);
  g_saver.written = 0;
  g_saver.temp_fd = ::open(path, flags, mode);
  return g_saver.temp_fd;
}

ssize_t saver_write(int fd, const void* buf, std::size_t n) {
  const auto* bytes = static_cast<const std::uint8_t*>(buf);
  std::size_t len = n;
  bool stop = false;
  if (stopping(Stop::MidWrite)) {
    const auto at = static_cast<std::uint64_t>(g_saver.plan.where * static_cast<double>(g_saver.total));
    if (at >= g_saver.written && at < g_saver.written + n) {
      len = static_cast<std::size_t>(at - g_saver.written);
      stop = true;
    }
  }
  std::size_t done = 0;
  while (done < len) {
    const ssize_t r = ::write(fd, bytes + done, len - done);
    if (r < 0) return -1;
    done += static_cast<std::size_t>(r);
  }
  g_checksum_update(g_saver.sum, bytes, static_cast<gssize>(done));
  g_saver.written += done;
  if (stop) stop_here();
  return static_cast<ssize_t>(done);
}

int saver_fsync(int fd) {
  if (fd == g_saver.temp_fd && stopping(Stop::BeforeFlush)) stop_here();
  return ::fsync(fd);
}

int saver_close(int fd) {
  if (fd == g_saver.temp_fd) {
    if (stopping(Stop::BeforeClose)) stop_here();
    g_saver.temp_fd = -1;
  } else if (stopping(Stop::AtDirectoryClose)) {
    stop_here();
  }
  return ::close(fd);
}

int saver_rename(const char* from, const char* to) {
  if (stopping(Stop::BeforeRename)) stop_here();
  report('R', finish(g_saver.sum));
  return ::rename(from, to);
}

// Rewrites the blobs and every generation mark: megabytes of new bytes and
// small changes spread over the whole image.
bool write_generation(TolHive& hive, std::uint32_t g) {
  for (int i = 0; i < kBlobs; ++i)
    if (!tol_hive_set_value(hive, hive.root_cell, "blob" + std::to_string(i), 3, blob(g, i))) return false;
  const Bytes mark = le32(g);
  if (!tol_hive_set_value(hive, hive.root_cell, "generation", 4, mark)) return false;
  for (const std::uint32_t key : tol_hive_subkeys(hive, hive.root_cell))
    if (!tol_hive_set_value(hive, key, "generation", 4, mark)) return false;
  return true;
}

[[noreturn]] void run_saver(const std::string& path, const Plan& plan, int pipe) {
  g_saver.pipe = pipe;
  g_saver.plan = plan;
  g_saver.sum = g_checksum_new(G_CHECKSUM_MD5);
  static constexpr TolSaveIo io{saver_open, saver_write, saver_fsync, saver_close, saver_rename};
  tol_hive_save_set_io(&io);
  TolHivePtr hive = tol_hive_open(path, nullptr);
  if (!hive) _exit(10);
  tol_hive_make_writable(*hive);
  std::optional<std::uint32_t> g = generation_of(*hive, hive->root_cell);
  if (!g) _exit(11);
  for (int n = 0; plan.saves == 0 || n < plan.saves; ++n) {
    if (!write_generation(*hive, ++*g)) _exit(12);
    g_saver.total = TOL_BASE_BLOCK_SIZE + std::uint64_t{hive->bins_length};
    if (!tol_hive_save(*hive, nullptr)) _exit(13);
  }
  _exit(0);
}

// --- The parent --------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int reports = -1;
};

Child start_saver(const std::string& path, const Plan& plan) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    ::close(fds[0]);
    run_saver(path, plan, fds[1]);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return {};
  }
  return {pid, fds[0]};
}

enum class Next { Report, End, Hang };

Next next_report(int fd, Report& r) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, kHangGuardMs);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return Next::Hang;
  auto* bytes = reinterpret_cast<char*>(&r);
  std::size_t got = 0;
  while (got < sizeof r) {
    const ssize_t n = ::read(fd, bytes + got, sizeof r - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Next::End;
    got += static_cast<std::size_t>(n);
  }
  return Next::Report;
}

struct Ending {
  int status = 0;
  std::vector<Digest> announced;  // images the child was about to rename, in order
};

// Kills the child unless it has ended, reaps it and collects what it announced.
Ending end_child(const Child& child, bool kill_it) {
  Ending e;
  if (kill_it) ::kill(child.pid, SIGKILL);
  while (waitpid(child.pid, &e.status, 0) < 0 && errno == EINTR) {
  }
  Report r;
  while (next_report(child.reports, r) == Next::Report)
    if (r.tag == 'R') e.announced.push_back(r.digest);
  ::close(child.reports);
  return e;
}

std::string describe_status(int status) {
  std::ostringstream s;
  if (WIFEXITED(status)) s << "exited with status " << WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) s << "died of signal " << WTERMSIG(status);
  else s << "status " << status;
  return s.str();
}

bool killed(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    path_ = dir_.file("crash.hiv");
    temp_ = path_ + ".tolvane-tmp";
    start_over();

    const int seed = env_int("TOL_CRASH_SEED", 0);
    seed_ = seed != 0 ? static_cast<unsigned>(seed) : std::random_device{}();
    rng_.seed(seed_);
    std::printf("crash seed %u (TOL_CRASH_SEED repeats the random choices)\n", seed_);
    std::fflush(stdout);
  }

  // Each of the two tests makes half of the kills.
  static int kills(bool first_half) {
    const int all = std::max(2, env_int("TOL_CRASH_KILLS", 100));
    return first_half ? (all + 1) / 2 : all / 2;
  }

  // A newly built hive of the current generation replaces the grown one.
  void start_over() {
    HiveBuilder b;
    b.tree(generation_tree(generation_));
    b.write_file(path_);
    auto d = file_digest(path_);
    ASSERT_TRUE(d);
    current_ = *d;
  }

  // Starts over when the image has grown too large; no saver is running. A
  // temporary file left by a killed save then outgrows the next image, which
  // must not inherit its tail.
  void keep_size_bounded() {
    if (file_size(path_).value_or(0) > kStartOverSize) start_over();
  }

  // The path must hold a sound hive whose marks and blobs all belong to the
  // given generation.
  void expect_sound_hive(std::uint32_t generation, const std::string& context) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(path_, &error);
    if (!hive) {
      ADD_FAILURE() << context << ": " << (error ? error->message : "no hive");
      g_clear_error(&error);
      return;
    }
    EXPECT_FALSE(tol_hive_has_pending_log(*hive)) << context;
    for (const auto& p : tol_hive_check(*hive).problems) ADD_FAILURE() << context << ": " << p;
    EXPECT_EQ(generation_of(*hive, hive->root_cell), generation) << context;
    auto root = values_of(*hive, hive->root_cell);
    for (int i = 0; i < kBlobs; ++i)
      EXPECT_TRUE(root["blob" + std::to_string(i)].data == blob(generation, i))
          << context << ": blob" << i << " is not of generation " << generation;
    const auto keys = tol_hive_subkeys(*hive, hive->root_cell);
    EXPECT_EQ(keys.size(), std::size_t{kKeys}) << context;
    for (const std::uint32_t key : keys)
      EXPECT_EQ(generation_of(*hive, key), generation)
          << context << ": key " << tol_hive_key_name(*hive, key);
  }

  // A fresh process saves once, undisturbed: it must succeed, leave at the
  // path exactly the image it announced and no temporary file.
  void save_undisturbed(const std::string& context) {
    const gint64 start = g_get_monotonic_time();
    const Child child = start_saver(path_, Plan{Stop::None, 0, 1});
    ASSERT_GT(child.pid, 0);
    const Ending e = end_child(child, false);
    save_micros_ = g_get_monotonic_time() - start;
    ASSERT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 0)
        << context << ": the next save " << describe_status(e.status);
    ASSERT_EQ(e.announced.size(), 1u) << context;
    EXPECT_EQ(file_digest(path_), e.announced[0]) << context;
    EXPECT_FALSE(file_size(temp_)) << context << ": the next save left its temporary file";
    current_ = e.announced[0];
    ++generation_;
  }

  TempDir dir_{"tolvane-crash"};
  std::string path_;
  std::string temp_;
  Digest current_{};          // the image at the path
  std::uint32_t generation_ = 0;  // and its generation
  gint64 save_micros_ = 0;    // how long the last undisturbed save took, to scale delays
  unsigned seed_ = 0;
  std::mt19937 rng_;
};

TEST_F(CrashTest, RandomMoments) {
  const int count = kills(true);
  save_undisturbed("first save");
  int old_image = 0;
  int new_image = 0;
  int temp_left = 0;
  int survived = 0;
  for (int k = 1; k <= count && !HasFailure(); ++k) {
    // Up to about three saves' time: the kill may find the child opening and
    // editing, anywhere inside its first save, or in a later one.
    const auto delay = std::uniform_int_distribution<gint64>(0, 3 * save_micros_)(rng_);
    std::ostringstream context;
    context << "kill " << k << " after " << delay << " us (seed " << seed_ << ")";
    const Child child = start_saver(path_, Plan{});
    ASSERT_GT(child.pid, 0);
    g_usleep(static_cast<gulong>(delay));
    const Ending e = end_child(child, true);
    ASSERT_TRUE(killed(e.status)) << context.str() << ": the saver " << describe_status(e.status);

    // The last image announced may or may not have been renamed into place;
    // anything older has certainly been replaced.
    const auto on_disk = file_digest(path_);
    ASSERT_TRUE(on_disk) << context.str() << ": the hive is gone";
    std::vector<Digest> chain{current_};
    chain.insert(chain.end(), e.announced.begin(), e.announced.end());
    std::optional<std::size_t> at;
    for (std::size_t i = chain.size() >= 2 ? chain.size() - 2 : 0; i < chain.size(); ++i)
      if (chain[i] == *on_disk) at = i;
    ASSERT_TRUE(at) << context.str() << ": the file (" << hex(*on_disk)
                    << ") is none of the images saved there, " << e.announced.size()
                    << " announced";
    const std::uint32_t generation = generation_ + static_cast<std::uint32_t>(*at);
    expect_sound_hive(generation, context.str());
    (*at == 0 ? old_image : new_image) += 1;
    if (file_size(temp_)) ++temp_left;
    current_ = *on_disk;
    generation_ = generation;
    keep_size_bounded();
    save_undisturbed(context.str());
    if (!HasFailure()) ++survived;
  }
  std::printf("survived %d of %d kills at random moments: %d left the image from before, "
              "%d a newer one, %d a temporary file\n",
              survived, count, old_image, new_image, temp_left);
  EXPECT_EQ(survived, count);
}

TEST_F(CrashTest, ChosenStepsOfTheSave) {
  constexpr Stop kOthers[] = {Stop::BeforeCreate, Stop::BeforeFlush, Stop::BeforeClose,
                              Stop::BeforeRename, Stop::AtDirectoryOpen, Stop::AtDirectoryClose};
  const int count = kills(false);
  std::map<Stop, int> counts;
  int survived = 0;
  for (int k = 1; k <= count && !HasFailure(); ++k) {
    // Half of the kills land inside the write, at any byte of the image.
    Plan plan;
    plan.saves = 1;
    if (rng_() % 2 == 0) {
      plan.stop = Stop::MidWrite;
      plan.where = std::uniform_real_distribution<double>(0, 1)(rng_);
    } else {
      plan.stop = kOthers[rng_() % std::size(kOthers)];
    }
    std::ostringstream context;
    context << "kill " << k << " " << stop_name(plan.stop);
    if (plan.stop == Stop::MidWrite) context << " at " << plan.where;
    context << " (seed " << seed_ << ")";

    const Child child = start_saver(path_, plan);
    ASSERT_GT(child.pid, 0);
    Report r;
    Next next;
    std::vector<Digest> announced;
    while ((next = next_report(child.reports, r)) == Next::Report && r.tag != 'S')
      if (r.tag == 'R') announced.push_back(r.digest);
    const Ending e = end_child(child, true);
    ASSERT_NE(next, Next::Hang) << context.str() << ": the saver never reached its stop";
    ASSERT_EQ(next, Next::Report) << context.str() << ": the saver " << describe_status(e.status);
    ASSERT_TRUE(killed(e.status)) << context.str() << ": " << describe_status(e.status);
    announced.insert(announced.end(), e.announced.begin(), e.announced.end());

    // Until the rename the path keeps the old image; from then on the new one.
    const auto on_disk = file_digest(path_);
    ASSERT_TRUE(on_disk) << context.str() << ": the hive is gone";
    if (stops_before_rename(plan.stop)) {
      EXPECT_EQ(*on_disk, current_) << context.str() << ": the old image was touched";
      expect_sound_hive(generation_, context.str());
    } else {
      ASSERT_EQ(announced.size(), 1u) << context.str();
      EXPECT_EQ(*on_disk, announced[0]) << context.str() << ": the new image is not in place";
      expect_sound_hive(generation_ + 1, context.str());
      current_ = *on_disk;
      ++generation_;
    }
    // What the killed save leaves: a temporary file holding what was written.
    const auto left = file_size(temp_);
    if (plan.stop == Stop::BeforeCreate || !stops_before_rename(plan.stop))
      EXPECT_FALSE(left) << context.str();
    else
      EXPECT_EQ(left, r.written) << context.str() << ": the temporary file";

    keep_size_bounded();
    save_undisturbed(context.str());
    if (!HasFailure()) {
      ++survived;
      ++counts[plan.stop];
    }
  }
  std::printf("survived %d of %d kills at chosen steps:", survived, count);
  for (const auto& [stop, n] : counts) std::printf(" %d %s;", n, stop_name(stop));
  std::printf("\n");
  EXPECT_EQ(survived, count);
}

}  // namespace
}  // namespace tol::test
