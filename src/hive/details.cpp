// Key details: times, flags, class names and the fields of an nk record that
// no other part of the engine needs to interpret.
#include "hive/details.h"

#include <glib/gi18n-lib.h>

#include <array>
#include <cstdio>

#include "hive/errors.h"
#include "hive/names.h"

namespace {

// nk fields only the details read.
constexpr std::uint32_t kNkVolatileCount = 0x18;
constexpr std::uint32_t kNkMaxClassName = 0x38;
constexpr std::uint32_t kNkClassLength = 0x4A;

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134774;

// Proleptic Gregorian calendar, days counted from 1970-01-01 (the civil
// calendar algorithms of H. Hinnant, exact for every 64-bit day count used here).
struct Civil {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

Civil civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned days_in_month(std::int64_t y, unsigned m) {
  static constexpr std::array<unsigned, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

void append_digits(std::string& out, std::uint64_t v, int width) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 || n < width);
  while (n > 0) out += buf[--n];
}

// Reads exactly `n` digits at `pos`; nothing when they are not all digits.
std::optional<unsigned> digits(std::string_view text, std::size_t& pos, std::size_t n) {
  if (text.size() < pos + n) return std::nullopt;
  unsigned v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  pos += n;
  return v;
}

bool eat(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

void tol_filetime_append_iso8601(std::string& out, std::uint64_t filetime, bool fraction) {
  const std::uint64_t seconds = filetime / TOL_FILETIME_PER_SECOND;
  const auto days = static_cast<std::int64_t>(seconds / kSecondsPerDay);
  const std::uint64_t in_day = seconds % kSecondsPerDay;
  const Civil c = civil_from_days(days - kDays1601To1970);
  append_digits(out, static_cast<std::uint64_t>(c.year), 4);
  out += '-';
  append_digits(out, c.month, 2);
  out += '-';
  append_digits(out, c.day, 2);
  out += 'T';
  append_digits(out, in_day / 3600, 2);
  out += ':';
  append_digits(out, in_day / 60 % 60, 2);
  out += ':';
  append_digits(out, in_day % 60, 2);
  if (fraction) {
    out += '.';
    append_digits(out, filetime % TOL_FILETIME_PER_SECOND, 7);
  }
  out += 'Z';
}

std::int64_t tol_filetime_unix_seconds(std::uint64_t filetime) {
  return static_cast<std::int64_t>(filetime / TOL_FILETIME_PER_SECOND) - kDays1601To1970 * kSecondsPerDay;
}

std::string tol_filetime_iso8601(std::uint64_t filetime, bool fraction) {
  std::string out;
  tol_filetime_append_iso8601(out, filetime, fraction);
  return out;
}

std::optional<std::uint64_t> tol_filetime_parse_iso8601(std::string_view text, GError** error) {
  const auto invalid = [&](const char* why) -> std::optional<std::uint64_t> {
    tol_failf(error, TOL_HIVE_ERROR_INVALID, _("invalid time \"%.*s\": %s"),
              static_cast<int>(text.size()), text.data(), why);
    return std::nullopt;
  };
  const char* const form = _("expected YYYY-MM-DD[THH:MM[:SS[.FFFFFFF]]][Z] (UTC)");
  std::size_t pos = 0;
  const auto year = digits(text, pos, 4);
  if (!year || !eat(text, pos, '-')) return invalid(form);
  const auto month = digits(text, pos, 2);
  if (!month || !eat(text, pos, '-')) return invalid(form);
  const auto day = digits(text, pos, 2);
  if (!day) return invalid(form);
  unsigned hour = 0, minute = 0, second = 0;
  std::uint64_t ticks = 0;
  if (pos < text.size() && (text[pos] == 'T' || text[pos] == 't' || text[pos] == ' ')) {
    ++pos;
    const auto h = digits(text, pos, 2);
    if (!h || !eat(text, pos, ':')) return invalid(form);
    const auto m = digits(text, pos, 2);
    if (!m) return invalid(form);
    hour = *h;
    minute = *m;
    if (eat(text, pos, ':')) {
      const auto s = digits(text, pos, 2);
      if (!s) return invalid(form);
      second = *s;
      if (eat(text, pos, '.')) {
        std::size_t n = 0;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, ++n) {
          if (n == 7) return invalid(_("more than 7 fractional digits (100 ns is the finest)"));
          ticks = ticks * 10 + static_cast<std::uint64_t>(text[pos] - '0');
        }
        if (n == 0) return invalid(form);
        for (; n < 7; ++n) ticks *= 10;
      }
    }
  }
  if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) ++pos;
  if (pos != text.size()) return invalid(form);
  if (*month < 1 || *month > 12 || *day < 1 || *day > days_in_month(*year, *month))
    return invalid(_("no such date"));
  if (hour > 23 || minute > 59 || second > 59) return invalid(_("no such time of day"));
  if (*year < 1601) return invalid(_("before 1601, where FILETIMEs begin"));
  const std::int64_t days = days_from_civil(*year, *month, *day) + kDays1601To1970;
  const auto seconds = static_cast<std::uint64_t>(days) * kSecondsPerDay + hour * 3600u +
                       minute * 60u + second;
  return seconds * TOL_FILETIME_PER_SECOND + ticks;
}

