// The fuzz drivers. Their checks are the engine's own promises: a hive that
// was sound stays sound through every edit, import and replace; what a save
// writes reads back the same; every text meant for the screen is UTF-8.
#include "harness.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <unordered_set>

#include "hive/check.h"
#include "hive/compare.h"
#include "hive/copy.h"
#include "hive/deleted.h"
#include "hive/details.h"
#include "hive/edit.h"
#include "hive/format.h"
#include "hive/hive.h"
#include "hive/logs.h"
#include "hive/names.h"
#include "hive/page_journal.h"
#include "hive/save.h"
#include "hive/sddl.h"
#include "hive/security.h"
#include "reg/diff.h"
#include "reg/export.h"
#include "reg/import.h"
#include "search/replace.h"
#include "search/search.h"
#include "search/timeline.h"
#include "hive_builder.h"
#include "value/codec.h"

namespace tol::fuzz {
namespace {

// Bounds on the drivers' own loops, so that a hive whose lists repeat one big
// value thousands of times is not mistaken for an engine that hangs.
constexpr std::size_t kMaxWalkKeys = 4096;
constexpr std::size_t kMaxValueReads = 20000;
constexpr std::size_t kMaxFindSubkey = 64;
constexpr std::size_t kMaxEditOps = 64;

[[noreturn]] void broken(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty())
    std::fprintf(stderr, "%.*s\n", static_cast<int>(detail.size()), detail.data());
  std::fflush(stderr);
  __builtin_trap();
}

void require(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) broken(what, detail);
}

void require_utf8(std::string_view text, std::string_view what) {
  // U+0000 is a character like any other here: a one-byte name may hold it.
  // GLib's validators refuse it, so each piece between zero bytes is validated.
  std::string_view rest = text;
  while (true) {
    const std::size_t zero = rest.find('\0');
    const std::string_view piece = rest.substr(0, zero);
    if (!g_utf8_validate(piece.data(), static_cast<gssize>(piece.size()), nullptr)) {
      const std::string raw(piece);
      gchar* escaped = g_strescape(raw.c_str(), nullptr);
      const std::string shown = escaped;
      g_free(escaped);
      broken(what, shown);
    }
    if (zero == std::string_view::npos) return;
    rest.remove_prefix(zero + 1);
  }
}

// An error, when one was set, must be in the file-error domain the user
// interface expects; it is freed either way.
void drop_error(GError*& error, std::string_view what) {
  if (error == nullptr) return;
  const bool file_domain = error->domain == G_FILE_ERROR;
  const std::string message = error->message;
  g_clear_error(&error);
  require(file_domain, what, message);
  require_utf8(message, what);
}

std::string valid_utf8(std::span<const std::uint8_t> bytes) {
  gchar* valid = g_utf8_make_valid(reinterpret_cast<const char*>(bytes.data()),
                                   static_cast<gssize>(bytes.size()));
  std::string text = valid;
  g_free(valid);
  return text;
}

void require_sound(const TolHive& hive, std::string_view what) {
  const TolCheckReport report = tol_hive_check(hive);
  if (report.ok()) return;
  std::string lines;
  for (std::size_t i = 0; i < report.problems.size() && i < 20; ++i)
    lines += report.problems[i] + "\n";
  broken(what, lines);
}

