// .reg import: quoted strings and hex lists, logical lines, key, deletion and
// value lines with their error rules, file encodings and hostile input.
#include "hive/check.h"
#include "reg_fixture.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Optional;

class RegImport : public RegTest {
 protected:
  // ROOT { D { X { Y }, Z }, K (values "old", "keep") }.
  TolHivePtr sample() {
    return build(key("ROOT", {key("D", {key("X", {key("Y")}), key("Z")}),
                              key("K", {}, {val("old", 3, {1}), val("keep", 3, {2})})}));
  }
};

TEST(RegText, UnquoteAndHexLists) {
  EXPECT_EQ(tol_reg_unquote("a\\\"b\\\\\\n\"rest")->text, "a\"b\\n");
  EXPECT_EQ(tol_reg_unquote("a\\\"b\\\\\\n\"rest")->end, 9u);
  for (std::string_view open : {"abc", "abc\\", "a\\\""}) EXPECT_FALSE(tol_reg_unquote(open)) << open;

  EXPECT_THAT(tol_reg_parse_hex_bytes(",,, "), ElementsAre());
  EXPECT_THAT(tol_reg_parse_hex_bytes(" 01 , ab\t,\r\nFF,zz,03"), ElementsAre(0x01, 0xAB, 0xFF));
  // As strtol reads them: sign and 0x, the low 8 bits of wide numbers,
  // LONG_MAX / LONG_MIN on overflow, "0x" without digits as 0 then "x".
  EXPECT_THAT(tol_reg_parse_hex_bytes("0x1f,+2,-1,100,123456789abcdef0123,-fffffffffffffffffff,0xg"),
              ElementsAre(0x1F, 2, 0xFF, 0, 0xFF, 0, 0));
}

TEST_F(RegImport, KeyLinesOpenOrCreatePathsBelowTheDestination) {
  auto hive = sample();
  const auto d = tree_.key("D");
  EXPECT_THAT(counters(import(*hive, d,
                              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"1\"\n"
                              "Windows Registry Editor Version 5.00\n; comment\n"
                              "[\\hkey_local_machine\\\\software\\a\\]\n  \"y\"=\"2\"\n[]\n@=\"t\"\n")),
              ElementsAre(3, 3, 0, 0, 0));
  EXPECT_THAT(subkey_names(*hive, d), ElementsAre("HKEY_LOCAL_MACHINE", "X", "Z"));
  const auto a = tol_hive_find_path(*hive, "D\\HKEY_LOCAL_MACHINE\\SOFTWARE\\A");
  ASSERT_TRUE(a);
  EXPECT_EQ(snapshot(*hive, *a).values.size(), 2u);
  EXPECT_THAT(value_of(*hive, d, ""), Optional(RegValue{"", 1, utf16le_sz("t")}));

  // Malformed key lines are errors and silence the value lines after them.
  EXPECT_THAT(counters(import(*hive, d,
                              "\"early\"=\"x\"\n[A] \n\"v\"=\"x\"\nnonsense\n[\n[B\n"
                              "[bad\xff]\n\"w\"=dword:1\n")),
              ElementsAre(0, 0, 0, 0, 4));
  EXPECT_THAT(subkey_names(*hive, d), ElementsAre("HKEY_LOCAL_MACHINE", "X", "Z"));
}

TEST_F(RegImport, DeletionLines) {
  auto hive = sample();
  const auto d = tree_.key("D");
  EXPECT_THAT(counters(import(*hive, d, "[-X]\n\"ignored\"=\"no\"\n[-Missing\\Y]\n[-X]\n[-z]\n")),
              ElementsAre(0, 0, 2, 0, 0));
  EXPECT_TRUE(subkey_names(*hive, d).empty());
  // "[-]" is the destination itself; nothing can be created below it after.
  EXPECT_THAT(counters(import(*hive, d, "[-]\n[A]\n[]\n\"v\"=\"x\"\n[-]\n")),
              ElementsAre(0, 0, 1, 0, 3));
  EXPECT_THAT(subkey_names(*hive, tree_.root), ElementsAre("K"));
  // The root key stays.
  EXPECT_THAT(counters(import(*hive, tree_.root, "[-]\n\"v\"=\"x\"\n")), ElementsAre(0, 0, 0, 0, 1));
  EXPECT_TRUE(tol_hive_check(*hive).ok());
}

