// Recovery of dirty hives from their transaction logs.
//
// Two generations exist. Since Windows 8.1 a log holds "HvLE" entries, each a
// numbered set of dirty pages with two Marvin32 hashes; Windows alternates
// between LOG1 and LOG2, so one recovery may read entries from both. Older
// systems write a "DIRT" bitmap of 512-byte pages followed by those pages.
//
// The entries are applied to a copy-on-write mapping of the hive file, so a
// recovery costs the pages it replaces and nothing more; a page that would
// leave a bin without its header stops the recovery before the entry holding it.
#include "hive/logs.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <bit>
#include <cstring>
#include <map>
#include <optional>

#include "hive/errors.h"

namespace {

constexpr std::uint32_t kLogHeaderSize = 512;
constexpr std::uint32_t kPage = 4096;
constexpr std::uint32_t kOldPage = 512;
constexpr std::uint32_t kFileTypeOffset = 0x1C;
constexpr std::uint32_t kTimestampOffset = 0x0C;
constexpr std::uint32_t kFlagsOffset = 0x90;
constexpr std::uint32_t kEntryHeaderSize = 40;
// How far back from a replaced page the start of its bin is looked for:
// 16 MB, beyond the largest single cell Windows writes.
constexpr std::uint32_t kMaxBinPages = 4096;

// --- Marvin32 ------------------------------------------------------------------

struct Marvin {
  std::uint32_t p0, p1;
  void mix() {
    p1 ^= p0;
    p0 = std::rotl(p0, 20);
    p0 += p1;
    p1 = std::rotl(p1, 9);
    p1 ^= p0;
    p0 = std::rotl(p0, 27);
    p0 += p1;
    p1 = std::rotl(p1, 19);
  }
};

// --- Log files -------------------------------------------------------------------

struct Entry {
  std::uint32_t sequence = 0;
  std::uint32_t offset = 0;  // in the log file
  std::uint32_t size = 0;
  std::uint32_t bins_size = 0;
};

struct LogFile {
  std::string name;   // the file name as found
  std::string label;  // LOG1, LOG2 or LOG, for messages
  tol::Mapping mapping;
  bool usable = false;
  bool new_format = false;
  std::uint32_t sequence = 0;
  std::string problem;
  std::vector<Entry> entries;  // new format: in file order, headers plausible

