// .reg export: a key's subtree as text in the Windows registry editor format.
#include "reg/export.h"

#include <fcntl.h>
#include <glib/gi18n-lib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hive/format.h"
#include "hive/names.h"
#include "value/codec.h"

namespace {

// The smallest cell an nk record fits in: no hive holds more keys than its
// bins have room for such cells.
constexpr std::uint32_t kSmallestKeyCell = 80;

// Whether REG_SZ data come back byte for byte from the quoted string the
// export would write. The quoted form carries only valid UTF-16 up to exactly
// one terminating zero unit, and import splits lines at line feeds (and drops
// a carriage return before one), so anything else would be silently changed by
// an export/import round trip: such data are written with their bytes instead.
// Decided on the units themselves, so that no text is built to find out.
bool survives_quoting(std::span<const std::uint8_t> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const std::size_t units = data.size() / 2;
  auto unit = [data](std::size_t i) { return static_cast<unsigned>(data[2 * i] | (data[2 * i + 1] << 8)); };
  if (unit(units - 1) != 0) return false;
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const unsigned u = unit(i);
    if (u >= 0x20 && u < 0xD800) continue;
    if (u == 0 || u == '\r' || u == '\n' || (u >= 0xDC00 && u <= 0xDFFF)) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      const unsigned low = i + 2 < units ? unit(i + 1) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

// A name is written as it is, and a line break in it would end the line: the
// rest would be read back as a line of its own, such as "[-]", which deletes
// the destination key on import. Hostile hives can hold such names, and the
// format has no way to write them, so they are left out with a comment.
bool has_line_break(std::string_view name) {
  return name.find('\n') != std::string_view::npos || name.find('\r') != std::string_view::npos;
}

// Lower-case hex digits of a number, without leading zeros beyond `width`.
void append_hex(TolRegOutput& out, std::uint32_t v, int width) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char text[8];
  int n = 0;
  do {
    text[7 - n++] = kDigits[v & 0x0F];
    v >>= 4;
  } while (v != 0 || n < width);
  out.append(std::string_view(text + 8 - n, static_cast<std::size_t>(n)));
}

// `text` is scratch space the caller keeps across values.
void append_value(TolRegOutput& out, const TolHiveValue& value, std::string& text) {
  if (has_line_break(value.name)) {
    out.append("; pominieto wartosc - nazwa zawiera znak konca wiersza\n");
    return;
  }
  if (value.name.empty())
    out.append('@');
  else
    tol_reg_append_quoted(out, value.name);
  out.append('=');

  const std::span<const std::uint8_t> data = value.data;
  if (value.type == TOL_REG_SZ && survives_quoting(data)) {
    text.clear();
    tol_utf16_append(text, data);
    tol_reg_append_quoted(out, text);
    out.append('\n');
    return;
  }
  if (value.type == TOL_REG_DWORD && data.size() == 4) {
    out.append("dword:");
    append_hex(out, tol::ByteView(data).u32(0), 8);
  } else if (value.type == TOL_REG_BINARY) {
    out.append("hex:");
    tol_reg_append_byte_list(out, data);
  } else {
    out.append("hex(");
    append_hex(out, value.type, 1);
    out.append("):");
    tol_reg_append_byte_list(out, data);
  }
  out.append('\n');
}

class ExportWalk {
 public:
  ExportWalk(TolRegOutput& out, const TolHive& hive)
      : out_(out),
        hive_(hive),
        // Every key of a sound hive is written once, so this many blocks means
        // the subkey lists lead back into themselves; without a cap a key
        // listed twice in its own list would double the work on every level.
        // The depth allowance keeps a plain cycle ending in the depth comment.
        budget_(hive.bins_length / kSmallestKeyCell + TOL_MAX_KEY_DEPTH),
        levels_(TOL_MAX_KEY_DEPTH) {}

  void key(std::uint32_t nk, std::string& path, int depth) {
    if (!out_.ok() || stopped_) return;
    if (depth >= TOL_MAX_KEY_DEPTH) {
      char line[128];
      std::snprintf(line, sizeof line,
                    "; przerwano - przekroczono maksymalna glebokosc (%d), mozliwy cykl w danych\n",
                    TOL_MAX_KEY_DEPTH - 1);
      out_.append(line);
      return;
    }
    if (budget_ == 0) {
      out_.append("; przerwano - za duzo kluczy, mozliwy cykl w danych\n");
      stopped_ = true;
      return;
    }
    --budget_;
    // The path's upper levels were checked on the way down.
    if (has_line_break(path)) {
      out_.append("; pominieto klucz - nazwa zawiera znak konca wiersza\n");
      return;
    }

    out_.append('[');
    out_.append(path);
    out_.append("]\n");
    const std::uint32_t count = tol_hive_value_count(hive_, nk);
    for (std::uint32_t i = 0; i < count && out_.ok(); ++i)
      if (tol_hive_read_value(hive_, nk, i, value_)) append_value(out_, value_, text_);
    out_.append('\n');

    // One path buffer for the whole walk: each level appends its name and
    // cuts it off again, so long names are not copied once per level. Each
    // level keeps its own list of subkeys from one key to the next.
    const std::size_t length = path.size();
    std::vector<std::uint32_t>& subkeys = levels_[static_cast<std::size_t>(depth)];
    tol_hive_subkeys_into(hive_, nk, subkeys);
    for (const std::uint32_t sub : subkeys) {
      path += '\\';
      tol_hive_append_key_name(hive_, sub, path);
      key(sub, path, depth + 1);
      path.resize(length);
      if (stopped_) return;
    }
  }

