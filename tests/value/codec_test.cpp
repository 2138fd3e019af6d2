// Value types and data codecs.

#include "value/codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// UTF-16LE bytes of an ASCII or BMP text, without terminator.
TolBytes utf16(std::u16string_view text) {
  TolBytes out;
  for (const char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

TolBytes cat(std::initializer_list<TolBytes> parts) {
  TolBytes out;
  for (const TolBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const TolBytes kNul = {0, 0};

TolBytes counting(std::size_t n) {
  TolBytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
  return out;
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

}  // namespace

TEST(ValueType, NamesRoundTripAndUnknownNumbers) {
  for (std::uint32_t t = 0; t <= 11; ++t) EXPECT_EQ(tol_value_type_from_name(tol_value_type_name(t)), t);
  EXPECT_STREQ(tol_value_type_name(TOL_REG_DWORD_BIG_ENDIAN), "REG_DWORD_BIG_ENDIAN");
  EXPECT_STREQ(tol_value_type_name(12), "REG_UNKNOWN");
  EXPECT_STREQ(tol_value_type_name(0xFFFFFFFF), "REG_UNKNOWN");
  for (const char* bad : {"REG_UNKNOWN", "reg_sz", "REG_SZ ", "REG_", ""})
    EXPECT_FALSE(tol_value_type_from_name(bad).has_value()) << bad;
}

TEST(ValueHex, PreviewShowsSixteenBytesThenEllipsis) {
  EXPECT_EQ(tol_value_preview({}), "(empty)");
  EXPECT_EQ(tol_value_preview(TolBytes{0xDE, 0xAD, 0xBE, 0xEF}), "de ad be ef (4 B)");
  EXPECT_EQ(tol_value_preview(counting(16)),
            "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f (16 B)");
  EXPECT_EQ(tol_value_preview(counting(17)),
            "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f... (17 B)");
  EXPECT_EQ(tol_value_preview(counting(20)),
            "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f... (20 B)");
}

TEST(ValueHex, FormatAndParseAreInverse) {
  EXPECT_EQ(tol_value_hex_format({}), "");
  EXPECT_EQ(tol_value_hex_format(TolBytes{0x00, 0xFF}), "00,ff");
  const TolBytes all = counting(256);
  EXPECT_EQ(tol_value_hex_parse(tol_value_hex_format(all).c_str(), nullptr), all);
}

TEST(ValueHex, ParseSkipsEverySeparatorRun) {
  EXPECT_THAT(*tol_value_hex_parse(nullptr, nullptr), IsEmpty());
  EXPECT_THAT(*tol_value_hex_parse("", nullptr), IsEmpty());
  EXPECT_THAT(*tol_value_hex_parse(" ,\t\r\n,, ", nullptr), IsEmpty());
  EXPECT_THAT(*tol_value_hex_parse("01, 02 ,03\n04", nullptr), ElementsAre(1, 2, 3, 4));
  EXPECT_THAT(*tol_value_hex_parse("\t0a,  0B\r\n", nullptr), ElementsAre(0x0A, 0x0B));
  EXPECT_THAT(*tol_value_hex_parse("Ff,aA", nullptr), ElementsAre(0xFF, 0xAA));
}

TEST(ValueHex, ParseNamesTheFirstBadPiece) {
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& c : {
           Case{"0x", "Invalid hex byte: '0x'"},
           Case{"00 g0 zz", "Invalid hex byte: 'g0'"},
           Case{"01,1,02", "Invalid hex byte: '1'"},
           Case{"abc", "Invalid hex byte: 'abc'"},
           Case{"0102", "Invalid hex byte: '0102'"},
           Case{"01;02", "Invalid hex byte: '01;02'"},
           Case{"\xc3\xa9", "Invalid hex byte: '\xc3\xa9'"},
       }) {
    GError* error = nullptr;
    EXPECT_FALSE(tol_value_hex_parse(c.text, &error).has_value()) << c.text;
    ASSERT_NE(error, nullptr) << c.text;
    EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
    EXPECT_STREQ(error->message, c.message);
    g_error_free(error);
  }
  // A caller that does not want the message still gets the failure.
  EXPECT_FALSE(tol_value_hex_parse("xx", nullptr).has_value());
}

TEST(ValueSz, EncodeBmpAndSurrogatePairs) {
  EXPECT_THAT(tol_value_sz_encode(""), ElementsAre(0, 0));
  EXPECT_THAT(tol_value_sz_encode("\xc3\xa9"), ElementsAre(0xE9, 0, 0, 0));
  EXPECT_THAT(tol_value_sz_encode("\xe2\x82\xac"), ElementsAre(0xAC, 0x20, 0, 0));
  EXPECT_THAT(tol_value_sz_encode("\xf0\x90\x80\x80"), ElementsAre(0x00, 0xD8, 0x00, 0xDC, 0, 0));
  EXPECT_THAT(tol_value_sz_encode("\xf0\x9f\x98\x80"), ElementsAre(0x3D, 0xD8, 0x00, 0xDE, 0, 0));
  EXPECT_THAT(tol_value_sz_encode("\xf4\x8f\xbf\xbf"), ElementsAre(0xFF, 0xDB, 0xFF, 0xDF, 0, 0));
  // Text handed over with an embedded NUL ends there, like a C string.
  EXPECT_THAT(tol_value_sz_encode(std::string_view("a\0b", 3)), ElementsAre('a', 0, 0, 0));
}

TEST(ValueSz, EncodeOfInvalidUtf8IsEmpty) {
  for (const char* bad : {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ok\x80"})
    EXPECT_THAT(tol_value_sz_encode(bad), IsEmpty()) << bad;
}

TEST(ValueMultiSz, DecodeDropsEmptyStringsAndKeepsLeftovers) {
  const TolBytes a = utf16(u"a"), b = utf16(u"b");
  EXPECT_EQ(tol_value_multi_sz_decode({}), "");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({a, kNul, b, kNul, kNul})), "a\nb");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({a, kNul, kNul, b, kNul, kNul})), "a\nb");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({kNul, kNul, a, kNul})), "a");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({kNul, kNul})), "");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({a, kNul, b})), "a\nb");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({a, kNul, b, TolBytes{'x'}})), "a\nb");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({a, kNul, TolBytes{'x'}})), "a\n?");
  EXPECT_EQ(tol_value_multi_sz_decode(TolBytes{'x'}), "?");
  EXPECT_EQ(tol_value_multi_sz_decode(cat({utf16(u"\xD800"), kNul, b, kNul, kNul})), "?\nb");
}

