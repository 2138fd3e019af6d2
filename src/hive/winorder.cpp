// Stored forms of names and Windows' order of subkey names.
#include "hive/winorder.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <memory>

#include "hive/edit.h"
#include "hive/format.h"

namespace {

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Upper case of every code unit, built once: sorting a large list compares
// the same units many times.
std::unique_ptr<std::array<char16_t, 0x10000>> build_upcase_table() {
  auto table = std::make_unique<std::array<char16_t, 0x10000>>();
  for (std::uint32_t u = 0; u < 0x10000; ++u) {
    char16_t up = static_cast<char16_t>(u);
    if (u < 0x80) {
      if (u >= 'a' && u <= 'z') up = static_cast<char16_t>(u - 0x20);
    } else if (u < 0x100) {
      // Windows' own table, which differs from Unicode for µ (no Greek Mu) and
      // agrees with it for ß (no single upper-case unit).
      if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
        up = static_cast<char16_t>(u - 0x20);
      else if (u == 0xFF)
        up = 0x0178;
    } else if (u < 0xD800 || u > 0xDFFF) {
      const gunichar mapped = g_unichar_toupper(u);
      if (mapped < 0x10000) up = static_cast<char16_t>(mapped);
    }
    (*table)[u] = up;
  }
  return table;
}

const std::uint8_t kUnreadableName[] = {'?'};

}  // namespace

namespace tol {

namespace {

const std::array<char16_t, 0x10000>& upcase_table() {
  static const auto table = build_upcase_table();
  return *table;
}

// Both names are walked with their storage form fixed, so that the loop that
// runs over thousands of siblings per insertion has no per-unit dispatch.
template <bool kOneByteA, bool kOneByteB>
int compare_units(ByteView a, std::size_t na, ByteView b, std::size_t nb) {
  const auto& up = upcase_table();
  const std::size_t n = std::min(na, nb);
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t ra = kOneByteA ? char16_t{a.u8(i)} : static_cast<char16_t>(a.u16(2 * i));
    const char16_t rb = kOneByteB ? char16_t{b.u8(i)} : static_cast<char16_t>(b.u16(2 * i));
    if (ra == rb) continue;
    const char16_t ua = up[ra];
    const char16_t ub = up[rb];
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

}  // namespace

char16_t upcase_unit(char16_t unit) { return upcase_table()[unit]; }

StoredName stored_key_name(const TolHive& hive, std::uint32_t nk) {
  if (const auto key = tol_hive_key(hive, nk)) {
    const std::uint16_t length = key->u16(TOL_NK_NAME_LENGTH);
    if (key->size() >= std::size_t{TOL_NK_MIN_DATA} + length)
      return StoredName(key->sub(TOL_NK_NAME, length),
                        (key->u16(TOL_NK_FLAGS) & TOL_NK_FLAG_ASCII_NAME) != 0);
  }
  return StoredName(ByteView(kUnreadableName), true);
}

int compare_windows(const StoredName& a, const StoredName& b) {
  if (a.one_byte()) {
    return b.one_byte() ? compare_units<true, true>(a.bytes(), a.size(), b.bytes(), b.size())
                        : compare_units<true, false>(a.bytes(), a.size(), b.bytes(), b.size());
  }
  return b.one_byte() ? compare_units<false, true>(a.bytes(), a.size(), b.bytes(), b.size())
                      : compare_units<false, false>(a.bytes(), a.size(), b.bytes(), b.size());
}

}  // namespace tol

TolEncodedName tol_name_encode(std::string_view utf8) {
  TolEncodedName name;
  if (is_ascii(utf8)) {
    name.bytes.assign(utf8.begin(), utf8.end());
  } else if (g_utf8_validate(utf8.data(), static_cast<gssize>(utf8.size()), nullptr)) {
    name.one_byte = false;
    name.bytes.reserve(utf8.size() * 2);
    auto unit = [&name](std::uint32_t u) {
      name.bytes.push_back(static_cast<std::uint8_t>(u));
      name.bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    const char* const end = utf8.data() + utf8.size();
    for (const char* p = utf8.data(); p < end; p = g_utf8_next_char(p)) {
      const gunichar c = g_utf8_get_char(p);
      if (c < 0x10000) {
        unit(c);
      } else {
        unit(0xD800 + ((c - 0x10000) >> 10));
        unit(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
  }
  // Invalid UTF-8 falls through as an empty one-byte name.
  if (name.bytes.size() > 0xFFFF) {
    // A 16-bit length field would wrap and cut the record short.
    name.fits = false;
    name.length = 0;
  } else {
    name.length = static_cast<std::uint16_t>(name.bytes.size());
  }
  if (name.bytes.empty()) name.bytes.push_back(0);
  return name;
}

std::uint32_t tol_name_utf16_bytes(std::string_view utf8) {
  const TolEncodedName name = tol_name_encode(utf8);
  const std::size_t stored = name.fits ? name.length : name.bytes.size();
  return static_cast<std::uint32_t>(name.one_byte ? stored * 2 : stored);
}

int tol_name_compare_windows(std::string_view a, std::string_view b) {
  const TolEncodedName ea = tol_name_encode(a);
  const TolEncodedName eb = tol_name_encode(b);
  auto stored = [](const TolEncodedName& e) {
    const std::span<const std::uint8_t> bytes(e.bytes);
    return tol::StoredName(tol::ByteView(bytes.first(e.fits ? e.length : bytes.size())),
                           e.one_byte);
  };
  return tol::compare_windows(stored(ea), stored(eb));
}
