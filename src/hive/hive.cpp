// Opening, closing and copy-on-write of hive files.
#include "hive/hive.h"

#include "hive/logs.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tol {

Mapping::Mapping(Mapping&& other) noexcept
    : addr_(std::exchange(other.addr_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      writable_(std::exchange(other.writable_, false)) {}

Mapping& Mapping::operator=(Mapping&& other) noexcept {
  if (this != &other) {
    reset();
    addr_ = std::exchange(other.addr_, nullptr);
    length_ = std::exchange(other.length_, 0);
    writable_ = std::exchange(other.writable_, false);
  }
  return *this;
}

Mapping::~Mapping() { reset(); }

void Mapping::reset() {
  if (addr_ != nullptr) munmap(const_cast<void*>(addr_), length_);
  addr_ = nullptr;
  length_ = 0;
  writable_ = false;
}

Mapping Mapping::patchable(int fd, std::size_t file_length, std::size_t reserve) {
  reserve = std::max(reserve, file_length);
  // The anonymous reservation supplies the zeros past the end of the file
  // (a growing hive); NORESERVE because most of it is never written.
  void* region = mmap(nullptr, reserve, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) return {};
  Mapping whole(region, reserve);
  if (mmap(region, file_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0) ==
      MAP_FAILED)
    return {};
  whole.writable_ = true;
  return whole;
}

std::span<std::uint8_t> Mapping::patch_bytes() {
  if (!writable_) return {};
  return {static_cast<std::uint8_t*>(const_cast<void*>(addr_)), length_};
}

void Mapping::seal() {
  if (!writable_) return;
  (void)mprotect(const_cast<void*>(addr_), length_, PROT_READ);
  writable_ = false;
}

}  // namespace tol

namespace {

// Closes a descriptor when the scope ends, whatever path open takes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Takes the message already translated so that each literal stays visible to
// xgettext, and the error code decided before translating can touch errno.
void set_open_error(GError** error, GFileError code, const char* translated) {
  g_set_error_literal(error, G_FILE_ERROR, code, translated);
}

}  // namespace

tol::Mapping tol::map_file(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || st.st_size <= 0) return {};
  const auto length = static_cast<std::size_t>(st.st_size);
  void* addr = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (addr == MAP_FAILED) return {};
  return Mapping(addr, length);
}

tol::ByteView TolHive::bins() const {
  if (writable) {
    std::span<const std::uint8_t> heap(heap_bins);
    return tol::ByteView(heap.first(std::min<std::size_t>(bins_length, heap.size())));
  }
  return tol::ByteView(mapping.bytes()).sub(TOL_BASE_BLOCK_SIZE, bins_length);
}

tol::ByteView TolHive::base() const {
  if (writable) return tol::ByteView(std::span<const std::uint8_t>(base_copy));
  return tol::ByteView(mapping.bytes()).sub(0, TOL_BASE_BLOCK_SIZE);
}

TolHivePtr tol_hive_open(const std::string& path, GError** error, TolLogPolicy logs) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    const GFileError code = g_file_error_from_errno(errno);
    set_open_error(error, code, g_dgettext(GETTEXT_PACKAGE, "Cannot open the file"));
    return nullptr;
  }

  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || st.st_size < static_cast<off_t>(TOL_MIN_HIVE_FILE_SIZE)) {
    set_open_error(error, G_FILE_ERROR_INVAL,
                   g_dgettext(GETTEXT_PACKAGE, "File is too small — it is not a registry hive"));
    return nullptr;
  }

  const auto length = static_cast<std::size_t>(st.st_size);
  void* addr = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  const int map_errno = errno;
  if (addr == MAP_FAILED) {
    const GFileError code = g_file_error_from_errno(map_errno);
    set_open_error(error, code, g_dgettext(GETTEXT_PACKAGE, "Cannot open the file"));
    return nullptr;
  }
  tol::Mapping mapping(addr, length);

  const tol::ByteView file(mapping.bytes());
  if (!file.starts_with("regf")) {
    set_open_error(error, G_FILE_ERROR_INVAL,
                   g_dgettext(GETTEXT_PACKAGE, "Missing 'regf' signature — it is not a registry hive"));
    return nullptr;
  }

  auto hive = std::make_unique<TolHive>();
  hive->path = path;
  hive->file_size = length;
  hive->mapping = std::move(mapping);
  if (tol_hive_needs_recovery(hive->base())) {
    if (logs == TolLogPolicy::apply)
      tol_hive_apply_logs(*hive, fd.get());
    else
      hive->logs.pending = tol_hive_primary_sequence(*hive) != tol_hive_secondary_sequence(*hive);
  }
  // Recovery may have replaced the mapping by a longer one; the base block
  // read from here on is the recovered one.
  const tol::ByteView base = hive->base();
  const std::uint64_t available = hive->mapping.length() - TOL_BASE_BLOCK_SIZE;
  hive->bins_length =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(base.u32(TOL_BASE_BINS_SIZE), available));
  hive->root_cell = base.u32(TOL_BASE_ROOT_CELL);
  return hive;
}

void tol_hive_close(TolHivePtr hive) { hive.reset(); }

void tol_hive_make_writable(TolHive& hive) {
  if (hive.writable) return;
  const auto base = hive.base().span();
  const auto bins = hive.bins().span();
  hive.base_copy.assign(base.begin(), base.end());
  // Room for a few new bins: without it the first bin an edit appends moves
  // the whole image to a new buffer. Pages reserved but never written cost
  // nothing.
  hive.heap_bins.reserve(bins.size() + std::max<std::size_t>(bins.size() / 16, std::size_t{1} << 20));
  hive.heap_bins.assign(bins.begin(), bins.end());
  hive.writable = true;
}

void tol_hive_image_replaced(TolHive& hive) {
  hive.alloc_hint = 0;
  hive.name_cache.clear();
  hive.bins_intact.reset();
  // The census stays: the journal only moves between images that edits made
  // from the one it was taken of, and edits neither touch the cells it lists
  // nor make new ones. Taking it again would read the whole hive.
  hive.dirty = true;
}

std::uint32_t tol_hive_primary_sequence(const TolHive& hive) {
  return hive.base().u32(TOL_BASE_SEQ_PRIMARY);
}

std::uint32_t tol_hive_secondary_sequence(const TolHive& hive) {
  return hive.base().u32(TOL_BASE_SEQ_SECONDARY);
}

bool tol_hive_has_pending_log(const TolHive& hive) { return hive.logs.pending; }

std::uint32_t tol_hive_major_version(const TolHive& hive) {
  return hive.base().u32(TOL_BASE_MAJOR_VERSION);
}

std::uint32_t tol_hive_minor_version(const TolHive& hive) {
  return hive.base().u32(TOL_BASE_MINOR_VERSION);
}