  tol::ByteView bytes() const { return tol::ByteView(mapping.bytes()); }
};

std::string label_of(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  gchar* up = g_ascii_strup(name.c_str() + dot + 1, -1);
  std::string label(up);
  g_free(up);
  return label;
}

// Reads the copied base block and, for the new format, the entry headers up to
// the first that cannot be one: the rest of a log is old data or zeros.
void read_log(LogFile& log) {
  const tol::ByteView bytes = log.bytes();
  if (bytes.empty()) {
    log.problem = log.label + ": empty";
    return;
  }
  if (!bytes.starts_with("regf") || !bytes.has(0, kLogHeaderSize)) {
    log.problem = log.label + ": not a log file";
    return;
  }
  const tol::ByteView header = bytes.sub(0, kLogHeaderSize);
  if (header.u32(TOL_BASE_CHECKSUM) != tol_hive_checksum(header)) {
    log.problem = log.label + ": checksum wrong";
    return;
  }
  if (header.u32(TOL_BASE_SEQ_PRIMARY) != header.u32(TOL_BASE_SEQ_SECONDARY)) {
    log.problem = log.label + ": sequence numbers differ";
    return;
  }
  const std::uint32_t type = header.u32(kFileTypeOffset);
  if (type != 1 && type != 2 && type != 6) {
    log.problem = log.label + ": unknown log type " + std::to_string(type);
    return;
  }
  log.usable = true;
  log.new_format = type == 6;
  log.sequence = header.u32(TOL_BASE_SEQ_PRIMARY);
  if (!log.new_format) return;
  for (std::size_t off = kLogHeaderSize;; ) {
    const tol::ByteView head = bytes.sub(off, kEntryHeaderSize);
    if (!head.starts_with("HvLE")) break;
    const std::uint32_t size = head.u32(4);
    if (size < kLogHeaderSize || size % kLogHeaderSize != 0 || !bytes.has(off, size)) break;
    log.entries.push_back(Entry{head.u32(12), static_cast<std::uint32_t>(off), size, head.u32(16)});
    off += size;
  }
}

// Why an entry may not be applied, or nothing when its hashes and fields hold.
std::optional<std::string> entry_fault(const LogFile& log, const Entry& e) {
  const tol::ByteView entry = log.bytes().sub(e.offset, e.size);
  if (e.bins_size % kPage != 0) return std::string("hive-bins size not a multiple of 4096");
  if (tol_marvin32(entry.sub(0, 32).span()) != entry.u64(32) ||
      tol_marvin32(entry.tail(kEntryHeaderSize).span()) != entry.u64(24))
    return std::string("hash mismatch");
  const std::uint32_t pages = entry.u32(20);
  std::uint64_t need = kEntryHeaderSize + std::uint64_t{pages} * 8;
  if (need > e.size) return std::string("page list longer than the entry");
  for (std::uint32_t i = 0; i < pages; ++i) {
    const std::uint32_t at = entry.u32(kEntryHeaderSize + 8 * i);
    const std::uint32_t length = entry.u32(kEntryHeaderSize + 8 * i + 4);
    need += length;
    if (std::uint64_t{at} + length > e.bins_size) return std::string("page outside the hive");
  }
  if (need > e.size) return std::string("pages longer than the entry");
  return std::nullopt;
}

// --- The image being recovered ----------------------------------------------------

// The copy-on-write image with the bins checks recovery needs. Every write
// goes through the bounds-checked view.
class Image {
 public:
  explicit Image(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  tol::MutByteView base() const { return bytes_.sub(0, TOL_BASE_BLOCK_SIZE); }
  std::uint32_t bins_size() const { return base().u32(TOL_BASE_BINS_SIZE); }
  std::size_t capacity() const { return bytes_.size() - TOL_BASE_BLOCK_SIZE; }

  // Writes bytes at a bins offset, keeping what was there for undo().
  bool write(std::uint32_t at, tol::ByteView data) {
    const std::size_t off = TOL_BASE_BLOCK_SIZE + std::size_t{at};
    if (!bytes_.has(off, data.size())) return false;
    const auto old = bytes_.view().sub(off, data.size()).span();
    saved_.push_back({at, std::vector<std::uint8_t>(old.begin(), old.end())});
    return bytes_.put_bytes(off, data.span());
  }
  void undo() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      bytes_.put_bytes(TOL_BASE_BLOCK_SIZE + std::size_t{it->first}, it->second);
    saved_.clear();
  }
  void keep() { saved_.clear(); }

  // Whether every bin overlapping [lo, hi) of the bins area starts with a sound
  // header and ends inside `bins_size`; where it is not, `bad` says.
  bool bins_sound(std::uint32_t lo, std::uint32_t hi, std::uint32_t bins_size,
                  std::uint32_t& bad) const {
    if (hi > bins_size) {
      bad = lo;
      return false;
    }
    std::uint32_t pos = lo - lo % kPage;
    for (std::uint32_t steps = 0;; ++steps) {
      if (auto size = bin_at(pos, bins_size)) {
        if (pos + *size > lo) break;
        bad = lo - lo % kPage;  // between two bins: no header where one must be
        return false;
      }
      if (pos == 0 || steps == kMaxBinPages) {
        bad = lo - lo % kPage;
        return false;
      }
      pos -= kPage;
    }
    while (pos < hi) {
      const auto size = bin_at(pos, bins_size);
      if (!size) {
        bad = pos;
        return false;
      }
      pos += *size;
    }
    return true;
  }

