// Decoding of stored names and their comparison.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hive/names.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string utf16(const Bytes& b) { return tol_utf16_to_utf8(b); }

TEST(Utf16ToUtf8, EmptyAndLoneByte) {
  EXPECT_EQ(utf16({}), "");
  EXPECT_EQ(utf16({0x41}), "?");
}

TEST(Utf16ToUtf8, OddTrailingByteIsIgnored) {
  EXPECT_EQ(utf16({0x41, 0x00, 0x42}), "A");
}

TEST(Utf16ToUtf8, StopsAtFirstZeroUnit) {
  EXPECT_EQ(utf16({0x41, 0x00, 0x00, 0x00, 0x42, 0x00}), "A");
  EXPECT_EQ(utf16({0x00, 0x00, 0x42, 0x00}), "");
  // Whatever follows the terminator is never looked at, even a lone surrogate.
  EXPECT_EQ(utf16({0x41, 0x00, 0x00, 0x00, 0x00, 0xD8}), "A");
}

TEST(Utf16ToUtf8, EncodesEveryUtf8Length) {
  // A, é (U+00E9), € (U+20AC), U+1F600 as a surrogate pair.
  EXPECT_EQ(utf16({0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}),
            "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16({0xFF, 0xFF}), "\xEF\xBF\xBF");
  EXPECT_EQ(utf16({0xFF, 0x07}), "\xDF\xBF");
  EXPECT_EQ(utf16({0x00, 0x08}), "\xE0\xA0\x80");
  EXPECT_EQ(utf16({0xFF, 0xDB, 0xFF, 0xDF}), "\xF4\x8F\xBF\xBF");  // U+10FFFF
}

TEST(Utf16ToUtf8, UnpairedSurrogatesMakeTheWholeResultQuestionMark) {
  EXPECT_EQ(utf16({0x41, 0x00, 0x3D, 0xD8}), "?");              // high at the end
  EXPECT_EQ(utf16({0x3D, 0xD8, 0x41, 0x00}), "?");              // high then a letter
  EXPECT_EQ(utf16({0x41, 0x00, 0x00, 0xDE}), "?");              // lone low
  EXPECT_EQ(utf16({0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}), "?");  // high, high, low
  EXPECT_EQ(utf16({0x3D, 0xD8, 0x00, 0x00}), "?");              // high then terminator
  EXPECT_EQ(utf16({0x00, 0xDE, 0x3D, 0xD8}), "?");              // reversed pair
}

TEST(Utf16ToUtf8, ReadsFromAnyAddress) {
  const Bytes buffer{0xEE, 0x5A, 0x00, 0xFC, 0x00, 0x72, 0x00};
  EXPECT_EQ(tol_utf16_to_utf8(std::span(buffer).subspan(1)), "Z\xC3\xBCr");
}

TEST(NameDecode, OneByteNamesAreLatin1) {
  EXPECT_EQ(tol_name_decode(Bytes{0xE9}, true), "\xC3\xA9");
  EXPECT_EQ(tol_name_decode(Bytes{'C', 'a', 'f', 0xE9}, true), "Caf\xC3\xA9");
  EXPECT_EQ(tol_name_decode(Bytes{0x80, 0xFF, 0x7F}, true), "\xC2\x80\xC3\xBF\x7F");
  // Latin-1 has no terminator: a zero byte is a character like any other.
  EXPECT_EQ(tol_name_decode(Bytes{'A', 0, 'B'}, true), std::string("A\0B", 3));
  EXPECT_EQ(tol_name_decode(Bytes{}, true), "");
}

TEST(NameDecode, TwoByteNamesAreUtf16) {
  EXPECT_EQ(tol_name_decode(Bytes{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, false), "A");
  EXPECT_EQ(tol_name_decode(Bytes{0xE9}, false), "?");
  EXPECT_EQ(tol_name_decode(Bytes{}, false), "");
}

TEST(NameEqual, AsciiLettersFoldOtherBytesMustMatch) {
  EXPECT_TRUE(tol_name_equal("Software", "SOFTWARE"));
  EXPECT_TRUE(tol_name_equal("software", "Software"));
  EXPECT_TRUE(tol_name_equal("", ""));
  EXPECT_FALSE(tol_name_equal("Software", "Softwar"));
  EXPECT_FALSE(tol_name_equal("Soft", "Software"));
  // Ä and ä are different bytes after the lead byte.
  EXPECT_FALSE(tol_name_equal("\xC3\x84", "\xC3\xA4"));
  EXPECT_TRUE(tol_name_equal("\xC3\x84x", "\xC3\x84X"));
  // Only A-Z fold: '@' (0x40) and '`' (0x60), '[' and '{' stay apart.
  EXPECT_FALSE(tol_name_equal("@", "`"));
  EXPECT_FALSE(tol_name_equal("[", "{"));
  EXPECT_FALSE(tol_name_equal("_", "\x7F"));
}

// The shortcut for plain names must agree with decoding and comparing, also
// for stored names that hold NUL, non-ASCII units, lone surrogates or an odd
// byte, against queries that differ in case, length or a "?".
TEST(NameStoredEqual, AgreesWithDecodingThenComparing) {
  const Bytes alphabet = {'a', 'A', 'b', '?', 0x00, 0x7F, 0x80, 0xE9, 0xD8, 0xDC};
  const std::vector<std::string> queries = {"", "a", "A", "ab", "aB?", "?", "\xc3\xa9", "a\x7f", "aa", "AAA"};
  std::uint32_t state = 12345;
  auto next = [&] { state = state * 1103515245u + 12345u; return state >> 16; };
  for (int round = 0; round < 20000; ++round) {
    Bytes stored(next() % 7);
    for (auto& b : stored) b = alphabet[next() % alphabet.size()];
    const bool one_byte = next() % 2 == 0;
    for (const std::string& q : queries)
      ASSERT_EQ(tol_name_stored_equal(stored, one_byte, q),
                tol_name_equal(tol_name_decode(stored, one_byte), q))
          << "round " << round << " query " << q;
  }
}

}  // namespace