// The saves made while fuzzing go to a temporary directory that nobody needs
// flushed to disk; without the flushes a run is many times faster.
int no_fsync(int) { return 0; }
int io_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t io_write(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
int io_close(int fd) { return ::close(fd); }
int io_rename(const char* from, const char* to) { return ::rename(from, to); }
constexpr TolSaveIo kFastIo{io_open, io_write, no_fsync, io_close, io_rename};

class Workspace {
 public:
  Workspace() {
    GError* error = nullptr;
    char* dir = g_dir_make_tmp("tolvane-fuzz-XXXXXX", &error);
    if (dir == nullptr) broken("cannot make a temporary directory", error->message);
    dir_ = dir;
    g_free(dir);
    // A failed engine precondition is a fault of the engine or its callers.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL));
    tol_hive_save_set_io(&kFastIo);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() {
    for (const char* name : {"in.hiv", "work.hiv", "donor.hiv", "dest.hiv", "work.hiv.tolvane-tmp"})
      g_remove(file(name).c_str());
    g_rmdir(dir_.c_str());
  }

  std::string file(const char* name) const { return dir_ + "/" + name; }

  std::string write(const char* name, std::span<const std::uint8_t> bytes) const {
    const std::string path = file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) broken("cannot write", path);
    return path;
  }

 private:
  std::string dir_;
};

const Workspace& workspace() {
  static const Workspace ws;
  return ws;
}

TolHivePtr open_or_die(const std::string& path, std::string_view what) {
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(path, &error);
  if (!hive) broken(what, error ? error->message : "(no error)");
  return hive;
}

// A working copy of one of the drivers' hives, opened.
TolHivePtr open_copy(const char* name, const Bytes& image) {
  return open_or_die(workspace().write(name, image), "a builder hive does not open");
}

Bytes image_of(const TolHive& hive) {
  Bytes bytes(hive.base().span().begin(), hive.base().span().end());
  bytes.insert(bytes.end(), hive.bins().span().begin(), hive.bins().span().end());
  return bytes;
}

// The keys below `root` in pre-order, each once, to a bounded number.
std::vector<std::uint32_t> walk_keys(const TolHive& hive, std::uint32_t root) {
  std::vector<std::uint32_t> keys;
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, int>> stack{{root, 0}};
  while (!stack.empty() && keys.size() < kMaxWalkKeys) {
    const auto [nk, depth] = stack.back();
    stack.pop_back();
    if (!tol_hive_key(hive, nk) || !seen.insert(nk).second) continue;
    keys.push_back(nk);
    if (depth + 1 >= TOL_MAX_KEY_DEPTH) continue;
    const auto subkeys = tol_hive_subkeys(hive, nk);
    for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) stack.emplace_back(*it, depth + 1);
  }
  return keys;
}

// Saves, reopens and checks; the file must hold the image as it was in memory.
TolHivePtr save_and_reopen(TolHivePtr hive, std::string_view what) {
  const auto bins = hive->bins().span();
  const Bytes before(bins.begin(), bins.end());
  GError* error = nullptr;
  if (!tol_hive_save(*hive, &error)) broken(what, error ? error->message : "save failed");
  const std::string path = hive->path;
  hive.reset();
  TolHivePtr again = open_or_die(path, what);
  require_sound(*again, what);
  const auto saved = again->bins().span();
  require(std::equal(saved.begin(), saved.end(), before.begin(), before.end()), what,
          "the saved hive differs from the image");
  return again;
}

// --- Reading. -------------------------------------------------------------------

void read_texts(const TolHiveValue& value) {
  require_utf8(value.name, "value name is not UTF-8");
  require_utf8(tol_value_type_name(value.type), "type name");
  require_utf8(tol_value_preview(value.data), "preview is not UTF-8");
  require_utf8(tol_value_data_text(value.type, value.data), "data text is not UTF-8");
  require_utf8(tol_value_multi_sz_decode(value.data), "multi-string text is not UTF-8");
  require_utf8(tol_search_value_text(value.type, value.data), "search text is not UTF-8");
  // The hex editor round trip, on data of a size people edit by hand.
  if (value.data.size() > 4096) return;
  const std::string hex = tol_value_hex_format(value.data);
  GError* error = nullptr;
  const auto parsed = tol_value_hex_parse(hex.c_str(), &error);
  drop_error(error, "hex parse error");
  require(parsed && *parsed == value.data, "hex text does not parse back to the data", hex);
}

void read_key(const TolHive& hive, std::uint32_t nk, std::size_t& value_reads) {
  const std::string name = tol_hive_key_name(hive, nk);
  require_utf8(name, "key name is not UTF-8");
  const std::string path = tol_hive_key_path(hive, nk);
  require_utf8(path, "key path is not UTF-8");
  (void)tol_hive_find_path(hive, path);

  const std::uint32_t count = tol_hive_value_count(hive, nk);
  for (std::uint32_t i = 0; i < count && value_reads < kMaxValueReads; ++i, ++value_reads) {
    TolHiveValue value;
    if (!tol_hive_read_value(hive, nk, i, value)) continue;
    read_texts(value);
    (void)tol_hive_find_value(hive, nk, value.name);
  }

  const auto subkeys = tol_hive_subkeys(hive, nk);
  for (std::size_t i = 0; i < subkeys.size() && i < kMaxFindSubkey; ++i)
    (void)tol_hive_find_subkey(hive, nk, tol_hive_key_name(hive, subkeys[i]));

  if (const auto details = tol_hive_key_details(hive, nk, nullptr)) {
    if (details->class_name) require_utf8(*details->class_name, "class name is not UTF-8");
    require_utf8(tol_filetime_iso8601(details->last_write, true), "time is not UTF-8");
  }

  // The editor shows a damaged descriptor too, so that it can be repaired.
  if (const auto descriptor = tol_hive_key_security(hive, nk)) {
    (void)tol_security_descriptor_valid(*descriptor);
    // Whatever decodes and prints as SDDL parses back to the same text.
    const auto sd = tol_sd_decode(*descriptor, nullptr);
    if (const auto text = sd ? tol_sddl_print(*sd, nullptr) : std::nullopt) {
      const auto bytes = tol_sddl_to_descriptor(*text, nullptr);
      require(bytes && tol_sddl_from_descriptor(*bytes, nullptr) == *text,
              "SDDL does not parse back to itself", *text);
    }
  }
}