 private:
  // The size of the bin whose header sits at pos, when the header is sound.
  std::optional<std::uint32_t> bin_at(std::uint32_t pos, std::uint32_t bins_size) const {
    const tol::ByteView h = bytes_.view().sub(TOL_BASE_BLOCK_SIZE + std::size_t{pos}, 12);
    if (!h.starts_with("hbin") || h.u32(4) != pos) return std::nullopt;
    const std::uint32_t size = h.u32(8);
    if (size == 0 || size % kPage != 0 || size > bins_size - pos) return std::nullopt;
    return size;
  }

  tol::MutByteView bytes_;
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> saved_;
};

// --- New format ---------------------------------------------------------------------

struct Candidate {
  const LogFile* log;
  const Entry* entry;
};

class NewFormatRecovery {
 public:
  NewFormatRecovery(const std::vector<LogFile>& logs, TolLogReport& report, std::uint32_t primary_secondary,
                    bool base_damaged)
      : report_(report) {
    // With a damaged base block nothing says which entries the primary holds:
    // the log with the latest entries supplies the base block and all entries.
    for (const LogFile& log : logs) {
      if (!log.usable || !log.new_format) continue;
      const bool better = base_damaged ? !source_ || log.sequence > source_->sequence
                                       : log.sequence >= primary_secondary &&
                                             (!source_ || log.sequence < source_->sequence);
      if (better) source_ = &log;
    }
    if (!source_) return;
    start_ = source_->sequence;
    for (const LogFile& log : logs) {
      if (!log.usable || !log.new_format || (base_damaged && &log != source_)) continue;
      for (const Entry& e : log.entries)
        if (e.sequence >= start_) by_sequence_.emplace(e.sequence, Candidate{&log, &e});
    }
  }

  const LogFile* source() const { return source_; }

  // The largest image any entry could make, so the mapping is reserved once.
  std::uint32_t largest_bins_size() const {
    std::uint32_t most = 0;
    for (const auto& [sequence, c] : by_sequence_) most = std::max(most, c.entry->bins_size);
    return most;
  }

  void run(Image& image) {
    std::uint32_t next = start_;
    for (;; ++next) {
      const auto [first, last] = by_sequence_.equal_range(next);
      if (first == last) {
        if (by_sequence_.upper_bound(next) != by_sequence_.end())
          stop("entry " + std::to_string(next) + " missing");
        return;
      }
      // Both logs may hold an entry of this number when one was rewritten;
      // the first one that is whole is the one Windows would take.
      std::string fault;
      const Candidate* chosen = nullptr;
      for (auto it = first; it != last && !chosen; ++it) {
        if (auto why = entry_fault(*it->second.log, *it->second.entry))
          fault = *why;
        else
          chosen = &it->second;
      }
      if (!chosen) return stop("entry " + std::to_string(next) + ": " + fault);
      if (auto bad = apply(image, *chosen))
        return stop("entry " + std::to_string(next) + ": the page at " + tol_hex(*bad) +
                    " breaks a bin");
      note_applied(*chosen->log, next);
    }
  }

  bool ended_cleanly() const { return report_.problem.empty(); }

 private:
  // Writes the entry's pages; on a broken bin undoes them and says where.
  std::optional<std::uint32_t> apply(Image& image, const Candidate& c) {
    const tol::ByteView entry = c.log->bytes().sub(c.entry->offset, c.entry->size);
    const std::uint32_t pages = entry.u32(20);
    const std::uint32_t bins_size = c.entry->bins_size;
    if (bins_size > image.capacity()) return 0u;
    std::size_t data = kEntryHeaderSize + std::size_t{pages} * 8;
    for (std::uint32_t i = 0; i < pages; ++i) {
      const std::uint32_t at = entry.u32(kEntryHeaderSize + 8 * i);
      const std::uint32_t length = entry.u32(kEntryHeaderSize + 8 * i + 4);
      image.write(at, entry.sub(data, length));
      data += length;
    }
    for (std::uint32_t i = 0; i < pages; ++i) {
      const std::uint32_t at = entry.u32(kEntryHeaderSize + 8 * i);
      const std::uint32_t length = entry.u32(kEntryHeaderSize + 8 * i + 4);
      std::uint32_t bad = 0;
      if (length != 0 && !image.bins_sound(at, at + length, bins_size, bad)) {
        image.undo();
        return bad;
      }
    }
    image.keep();
    tol::MutByteView base = image.base();
    base.put_u32(TOL_BASE_BINS_SIZE, bins_size);
    base.put_u32(kFlagsOffset, (base.u32(kFlagsOffset) & ~1u) | (entry.u32(8) & 1u));
    return std::nullopt;
  }