TEST(ValueMultiSz, EncodeSplitsAtLineFeeds) {
  EXPECT_THAT(tol_value_multi_sz_encode("a\nb"), ElementsAre('a', 0, 0, 0, 'b', 0, 0, 0, 0, 0));
  EXPECT_EQ(tol_value_multi_sz_encode("a\nb\n"), tol_value_multi_sz_encode("a\nb"));
  EXPECT_EQ(tol_value_multi_sz_encode("a\n\nb"), cat({utf16(u"a"), kNul, kNul, utf16(u"b"), kNul, kNul}));
  EXPECT_THAT(tol_value_multi_sz_encode(""), ElementsAre(0, 0));
  EXPECT_EQ(tol_value_multi_sz_encode("\n"), cat({kNul, kNul}));
  EXPECT_EQ(tol_value_multi_sz_encode("a\r\nb"), cat({utf16(u"a\r"), kNul, utf16(u"b"), kNul, kNul}));
}

TEST(ValueMultiSz, RoundTrips) {
  for (const char* text : {"a", "a\nb", "C:\\x\n\xc3\xa9t\xc3\xa9\n\xf0\x9f\x98\x80 smile", "a\r\nb"})
    EXPECT_EQ(tol_value_multi_sz_decode(tol_value_multi_sz_encode(text)), text);
  // An empty string between two others does not survive the text form.
  const TolBytes with_gap = tol_value_multi_sz_encode("a\n\nb");
  EXPECT_EQ(tol_value_multi_sz_encode(tol_value_multi_sz_decode(with_gap)),
            tol_value_multi_sz_encode("a\nb"));
}