// --- The base hives. ----------------------------------------------------------------

using test::HiveBuilder;
using test::KeySpec;
using test::ListKind;
using test::NameForm;
using test::ValueSpec;

using test::key;
using test::val;

Bytes sz(std::string_view text) { return test::utf16le_sz(text); }

}  // namespace

Bytes base_hive() {
  std::string big;
  // Just over one data segment in UTF-16: the smallest string stored as big data.
  while (big.size() < 8200) big += "Lorem ipsum dolor sit amet, path C:\\Windows\\System32; ";
  std::vector<KeySpec> many;
  for (int i = 0; i < 7; ++i) many.push_back(key("Item" + std::to_string(i)));
  KeySpec ri = key("Services", std::move(many), {val("Start", 4, test::le32(2))}, ListKind::ri);

  HiveBuilder b;
  b.tree(key("ROOT",
             {key("Software",
                  {key("Vendor",
                       {key("App", {}, {val("", 1, sz("default")), val("Version", 1, sz("1.2.3"))})},
                       {val("Path", 1, sz("C:\\Program Files\\Vendor")),
                        val("Expand", 2, sz("%SystemRoot%\\system32")),
                        val("List", 7, test::multi_sz({"one", "two", "", "three"})),
                        val("Flags", 4, test::le32(0x1234)),
                        val("Big endian", 5, {0, 0, 1, 0}),
                        val("Quota", 11, {1, 2, 3, 4, 5, 6, 7, 8}),
                        val("Blob", 3, test::pattern(300)),
                        val("Odd", 1, {0x41, 0x00, 0x42}),
                        val("Unterminated", 1, {0x41, 0x00, 0x42, 0x00}),
                        val("None", 0, {})},
                       ListKind::lh),
                   key("Caf\xC3\xA9", {}, {val("Gr\xC3\xBC\xC3\x9F" "e", 1, sz("\xC3\xA9t\xC3\xA9"), NameForm::Latin1)}),
                   key("\xE5\x90\x8D\xE5\x89\x8D", {},
                       {val("\xF0\x9F\x98\x80", 7, test::multi_sz({"\xE2\x82\xAC", "x"}), NameForm::Utf16)})},
                  {}, ListKind::li),
              key("System", {key("Control", {}, {val("Text", 1, sz(big))}),
                             std::move(ri)}),
              key("Empty")}));
  return b.image();
}

Bytes donor_hive() {
  HiveBuilder b;
  b.tree(key("DONOR", {key("Tree",
                           {key("Leaf", {}, {val("Name", 1, sz("leaf")), val("Count", 4, test::le32(7))}),
                            key("software")},
                           {val("", 1, sz("tree default")), val("Data", 3, test::pattern(20000, 3))})}));
  return b.image();
}

namespace {

const Bytes& base_image() {
  static const Bytes image = base_hive();
  return image;
}

// A hive that is only ever read, written once.
const std::string& read_only_file(const char* name, Bytes (*make)()) {
  static std::map<std::string, std::string> paths;
  auto it = paths.find(name);
  if (it == paths.end()) it = paths.emplace(name, workspace().write(name, make())).first;
  return it->second;
}

// The destination of the read driver's import and copy: a root and one key.
Bytes small_hive() {
  HiveBuilder b;
  b.tree(key("DEST", {key("Empty")}));
  return b.image();
}

}  // namespace

