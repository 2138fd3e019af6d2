// Decoding of stored names: Latin-1 or UTF-16LE bytes to UTF-8.
#include "hive/names.h"


namespace {

void append_utf8(std::string& out, char32_t c) {
  auto byte = [&out](std::uint32_t b) { out.push_back(static_cast<char>(b)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void tol_utf16_append(std::string& out, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (bytes.size() == 1) {
    out += '?';
    return;
  }
  // Names and string data lie at any address inside the image, so each unit
  // is assembled from its two bytes.
  const std::size_t units = bytes.size() / 2;
  auto unit = [bytes](std::size_t i) {
    return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  const std::size_t start = out.size();
  // Most text is ASCII: its units are copied straight into room made for all
  // of them, and only the first other unit leaves this loop.
  out.resize(start + units);
  std::size_t i = 0;
  for (char* p = out.data() + start; i < units; ++i) {
    const char16_t u = unit(i);
    if (u == 0 || u >= 0x80) break;
    p[i] = static_cast<char>(u);
  }
  out.resize(start + i);
  for (; i < units; ++i) {
    const char16_t u = unit(i);
    if (u == 0) break;
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (is_high_surrogate(u)) {
      if (i + 1 >= units || !is_low_surrogate(unit(i + 1))) {
        out.resize(start);
        out += '?';
        return;
      }
      const char16_t low = unit(++i);
      append_utf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
    } else if (is_low_surrogate(u)) {
      out.resize(start);
      out += '?';
      return;
    } else {
      append_utf8(out, u);
    }
  }
}

std::string tol_utf16_to_utf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  tol_utf16_append(out, bytes);
  return out;
}

void tol_name_append(std::string& out, std::span<const std::uint8_t> bytes, bool one_byte) {
  if (!one_byte) return tol_utf16_append(out, bytes);
  out.reserve(out.size() + bytes.size());
  for (const std::uint8_t b : bytes) append_utf8(out, b);
}

std::string tol_name_decode(std::span<const std::uint8_t> bytes, bool one_byte) {
  std::string out;
  tol_name_append(out, bytes, one_byte);
  return out;
}

bool tol_name_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool tol_name_stored_equal(std::span<const std::uint8_t> stored, bool one_byte,
                           std::string_view name) {
  const std::size_t width = one_byte ? 1 : 2;
  const std::size_t units = stored.size() / width;
  auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  bool plain = one_byte || stored.size() % 2 == 0;
  bool same = units == name.size();
  for (std::size_t i = 0; plain && i < units; ++i) {
    const unsigned unit = one_byte ? stored[i] : stored[2 * i] | (stored[2 * i + 1] << 8);
    // NUL ends a UTF-16 name early and anything beyond ASCII decodes to other
    // bytes (or to "?"), so those names take the decoding path.
    if (unit == 0 || unit > 0x7F) plain = false;
    else if (same && lower(unit) != lower(static_cast<unsigned char>(name[i]))) same = false;
  }
  if (plain) return same;
  return tol_name_equal(tol_name_decode(stored, one_byte), name);
}
