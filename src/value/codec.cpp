// Registry value types and the conversions between value data and text.

#include "value/codec.h"

#include <array>
#include <cinttypes>
#include <cstdio>

#include "hive/bytes.h"
#include "hive/names.h"

namespace {

constexpr std::array<const char*, 12> kTypeNames = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

// The list shows long strings cut to this many characters.
constexpr std::size_t kDataTextMaxChars = 200;
// The preview spells out at most this many bytes.
constexpr std::size_t kPreviewBytes = 16;

constexpr std::string_view kHexSeparators = ", \t\r\n";

const char* tr(const char* msgid) { return g_dgettext(GETTEXT_PACKAGE, msgid); }

void append_hex_byte(std::string& out, std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += kDigits[b >> 4];
  out += kDigits[b & 0x0F];
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_unit(TolBytes& out, std::uint16_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// Splits REG_MULTI_SZ data into its non-empty strings, decoded. Any bytes
// after the last 0x0000 unit, an odd final byte included, are one more
// string: stored data are often unterminated and still worth showing.
std::vector<std::string> multi_sz_strings(std::span<const std::uint8_t> data) {
  std::vector<std::string> strings;
  const tol::ByteView view(data);
  const std::size_t even = data.size() & ~static_cast<std::size_t>(1);
  std::size_t start = 0;
  for (std::size_t off = 0; off < even; off += 2) {
    if (view.u16(off) != 0) continue;
    if (off > start) strings.push_back(tol_utf16_to_utf8(view.sub(start, off - start).span()));
    start = off + 2;
  }
  if (start < data.size()) strings.push_back(tol_utf16_to_utf8(view.tail(start).span()));
  return strings;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

// Cuts text after max_chars UTF-8 characters and marks the cut with "...".
std::string cut_text(std::string text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars == max_chars) {
      text.resize(i);
      text += "...";
      return text;
    }
    ++chars;
  }
  return text;
}

std::string number_text(std::uint32_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08" PRIx32 " (%" PRIu32 ")", n, n);
  return buf;
}

std::string number_text(std::uint64_t n) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "0x%016" PRIx64 " (%" PRIu64 ")", n, n);
  return buf;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

const char* tol_value_type_name(std::uint32_t type) {
  return type < kTypeNames.size() ? kTypeNames[type] : "REG_UNKNOWN";
}

std::optional<std::uint32_t> tol_value_type_from_name(std::string_view name) {
  for (std::uint32_t i = 0; i < kTypeNames.size(); ++i)
    if (name == kTypeNames[i]) return i;
  return std::nullopt;
}

std::string tol_value_preview(std::span<const std::uint8_t> data) {
  if (data.empty()) return tr("(empty)");
  std::string out;
  const std::size_t shown = data.size() < kPreviewBytes ? data.size() : kPreviewBytes;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) out += ' ';
    append_hex_byte(out, data[i]);
  }
  if (data.size() > kPreviewBytes) out += "...";
  char tail[32];
  std::snprintf(tail, sizeof tail, " (%zu B)", data.size());
  out += tail;
  return out;
}

std::string tol_value_hex_format(std::span<const std::uint8_t> data) {
  std::string out;
  out.reserve(data.size() * 3);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    append_hex_byte(out, data[i]);
  }
  return out;
}

std::optional<TolBytes> tol_value_hex_parse(const char* text, GError** error) {
  TolBytes bytes;
  if (text == nullptr) return bytes;
  const std::string_view rest(text);
  std::size_t pos = 0;
  while (pos < rest.size()) {
    const std::size_t begin = rest.find_first_not_of(kHexSeparators, pos);
    if (begin == std::string_view::npos) break;
    std::size_t end = rest.find_first_of(kHexSeparators, begin);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view piece = rest.substr(begin, end - begin);
    const int hi = piece.size() == 2 ? hex_digit_value(piece[0]) : -1;
    const int lo = piece.size() == 2 ? hex_digit_value(piece[1]) : -1;
    if (hi < 0 || lo < 0) {
      const std::string named(piece);
      g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, tr("Invalid hex byte: '%s'"),
                  named.c_str());
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
    pos = end;
  }
  return bytes;
}

TolBytes tol_value_sz_encode(std::string_view text) {
  // The text ends at a NUL, as it would for any C string handed in.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
    text = text.substr(0, nul);
  TolBytes out;
  if (!g_utf8_validate_len(text.data(), text.size(), nullptr)) return out;
  out.reserve(text.size() * 2 + 2);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const gunichar c = g_utf8_get_char(p);
    if (c >= 0x10000) {
      const gunichar v = c - 0x10000;
      append_unit(out, static_cast<std::uint16_t>(0xD800 | (v >> 10)));
      append_unit(out, static_cast<std::uint16_t>(0xDC00 | (v & 0x3FF)));
    } else {
      append_unit(out, static_cast<std::uint16_t>(c));
    }
    p = g_utf8_next_char(p);
  }
  append_unit(out, 0);
  return out;
}