void run_read(std::span<const std::uint8_t> input) {
  const std::string path = workspace().write("in.hiv", input);
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(path, &error);
  if (!hive) {
    require(error != nullptr, "open failed without an error");
    drop_error(error, "open error");
    return;
  }
  (void)tol_hive_has_pending_log(*hive);

  const auto keys = walk_keys(*hive, hive->root_cell);
  std::size_t value_reads = 0;
  for (const std::uint32_t nk : keys) read_key(*hive, nk, value_reads);

  const TolCheckReport report = tol_hive_check(*hive);
  for (const auto& line : report.problems) require_utf8(line, "check line is not UTF-8");

  TolTimelineOptions newest;
  newest.limit = 20;
  const TolTimeline timeline = tol_timeline(*hive, hive->root_cell, newest);
  require(timeline.keys_walked <= hive->bins_length / 8 + 1, "the timeline met more keys than fit");
  std::string timeline_path;
  for (const TolTimelineEntry& e : timeline.entries) {
    tol_timeline_path(*hive, timeline, e, timeline_path);
    require_utf8(timeline_path, "timeline path is not UTF-8");
  }

  TolSearchOptions search;
  const auto hits = tol_search_hive(*hive, "e", search, &error);
  drop_error(error, "search error");
  require(hits.has_value(), "a plain search failed");
  for (const auto& hit : *hits) {
    require_utf8(tol_search_result_label(hit), "search label is not UTF-8");
    require_utf8(tol_search_result_detail(hit), "search detail is not UTF-8");
  }

  const TolDeletedScan deleted = tol_deleted_scan(*hive);
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < deleted.keys.size(); ++i)
    require_utf8(tol_deleted_key_path(*hive, deleted, i), "deleted key path is not UTF-8");
  for (std::size_t i = 0; i < deleted.values.size(); ++i) {
    require_utf8(tol_deleted_value_key_path(*hive, deleted, i), "deleted value's key path is not UTF-8");
    require(tol_deleted_value_data(*hive, deleted, deleted.values[i], data) == deleted.values[i].data_intact,
            "a deleted value's data read otherwise than the scan said");
  }

  // A damaged hive is still a source: what it gives to another hive must
  // leave that hive sound, by export and import as by a copy.
  const std::string text = tol_reg_export_text(*hive, hive->root_cell);
  require_utf8(text, "export is not UTF-8");
  {
    TolHivePtr dst = open_or_die(read_only_file("dest.hiv", small_hive), "dest");
    TolRegImportCounts counts;
    const std::uint32_t into = *tol_hive_find_path(*dst, "Empty");
    const bool ok = tol_reg_import(*dst, into,
                                   std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                   counts, &error);
    drop_error(error, "import error");
    require(ok, "import into a valid key failed");
    require_sound(*dst, "import of an exported damaged hive left an unsound hive");
  }
  if (tol_hive_key(*hive, hive->root_cell)) {
    TolHivePtr dst = open_or_die(read_only_file("dest.hiv", small_hive), "dest");
    const std::uint32_t copied = tol_hive_copy_subtree(*hive, hive->root_cell, *dst, dst->root_cell, &error);
    const bool failed = error != nullptr;
    drop_error(error, "copy error");
    if (!failed) {
      require(copied > 0, "a copy without an error copied nothing");
      require_sound(*dst, "copy from a damaged hive left an unsound hive");
    }
  }
  // A damaged hive compared with a sound one ends, and the .reg form that
  // brings the sound one towards it must leave the sound one sound.
  if (tol_hive_key(*hive, hive->root_cell)) {
    TolHivePtr dst = open_or_die(read_only_file("dest.hiv", small_hive), "dest");
    TolDiff diff;
    const bool compared = tol_compare(*dst, dst->root_cell, *hive, hive->root_cell,
                                      {.security = true, .times = true}, diff, &error);
    drop_error(error, "compare error");
    require(compared, "a comparison of two readable keys failed");
    for (const TolDiffEntry& e : diff.entries) {
      require_utf8(e.path, "a compared path is not UTF-8");
      require_utf8(e.value, "a compared value name is not UTF-8");
    }
    const std::string reg = tol_reg_diff_text(*dst, *hive, diff);
    require_utf8(reg, "a comparison's .reg form is not UTF-8");
    TolRegImportCounts counts;
    require(tol_reg_import(*dst, dst->root_cell,
                           std::span(reinterpret_cast<const std::uint8_t*>(reg.data()), reg.size()),
                           counts, &error),
            "import of a comparison failed");
    drop_error(error, "import error");
    require_sound(*dst, "import of a comparison with a damaged hive left an unsound hive");
  }
}

Bytes log_input(std::uint8_t mode, std::span<const std::uint8_t> log) {
  Bytes input{mode};
  input.insert(input.end(), log.begin(), log.end());
  return input;
}

Bytes dirty_base_hive() {
  Bytes image = base_hive();
  const std::uint32_t secondary = tol::ByteView(image).u32(TOL_BASE_SEQ_SECONDARY);
  tol::MutByteView base(std::span<std::uint8_t>(image).first(TOL_BASE_BLOCK_SIZE));
  base.put_u32(TOL_BASE_SEQ_PRIMARY, secondary + 1);
  base.put_u32(TOL_BASE_CHECKSUM, tol_hive_checksum(base.view()));
  return image;
}

