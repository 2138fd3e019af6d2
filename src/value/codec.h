// Registry value types and the conversions between value data and text.
// Pure functions: they take bytes or text and touch no hive.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum : std::uint32_t {
  TOL_REG_NONE = 0,
  TOL_REG_SZ = 1,
  TOL_REG_EXPAND_SZ = 2,
  TOL_REG_BINARY = 3,
  TOL_REG_DWORD = 4,
  TOL_REG_DWORD_BIG_ENDIAN = 5,
  TOL_REG_LINK = 6,
  TOL_REG_MULTI_SZ = 7,
  TOL_REG_RESOURCE_LIST = 8,
  TOL_REG_FULL_RESOURCE_DESCRIPTOR = 9,
  TOL_REG_RESOURCE_REQUIREMENTS_LIST = 10,
  TOL_REG_QWORD = 11,
};

using TolBytes = std::vector<std::uint8_t>;

// "REG_SZ" ... "REG_QWORD"; "REG_UNKNOWN" for any other number.
const char* tol_value_type_name(std::uint32_t type);
// The type number for a REG_ name (exact, upper case), or nothing.
std::optional<std::uint32_t> tol_value_type_from_name(std::string_view name);

// Hex preview for the value list: "de ad be ef (4 B)", "(empty)" for no data.
std::string tol_value_preview(std::span<const std::uint8_t> data);
// "01,ab,ff"; empty for no data.
std::string tol_value_hex_format(std::span<const std::uint8_t> data);
// Two-digit hex pieces separated by ", \t\r\n". nullptr text gives no bytes.
// A bad piece gives nothing and a G_FILE_ERROR_INVAL error naming the piece.
std::optional<TolBytes> tol_value_hex_parse(const char* text, GError** error);

// UTF-8 to UTF-16LE plus one 0x0000 unit; invalid UTF-8 gives no bytes at all.
TolBytes tol_value_sz_encode(std::string_view text);
// The strings of REG_MULTI_SZ data joined with "\n"; empty strings dropped.
std::string tol_value_multi_sz_decode(std::span<const std::uint8_t> data);
// Lines split at "\n", each encoded with its terminator, plus the final 0x0000.
TolBytes tol_value_multi_sz_encode(std::string_view text);

// The text of the value list's Data column for a value of that type.
std::string tol_value_data_text(std::uint32_t type, std::span<const std::uint8_t> data);

// The editors' number forms: hexadecimal with 0x, octal with a leading 0, or
// decimal. Nothing when the text is not a number or exceeds max.
std::optional<std::uint64_t> tol_value_parse_number(std::string_view text, std::uint64_t max);

// The numbers typed into the REG_DWORD and REG_QWORD editors, read the way C's
// strtoul reads with base 0: blanks around the text are ignored, a + or - sign
// may lead (a minus negates modulo 2^64, so -1 is all bits set), then 0x or 0X
// gives hexadecimal, a leading 0 octal, anything else decimal; the DWORD form
// also takes 0b or 0B for binary. A number beyond 64 bits saturates to all
// bits set. DWORD keeps the low 32 bits. Nothing when no digits could be read
// or anything follows them.
std::optional<std::uint32_t> tol_value_parse_dword_text(std::string_view text);
std::optional<std::uint64_t> tol_value_parse_qword_text(std::string_view text);
