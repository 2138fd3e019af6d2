// .reg export: block and value-line text, byte-list wrapping, the depth limit,
// damaged subkey lists, the streaming and file outputs, and the round trip
// through import.
#include "hive/check.h"
#include "hive/format.h"
#include "hive/save.h"
#include "reg_fixture.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

class RegExport : public RegTest {};

TEST_F(RegExport, BlocksAndDataParts) {
  auto hive = build(key("ROOT", {key("A", {key("A1")}, {val("v", 4, le32(1))}), key("B")},
                        {val("", 1, utf16le_sz("d"))}));
  // Pre-order, values first, the start key under its stored name.
  EXPECT_EQ(tol_reg_export_text(*hive, tree_.root),
            kHeader + "[ROOT]\n@=\"d\"\n\n[ROOT\\A]\n\"v\"=dword:00000001\n\n[ROOT\\A\\A1]\n\n"
                      "[ROOT\\B]\n\n");
  EXPECT_EQ(tol_reg_export_text(*hive, tree_.key("A\\A1")), kHeader + "[A1]\n\n");

  hive = build(key("ROOT", {}, {val("q\"b\\", 1, utf16le_sz("say \"hi\" C:\\x")),
                                val("tab\t", 1, {0, 0}), val("d3", 4, {1, 2, 3}), val("d0", 4, {}),
                                val("bin0", 3, {}), val("qw", 11, {1, 0, 0, 0, 0, 0, 0, 0}),
                                val("odd", 0x100, {0xFF}), val("b27", 3, pattern(27))}));
  const std::string text = tol_reg_export_text(*hive, tree_.root);
  const Bytes p = pattern(27);
  std::string b27 = "\"b27\"=hex:";
  for (std::size_t i = 0; i < p.size(); ++i) {
    char b[8];
    std::snprintf(b, sizeof b, i == 0 ? "%02x" : i == 26 ? ",\\\n  %02x" : ",%02x", p[i]);
    b27 += b;
  }
  for (const std::string& line :
       {std::string("\"q\\\"b\\\\\"=\"say \\\"hi\\\" C:\\\\x\"\n"), std::string("\"tab\t\"=\"\"\n"),
        std::string("\"d3\"=hex(4):01,02,03\n"), std::string("\"d0\"=hex(4):\n"),
        std::string("\"bin0\"=hex:\n"), std::string("\"qw\"=hex(b):01,00,00,00,00,00,00,00\n"),
        std::string("\"odd\"=hex(100):ff\n"), b27 + "\n"})
    EXPECT_THAT(text, HasSubstr(line));
}

// Names with line breaks cannot be written; their rest must never come back
// as lines of their own, such as a deletion of the destination.
TEST_F(RegExport, NamesWithLineBreaksAreLeftOutNotInjected) {
  auto hive = build(key("ROOT", {key("D"), key("S", {key("x\n[-]", {key("under")}), key("ok")},
                                                {val("v\r\n[-]", 4, le32(1)), val("w", 4, le32(2))})}));
  const std::string text = tol_reg_export_text(*hive, tree_.key("S"));
  EXPECT_THAT(text, HasSubstr("; pominieto klucz - nazwa zawiera znak konca wiersza\n"));
  EXPECT_THAT(text, HasSubstr("; pominieto wartosc - nazwa zawiera znak konca wiersza\n"));
  EXPECT_THAT(text, ::testing::Not(HasSubstr("under")));
  const std::uint32_t d = tree_.key("D");
  EXPECT_THAT(counters(import(*hive, d, text)), ElementsAre(2, 1, 0, 0, 0));
  ASSERT_TRUE(tol_hive_find_path(*hive, "D\\S\\ok").has_value());
  EXPECT_EQ(snapshot(*hive, *tol_hive_find_path(*hive, "D\\S")).values,
            (std::vector<RegValue>{{"w", 4, le32(2)}}));
}