std::string tol_value_multi_sz_decode(std::span<const std::uint8_t> data) {
  return join(multi_sz_strings(data), "\n");
}

TolBytes tol_value_multi_sz_encode(std::string_view text) {
  TolBytes out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t nl = text.find('\n', start);
    const bool last = nl == std::string_view::npos;
    const std::string_view line = text.substr(start, last ? std::string_view::npos : nl - start);
    // A trailing line feed ends the last string rather than adding an empty one.
    if (!(last && line.empty())) {
      const TolBytes encoded = tol_value_sz_encode(line);
      out.insert(out.end(), encoded.begin(), encoded.end());
    }
    if (last) break;
    start = nl + 1;
  }
  append_unit(out, 0);
  return out;
}

std::string tol_value_data_text(std::uint32_t type, std::span<const std::uint8_t> data) {
  if (data.empty()) return tr("(no data)");
  const tol::ByteView view(data);
  switch (type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ:
      return cut_text(tol_utf16_to_utf8(data), kDataTextMaxChars);
    case TOL_REG_MULTI_SZ:
      return cut_text(join(multi_sz_strings(data), ", "), kDataTextMaxChars);
    case TOL_REG_DWORD:
      if (data.size() == 4) return number_text(view.u32(0));
      break;
    case TOL_REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) {
        const std::uint32_t n = (static_cast<std::uint32_t>(data[0]) << 24) |
                                (static_cast<std::uint32_t>(data[1]) << 16) |
                                (static_cast<std::uint32_t>(data[2]) << 8) |
                                static_cast<std::uint32_t>(data[3]);
        return number_text(n);
      }
      break;
    case TOL_REG_QWORD:
      if (data.size() == 8) return number_text(view.u64(0));
      break;
    default:
      break;
  }
  return tol_value_preview(data);
}

std::optional<std::uint64_t> tol_value_parse_number(std::string_view text, std::uint64_t max) {
  // Surrounding blanks come along when a number is pasted; inner ones do not.
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
    if (text.empty()) return std::nullopt;
  } else if (text.size() >= 2 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }

  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = hex_digit_value(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
    // value * base + digit > max, checked without overflowing.
    if (static_cast<unsigned>(digit) > max) return std::nullopt;
    if (value > (max - static_cast<unsigned>(digit)) / base) return std::nullopt;
    value = value * base + static_cast<unsigned>(digit);
  }
  return value;
}

namespace {

std::optional<std::uint64_t> parse_editor_number(std::string_view text, bool binary_prefix) {
  while (!text.empty() && g_ascii_isspace(text.front())) text.remove_prefix(1);
  while (!text.empty() && g_ascii_isspace(text.back())) text.remove_suffix(1);

  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // A prefix counts only with a digit of its base behind it; otherwise the
  // 0 is a number of its own and the letter is left over.
  const auto prefixed = [&](char lower, unsigned base) {
    return text.size() >= 3 && text[0] == '0' && g_ascii_tolower(text[1]) == lower &&
           hex_digit_value(text[2]) >= 0 && static_cast<unsigned>(hex_digit_value(text[2])) < base;
  };
  unsigned base = 10;
  if (prefixed('x', 16)) {
    base = 16;
    text.remove_prefix(2);
  } else if (binary_prefix && prefixed('b', 2)) {
    base = 2;
    text.remove_prefix(2);
  } else if (!text.empty() && text[0] == '0') {
    base = 8;
  }

  std::uint64_t value = 0;
  bool saturated = false;
  std::size_t digits = 0;
  for (; digits < text.size(); ++digits) {
    const int digit = hex_digit_value(text[digits]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
    if (value > (UINT64_MAX - static_cast<unsigned>(digit)) / base) saturated = true;
    value = value * base + static_cast<unsigned>(digit);
  }
  if (digits == 0 || digits != text.size()) return std::nullopt;
  if (saturated) return UINT64_MAX;
  return negative ? 0 - value : value;
}

}  // namespace

std::optional<std::uint32_t> tol_value_parse_dword_text(std::string_view text) {
  const auto value = parse_editor_number(text, true);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::uint64_t> tol_value_parse_qword_text(std::string_view text) {
  return parse_editor_number(text, false);
}
