// .reg import: applies the key sections, values and deletions of a file in the
// Windows registry editor format below a destination key.
#include "reg/import.h"

#include <glib/gi18n-lib.h>

#include <limits>
#include <memory>

#include "hive/edit.h"
#include "hive/format.h"
#include "value/codec.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// White space as the C library's number parsers skip it.
bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view skip_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  return s;
}

// The digits of a hexadecimal number with the white space, sign and "0x" that
// the C library's parsers accept before them. A "0x" without a digit after it
// is the number 0 followed by the "x".
struct HexDigits {
  std::uint64_t magnitude = 0;
  bool negative = false;
  bool overflow = false;  // more than 64 bits
  int digits = 0;
  std::size_t end = 0;  // just after the last digit
};

HexDigits read_hex_digits(std::string_view s) {
  HexDigits r;
  std::size_t i = 0;
  while (i < s.size() && is_c_space(s[i])) ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) r.negative = s[i++] == '-';
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      hex_digit(s[i + 2]) >= 0)
    i += 2;
  for (; i < s.size(); ++i) {
    const int d = hex_digit(s[i]);
    if (d < 0) break;
    if (r.magnitude > (std::numeric_limits<std::uint64_t>::max() >> 4)) r.overflow = true;
    r.magnitude = (r.magnitude << 4) | static_cast<std::uint64_t>(d);
    ++r.digits;
  }
  r.end = i;
  return r;
}

// strtol(text, &end, 16) on a 64-bit long: the value, and where it ended (0
// when there was no number, as strtol hands back the start then).
struct LongNumber {
  std::int64_t value = 0;
  std::size_t end = 0;
};

LongNumber read_long_hex(std::string_view s) {
  const HexDigits d = read_hex_digits(s);
  if (d.digits == 0) return {};
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  LongNumber n{.value = 0, .end = d.end};
  if (!d.negative)
    n.value = d.overflow || d.magnitude > kMaxPositive ? std::numeric_limits<std::int64_t>::max()
                                                       : static_cast<std::int64_t>(d.magnitude);
  else if (d.overflow || d.magnitude > kMaxPositive + 1)
    n.value = std::numeric_limits<std::int64_t>::min();
  else
    n.value = static_cast<std::int64_t>(std::uint64_t{0} - d.magnitude);
  return n;
}

// sscanf(text, "%x") for `bits` of 32 or 64: nothing when no number can be
// read. A number wider than the field is refused rather than cut, so that a
// typing error cannot store a different value; a minus sign negates within
// the field, as the C library does.
std::optional<std::uint64_t> scan_hex(std::string_view s, int bits) {
  const HexDigits d = read_hex_digits(s);
  if (d.digits == 0) return std::nullopt;
  const std::uint64_t mask = bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  if (d.overflow || d.magnitude > mask) return std::nullopt;
  return d.negative ? (std::uint64_t{0} - d.magnitude) & mask : d.magnitude;
}

std::vector<std::uint8_t> little_endian(std::uint64_t v, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out;
}

void append_utf8(std::string& out, gunichar c) {
  char buffer[6];
  out.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
}

// UTF-16LE to UTF-8. A file is text the user may have edited by hand: a stray
// surrogate becomes U+FFFD and an odd trailing byte is dropped rather than
// losing the whole file.
std::string utf16le_to_utf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() / 2 + bytes.size() / 4);
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> gunichar { return bytes[2 * i] | (bytes[2 * i + 1] << 8); };
  for (std::size_t i = 0; i < units; ++i) {
    const gunichar u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      append_utf8(out, 0xFFFD);
    } else {
      append_utf8(out, u);
    }
  }
  return out;
}