TEST(ValueDataText, NoDataWinsForEveryType) {
  for (const std::uint32_t t : {0u, 1u, 3u, 4u, 5u, 7u, 11u, 12u, 0xFFFFFFFFu})
    EXPECT_EQ(tol_value_data_text(t, {}), "(no data)") << t;
}

TEST(ValueDataText, Strings) {
  const TolBytes hello = cat({utf16(u"hello"), kNul, utf16(u"junk")});
  EXPECT_EQ(tol_value_data_text(TOL_REG_SZ, hello), "hello");
  EXPECT_EQ(tol_value_data_text(TOL_REG_EXPAND_SZ, utf16(u"%PATH%")), "%PATH%");
  EXPECT_EQ(tol_value_data_text(TOL_REG_SZ, utf16(u"x\xDC00")), "?");
  EXPECT_EQ(tol_value_data_text(TOL_REG_SZ, TolBytes{'x'}), "?");
  const TolBytes ab = cat({utf16(u"a"), kNul, utf16(u"b"), kNul, kNul});
  EXPECT_EQ(tol_value_data_text(TOL_REG_MULTI_SZ, ab), "a, b");
  EXPECT_EQ(tol_value_data_text(TOL_REG_MULTI_SZ, TolBytes{'x'}), "?");
  EXPECT_EQ(tol_value_data_text(TOL_REG_MULTI_SZ, cat({kNul, kNul})), "");
}

TEST(ValueDataText, CutAfterTwoHundredCharacters) {
  const auto sz = [](std::u16string_view piece, std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s += piece;
    return tol_value_data_text(TOL_REG_SZ, cat({utf16(s), kNul}));
  };
  EXPECT_EQ(sz(u"x", 200), repeat("x", 200));
  EXPECT_EQ(sz(u"x", 201), repeat("x", 200) + "...");
  EXPECT_EQ(sz(u"x", 250), repeat("x", 200) + "...");
  // Counted in characters: two- and four-byte UTF-8 sequences stay whole.
  EXPECT_EQ(sz(u"\u00e9", 200), repeat("\xc3\xa9", 200));
  EXPECT_EQ(sz(u"\u00e9", 250), repeat("\xc3\xa9", 200) + "...");
  EXPECT_EQ(sz(u"\xD83D\xDE00", 201), repeat("\xf0\x9f\x98\x80", 200) + "...");
  // A multi-string list is cut after joining: 67 * "ab, " is 266 characters.
  TolBytes list;
  for (int i = 0; i < 67; ++i) list = cat({list, utf16(u"ab"), kNul});
  EXPECT_EQ(tol_value_data_text(TOL_REG_MULTI_SZ, cat({list, kNul})),
            repeat("ab, ", 50) + "...");
}

TEST(ValueDataText, NumbersAndWrongLengths) {
  EXPECT_EQ(tol_value_data_text(TOL_REG_DWORD, TolBytes{0x78, 0x56, 0x34, 0x12}),
            "0x12345678 (305419896)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_DWORD, TolBytes{0xFF, 0xFF, 0xFF, 0xFF}),
            "0xffffffff (4294967295)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_DWORD_BIG_ENDIAN, TolBytes{0, 0, 1, 0}), "0x00000100 (256)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_QWORD, TolBytes{1, 0, 0, 0, 0, 0, 0, 0x80}),
            "0x8000000000000001 (9223372036854775809)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_QWORD, TolBytes(8, 0xFF)),
            "0xffffffffffffffff (18446744073709551615)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_DWORD, TolBytes{1, 2, 3}), "01 02 03 (3 B)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_DWORD_BIG_ENDIAN, TolBytes(5, 0)), "00 00 00 00 00 (5 B)");
  EXPECT_EQ(tol_value_data_text(TOL_REG_QWORD, TolBytes{1, 0, 0, 0}), "01 00 00 00 (4 B)");
  for (const std::uint32_t t : {0u, 3u, 6u, 8u, 9u, 10u, 12u, 0xFFFFFFFFu})
    EXPECT_EQ(tol_value_data_text(t, counting(17)), tol_value_preview(counting(17))) << t;
}