// Strings are quoted only when import turns the quoted text back into the
// same bytes; everything else goes out as hex(1).
TEST_F(RegExport, StringsThatWouldNotSurviveQuotingAreWrittenAsHex) {
  const std::pair<Bytes, const char*> cases[] = {
      {utf16le_sz("😀"), "\"😀\""},
      {{}, "hex(1):"},
      {utf16le("ab"), "hex(1):61,00,62,00"},
      {{0x61, 0, 0}, "hex(1):61,00,00"},
      {{0x61, 0, 0, 0, 0, 0}, "hex(1):61,00,00,00,00,00"},
      {{0x61, 0, 0, 0, 0x62, 0, 0, 0}, "hex(1):61,00,00,00,62,00,00,00"},
      {{0x00, 0xD8, 0x41, 0, 0, 0}, "hex(1):00,d8,41,00,00,00"},
      {utf16le_sz("\n"), "hex(1):0a,00,00,00"},
      {utf16le_sz("\r"), "hex(1):0d,00,00,00"},
      // A high surrogate whose partner would be the terminator, and a zero
      // string with nothing before its terminator.
      {{0x3D, 0xD8, 0, 0}, "hex(1):3d,d8,00,00"},
      {{0, 0}, "\"\""},
      {utf16le_sz("\t\x7f\xef\xbf\xbf"), "\"\t\x7f\xef\xbf\xbf\""},
  };
  for (const auto& [data, part] : cases) {
    auto hive = build(key("ROOT", {}, {val("s", 1, data)}));
    EXPECT_EQ(tol_reg_export_text(*hive, tree_.root), kHeader + "[ROOT]\n\"s\"=" + part + "\n\n");
  }
}

TEST_F(RegExport, DepthLimitAndSelfNamingSubkeyLists) {
  KeySpec chain = key("K299");
  for (int i = 298; i >= 0; --i) chain = key("K" + std::to_string(i), {chain});
  auto hive = build(key("ROOT", {chain}));
  std::string text = tol_reg_export_text(*hive, tree_.key("K0"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '['), 257);
  EXPECT_THAT(text, HasSubstr("\\K256]\n\n; przerwano - przekroczono maksymalna glebokosc (256), "
                              "mozliwy cykl w danych\n"));
  EXPECT_EQ(text.substr(text.size() - 7), "danych\n");

  // A key listing itself twice would double the walk on every level.
  HiveBuilder b;
  tree_ = b.tree(key("ROOT", {key("K", {}, {val("v", 3, {1})})}));
  const std::uint32_t k = tree_.key("K");
  b.patch_u32(k, TOL_NK_SUBKEY_COUNT, 2);
  b.patch_u32(k, TOL_NK_SUBKEY_LIST, b.li({k, k}));
  hive = open(b);
  text = tol_reg_export_text(*hive, k);
  EXPECT_THAT(text, HasSubstr("maksymalna glebokosc (256)"));
  EXPECT_LT(text.size(), std::size_t{1} << 20);
}

