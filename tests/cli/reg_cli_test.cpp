// tolvane-cli export and import, and their agreement with hivex.
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "../hive/peer_tools.h"
#include "cli_run.h"
#include "hive_builder.h"

using namespace tol::test;

namespace {

// hivexregedit prints a line in Latin-1 when it fits; every line as UTF-8.
std::vector<std::string> utf8_lines(const std::string& text) {
  std::vector<std::string> result = lines(text);
  for (std::string& line : result) {
    if (g_utf8_validate(line.c_str(), static_cast<gssize>(line.size()), nullptr)) continue;
    gchar* utf8 = g_convert(line.c_str(), static_cast<gssize>(line.size()), "UTF-8", "ISO-8859-1",
                            nullptr, nullptr, nullptr);
    line = utf8 ? utf8 : "";
    g_free(utf8);
  }
  return result;
}

std::string unquote(const std::string& s, std::size_t& i) {
  std::string text;
  for (++i; i < s.size() && s[i] != '"'; ++i) text += s[i] == '\\' ? s[++i] : s[i];
  ++i;
  return text;
}

// What a .reg text of either dialect says: key path below `prefix` -> value
// name -> type and bytes.
using Content = std::map<std::string, std::map<std::string, std::pair<std::uint32_t, Bytes>>>;

Content parse_reg(const std::string& text, const std::string& prefix) {
  Content content;
  std::string key, line;
  for (std::string piece : utf8_lines(text)) {
    if (!line.empty()) piece.erase(0, piece.find_first_not_of(' '));
    line += piece;
    if (!line.empty() && line.back() == '\\') {
      line.pop_back();
      continue;
    }
    const std::string l = std::exchange(line, {});
    if (l.empty() || l.rfind("Windows Registry", 0) == 0) continue;
    if (l[0] == '[') {
      key = l.substr(1, l.size() - 2);
      EXPECT_EQ(key.rfind(prefix, 0), 0u) << key;
      content[key.erase(0, prefix.size())];
      continue;
    }
    std::size_t i = 0;
    const std::string name = l[0] == '@' ? std::string() : unquote(l, i);
    const std::string data = l.substr(std::max<std::size_t>(i, 1) + 1);
    auto& [type, bytes] = content[key][name];
    if (data[0] == '"') {
      std::size_t at = 0;
      type = 1;
      bytes = utf16le_sz(unquote(data, at));
      continue;
    }
    if (data.rfind("dword:", 0) == 0) {
      type = 4;
      bytes = le32(static_cast<std::uint32_t>(std::stoul(data.substr(6), nullptr, 16)));
      continue;
    }
    type = data.rfind("hex(", 0) == 0 ? static_cast<std::uint32_t>(std::stoul(data.substr(4), nullptr, 16))
                                      : 3;
    const std::string list = data.substr(data.find(':') + 1);
    for (std::size_t at = 0; at < list.size(); at = list.find(',', at) + 1) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(list.substr(at, 2), nullptr, 16)));
      if (list.find(',', at) == std::string::npos) break;
    }
  }
  return content;
}

class RegCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = g_dir_make_tmp("tolvane-regcli-XXXXXX", nullptr);
    ASSERT_NE(dir_, nullptr);
  }
  void TearDown() override {
    for (const auto& f : files_) g_remove(f.c_str());
    g_rmdir(dir_);
    g_free(dir_);
  }
  std::string file(const char* name, const std::string* text = nullptr) {
    files_.push_back(std::string(dir_) + "/" + name);
    if (text) g_file_set_contents(files_.back().c_str(), text->data(), -1, nullptr);
    return files_.back();
  }
  std::string text_file(const char* name, const std::string& text) { return file(name, &text); }
  // Software holds every kind of data the two dialects write differently.
  std::string sample(bool dirty = false) {
    HiveBuilder b;
    if (dirty) b.set_sequence(5, 4);
    KeySpec software{.name = "Software",
                     .values = {{"", 1, utf16le_sz("default")},
                                {"Zürich", 1, utf16le_sz("Grüezi 日本")},
                                {"q\"\\", 1, {0x61, 0, 0}},
                                {"lf", 1, utf16le_sz("a\nb")},
                                {"Count", 4, le32(0x2A)},
                                {"short", 4, {1, 2}},
                                {"Blob", 3, pattern(40000)},
                                {"odd type", 0x1234, {9}},
                                {"none", 0, {}}}};
    software.subkeys = {KeySpec{.name = "Ünï", .values = {{"v", 11, pattern(8)}}},
                        KeySpec{.name = "Sub", .subkeys = {KeySpec{.name = "Deep"}}}};
    b.tree(KeySpec{.name = "ROOT", .subkeys = {software, KeySpec{.name = "Target"}}});
    const std::string p = file("test.hiv");
    b.write_file(p);
    return p;
  }

  gchar* dir_ = nullptr;
  std::vector<std::string> files_;
};