TEST(ValueNumber, Forms) {
  EXPECT_EQ(tol_value_parse_number("0", 10), 0u);
  EXPECT_EQ(tol_value_parse_number("00", 10), 0u);
  EXPECT_EQ(tol_value_parse_number("42", 100), 42u);
  EXPECT_EQ(tol_value_parse_number("0x1f", 100), 31u);
  EXPECT_EQ(tol_value_parse_number("0X1F", 100), 31u);
  EXPECT_EQ(tol_value_parse_number("010", 100), 8u);
  EXPECT_EQ(tol_value_parse_number(" 42\t", 100), 42u);
  for (const char* bad : {"", " ", "0x", "08", "019", "-1", "+1", "1 2", "12abc", "0x1g", "1e3", "0x-1", "x1"})
    EXPECT_FALSE(tol_value_parse_number(bad, UINT64_MAX).has_value()) << bad;
}

TEST(ValueNumber, Limits) {
  constexpr std::uint64_t kU32 = 0xFFFFFFFFu;
  EXPECT_EQ(tol_value_parse_number("0xFFFFFFFF", kU32), kU32);
  EXPECT_EQ(tol_value_parse_number("4294967295", kU32), kU32);
  EXPECT_EQ(tol_value_parse_number("037777777777", kU32), kU32);
  for (const char* over : {"0x100000000", "4294967296", "040000000000", "0x0000000100000000"})
    EXPECT_FALSE(tol_value_parse_number(over, kU32).has_value()) << over;
  EXPECT_EQ(tol_value_parse_number("18446744073709551615", UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(tol_value_parse_number("0xffffffffffffffff", UINT64_MAX), UINT64_MAX);
  EXPECT_FALSE(tol_value_parse_number("18446744073709551616", UINT64_MAX).has_value());
  EXPECT_FALSE(tol_value_parse_number("0x1ffffffffffffffff", UINT64_MAX).has_value());
  EXPECT_FALSE(tol_value_parse_number("99999999999999999999999", UINT64_MAX).has_value());
  // A single digit above a small maximum must not slip past the check.
  EXPECT_EQ(tol_value_parse_number("5", 5), 5u);
  EXPECT_FALSE(tol_value_parse_number("7", 5).has_value());
  EXPECT_FALSE(tol_value_parse_number("1", 0).has_value());
}

// The editors' numbers: what a user types into the REG_DWORD and REG_QWORD
// editors, and the bytes' worth of number each form stands for.
TEST(EditorNumber, DwordForms) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> value;
  };
  const Case cases[] = {
      {"26", 0x1Au},
      {"0x1a", 0x1Au},
      {"0X1A", 0x1Au},
      {"032", 0x1Au},
      {"0b11010", 0x1Au},
      {"0B11010", 0x1Au},
      {"  26\t\n", 0x1Au},
      {"+26", 0x1Au},
      {"0", 0u},
      {"-1", 0xFFFFFFFFu},
      {"-0x10", 0xFFFFFFF0u},
      // The low 32 bits of a bigger number; beyond 64 bits all bits are set.
      {"0x1A2B3C4D5", 0xA2B3C4D5u},
      {"4294967296", 0u},
      {"99999999999999999999999", 0xFFFFFFFFu},
      {"12abc", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"1 2", std::nullopt},
      {"- 1", std::nullopt},
      {"+", std::nullopt},
      {"0x", std::nullopt},
      {"0xg", std::nullopt},
      {"0b", std::nullopt},
      {"0b102", std::nullopt},
      {"08", std::nullopt},
      {"1e3", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tol_value_parse_dword_text(c.text), c.value) << '"' << c.text << '"';
}

TEST(EditorNumber, QwordForms) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> value;
  };
  const Case cases[] = {
      {"26", 26u},
      {"0x1A2B3C4D5", 0x1A2B3C4D5u},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", UINT64_MAX},
      {"-18446744073709551616", UINT64_MAX},
      {"0xffffffffffffffff", UINT64_MAX},
      {"-1", UINT64_MAX},
      {"-2", UINT64_MAX - 1},
      {"01777777777777777777777", UINT64_MAX},
      // Binary is a REG_DWORD form only.
      {"0b101", std::nullopt},
      {"12abc", std::nullopt},
      {"", std::nullopt},
      {" \t ", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tol_value_parse_qword_text(c.text), c.value) << '"' << c.text << '"';
}