  void note_applied(const LogFile& log, std::uint32_t sequence) {
    if (report_.applied++ == 0) report_.first_sequence = sequence;
    report_.last_sequence = sequence;
    if (std::find(report_.files.begin(), report_.files.end(), log.name) == report_.files.end())
      report_.files.push_back(log.name);
  }

  void stop(const std::string& why) {
    report_.problem = why + "; " + std::to_string(report_.applied) +
                      (report_.applied == 1 ? " entry applied" : " entries applied");
  }

  TolLogReport& report_;
  const LogFile* source_ = nullptr;
  std::uint32_t start_ = 0;
  std::multimap<std::uint32_t, Candidate> by_sequence_;
};

// --- Old format ---------------------------------------------------------------------

struct DirtyPages {
  std::uint32_t bins_size = 0;
  std::vector<std::uint32_t> pages;  // bins offsets, in bitmap order
  std::size_t data = 0;              // file offset of the first page's bytes
};

std::optional<DirtyPages> read_dirty_pages(const LogFile& log, std::string& why) {
  const tol::ByteView bytes = log.bytes();
  if (!bytes.sub(kLogHeaderSize, 4).starts_with("DIRT")) {
    why = log.label + ": no dirty-page bitmap";
    return std::nullopt;
  }
  DirtyPages d;
  d.bins_size = bytes.u32(TOL_BASE_BINS_SIZE);
  const std::uint32_t bits = d.bins_size / kOldPage;
  const std::size_t bitmap = kLogHeaderSize + 4;
  const tol::ByteView map = bytes.sub(bitmap, (std::size_t{bits} + 7) / 8);
  if (map.size() * 8 < bits) {
    why = log.label + ": dirty-page bitmap cut short";
    return std::nullopt;
  }
  for (std::uint32_t i = 0; i < bits; ++i)
    if (map.u8(i / 8) & (1u << (i % 8))) d.pages.push_back(i * kOldPage);
  d.data = (bitmap + map.size() + kOldPage - 1) / kOldPage * kOldPage;
  if (!bytes.has(d.data, d.pages.size() * kOldPage)) {
    why = log.label + ": dirty pages missing";
    return std::nullopt;
  }
  return d;
}

bool apply_dirty_pages(Image& image, const LogFile& log, const DirtyPages& d, std::string& why) {
  if (d.bins_size % kPage != 0 || d.bins_size > image.capacity()) {
    why = log.label + ": hive-bins size not usable";
    return false;
  }
  const tol::ByteView bytes = log.bytes();
  for (std::size_t i = 0; i < d.pages.size(); ++i)
    image.write(d.pages[i], bytes.sub(d.data + i * kOldPage, kOldPage));
  for (std::size_t i = 0; i < d.pages.size(); ++i) {
    std::uint32_t bad = 0;
    if (!image.bins_sound(d.pages[i], d.pages[i] + kOldPage, d.bins_size, bad)) {
      image.undo();
      why = log.label + ": the page at " + tol_hex(bad) + " breaks a bin";
      return false;
    }
  }
  image.keep();
  image.base().put_u32(TOL_BASE_BINS_SIZE, d.bins_size);
  return true;
}

// --- Finding the files ------------------------------------------------------------------

bool same_name(const char* a, const std::string& b) { return g_ascii_strcasecmp(a, b.c_str()) == 0; }

}  // namespace