namespace {

// Gives every entry of a new-format log the hashes it should have, walking
// the entries as recovery does.
void fix_log(Bytes& log, std::uint8_t mode) {
  tol::MutByteView bytes{std::span<std::uint8_t>(log)};
  for (std::size_t off = 512; (mode & 1) && bytes.has(off, 40);) {
    tol::MutByteView head = bytes.sub(off, 40);
    const std::uint32_t size = head.u32(4);
    if (!head.starts_with("HvLE") || size < 512 || size % 512 != 0 || !bytes.has(off, size)) break;
    tol::MutByteView entry = bytes.sub(off, size);
    entry.put_u64(24, tol_marvin32(entry.view().tail(40).span()));
    entry.put_u64(32, tol_marvin32(entry.view().sub(0, 32).span()));
    off += size;
  }
  if ((mode & 2) && bytes.has(0, 512)) bytes.put_u32(TOL_BASE_CHECKSUM, tol_hive_checksum(bytes.view().sub(0, 512)));
}

}  // namespace

void run_logs(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  Bytes log(input.begin() + 1, input.end());
  fix_log(log, input[0]);
  static const Bytes primary = dirty_base_hive();
  const std::string path = workspace().write("dirty.hiv", primary);
  workspace().write("dirty.hiv.LOG1", log);

  TolHivePtr hive = open_or_die(path, "a dirty hive does not open");
  const TolLogReport& report = hive->logs;
  require(report.examined, "the logs of a dirty hive were not looked at");
  require_utf8(tol_log_summary(report), "log summary is not UTF-8");
  require(report.complete || !report.problem.empty(), "an incomplete recovery without a reason");
  std::size_t value_reads = 0;
  for (const std::uint32_t nk : walk_keys(*hive, hive->root_cell)) read_key(*hive, nk, value_reads);
  for (const auto& line : tol_hive_check(*hive).problems) require_utf8(line, "check line is not UTF-8");
  if (report.applied == 0 && !report.base_from_log) {
    require(tol_hive_has_pending_log(*hive), "a dirty hive with nothing applied is not pending");
    return;
  }

  // The first save of a recovery is clean, numbered above the logs, and
  // holds the recovered image.
  const std::uint32_t highest = report.highest_sequence;
  tol_hive_make_writable(*hive);
  hive->dirty = true;
  const Bytes image = image_of(*hive);
  GError* error = nullptr;
  if (!tol_hive_save(*hive, &error)) broken("saving a recovered hive", error ? error->message : "");
  hive.reset();
  TolHivePtr saved = open_or_die(path, "a saved recovery does not open");
  require(!saved->logs.examined, "a saved recovery is still dirty");
  require(highest == UINT32_MAX || tol_hive_secondary_sequence(*saved) > highest,
          "a saved recovery is numbered below its logs");
  const Bytes again = image_of(*saved);
  require(std::equal(again.begin() + TOL_BASE_BLOCK_SIZE, again.end(), image.begin() + TOL_BASE_BLOCK_SIZE,
                     image.end()),
          "the saved recovery differs from the recovered image");
}

void run_import(std::span<const std::uint8_t> input) {
  TolHivePtr hive = open_copy("work.hiv", base_image());
  TolRegImportCounts counts;
  GError* error = nullptr;
  const bool ok = tol_reg_import(*hive, hive->root_cell, input, counts, &error);
  drop_error(error, "import error");
  require(ok, "import into the root failed");
  require_utf8(tol_reg_import_summary(counts), "import summary is not UTF-8");
  require_sound(*hive, "import left an unsound hive");
  hive = save_and_reopen(std::move(hive), "hive after import");

  // The parsers of the value editors take the same kind of text, always UTF-8
  // since it comes from an entry.
  const std::string text = valid_utf8(input);
  const auto bytes = tol_value_hex_parse(text.c_str(), &error);
  drop_error(error, "hex parse error");
  if (bytes) {
    const auto again = tol_value_hex_parse(tol_value_hex_format(*bytes).c_str(), nullptr);
    require(again && *again == *bytes, "hex text does not parse back");
  }
  (void)tol_value_parse_number(text, 0xFFFFFFFFu);
  (void)tol_value_parse_number(text, ~std::uint64_t{0});
  const TolBytes multi = tol_value_multi_sz_encode(text);
  require_utf8(tol_value_multi_sz_decode(multi), "multi-string text is not UTF-8");
}

// --- Search and replace. -------------------------------------------------------------

Bytes search_input(std::uint8_t search_flags, std::uint8_t replace_flags, std::uint8_t start,
                   std::string_view find, std::string_view replacement) {
  Bytes out{search_flags, replace_flags, start};
  out.insert(out.end(), find.begin(), find.end());
  out.push_back(0);
  out.insert(out.end(), replacement.begin(), replacement.end());
  return out;
}

