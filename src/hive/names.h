// Decoding of stored key/value names and UTF-16LE strings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// UTF-16LE bytes to UTF-8. Stops at the first 0x0000 unit; "?" for invalid
// UTF-16 or a lone byte; an odd trailing byte is otherwise ignored.
std::string tol_utf16_to_utf8(std::span<const std::uint8_t> bytes);

// A stored name to UTF-8: Latin-1 when one_byte is set, else UTF-16LE.
std::string tol_name_decode(std::span<const std::uint8_t> bytes, bool one_byte);

// The same two decodings appended to `out`, for walks that reuse one buffer
// instead of making a string per name.
void tol_utf16_append(std::string& out, std::span<const std::uint8_t> bytes);
void tol_name_append(std::string& out, std::span<const std::uint8_t> bytes, bool one_byte);

// ASCII case-insensitive equality of UTF-8 names: A-Z equal a-z, every other
// byte must match.
bool tol_name_equal(std::string_view a, std::string_view b);

// tol_name_equal(tol_name_decode(stored, one_byte), name) without building the
// decoded string when the stored name is plain ASCII, which most are; value
// lookups run this for every value of a key.
bool tol_name_stored_equal(std::span<const std::uint8_t> stored, bool one_byte,
                           std::string_view name);