TEST_F(RegCli, ExportStreamsTheTextItWritesToAFile) {
  const std::string hive = sample();
  const Outcome out = cli({"export", hive, "software"});
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out.rfind("Windows Registry Editor Version 5.00\n\n[Software]\n", 0), 0u);
  EXPECT_GT(out.out.size(), 120000u);  // more than one piece of output
  const std::string reg = file("out.reg");
  EXPECT_EQ(cli({"export", hive, "Software", "-o", reg}).status, 0);
  gchar* written = nullptr;
  ASSERT_TRUE(g_file_get_contents(reg.c_str(), &written, nullptr, nullptr));
  EXPECT_EQ(written, out.out);
  g_free(written);

  // --stat counts what the text holds, without writing it.
  std::size_t keys = 0, values = 0;
  for (std::size_t at = 0; at < out.out.size(); at = out.out.find('\n', at) + 1) {
    keys += out.out[at] == '[';
    values += out.out[at] == '"' || out.out[at] == '@';
    if (out.out.find('\n', at) == std::string::npos) break;
  }
  const std::string counts = std::to_string(keys) + " keys, " + std::to_string(values) + " values, " +
                             std::to_string(out.out.size()) + " bytes\n";
  EXPECT_EQ(cli({"export", hive, "Software", "--stat"}).out, counts);
  EXPECT_EQ(cli({"--json", "export", hive, "Software", "--stat"}).out,
            "{\"keys\":" + std::to_string(keys) + ",\"values\":" + std::to_string(values) +
                ",\"bytes\":" + std::to_string(out.out.size()) + "}\n");
  EXPECT_GT(keys, 1u);
  EXPECT_EQ(cli({"export", hive, "Software", "--stat", "-o", reg}).status, 2);

  EXPECT_EQ(cli({"export", hive, "Nope"}).status, 1);
  EXPECT_EQ(cli({"export", hive, "Software", "-o", std::string(dir_) + "/no/x.reg"}).status, 1);
  EXPECT_EQ(cli({"export", hive}).status, 2);
  EXPECT_EQ(cli({"export", hive, "Software", "-o"}).status, 2);
}