void run_search(std::span<const std::uint8_t> input) {
  if (input.size() < 3) return;
  const std::uint8_t sflags = input[0];
  const std::uint8_t rflags = input[1];
  const std::uint8_t start_pick = input[2];
  const std::string rest(reinterpret_cast<const char*>(input.data()) + 3, input.size() - 3);
  const std::size_t cut = rest.find('\0');
  const std::string find = rest.substr(0, cut);
  std::string replacement = cut == std::string::npos ? std::string() : rest.substr(cut + 1);

  TolHivePtr hive = open_copy("work.hiv", base_image());

  TolSearchOptions search;
  search.keys = sflags & 1;
  search.values = sflags & 2;
  search.data = sflags & 4;
  search.whole_text = sflags & 8;
  search.regex = sflags & 16;
  GError* error = nullptr;
  const auto hits = tol_search_hive(*hive, find, search, &error);
  drop_error(error, "search error");
  if (hits) {
    require(hits->size() <= TOL_SEARCH_MAX_RESULTS, "more hits than the limit");
    for (const auto& hit : *hits) {
      require_utf8(tol_search_result_label(hit), "search label is not UTF-8");
      require(tol_hive_find_path(*hive, hit.path).has_value(), "a hit names a key that is not there",
              hit.path);
    }
  }
  require_utf8(tol_search_status(hive.get(), find, hits ? hits->size() : 0), "status is not UTF-8");

  // The replace popover and the command line hand over UTF-8 replacements only.
  replacement = valid_utf8(std::span(reinterpret_cast<const std::uint8_t*>(replacement.data()),
                                     replacement.size()));
  TolReplaceOptions options;
  options.names = rflags & 1;
  options.data = rflags & 2;
  options.match_case = rflags & 4;
  options.whole_text = rflags & 8;
  options.regex = rflags & 16;
  options.dry_run = rflags & 32;
  if (tol_replace_input_error(find, true, options)) return;

  const auto keys = walk_keys(*hive, hive->root_cell);
  const std::uint32_t start = keys[start_pick % keys.size()];
  const Bytes before = image_of(*hive);
  TolReplaceReport report;
  const bool ok = tol_replace_tree(*hive, start, find, replacement, options, report, &error);
  const std::string message = tol_replace_message(report, options.dry_run, error);
  require_utf8(message, "replace message is not UTF-8");
  drop_error(error, "replace error");
  require(report.lines.size() <= TOL_REPLACE_MAX_REPORT_LINES, "too many report lines");
  require(report.values_changed <= report.values_examined, "more values changed than examined");
  for (const auto& line : report.lines) require_utf8(line, "report line is not UTF-8");
  if (options.dry_run) {
    require(image_of(*hive) == before, "a dry run changed the hive");
    return;
  }
  // A run that failed part-way keeps what it did; every step must be sound.
  require_sound(*hive, "replace left an unsound hive");
  if (ok) save_and_reopen(std::move(hive), "hive after replace");
}

// --- Editing. ---------------------------------------------------------------------------

namespace {

const std::vector<std::string>& edit_names() {
  static const std::vector<std::string> names = {
      "",
      "A",
      "a",
      "New Key",
      "new key",
      "Software",
      "SOFTWARE",
      "Caf\xC3\xA9",
      "CAF\xC3\x89",
      "\xC3\x9F",
      "\xE5\x90\x8D\xE5\x89\x8D",
      "\xF0\x9F\x98\x80",
      "with\\backslash",
      "tab\tand\nnewline",
      "[brackets]",
      "\"quoted\"",
      "=",
      "@",
      "Version",
      "Path",
      std::string(255, 'x'),
      std::string(256, 'y'),
      std::string(200, 'z') + "\xC4\x80",
      "\xEF\xBF\xBF",
      "\xC3\xBF",
      "Item3",
      "item10",
      "Zeta",
  };
  return names;
}

constexpr std::uint32_t kSizeClasses[] = {0,     1,     4,     5,         16344, 16345,
                                          32688, 32689, 70000, 16344 * 3 + 7};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool empty() const { return pos_ >= bytes_.size(); }
  std::uint8_t u8() { return empty() ? 0 : bytes_[pos_++]; }
  std::span<const std::uint8_t> take(std::size_t n) {
    n = std::min(n, bytes_.size() - std::min(pos_, bytes_.size()));
    const auto piece = bytes_.subspan(pos_, n);
    pos_ += n;
    return piece;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

std::string read_name(Reader& in) {
  const std::uint8_t pick = in.u8();
  if (pick >= 0xC0) {
    const auto raw = in.take(pick - 0xC0u);
    return std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
  }
  const auto& names = edit_names();
  return names[pick % names.size()];
}

// What the name dialog and the command line accept for a key.
bool acceptable_key_name(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos &&
         g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr);
}

Bytes read_data(Reader& in) {
  const std::uint8_t length = in.u8();
  if (length >= kSizeClassBase) {
    const std::uint32_t size = kSizeClasses[(length - kSizeClassBase) % std::size(kSizeClasses)];
    return test::pattern(size, length);
  }
  const auto raw = in.take(length);
  return Bytes(raw.begin(), raw.end());
}

std::uint32_t pick_key(const TolHive& hive, std::uint8_t pick) {
  const auto keys = walk_keys(hive, hive.root_cell);
  return keys[pick % keys.size()];
}

std::optional<TolHiveValue> value_named(const TolHive& hive, std::uint32_t nk, std::string_view name) {
  const std::uint32_t count = tol_hive_value_count(hive, nk);
  for (std::uint32_t i = 0; i < count; ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(hive, nk, i, value) && tol_name_equal(value.name, name)) return value;
  }
  return std::nullopt;
}