// The text of the file: a view of its bytes, or of `storage` when it had to
// be converted. Windows' registry editor saves .reg files as UTF-16LE with a
// byte-order mark, and other editors put a UTF-8 mark in front; read as plain
// bytes the first would import nothing and the second would spoil the header.
std::string_view file_text(std::span<const std::uint8_t> bytes, std::string& storage) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    storage = utf16le_to_utf8(bytes.subspan(2));
    return storage;
  }
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    bytes = bytes.subspan(3);
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Calls `line` for every logical line: physical lines without their carriage
// return, a line ending in a backslash joined with the next one (whose
// leading blanks are dropped). Joining comes first, so a comment ending in a
// backslash swallows the following line. A NUL ends a line's text.
template <typename F>
void for_each_logical_line(std::string_view text, F&& line) {
  std::string joined;
  bool pending = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    std::string_view piece =
        text.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
    if (const std::size_t nul = piece.find('\0'); nul != std::string_view::npos)
      piece = piece.substr(0, nul);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);

    if (pending) {
      joined.append(skip_blanks(piece));
    } else if (piece.empty() || piece.back() != '\\') {
      line(piece);  // the common case needs no copy
    } else {
      joined.assign(piece);
      pending = true;
    }
    if (pending) {
      if (!joined.empty() && joined.back() == '\\') {
        joined.pop_back();
      } else {
        pending = false;
        line(std::string_view(joined));
      }
    }
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  if (pending) line(std::string_view(joined));
}

// Calls `component` for each non-empty backslash-separated name of a path
// until it returns false; the result is false when it was stopped.
template <typename F>
bool for_each_component(std::string_view path, F&& component) {
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    const std::string_view name = path.substr(0, cut);
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    if (!name.empty() && !component(name)) return false;
  }
  return true;
}

// Levels between the root and `key`, following parent fields; stops counting
// past the deepest level a key may have, so a parent chain that loops ends.
int key_depth(const TolHive& hive, std::uint32_t key) {
  int depth = 0;
  while (key != hive.root_cell && depth < TOL_MAX_KEY_DEPTH) {
    const auto record = tol_hive_key(hive, key);
    if (!record) break;
    key = record->u32(TOL_NK_PARENT);
    ++depth;
  }
  return depth;
}

class Importer {
 public:
  Importer(TolHive& hive, std::uint32_t destination, TolRegImportCounts& counts)
      : hive_(hive),
        destination_(destination),
        destination_depth_(key_depth(hive, destination)),
        counts_(counts) {}

  void line(std::string_view text) {
    text = skip_blanks(text);
    if (text.empty() || text.front() == ';') return;
    if (text.starts_with("Windows Registry Editor") || text.starts_with("REGEDIT")) return;
    if (text.front() == '[') {
      key_line(text);
    } else if (key_valid_) {
      value_line(text);
    }
  }

 private:
  void error() { ++counts_.errors; }

  void key_line(std::string_view text) {
    key_valid_ = false;
    if (text.size() < 2 || text.back() != ']') return error();
    const std::string_view path = text.substr(1, text.size() - 2);
    if (path.starts_with('-')) return delete_key(path.substr(1));
    // After "[-]" the destination is gone, and nothing can go below it. Its
    // record still reads as a key (a delete leaves freed cells as they are),
    // so that is remembered rather than read.
    if (destination_gone_) return error();

    std::uint32_t key = destination_;
    int depth = destination_depth_;
    const bool reached = for_each_component(path, [&](std::string_view name) {
      // Keys below the deepest level cannot be exported, searched, copied or
      // deleted whole, so a file that nests deeper is refused at that line.
      if (++depth >= TOL_MAX_KEY_DEPTH) return false;
      // The engine would store a name that is no UTF-8 as an empty name.
      if (!g_utf8_validate_len(name.data(), name.size(), nullptr)) return false;
      const auto next = tol_hive_create_key(hive_, key, name);
      if (next) key = *next;
      return next.has_value();
    });
    if (!reached || !tol_hive_key(hive_, key)) return error();
    ++counts_.keys;
    current_ = key;
    key_valid_ = true;
  }

  void delete_key(std::string_view path) {
    if (destination_gone_) return error();
    std::uint32_t key = destination_;
    const bool found = for_each_component(path, [&](std::string_view name) {
      const auto next = tol_hive_find_subkey(hive_, key, name);
      if (next) key = *next;
      return next.has_value();
    });
    if (!found) return;  // nothing to delete is no error
    if (!tol_hive_delete_key(hive_, key)) return error();
    destination_gone_ = destination_gone_ || key == destination_;
    ++counts_.deleted_keys;
  }