std::uint64_t tol_marvin32(std::span<const std::uint8_t> bytes, std::uint64_t seed) {
  Marvin m{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  const tol::ByteView view(bytes);
  std::size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) {
    m.p0 += view.u32(i);
    m.mix();
  }
  std::uint32_t t = 0x80;
  switch (bytes.size() - i) {
    case 3: t = 0x80000000u | view.u8(i) | view.u8(i + 1) << 8 | view.u8(i + 2) << 16; break;
    case 2: t = 0x800000u | view.u8(i) | view.u8(i + 1) << 8; break;
    case 1: t = 0x8000u | view.u8(i); break;
    default: break;
  }
  m.p0 += t;
  m.mix();
  m.mix();
  return std::uint64_t{m.p1} << 32 | m.p0;
}

bool tol_hive_needs_recovery(tol::ByteView base) {
  return base.u32(TOL_BASE_SEQ_PRIMARY) != base.u32(TOL_BASE_SEQ_SECONDARY) ||
         base.u32(TOL_BASE_CHECKSUM) != tol_hive_checksum(base);
}

std::vector<std::string> tol_hive_find_logs(const std::string& hive_path) {
  g_autofree char* dir = g_path_get_dirname(hive_path.c_str());
  g_autofree char* base = g_path_get_basename(hive_path.c_str());
  std::vector<std::string> found;
  GDir* d = g_dir_open(dir, 0, nullptr);
  if (!d) return found;
  for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
    const std::string wanted = std::string(base) + suffix;
    // The name as written wins over other spellings of it (a disk copied to a
    // case-sensitive file system can hold both).
    std::string match;
    g_dir_rewind(d);
    while (const char* name = g_dir_read_name(d)) {
      if (!same_name(name, wanted)) continue;
      if (match.empty() || wanted == name) match = name;
    }
    if (!match.empty()) {
      g_autofree char* path = g_build_filename(dir, match.c_str(), nullptr);
      found.emplace_back(path);
    }
  }
  g_dir_close(d);
  return found;
}