TEST_F(RegImport, ValueLines) {
  auto hive = sample();
  const auto k = tree_.key("K");
  EXPECT_THAT(counters(import(*hive, k,
                              "[]\n@=\"default\"\n\"a\\\"b\"=\"x\\\"y\" ignored\n\"old\"=-\n"
                              "\"keep\"=- \n\"missing\"=-\n \"sp\" \t= \t\"v\"\nbare=1\n"
                              "\"noeq\" \"x\"\n\"open=1\n\"s\"=\"open\n\"empty\"=\n"
                              "\"upper\"=DWORD:1\n\"badutf\"=\"\xff\"\n"
                              "\"d1\"=dword:ffffffff\n\"d2\"=dword: 0x10\n\"d3\"=dword:-1\n"
                              "\"d4\"=dword:12zz\n\"d5\"=dword:1ffffffff\n\"d6\"=dword:zz\n"
                              "\"q1\"=qword:1\n\"q2\"=qword:10000000000000000\n"
                              "\"h1\"=hex(2):41,00,00,00\n\"h2\"=hex():\n\"h3\"=hex(-1):02\n"
                              "\"h4\"=hex( 2):01\n\"h5\"=hex(2)01\n\"h6\"=hex(2 ):01\n"
                              "\"h7\"=hex:01,02,zz,03\n")),
              ElementsAre(1, 14, 0, 1, 12));
  EXPECT_THAT(
      snapshot(*hive, k).values,
      ElementsAre(RegValue{"keep", 3, {2}}, RegValue{"", 1, utf16le_sz("default")},
                  RegValue{"a\"b", 1, utf16le_sz("x\"y")}, RegValue{"sp", 1, utf16le_sz("v")},
                  RegValue{"badutf", 1, {}}, RegValue{"d1", 4, Bytes(4, 0xFF)},
                  RegValue{"d2", 4, le32(0x10)}, RegValue{"d3", 4, Bytes(4, 0xFF)},
                  RegValue{"d4", 4, le32(0x12)}, RegValue{"q1", 11, {1, 0, 0, 0, 0, 0, 0, 0}},
                  RegValue{"h1", 2, {0x41, 0, 0, 0}}, RegValue{"h2", 0, {}},
                  RegValue{"h3", 0xFFFFFFFF, {2}}, RegValue{"h4", 2, {1}},
                  RegValue{"h7", 3, {1, 2}}));
}

TEST_F(RegImport, LogicalLinesAndEncodings) {
  auto hive = sample();
  const auto k = tree_.key("K");
  EXPECT_THAT(counters(import(*hive, k,
                              "\xEF\xBB\xBF[]\r\n\"bin\"=hex:01,02,\\\r\n   03,\\\n\t04\n"
                              "; comment \\\n\"swallowed\"=dword:1\n[Con\\\n  tinued]\n"
                              "\"tail\"=hex:0a,\\")),
              ElementsAre(2, 2, 0, 0, 0));
  EXPECT_THAT(value_of(*hive, k, "bin"), Optional(RegValue{"bin", 3, {1, 2, 3, 4}}));
  EXPECT_EQ(value_of(*hive, k, "swallowed"), std::nullopt);
  const auto continued = tol_hive_find_path(*hive, "K\\Continued");
  ASSERT_TRUE(continued);
  EXPECT_THAT(value_of(*hive, *continued, "tail"), Optional(RegValue{"tail", 3, {0x0A}}));

  // UTF-16LE with its mark, as Windows writes .reg files; a lone surrogate
  // and an odd last byte spoil no more than they must.
  Bytes file{0xFF, 0xFE};
  for (const Bytes& part : {utf16le("[Ünï\\日本]\r\n\"Zürich\"=\"Grüezi 😀\"\r\n[A"), Bytes{0, 0xD8},
                            utf16le("]\n\"v\"=\"x\"\n"), Bytes{0x41}})
    file.insert(file.end(), part.begin(), part.end());
  TolRegImportCounts counts;
  ASSERT_TRUE(tol_reg_import(*hive, k, file, counts, nullptr));
  EXPECT_THAT(counters(counts), ElementsAre(2, 2, 0, 0, 0));
  const auto unicode = tol_hive_find_path(*hive, "K\\Ünï\\日本");
  ASSERT_TRUE(unicode);
  EXPECT_THAT(value_of(*hive, *unicode, "Zürich"),
              Optional(RegValue{"Zürich", 1, utf16le_sz("Grüezi 😀")}));
  EXPECT_TRUE(tol_hive_find_path(*hive, "K\\A\xEF\xBF\xBD"));
}

