// .reg export: a key's subtree as text in the Windows registry editor format.
#include "reg/export.h"

#include <fcntl.h>
#include <glib/gi18n-lib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
bool survives_quoting(std::span<const std::uint8_t> data, const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos) return false;
  const TolBytes back = tol_value_sz_encode(text);
  return back.size() == data.size() && std::equal(back.begin(), back.end(), data.begin());
}

// A name is written as it is, and a line break in it would end the line: the
// rest would be read back as a line of its own, such as "[-]", which deletes
// the destination key on import. Hostile hives can hold such names, and the
// format has no way to write them, so they are left out with a comment.
bool has_line_break(std::string_view name) { return name.find_first_of("\r\n") != std::string_view::npos; }

void append_value(TolRegOutput& out, const TolHiveValue& value) {
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
  if (value.type == TOL_REG_SZ) {
    const std::string text = tol_utf16_to_utf8(data);
    if (survives_quoting(data, text)) {
      tol_reg_append_quoted(out, text);
      out.append('\n');
      return;
    }
  }
  if (value.type == TOL_REG_DWORD && data.size() == 4) {
    const tol::ByteView view(data);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", view.u32(0));
    out.append(text);
  } else if (value.type == TOL_REG_BINARY) {
    out.append("hex:");
    tol_reg_append_byte_list(out, data);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    out.append(prefix);
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
        budget_(hive.bins_length / kSmallestKeyCell + TOL_MAX_KEY_DEPTH) {}

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
    for (std::uint32_t i = 0; i < count && out_.ok(); ++i) {
      TolHiveValue value;
      if (tol_hive_read_value(hive_, nk, i, value)) append_value(out_, value);
    }
    out_.append('\n');

    // One path buffer for the whole walk: each level appends its name and
    // cuts it off again, so long names are not copied once per level.
    const std::size_t length = path.size();
    for (const std::uint32_t sub : tol_hive_subkeys(hive_, nk)) {
      path += '\\';
      path += tol_hive_key_name(hive_, sub);
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
  static constexpr char kDigits[] = "0123456789abcdef";
  // The column counts only the list itself, not the name and prefix before it.
  int column = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i == 0) {
      column = 2;
    } else if (column + 1 > 76) {
      out.append(",\\\n  ");
      column = 2;
    } else {
      out.append(',');
      column += 3;
    }
    const char digits[2] = {kDigits[data[i] >> 4], kDigits[data[i] & 0x0F]};
    out.append(std::string_view(digits, 2));
  }
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

bool tol_reg_export_file(const TolHive& hive, std::uint32_t key, const std::string& path,
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
  if (!tol_reg_export(out, hive, key)) return fail(error, write_error, failed);
  if (!temp.close()) return fail(error, errno, failed);
  if (!temp.rename_to(path)) return fail(error, errno, failed);
  return true;
}