void tol_hive_apply_logs(TolHive& hive, int fd) {
  TolLogReport& report = hive.logs;
  report = {};
  report.examined = true;
  const tol::ByteView primary = hive.base();
  const bool unfinished = primary.u32(TOL_BASE_SEQ_PRIMARY) != primary.u32(TOL_BASE_SEQ_SECONDARY);
  const bool base_damaged = primary.u32(TOL_BASE_CHECKSUM) != tol_hive_checksum(primary);
  // Whatever happens below, a hive that was not fully written keeps its
  // logged changes pending until they are applied.
  report.pending = unfinished;

  std::vector<LogFile> logs;
  for (const std::string& path : tol_hive_find_logs(hive.path)) {
    LogFile log;
    g_autofree char* name = g_path_get_basename(path.c_str());
    log.name = name;
    log.label = label_of(log.name);
    log.mapping = tol::map_file(path);
    read_log(log);
    if (log.usable) {
      report.highest_sequence = std::max(report.highest_sequence, log.sequence);
      for (const Entry& e : log.entries)
        report.highest_sequence = std::max(report.highest_sequence, e.sequence);
    }
    logs.push_back(std::move(log));
  }
  auto why_none = [&logs]() {
    std::string why;
    for (const LogFile& log : logs)
      if (!log.problem.empty()) why += (why.empty() ? "" : ", ") + log.problem;
    return why.empty() ? std::string("no log files") : why;
  };
  if (logs.empty()) {
    report.problem = "no log files";
    return;
  }

  const bool any_new =
      std::any_of(logs.begin(), logs.end(), [](const LogFile& l) { return l.usable && l.new_format; });
  NewFormatRecovery recovery(logs, report, primary.u32(TOL_BASE_SEQ_SECONDARY), base_damaged);
  const LogFile* old_source = nullptr;
  if (!any_new) {
    for (const LogFile& log : logs) {
      if (!log.usable) continue;
      if (!base_damaged && log.bytes().u64(kTimestampOffset) != primary.u64(kTimestampOffset))
        continue;
      old_source = &log;
      break;
    }
  }
  const LogFile* source = any_new ? recovery.source() : old_source;
  if (!source) {
    if (any_new)
      report.problem = "the logs hold no changes newer than the hive file";
    else if (std::any_of(logs.begin(), logs.end(), [](const LogFile& l) { return l.usable; }))
      report.problem = "the logs were written at another time than the hive file";
    else
      report.problem = why_none();
    return;
  }

  std::uint64_t reserve = TOL_BASE_BLOCK_SIZE + std::uint64_t{primary.u32(TOL_BASE_BINS_SIZE)};
  std::optional<DirtyPages> dirty;
  if (any_new) {
    reserve = std::max<std::uint64_t>(reserve, TOL_BASE_BLOCK_SIZE + std::uint64_t{recovery.largest_bins_size()});
  } else {
    dirty = read_dirty_pages(*source, report.problem);
    if (!dirty) return;
    reserve = std::max<std::uint64_t>(reserve, TOL_BASE_BLOCK_SIZE + std::uint64_t{dirty->bins_size});
  }
  tol::Mapping patched = tol::Mapping::patchable(fd, hive.mapping.length(), reserve);
  if (patched.length() == 0) {
    report.problem = std::string("cannot map the hive for recovery: ") + g_strerror(errno);
    return;
  }
  Image image(patched.patch_bytes());
  if (base_damaged) {
    // The log's copy of the base block, marked as a primary's again.
    tol::MutByteView base = image.base();
    base.put_bytes(0, source->bytes().sub(0, kLogHeaderSize).span());
    base.put_u32(kFileTypeOffset, 0);
    report.base_from_log = true;
    report.files.push_back(source->name);
  }

  bool complete = false;
  if (any_new) {
    recovery.run(image);
    complete = recovery.ended_cleanly();
    if (report.applied > 0) {
      image.base().put_u32(TOL_BASE_SEQ_PRIMARY, report.last_sequence);
      image.base().put_u32(TOL_BASE_SEQ_SECONDARY, report.last_sequence);
    }
  } else {
    report.old_format = true;
    complete = apply_dirty_pages(image, *source, *dirty, report.problem);
    if (complete) {
      report.applied = static_cast<std::uint32_t>(dirty->pages.size());
      if (report.files.empty()) report.files.push_back(source->name);
      const std::uint32_t sequence = image.base().u32(TOL_BASE_SEQ_PRIMARY);
      image.base().put_u32(TOL_BASE_SEQ_SECONDARY, sequence);
    }
  }
  if (report.applied == 0 && !report.base_from_log) {
    // Nothing changed: keep the plain mapping, and say why when no entry was
    // even there to try.
    if (complete) report.problem = "the logs hold no changes newer than the hive file";
    return;
  }
  image.base().put_u32(TOL_BASE_CHECKSUM, tol_hive_checksum(image.base().view()));
  patched.seal();
  hive.mapping = std::move(patched);
  report.complete = complete;
  report.pending = unfinished && !complete;
}

std::string tol_log_summary(const TolLogReport& report) {
  if (!report.examined) return {};
  std::string files;
  for (const std::string& f : report.files) files += (files.empty() ? "" : ", ") + f;
  std::string text;
  if (report.applied > 0) {
    text = std::to_string(report.applied);
    if (report.old_format)
      text += report.applied == 1 ? " page" : " pages";
    else
      text += report.applied == 1 ? " entry" : " entries";
    text += " applied from " + files;
    if (!report.old_format)
      text += " (sequence " + std::to_string(report.first_sequence) + "\u2013" +
              std::to_string(report.last_sequence) + ")";
  } else if (report.base_from_log) {
    text = "base block taken from " + files;
  }
  if (report.problem.empty()) return text;
  if (text.empty()) return "not applied: " + report.problem;
  // The problem of a recovery that stopped part way ends in the count the
  // text gives already.
  const std::size_t count = report.problem.rfind("; ");
  return text + "; then " + report.problem.substr(0, count);
}