TEST_F(RegExport, StreamedPiecesAndFilesHoldTheSameText) {
  std::vector<ValueSpec> values;
  for (std::uint32_t i = 0; i < 40; ++i) values.push_back(val(std::to_string(i), 3, pattern(3000, i)));
  auto hive = build(key("ROOT", {key("A", {}, values)}));
  const std::string whole = tol_reg_export_text(*hive, tree_.root);
  std::string joined;
  int calls = 0;
  TolRegOutput out(
      [&](std::string_view piece) {
        joined.append(piece);
        return ++calls > 0;
      },
      4096);
  EXPECT_TRUE(tol_reg_export(out, *hive, tree_.root));
  EXPECT_EQ(joined, whole);
  EXPECT_GT(calls, 40);
  calls = 0;
  TolRegOutput refused([&](std::string_view) { return ++calls == 1; }, 4096);
  EXPECT_FALSE(tol_reg_export(refused, *hive, tree_.root));
  EXPECT_EQ(calls, 2);  // the walk stops at the first refusal

  const std::string file = path("out.reg");
  ASSERT_TRUE(g_file_set_contents(file.c_str(), "older and longer contents", -1, nullptr));
  ASSERT_TRUE(tol_reg_export_file(*hive, tree_.root, file, nullptr));
  gchar* contents = nullptr;
  ASSERT_TRUE(g_file_get_contents(file.c_str(), &contents, nullptr, nullptr));
  EXPECT_EQ(contents, whole);
  g_free(contents);
  GDir* dir = g_dir_open(dir_.c_str(), 0, nullptr);
  while (const char* n = g_dir_read_name(dir)) EXPECT_FALSE(g_str_has_prefix(n, "out.reg.")) << n;
  g_dir_close(dir);
  GError* error = nullptr;
  EXPECT_FALSE(tol_reg_export_file(*hive, tree_.root, dir_ + "/no/out.reg", &error));
  EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT));
  g_clear_error(&error);
}

TEST_F(RegExport, ImportOfTheExportRecreatesTheSubtreeByteForByte) {
  std::vector<ValueSpec> values = {
      val("", 1, utf16le_sz("default")), val("q\"\\\t", 1, utf16le_sz("C:\\\"x\"\ttab")),
      val("astral 😀", 1, utf16le_sz("日本語 😀")), val("terminator", 1, {0, 0}),
      val("empty", 1, {}), val("unterminated", 1, utf16le("abc")), val("odd", 1, {0x61, 0, 0}),
      val("inner-zero", 1, {0x61, 0, 0, 0, 0x62, 0, 0, 0}), val("surrogate", 1, {0, 0xDC, 0, 0}),
      val("crlf", 1, utf16le_sz("a\r\nb")), val("big-sz", 1, utf16le_sz(std::string(20000, 'w'))),
      val("dword", 4, le32(0x80000001)), val("short-dword", 4, {1, 2, 3}),
      val("big", 3, pattern(40000)), val("unknown", 0xFFFFFFFF, pattern(3)),
  };
  for (std::uint32_t type : {0u, 2u, 5u, 6u, 7u, 8u, 9u, 10u, 11u})
    values.push_back(val("type" + std::to_string(type), type, pattern(type * 5 + 1, type)));
  ValueSpec latin1 = val("Zürich", 1, utf16le_sz("Grüezi"));
  latin1.form = NameForm::Latin1;
  values.push_back(latin1);
  KeySpec latin1_key = key("Grüße", {}, {val("v", 3, {1})});
  latin1_key.form = NameForm::Latin1;
  auto hive = build(key(
      "ROOT", {key("X", {key("Ünï 日本", {key("deeper")}), latin1_key}, values), key("Y")}));
  const RegTree original = snapshot(*hive, tree_.key("X"));
  const std::string text = tol_reg_export_text(*hive, tree_.key("X"));

  for (int pass = 0; pass < 2; ++pass) {  // again: everything is found in place
    EXPECT_THAT(counters(import(*hive, tree_.key("Y"), text)), ElementsAre(4, 26, 0, 0, 0));
    EXPECT_THAT(subkey_names(*hive, tree_.key("Y")), ElementsAre("X"));
  }
  ASSERT_TRUE(tol_hive_save(*hive, nullptr));
  auto reopened = tol_hive_open(hive->path, nullptr);
  ASSERT_TRUE(reopened);
  const auto copy = tol_hive_find_path(*reopened, "Y\\X");
  ASSERT_TRUE(copy);
  EXPECT_EQ(snapshot(*reopened, *copy), original);
  EXPECT_EQ(tol_reg_export_text(*reopened, *copy), text);
  EXPECT_TRUE(tol_hive_check(*reopened).ok());
}

}  // namespace
}  // namespace tol::test
