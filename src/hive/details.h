// What a key record says about itself beyond its name, values and subkeys:
// the last-write time, class name, flags, counts, largest-length fields and
// security cell, for a details view and `tolvane-cli stat`.
//
// Like every read, these never trust the image: a field that cannot be read
// is left out and named in `problems`, never guessed.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive.h"

// --- Times ---------------------------------------------------------------------

// FILETIME: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
inline constexpr std::uint64_t TOL_FILETIME_PER_SECOND = 10000000;

// "2024-03-01T12:34:56Z". Whole seconds by default: the tools that show key
// times (regedit's export, the forensic timelines) print seconds, and sorting
// uses the FILETIME itself, not the text. With `fraction` the seven digits of
// the 100 ns ticks follow ("2024-03-01T12:34:56.1234567Z"). Every FILETIME has
// a form (years past 9999 get more digits).
std::string tol_filetime_iso8601(std::uint64_t filetime, bool fraction = false);
// Appends the same to `out`, for lists that format many times into one buffer.
void tol_filetime_append_iso8601(std::string& out, std::uint64_t filetime, bool fraction = false);
// Seconds since 1970-01-01 UTC (negative before), for APIs that count so.
std::int64_t tol_filetime_unix_seconds(std::uint64_t filetime);
// The FILETIME of "YYYY-MM-DD", "YYYY-MM-DDTHH:MM", "YYYY-MM-DDTHH:MM:SS" with
// an optional fraction of up to 7 digits, a space instead of the "T" and an
// optional trailing "Z"; always UTC. Nothing, with a TOL_HIVE_ERROR_INVALID
// that says what is wrong, for anything else or a time before 1601.
std::optional<std::uint64_t> tol_filetime_parse_iso8601(std::string_view text, GError** error);

// --- Key flags -----------------------------------------------------------------

// nk flag bits, as Windows defines them.
inline constexpr std::uint16_t TOL_KEY_VOLATILE = 0x0001;
inline constexpr std::uint16_t TOL_KEY_HIVE_EXIT = 0x0002;   // mount point of another hive
inline constexpr std::uint16_t TOL_KEY_HIVE_ENTRY = 0x0004;  // the root key of a hive
inline constexpr std::uint16_t TOL_KEY_NO_DELETE = 0x0008;
inline constexpr std::uint16_t TOL_KEY_SYM_LINK = 0x0010;
inline constexpr std::uint16_t TOL_KEY_COMP_NAME = 0x0020;   // name stored one byte per character
inline constexpr std::uint16_t TOL_KEY_PREDEF_HANDLE = 0x0040;
inline constexpr std::uint16_t TOL_KEY_VIRT_MIRRORED = 0x0080;
inline constexpr std::uint16_t TOL_KEY_VIRT_TARGET = 0x0100;
inline constexpr std::uint16_t TOL_KEY_VIRTUAL_STORE = 0x0200;

// The names of the set flags in bit order ("hive entry", "no delete",
// "compressed name", ...), then the bits that have no name as one "0x..." entry.
std::vector<std::string> tol_key_flag_names(std::uint16_t flags);

// --- Details -------------------------------------------------------------------

struct TolKeyDetails {
  std::uint32_t offset = TOL_NO_CELL;  // the nk cell
  std::uint32_t parent = TOL_NO_CELL;  // as the record names it
  std::uint64_t last_write = 0;        // FILETIME
  std::uint16_t flags = 0;
  // The counts as stored (the lists they describe may be shorter when damaged).
  std::uint32_t subkey_count = 0;
  std::uint32_t volatile_subkey_count = 0;
  std::uint32_t value_count = 0;
  // Largest-length fields, in bytes of UTF-16 (names) or of data. Since
  // Windows Vista the subkey name field holds 16 bits of length and, above
  // them, the virtualization control flags (4 bits), the user flags (4 bits)
  // and a debug byte; older hives keep zeros there.
  std::uint32_t max_subkey_name = 0;
  std::uint32_t max_class_name = 0;
  std::uint32_t max_value_name = 0;
  std::uint32_t max_value_data = 0;
  std::uint8_t virtualization_flags = 0;
  std::uint8_t user_flags = 0;
  std::uint8_t debug = 0;
  // The class name, when the key has one and its cell can be read.
  std::uint32_t class_offset = TOL_NO_CELL;
  std::uint16_t class_length = 0;  // bytes, as stored
  std::optional<std::string> class_name;
  // The sk record the key names; the count and length when it is one.
  std::uint32_t security_offset = TOL_NO_CELL;
  std::optional<std::uint32_t> security_refcount;
  std::optional<std::uint32_t> security_length;  // descriptor bytes
  // Fields found damaged, one sentence each ("the class name cell 0x1F8 ...").
  std::vector<std::string> problems;
};

// The details of the key at nk; nothing with TOL_HIVE_ERROR_NOT_FOUND when
// the offset does not hold a readable key record.
std::optional<TolKeyDetails> tol_hive_key_details(const TolHive& hive, std::uint32_t nk,
                                                  GError** error);
// Only the last-write time, for walks: 0 when the record cannot be read.
std::uint64_t tol_hive_key_last_write(const TolHive& hive, std::uint32_t nk);