  void value_line(std::string_view text) {
    std::string name;
    std::size_t pos = 1;
    if (text.front() == '"') {
      auto quoted = tol_reg_unquote(text.substr(1));
      if (!quoted) return error();
      name = std::move(quoted->text);
      pos += quoted->end;
    } else if (text.front() != '@') {
      return error();
    }
    std::string_view rest = skip_blanks(text.substr(pos));
    if (rest.empty() || rest.front() != '=') return error();
    const std::string_view data = skip_blanks(rest.substr(1));

    if (data == "-") {
      if (tol_hive_delete_value(hive_, current_, name)) ++counts_.deleted_values;
    } else if (data.starts_with('"')) {
      const auto quoted = tol_reg_unquote(data.substr(1));
      if (!quoted) return error();
      store(name, TOL_REG_SZ, tol_value_sz_encode(quoted->text));
    } else if (data.starts_with("dword:")) {
      const auto number = scan_hex(data.substr(6), 32);
      if (!number) return error();
      store(name, TOL_REG_DWORD, little_endian(*number, 4));
    } else if (data.starts_with("qword:")) {
      const auto number = scan_hex(data.substr(6), 64);
      if (!number) return error();
      store(name, TOL_REG_QWORD, little_endian(*number, 8));
    } else if (data.starts_with("hex(")) {
      const LongNumber type = read_long_hex(data.substr(4));
      const std::size_t after = 4 + type.end;
      if (data.substr(after, 2) != "):") return error();
      store(name, static_cast<std::uint32_t>(type.value),
            tol_reg_parse_hex_bytes(data.substr(after + 2)));
    } else if (data.starts_with("hex:")) {
      store(name, TOL_REG_BINARY, tol_reg_parse_hex_bytes(data.substr(4)));
    } else {
      error();
    }
  }

  void store(const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (tol_hive_set_value(hive_, current_, name, type, data))
      ++counts_.values;
    else
      error();
  }

  TolHive& hive_;
  const std::uint32_t destination_;
  const int destination_depth_;
  bool destination_gone_ = false;
  TolRegImportCounts& counts_;
  std::uint32_t current_ = TOL_NO_CELL;
  bool key_valid_ = false;  // value lines apply only after a key line that was applied
};

}  // namespace

std::optional<TolRegUnquoted> tol_reg_unquote(std::string_view text) {
  TolRegUnquoted result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      result.end = i + 1;
      return result;
    }
    if (c == '\\' && i + 1 < text.size()) c = text[++i];
    result.text.push_back(c);
  }
  return std::nullopt;
}

std::vector<std::uint8_t> tol_reg_parse_hex_bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 3 + 1);
  std::size_t pos = 0;
  for (;;) {
    while (pos < text.size() && (text[pos] == ',' || text[pos] == ' ' || text[pos] == '\t' ||
                                 text[pos] == '\n' || text[pos] == '\r'))
      ++pos;
    if (pos >= text.size()) break;
    const LongNumber n = read_long_hex(text.substr(pos));
    if (n.end == 0) break;
    bytes.push_back(static_cast<std::uint8_t>(n.value & 0xFF));
    pos += n.end;
  }
  return bytes;
}

std::string tol_reg_file_text(std::span<const std::uint8_t> bytes) {
  std::string storage;
  const std::string_view text = file_text(bytes, storage);
  return storage.empty() ? std::string(text) : storage;
}

bool tol_reg_import(TolHive& hive, std::uint32_t destination, std::span<const std::uint8_t> file,
                    TolRegImportCounts& counts, GError** error) {
  counts = {};
  if (destination == TOL_NO_CELL) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, _("invalid destination key"));
    return false;
  }
  std::string storage;
  Importer importer(hive, destination, counts);
  for_each_logical_line(file_text(file, storage),
                        [&importer](std::string_view line) { importer.line(line); });
  return true;
}

bool tol_reg_import_from_file(TolHive& hive, std::uint32_t destination, const std::string& path,
                              TolRegImportCounts& counts, GError** error) {
  counts = {};
  if (destination == TOL_NO_CELL) return tol_reg_import(hive, destination, {}, counts, error);
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, error)) return false;
  const std::unique_ptr<gchar, decltype(&g_free)> owner(contents, g_free);
  return tol_reg_import(hive, destination,
                        {reinterpret_cast<const std::uint8_t*>(contents), length}, counts, error);
}

std::string tol_reg_import_summary(const TolRegImportCounts& counts) {
  gchar* text = g_strdup_printf(_("Imported: %u keys, %u values (deleted %u keys, %u values)%s"),
                                counts.keys, counts.values, counts.deleted_keys,
                                counts.deleted_values,
                                counts.errors != 0 ? _(" — the file contained errors") : "");
  std::string summary(text);
  g_free(text);
  return summary;
}