TEST_F(RegImport, RefusalsAndSummary) {
  auto hive = sample();
  TolRegImportCounts counts;
  GError* error = nullptr;
  EXPECT_FALSE(tol_reg_import(*hive, TOL_NO_CELL, {}, counts, &error));
  EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
  EXPECT_STREQ(error->message, "invalid destination key");
  g_clear_error(&error);
  EXPECT_FALSE(tol_reg_import_from_file(*hive, tree_.root, dir_ + "/missing.reg", counts, &error));
  EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT));
  g_clear_error(&error);

  counts = {3, 5, 0, 1, 0};
  EXPECT_EQ(tol_reg_import_summary(counts), "Imported: 3 keys, 5 values (deleted 0 keys, 1 values)");
  counts.errors = 2;
  EXPECT_EQ(tol_reg_import_summary(counts),
            "Imported: 3 keys, 5 values (deleted 0 keys, 1 values) — the file contained errors");
}

TEST_F(RegImport, HostileInputLeavesASoundHive) {
  auto hive = sample();
  const auto d = tree_.key("D");
  const std::string huge(200000, 'n');
  EXPECT_THAT(counters(import(*hive, d, "[" + huge + "]\n[]\n\"" + huge + "\n\"v\"=\"" + huge)),
              ElementsAre(1, 0, 0, 0, 3));
  std::string hex = "[]\n\"big\"=hex:";
  const Bytes data = pattern(300000);
  for (std::size_t i = 0; i < data.size(); ++i) {
    char b[8];
    std::snprintf(b, sizeof b, i % 25 == 24 ? "%02x,\\\n  " : "%02x,", data[i]);
    hex += b;
  }
  EXPECT_THAT(counters(import(*hive, d, hex)), ElementsAre(1, 1, 0, 0, 0));
  EXPECT_THAT(value_of(*hive, d, "big"), Optional(RegValue{"big", 3, data}));

  // Mangled copies of a valid file: whatever they do, the hive stays sound.
  const std::string valid =
      "Windows Registry Editor Version 5.00\n\n[A\\B]\n@=\"x\"\n\"n\"=dword:00000001\n"
      "\"b\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,\\\n"
      "  1a,1b\n\"e\"=hex(2):41,00,00,00\n\"q\"=qword:5\n\"s\"=\"a\\\"b\\\\c\"\n\n"
      "[A\\C]\n\"h\"=hex(7):41,00,00,00,00,00\n\"n\"=-\n[-A\\B]\n[-X\\Y]\n[K]\n\"keep\"=-\n";
  std::uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int round = 0; round < 200; ++round) {
    std::string text = valid;
    for (int i = 0; i < 8; ++i) text[next() % text.size()] = static_cast<char>(next() & 0xFF);
    text.resize(next() % text.size());
    import(*hive, round % 2 ? d : tree_.root, text);
  }
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);

  // D lies one level below the root and no key may lie deeper than 256 levels:
  // 255 levels below D are the most a file can create.
  auto chain = [](int levels) {
    std::string path = "[";
    for (int i = 0; i < levels; ++i) path += "a\\";
    return path + "]\n\"v\"=dword:1\n";
  };
  EXPECT_THAT(counters(import(*hive, d, chain(5000))), ElementsAre(0, 0, 0, 0, 1));
  EXPECT_THAT(counters(import(*hive, d, chain(256))), ElementsAre(0, 0, 0, 0, 1));
  EXPECT_THAT(counters(import(*hive, d, chain(255))), ElementsAre(1, 1, 0, 0, 0));
  EXPECT_TRUE(tol_hive_check(*hive).ok());
}

}  // namespace
}  // namespace tol::test