 private:
  TolRegOutput& out_;
  const TolHive& hive_;
  std::uint32_t budget_;
  bool stopped_ = false;
  // Reused from one value and one key to the next: the walk allocates only
  // when a value or a list is larger than any before it.
  std::vector<std::vector<std::uint32_t>> levels_;
  TolHiveValue value_;
  std::string text_;
};

// A temporary file beside the target, removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : path_(target + ".XXXXXX") {
    fd_ = g_mkstemp_full(path_.data(), O_WRONLY | O_CLOEXEC, 0666);
    owned_ = fd_ >= 0;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (owned_) g_unlink(path_.c_str());
  }

  bool valid() const { return fd_ >= 0; }
  bool write(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // Flushes and closes; errno tells why when it fails.
  bool close() {
    const bool flushed = ::fsync(fd_) == 0;
    const int err = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!flushed) errno = err;
    return flushed && closed;
  }
  bool rename_to(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) return false;
    owned_ = false;
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool owned_ = false;
};

bool fail(GError** error, int err, const char* format) {
  g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(err), format, g_strerror(err));
  return false;
}

}  // namespace

void tol_reg_append_quoted(TolRegOutput& out, std::string_view text) {
  out.append('"');
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' && text[i] != '"') continue;
    out.append(text.substr(start, i - start));
    out.append('\\');
    start = i;
  }
  out.append(text.substr(start));
  out.append('"');
}

void tol_reg_append_byte_list(TolRegOutput& out, std::span<const std::uint8_t> data) {
  // Lines of the list hold 26 bytes: counted from the list's own start, the
  // next byte would pass column 76. The whole list is sized first and written
  // in one pass through a table of digit pairs.
  static constexpr std::size_t kPerLine = 26;
  static constexpr auto kPairs = [] {
    std::array<char, 512> pairs{};
    constexpr char digits[] = "0123456789abcdef";
    for (std::size_t b = 0; b < 256; ++b) {
      pairs[2 * b] = digits[b >> 4];
      pairs[2 * b + 1] = digits[b & 0x0F];
    }
    return pairs;
  }();
  if (data.empty() || !out.ok()) return;
  const std::size_t n = data.size();
  const std::size_t lines = (n + kPerLine - 1) / kPerLine;
  char* p = out.extend(3 * n - 1 + 4 * (lines - 1));
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) {
      *p++ = ',';
      if (i % kPerLine == 0) {
        std::memcpy(p, "\\\n  ", 4);
        p += 4;
      }
    }
    std::memcpy(p, &kPairs[2 * std::size_t{data[i]}], 2);
    p += 2;
  }
  out.written();
}

void tol_export_tree(TolRegOutput& out, const TolHive& hive, std::uint32_t key,
                     std::string_view path, int depth) {
  std::string buffer(path);
  ExportWalk(out, hive).key(key, buffer, depth);
}

bool tol_reg_export(TolRegOutput& out, const TolHive& hive, std::uint32_t key) {
  out.append(TOL_REG_HEADER);
  out.append("\n\n");
  tol_export_tree(out, hive, key, tol_hive_key_name(hive, key), 0);
  return out.finish();
}

std::string tol_reg_export_text(const TolHive& hive, std::uint32_t key) {
  TolRegOutput out;
  tol_reg_export(out, hive, key);
  return out.take();
}

void tol_reg_append_value(TolRegOutput& out, const TolHiveValue& value, std::string& text) {
  append_value(out, value, text);
}

bool tol_reg_export_file(const TolHive& hive, std::uint32_t key, const std::string& path,
                         GError** error) {
  return tol_reg_write_file(
      path, [&](TolRegOutput& out) { return tol_reg_export(out, hive, key); }, error);
}

bool tol_reg_write_file(const std::string& path, const std::function<bool(TolRegOutput&)>& write,
                        GError** error) {
  TempFile temp(path);
  if (!temp.valid()) return fail(error, errno, _("cannot create temporary file: %s"));
  int write_error = 0;
  TolRegOutput out([&](std::string_view piece) {
    if (temp.write(piece)) return true;
    write_error = errno;
    return false;
  });
  const char* const failed = _("writing the .reg file failed: %s");
  if (!write(out)) return fail(error, write_error, failed);
  if (!temp.close()) return fail(error, errno, failed);
  if (!temp.rename_to(path)) return fail(error, errno, failed);
  return true;
}