void copy_checked(TolHive& src, std::uint32_t key, TolHive& dst, std::uint32_t parent) {
  GError* error = nullptr;
  const std::string name = tol_hive_key_name(src, key);
  const std::uint32_t copied = tol_hive_copy_subtree(src, key, dst, parent, &error);
  const bool failed = error != nullptr;
  drop_error(error, "copy error");
  if (failed) return;
  require(copied > 0, "a copy without an error copied nothing");
  require(tol_hive_find_subkey(dst, parent, name).has_value(), "the copied key is not there", name);
}

}  // namespace

void run_edit(std::span<const std::uint8_t> input) {
  TolHivePtr hive = open_copy("work.hiv", base_image());
  // Copies only read the donor.
  TolHivePtr donor = open_or_die(read_only_file("donor.hiv", donor_hive), "donor");
  TolPageJournal journal;
  std::vector<Bytes> images;  // the image before each recorded step
  Reader in(input);

  for (std::size_t step = 0; step < kMaxEditOps && !in.empty(); ++step) {
    const auto op = static_cast<EditOp>(in.u8() % static_cast<std::uint8_t>(EditOp::count));
    if (op == EditOp::undo) {
      const bool had = journal.can_undo();
      require(journal.undo(*hive) == had, "undo result");
      if (had) {
        require(image_of(*hive) == images.back(), "undo did not restore the image");
        images.pop_back();
      }
      continue;
    }
    if (op == EditOp::save_reopen) {
      require_sound(*hive, "hive before a save");
      hive = save_and_reopen(std::move(hive), "hive after a save");
      continue;
    }
    // Every command is a journal step, as in the document.
    images.push_back(image_of(*hive));
    journal.begin(*hive);
    if (images.size() > TolPageJournal::kMaxSteps) images.erase(images.begin());

    switch (op) {
      case EditOp::create_key: {
        const std::uint32_t parent = pick_key(*hive, in.u8());
        const std::string name = read_name(in);
        if (!acceptable_key_name(name)) break;
        const auto made = tol_hive_create_key(*hive, parent, name);
        // An existing key Windows takes for the same name is the result.
        if (made)
          require(tol_name_compare_windows(tol_hive_key_name(*hive, *made), name) == 0,
                  "created key has another name", name);
        break;
      }
      case EditOp::delete_key: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::string path = tol_hive_key_path(*hive, key);
        const bool root = key == hive->root_cell;
        const bool ok = tol_hive_delete_key(*hive, key);
        require(ok != root, "delete of the root or of a key", path);
        if (ok) require(!tol_hive_find_path(*hive, path), "deleted key still there", path);
        break;
      }
      case EditOp::rename_key: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::string name = read_name(in);
        if (!acceptable_key_name(name)) break;
        if (const auto renamed = tol_hive_rename_key(*hive, key, name))
          require(tol_hive_key_name(*hive, *renamed) == name, "renamed key has another name", name);
        break;
      }
      case EditOp::set_value: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::string name = read_name(in);
        const std::uint32_t type = in.u8() % 13;
        const Bytes data = read_data(in);
        if (tol_hive_set_value(*hive, key, name, type, data)) {
          const auto stored = value_named(*hive, key, name);
          require(stored && stored->type == type && stored->data == data, "value reads back wrong",
                  name);
        }
        break;
      }
      case EditOp::delete_value: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::string name = read_name(in);
        if (tol_hive_delete_value(*hive, key, name))
          require(!value_named(*hive, key, name), "deleted value still there", name);
        break;
      }
      case EditOp::rename_value: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::string from = read_name(in);
        const std::string to = read_name(in);
        const auto old = value_named(*hive, key, from);
        if (tol_hive_rename_value(*hive, key, from, to)) {
          const auto now = value_named(*hive, key, to);
          require(now && old && now->data == old->data && now->type == old->type,
                  "renamed value lost its data", to);
        }
        break;
      }
      case EditOp::copy_within: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        const std::uint32_t parent = pick_key(*hive, in.u8());
        copy_checked(*hive, key, *hive, parent);
        break;
      }
      case EditOp::copy_from_donor: {
        const std::uint32_t key = pick_key(*donor, in.u8());
        const std::uint32_t parent = pick_key(*hive, in.u8());
        copy_checked(*donor, key, *hive, parent);
        break;
      }
      case EditOp::store_security: {
        const std::uint32_t key = pick_key(*hive, in.u8());
        Bytes descriptor = test::default_security_descriptor();
        const std::uint8_t mutation = in.u8();
        const std::uint8_t value = in.u8();
        if (mutation > 0) descriptor[(mutation - 1u) % descriptor.size()] = value;
        if (tol_hive_store_security(*hive, key, descriptor)) {
          require(tol_security_descriptor_valid(descriptor), "an invalid descriptor was stored");
          require(tol_hive_key_security(*hive, key) == descriptor, "stored descriptor reads back wrong");
        }
        break;
      }
      case EditOp::undo:
      case EditOp::save_reopen:
      case EditOp::count:
        break;
    }
    journal.commit(*hive);
  }
  require_sound(*hive, "edits left an unsound hive");
  save_and_reopen(std::move(hive), "hive after edits");
}