TEST_F(RegCli, ImportSavesAndPrintsTheSummary) {
  const std::string hive = sample(true);
  const std::string reg = text_file("in.reg", "[A\\B]\n\"v\"=dword:7\n@=\"x\"\n[-Software]\n");
  // A hive Windows still holds changes for in its logs needs --force.
  Outcome r = cli({"import", hive, "Target", reg});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  r = cli({"import", hive, "Target", reg, "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Imported: 1 keys, 2 values (deleted 0 keys, 0 values)\n");
  EXPECT_EQ(cli({"values", hive, "Target\\A\\B"}).out,
            "v\tREG_DWORD\t0x00000007 (7)\n(Default)\tREG_SZ\tx\n");

  // Lines with errors do not stop the rest from being saved.
  r = cli({"import", hive, "", text_file("bad.reg", "[C]\n\"w\"=dword:zz\n[-Target]\n")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Imported: 1 keys, 0 values (deleted 1 keys, 0 values) — the file contained errors\n");
  EXPECT_EQ(cli({"ls", hive}).out, "C\nSoftware\n");

  EXPECT_EQ(cli({"import", hive, "", std::string(dir_) + "/missing.reg"}).status, 1);
  EXPECT_EQ(cli({"import", hive, "Nope", reg}).status, 1);
  EXPECT_EQ(cli({"import", hive, ""}).status, 2);
}

TEST_F(RegCli, HivexReadsTheSameContentInBothDirections) {
  TOL_REQUIRE_TOOL("hivexregedit");
  const std::string hive = sample();
  const Outcome theirs = run({"hivexregedit", "--export", hive, "\\Software"});
  ASSERT_EQ(theirs.status, 0) << theirs.err;
  const Content content = parse_reg(cli({"export", hive, "Software"}).out, "Software");
  EXPECT_EQ(content.size(), 4u);
  EXPECT_EQ(content, parse_reg(theirs.out, "\\Software"));

  // Our export imported elsewhere reads the same for hivex, and the hive is sound.
  const std::string reg = file("ours.reg");
  ASSERT_EQ(cli({"export", hive, "Software", "-o", reg}).status, 0);
  ASSERT_EQ(cli({"import", hive, "Target", reg}).status, 0);
  const Outcome copied = run({"hivexregedit", "--export", hive, "\\Target\\Software"});
  ASSERT_EQ(copied.status, 0) << copied.err;
  EXPECT_EQ(parse_reg(copied.out, "\\Target\\Software"), content);
  EXPECT_EQ(cli({"check", hive}).status, 0);
  if (installed("hivexsh")) {
    const Outcome sh = run({"hivexsh", "-f", text_file("script", "cd \\Target\\Software\\Sub\\Deep\nlsval\n"), hive});
    EXPECT_EQ(sh.status, 0);
    EXPECT_EQ(sh.err, "");
  }

  // hivex's own dialect (as UTF-8) imports to the same content.
  std::string utf8;
  for (const std::string& line : utf8_lines(theirs.out)) utf8 += line + "\n";
  ASSERT_EQ(cli({"mkkey", hive, "Other"}).status, 0);
  ASSERT_EQ(cli({"import", hive, "Other", text_file("theirs.reg", utf8)}).status, 0);
  EXPECT_EQ(parse_reg(cli({"export", hive, "Other\\Software"}).out, "Software"), content);
}

TEST_F(RegCli, DiffLinesCountsStatusesAndItsRegImportsBack) {
  const std::string left = sample();
  const std::string right = file("right.hiv");
  const Bytes original = HiveBuilder::read_bytes(left);
  HiveBuilder::write_bytes(right, original);
  for (const std::vector<std::string>& edit : std::vector<std::vector<std::string>>{
           {"set", right, "software", "COUNT", "REG_DWORD", "43"},
           {"rmval", right, "Software", "none"},
           {"set", right, "Software\\Sub", "new one", "REG_SZ", "hi"},
           {"rmkey", right, "Software\\Ünï"},
           {"mkkey", right, "Target\\Added\\Deeper"},
           {"set", right, "", "", "REG_SZ", "root default"}})
    ASSERT_EQ(cli(edit).status, 0) << edit[0];

  const std::string want =
      "+\tvalue\t\t\n"
      "~\tvalue\tSoftware\tCount\n"
      "-\tvalue\tSoftware\tnone\n"
      "+\tvalue\tSoftware\\Sub\tnew one\n"
      "-\tkey\tSoftware\\Ünï\n"
      "+\tkey\tTarget\\Added\n";
  Outcome r = cli({"diff", left, "", right, ""});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(cli({"diff", left, "SOFTWARE", right, "Software\\"}).out,
            "~\tvalue\t\tCount\n-\tvalue\t\tnone\n+\tvalue\tSub\tnew one\n-\tkey\tÜnï\n");
  r = cli({"--json", "diff", left, "", right, ""});
  EXPECT_EQ(lines(r.out).size(), 6u);
  EXPECT_EQ(lines(r.out)[1],
            "{\"sign\":\"~\",\"noun\":\"value\",\"kind\":\"value_changed\",\"path\":\"Software\","
            "\"value\":\"Count\",\"type_differs\":false,\"data_differs\":true}");
  EXPECT_EQ(lines(r.out)[4],
            "{\"sign\":\"-\",\"noun\":\"key\",\"kind\":\"key_only_left\",\"path\":\"Software\\\\Ünï\","
            "\"keys\":1,\"values\":1}");
  const std::string counts =
      "key_only_left\t1\nkey_only_right\t1\nvalue_only_left\t1\nvalue_only_right\t2\n"
      "value_changed\t1\nclass_changed\t0\nsecurity_changed\t0\ntime_changed\t0\ntotal\t6\n";
  EXPECT_EQ(cli({"diff", left, "", right, "", "--stat"}).out, counts);
  EXPECT_EQ(cli({"--json", "diff", left, "", right, "", "--stat"}).out,
            "{\"key_only_left\":1,\"key_only_right\":1,\"value_only_left\":1,\"value_only_right\":2,"
            "\"value_changed\":1,\"class_changed\":0,\"security_changed\":0,\"time_changed\":0,"
            "\"total\":6}\n");

  // One file on both sides; descriptors only with --security.
  r = cli({"diff", left, "", left, "", "--security", "--times"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(cli({"diff", left, "Software\\Sub", left, "Software\\Sub\\Deep"}).out,
            "-\tkey\tDeep\n");
  std::string sd = cli({"sd", right, "Target"}).out;
  ASSERT_GT(sd.size(), 3u);
  sd.replace(sd.size() - 3, 2, sd.substr(sd.size() - 3, 2) == "01" ? "02" : "01");
  ASSERT_EQ(cli({"sd", right, "Target", "--set", sd.substr(0, sd.size() - 1)}).status, 0);
  EXPECT_EQ(cli({"diff", left, "", right, ""}).out, want);
  EXPECT_EQ(cli({"diff", left, "Target", right, "Target", "--security"}).out,
            "~\tsecurity\t\n+\tkey\tAdded\n");

  // The .reg form imported below the left key leaves nothing to compare.
  const std::string reg = file("diff.reg");
  r = cli({"diff", left, "", right, "", "-o", reg});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string copy = file("copy.hiv");
  HiveBuilder::write_bytes(copy, original);
  ASSERT_EQ(cli({"import", copy, "", reg}).status, 0);
  r = cli({"diff", copy, "", right, ""});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(cli({"check", copy}).status, 0);
  if (installed("hivexregedit")) {
    const Outcome theirs = run({"hivexregedit", "--export", right, "\\"});
    const Outcome ours = run({"hivexregedit", "--export", copy, "\\"});
    ASSERT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(parse_reg(ours.out, "\\"), parse_reg(theirs.out, "\\"));
  }
  r = cli({"diff", left, "", right, "", "--stat", "-o", reg});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, counts);

  // 2 for wrong usage, 3 when the comparison cannot be made.
  EXPECT_EQ(cli({"diff", left, "", right}).status, 2);
  EXPECT_EQ(cli({"diff", left, "", right, "", "--bogus"}).status, 2);
  EXPECT_EQ(cli({"diff", left, "", right, "", "-o"}).status, 2);
  EXPECT_EQ(cli({"diff", std::string(dir_) + "/missing.hiv", "", right, ""}).status, 3);
  EXPECT_EQ(cli({"diff", left, "", text_file("text.hiv", "no hive"), ""}).status, 3);
  EXPECT_EQ(cli({"diff", left, "Nope", right, ""}).status, 3);
  r = cli({"diff", left, "", right, "Nope"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "tolvane-cli: no such key: Nope\n");
  EXPECT_EQ(cli({"diff", left, "", right, "", "-o", std::string(dir_) + "/no/x.reg"}).status, 3);
}

}  // namespace