std::vector<std::string> tol_key_flag_names(std::uint16_t flags) {
  static constexpr std::array<const char*, 10> kNames = {
      "volatile",        "hive exit",         "hive entry",       "no delete",
      "symbolic link",   "compressed name",   "predefined handle", "virtual mirrored",
      "virtual target",  "virtual store",
  };
  std::vector<std::string> names;
  for (std::size_t bit = 0; bit < kNames.size(); ++bit)
    if ((flags & (1u << bit)) != 0) names.emplace_back(kNames[bit]);
  const unsigned rest = flags & ~((1u << kNames.size()) - 1);
  if (rest != 0) names.push_back(tol_hex(rest));
  return names;
}

std::uint64_t tol_hive_key_last_write(const TolHive& hive, std::uint32_t nk) {
  const auto key = tol_hive_key(hive, nk);
  return key ? key->u64(TOL_NK_TIMESTAMP) : 0;
}

std::optional<TolKeyDetails> tol_hive_key_details(const TolHive& hive, std::uint32_t nk,
                                                  GError** error) {
  const auto key = tol_hive_key(hive, nk);
  if (!key) {
    tol_fail(error, TOL_HIVE_ERROR_NOT_FOUND,
             std::string(_("no key record at ")) + tol_hex(nk));
    return std::nullopt;
  }
  TolKeyDetails d;
  d.offset = nk;
  d.parent = key->u32(TOL_NK_PARENT);
  d.last_write = key->u64(TOL_NK_TIMESTAMP);
  d.flags = key->u16(TOL_NK_FLAGS);
  d.subkey_count = key->u32(TOL_NK_SUBKEY_COUNT);
  d.volatile_subkey_count = key->u32(kNkVolatileCount);
  d.value_count = key->u32(TOL_NK_VALUE_COUNT);
  const std::uint32_t subkey_name_field = key->u32(TOL_NK_MAX_SUBKEY_NAME);
  d.max_subkey_name = subkey_name_field & 0xFFFF;
  d.virtualization_flags = static_cast<std::uint8_t>((subkey_name_field >> 16) & 0x0F);
  d.user_flags = static_cast<std::uint8_t>((subkey_name_field >> 20) & 0x0F);
  d.debug = static_cast<std::uint8_t>(subkey_name_field >> 24);
  d.max_class_name = key->u32(kNkMaxClassName);
  d.max_value_name = key->u32(TOL_NK_MAX_VALUE_NAME);
  d.max_value_data = key->u32(TOL_NK_MAX_VALUE_DATA);

  d.class_offset = key->u32(TOL_NK_CLASS);
  d.class_length = key->u16(kNkClassLength);
  if (d.class_offset != TOL_NO_CELL && d.class_length > 0) {
    const auto cell = tol_hive_cell(hive, d.class_offset);
    if (!cell)
      d.problems.push_back(_("the class name cell ") + tol_hex(d.class_offset) + _(" cannot be read"));
    else if (cell->size() < d.class_length)
      d.problems.push_back(_("the class name cell ") + tol_hex(d.class_offset) + _(" holds ") +
                           std::to_string(cell->size()) + _(" bytes, fewer than the ") +
                           std::to_string(d.class_length) + _(" the key names"));
    else
      d.class_name = tol_utf16_to_utf8(cell->sub(0, d.class_length).span());
  }

  d.security_offset = key->u32(TOL_NK_SECURITY);
  const auto sk = tol_hive_cell(hive, d.security_offset);
  if (!sk || sk->size() < TOL_SK_MIN_DATA || !sk->starts_with("sk")) {
    d.problems.push_back(_("the security cell ") + tol_hex(d.security_offset) +
                         _(" is not a security record"));
  } else {
    d.security_refcount = sk->u32(TOL_SK_REFCOUNT);
    const std::uint32_t length = sk->u32(TOL_SK_DESC_LENGTH);
    if (length > sk->size() - TOL_SK_MIN_DATA)
      d.problems.push_back(_("the security record ") + tol_hex(d.security_offset) +
                           _(" claims a descriptor longer than its cell"));
    else
      d.security_length = length;
  }
  return d;
}