// --- Encoders. ----------------------------------------------------------------------------

std::size_t edit_name_count() { return edit_names().size(); }
std::size_t edit_size_class_count() { return std::size(kSizeClasses); }

EditScript& EditScript::op(EditOp op) {
  input_.push_back(static_cast<std::uint8_t>(op));
  return *this;
}
EditScript& EditScript::bytes(std::span<const std::uint8_t> raw) {
  input_.insert(input_.end(), raw.begin(), raw.end());
  return *this;
}
EditScript& EditScript::create_key(std::uint8_t parent, std::uint8_t name) {
  op(EditOp::create_key);
  input_.insert(input_.end(), {parent, name});
  return *this;
}
EditScript& EditScript::delete_key(std::uint8_t key) {
  op(EditOp::delete_key);
  input_.push_back(key);
  return *this;
}
EditScript& EditScript::rename_key(std::uint8_t key, std::uint8_t name) {
  op(EditOp::rename_key);
  input_.insert(input_.end(), {key, name});
  return *this;
}
EditScript& EditScript::set_value(std::uint8_t key, std::uint8_t name, std::uint8_t type,
                                  std::span<const std::uint8_t> data) {
  op(EditOp::set_value);
  const auto length = static_cast<std::uint8_t>(std::min<std::size_t>(data.size(), kSizeClassBase - 1));
  input_.insert(input_.end(), {key, name, type, length});
  input_.insert(input_.end(), data.begin(), data.begin() + length);
  return *this;
}
EditScript& EditScript::set_sized_value(std::uint8_t key, std::uint8_t name, std::uint8_t type,
                                        std::uint8_t size_class) {
  op(EditOp::set_value);
  input_.insert(input_.end(), {key, name, type, static_cast<std::uint8_t>(kSizeClassBase + size_class)});
  return *this;
}
EditScript& EditScript::delete_value(std::uint8_t key, std::uint8_t name) {
  op(EditOp::delete_value);
  input_.insert(input_.end(), {key, name});
  return *this;
}
EditScript& EditScript::rename_value(std::uint8_t key, std::uint8_t from, std::uint8_t to) {
  op(EditOp::rename_value);
  input_.insert(input_.end(), {key, from, to});
  return *this;
}
EditScript& EditScript::copy_within(std::uint8_t key, std::uint8_t parent) {
  op(EditOp::copy_within);
  input_.insert(input_.end(), {key, parent});
  return *this;
}
EditScript& EditScript::copy_from_donor(std::uint8_t donor_key, std::uint8_t parent) {
  op(EditOp::copy_from_donor);
  input_.insert(input_.end(), {donor_key, parent});
  return *this;
}
EditScript& EditScript::store_security(std::uint8_t key, std::uint8_t mutation, std::uint8_t value) {
  op(EditOp::store_security);
  input_.insert(input_.end(), {key, mutation, value});
  return *this;
}
EditScript& EditScript::undo() { return op(EditOp::undo); }
EditScript& EditScript::save_reopen() { return op(EditOp::save_reopen); }

}  // namespace tol::fuzz
