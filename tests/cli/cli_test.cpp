// tolvane-cli driven from outside, as a script would use it.
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"
#include "hive_builder.h"

using namespace tol::test;

namespace {

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = g_dir_make_tmp("tolvane-cli-XXXXXX", nullptr);
    ASSERT_NE(dir_, nullptr);
  }
  void TearDown() override {
    for (const auto& f : files_) g_remove(f.c_str());
    g_rmdir(dir_);
    g_free(dir_);
  }
  std::string write(const HiveBuilder& b, const char* name = "test.hiv") {
    std::string path = std::string(dir_) + "/" + name;
    b.write_file(path);
    files_.push_back(path);
    return path;
  }
  std::string sample() {
    HiveBuilder b;
    KeySpec root{.name = "ROOT"};
    KeySpec software{.name = "Software",
                     .values = {{"", 1, utf16le_sz("default")},
                                {"Count", 4, le32(0x2A)},
                                {"Blob", 3, {0xDE, 0xAD, 0xBE, 0xEF}},
                                {"Zürich", 1, utf16le_sz("Grüezi")}}};
    // Stored order deliberately not alphabetical: ls must keep it.
    software.subkeys = {KeySpec{.name = "Zeta"}, KeySpec{.name = "alpha"}, KeySpec{.name = "Mid"}};
    software.keep_order = true;
    software.list = ListKind::li;
    root.subkeys = {software};
    b.tree(root);
    return write(b);
  }

  gchar* dir_ = nullptr;
  std::vector<std::string> files_;
};

TEST_F(CliTest, UsageErrorsExitTwo) {
  EXPECT_EQ(cli({}).status, 2);
  Outcome r = cli({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tolvane-cli: ", 0), 0u) << r.err;
  EXPECT_EQ(cli({"ls"}).status, 2);
  EXPECT_EQ(cli({"get", "x"}).status, 2);
  Outcome help = cli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* c : {"info", "ls", "values", "get"})
    EXPECT_NE(help.out.find(c), std::string::npos) << c;
}

// The manual page is kept by hand: it must name every command the tool
// lists, and carry the version the tool prints.
TEST_F(CliTest, ManualPageNamesEveryCommandAndTheVersion) {
  gchar* page = nullptr;
  ASSERT_TRUE(g_file_get_contents(TOLVANE_CLI_MAN, &page, nullptr, nullptr));
  const std::string man = page;
  g_free(page);
  const Outcome help = cli({"--help"});
  std::istringstream lines(help.out);
  int commands = 0;
  for (std::string line; std::getline(lines, line);) {
    // "  NAME ARGS": a command; "      text" and "  --option" are not.
    if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ' || line[2] == '-') continue;
    const std::string name = line.substr(2, line.find(' ', 2) - 2);
    ++commands;
    EXPECT_NE(man.find(".BI \"" + name + " "), std::string::npos) << name;
  }
  EXPECT_GE(commands, 20);
  for (const char* option : {"\\-\\-force", "\\-\\-no\\-logs", "\\-\\-json", "\\-\\-version", ".SH EXIT STATUS",
                             ".SH JSON OUTPUT"})
    EXPECT_NE(man.find(option), std::string::npos) << option;
  const Outcome version = cli({"--version"});
  EXPECT_EQ(version.status, 0);
  ASSERT_EQ(version.out.rfind("tolvane-cli ", 0), 0u) << version.out;
  const std::string number = version.out.substr(12, version.out.size() - 13);
  EXPECT_NE(man.find("\"Tolvane " + number + "\""), std::string::npos) << number;
}

// --json: every line parses, data keep their bytes and a decoded form, and a
// name that is not valid UTF-16 keeps its stored bytes.
TEST_F(CliTest, JsonOutputParsesAndKeepsEveryName) {
  HiveBuilder b;
  const BuiltTree t = b.tree(KeySpec{
      .name = "ROOT",
      .subkeys = {KeySpec{.name = "K",
                          .values = {{"v", 1, utf16le_sz("hi")},
                                     {"n", 4, le32(7)},
                                     {"m", 7, multi_sz({"a", "b"})}}},
                  KeySpec{.name = "L"}}});
  // "v" and "L" become a lone high surrogate stored as UTF-16.
  const std::uint32_t vk = t.value("K", "v");
  b.patch_u16(vk, 0x02, 2);
  b.patch_u16(vk, 0x10, 0);
  b.patch_bytes(vk, 0x14, Bytes{0x00, 0xD8});
  b.patch_u16(t.key("L"), 0x02, 0);
  b.patch_u16(t.key("L"), 0x48, 2);
  b.patch_bytes(t.key("L"), 0x4C, Bytes{0x00, 0xD8});
  const std::string hive = write(b, "json.hiv");
  // Python reads each line as JSON and prints what the test looks at.
  auto parsed = [&](const std::vector<std::string>& args, const char* expr) {
    std::vector<std::string> argv{"--json"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Outcome r = cli(argv);
    EXPECT_NE(r.status, 2) << r.err;
    const std::string script = std::string("import json,sys\nrows=[json.loads(l) for l in sys.stdin]\nprint(") + expr + ")";
    const std::string file = std::string(dir_) + "/out.json";
    HiveBuilder::write_bytes(file, Bytes(r.out.begin(), r.out.end()));
    files_.push_back(file);
    const Outcome py = run({"sh", "-c", "python3 -c \"$0\" < \"$1\"", script, file});
    EXPECT_EQ(py.status, 0) << py.err << r.out;
    return py.out;
  };
  EXPECT_EQ(parsed({"ls", hive}, "[(r['name'], r.get('name_hex')) for r in rows]"),
            "[('K', None), ('?', '00d8')]\n");
  EXPECT_EQ(parsed({"values", hive, "K"},
                   "[(r['name'], r.get('name_hex'), r['type_name'], r['data_hex'], r.get('text'), "
                   "r.get('number'), r.get('strings')) for r in rows]"),
            "[('?', '00d8', 'REG_SZ', '680069000000', 'hi', None, None), "
            "('n', None, 'REG_DWORD', '07000000', None, 7, None), "
            "('m', None, 'REG_MULTI_SZ', '61000000620000000000', None, None, ['a', 'b'])]\n");
  EXPECT_EQ(parsed({"get", hive, "K", "n"}, "rows[0]['number']"), "7\n");
  EXPECT_EQ(parsed({"info", hive}, "rows[0]['checksum']['ok'], rows[0]['transaction_logs']['examined']"),
            "True False\n");
  EXPECT_EQ(parsed({"check", hive}, "type(rows[0]['problems']).__name__, rows[0]['keys']"),
            "list 3\n");
  EXPECT_EQ(parsed({"search", hive, "hi", "--no-keys"},
                   "[(r['path'], r['value_name'], r['type_name']) for r in rows]"),
            "[('K', '?', 'REG_SZ')]\n");
}

TEST_F(CliTest, OpenErrorsAreReportedWithTheEngineMessage) {
  Outcome r = cli({"info", std::string(dir_) + "/missing.hiv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: Cannot open the file\n");

  std::string small = std::string(dir_) + "/small";
  HiveBuilder::write_bytes(small, Bytes(100, 'r'));
  files_.push_back(small);
  r = cli({"ls", small});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: File is too small — it is not a registry hive\n");
}

TEST_F(CliTest, LsKeepsStoredOrderAndMatchesPathsCaseInsensitively) {
  std::string hive = sample();
  EXPECT_EQ(cli({"ls", hive}).out, "Software\n");
  EXPECT_EQ(cli({"ls", hive, "\\"}).out, "Software\n");
  EXPECT_EQ(cli({"ls", hive, "SOFTWARE"}).out, "Zeta\nalpha\nMid\n");
  EXPECT_EQ(cli({"ls", hive, "\\software\\"}).out, "Zeta\nalpha\nMid\n");
  Outcome r = cli({"ls", hive, "Software\\Nope"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Software\\Nope"), std::string::npos);
}

TEST_F(CliTest, ValuesShowTheValueListTexts) {
  std::string hive = sample();
  Outcome r = cli({"values", hive, "Software"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "(Default)\tREG_SZ\tdefault\n"
            "Count\tREG_DWORD\t0x0000002a (42)\n"
            "Blob\tREG_BINARY\tde ad be ef (4 B)\n"
            "Zürich\tREG_SZ\tGrüezi\n");
}

TEST_F(CliTest, GetWritesRawBytes) {
  std::string hive = sample();
  Outcome r = cli({"get", hive, "software", "COUNT"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("\x2a\0\0\0", 4));
  Outcome def = cli({"get", hive, "Software"});
  EXPECT_EQ(def.status, 0);
  EXPECT_EQ(def.out, std::string("d\0e\0f\0a\0u\0l\0t\0\0\0", 16));
  Outcome missing = cli({"get", hive, "Software", "Nope"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "tolvane-cli: no such value: Nope\n");
}

TEST_F(CliTest, InfoReportsChecksumAndPendingLogs) {
  HiveBuilder clean;
  clean.tree(KeySpec{.name = "CMI-CreateHive{X}"});
  clean.set_sequence(7, 7);
  Outcome r = cli({"info", write(clean, "clean.hiv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("root key name: CMI-CreateHive{X}\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("primary sequence number: 7\n"), std::string::npos);
  EXPECT_NE(r.out.find("checksum: ok"), std::string::npos);
  EXPECT_NE(r.out.find("dirty: no\n"), std::string::npos);

  HiveBuilder dirty;
  dirty.tree(KeySpec{.name = "ROOT"});
  dirty.set_sequence(9, 8);
  dirty.override_checksum(0x12345678);
  r = cli({"info", write(dirty, "dirty.hiv")});
  EXPECT_NE(r.out.find("checksum: mismatch (stored 0x12345678"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dirty: yes"), std::string::npos);

  HiveBuilder old;
  old.set_minor_version(3);
  old.tree(KeySpec{.name = "ROOT"});
  EXPECT_NE(cli({"info", write(old, "old.hiv")}).out.find("version: 1.3\n"), std::string::npos);
}

TEST_F(CliTest, EditRefusalsSayWhyAndDamageIsWarnedOnce) {
  HiveBuilder sound;
  sound.tree(KeySpec{.name = "ROOT",
                     .subkeys = {KeySpec{.name = "Software",
                                         .subkeys = {KeySpec{.name = "Zeta"}, KeySpec{.name = "alpha"}}}}});
  const std::string hive = write(sound, "sound.hiv");
  Outcome r = cli({"renkey", hive, "Software\\Zeta", "ALPHA"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: cannot rename key Software\\Zeta to \"ALPHA\": a key named "
                   "\"alpha\" already exists\n");
  r = cli({"rmval", hive, "Software", "Nope"});
  EXPECT_EQ(r.err, "tolvane-cli: cannot delete value Nope: there is no value named \"Nope\"\n");

  // A and B share one subkey list: editing below B would change A too.
  HiveBuilder b;
  const BuiltTree t = b.tree(KeySpec{.name = "ROOT", .subkeys = {KeySpec{.name = "A"}, KeySpec{.name = "B"}}});
  b.patch_u32(t.key("B"), 0x1C, b.li({b.nk(NkRecord{.name = encode_name("x"), .parent = t.key("A")})}));
  b.patch_u32(t.key("B"), 0x14, 1);
  b.patch_u32(t.key("A"), 0x1C, b.read_u32(t.key("B"), 0x1C));
  b.patch_u32(t.key("A"), 0x14, 1);
  const std::string damaged = write(b, "damaged.hiv");
  r = cli({"mkkey", damaged, "B\\New"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tolvane-cli: warning: " + damaged + " is damaged ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tolvane-cli: cannot create key \"New\": the hive is damaged here: the "
                       "subkey list at "),
            std::string::npos)
      << r.err;
  r = cli({"set", damaged, "\\", "v", "REG_DWORD", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace

namespace {

TEST_F(CliTest, RepairListsDropsAndSizesAndNeverOverwrites) {
  HiveBuilder b;
  KeySpec root{.name = "ROOT"};
  root.subkeys = {KeySpec{.name = "Dup"}, KeySpec{.name = "DUP"}, KeySpec{.name = "Other"}};
  root.keep_order = true;
  root.list = ListKind::li;
  b.tree(root);
  const std::string in = write(b);
  const std::string out = std::string(dir_) + "/repaired.hiv";
  files_.push_back(out);

  Outcome r = cli({"repair", in, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("dropped: DUP: an earlier sibling has the same name\n"), std::string::npos)
      << r.out;
  GStatBuf before{};
  GStatBuf after{};
  ASSERT_EQ(g_stat(in.c_str(), &before), 0);
  ASSERT_EQ(g_stat(out.c_str(), &after), 0);
  EXPECT_NE(r.out.find("size: " + std::to_string(before.st_size) + " -> " +
                       std::to_string(after.st_size) + " bytes\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(cli({"check", out}).status, 0);

  r = cli({"repair", in, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tolvane-cli: cannot repair \"" + in + "\": ", 0), 0u) << r.err;
  EXPECT_EQ(cli({"repair", in}).status, 2);
}

}  // namespace

namespace {

// A dirty hive beside its LOG1: the file has Keep, the log adds New.
class DirtyCli : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    HiveBuilder before;
    before.tree(KeySpec{.name = "ROOT", .subkeys = {KeySpec{.name = "Keep"}}});
    before.set_sequence(41, 40);
    HiveBuilder after;
    after.tree(KeySpec{.name = "ROOT", .subkeys = {KeySpec{.name = "Keep"}, KeySpec{.name = "New"}}});
    before_ = before.image();
    LogEntrySpec entry;
    entry.sequence = 40;
    entry.bins_size = after.bins_size();
    entry.pages = changed_pages(before_, after.image());
    log_ = new_format_log(before_, 40, {entry});
  }
  std::string place(const char* name, bool with_log = true) {
    const std::string hive = file(name, before_);
    if (with_log) file((std::string(name) + ".LOG1").c_str(), log_);
    return hive;
  }
  std::string file(const char* name, const Bytes& bytes) {
    const std::string path = std::string(dir_) + "/" + name;
    HiveBuilder::write_bytes(path, bytes);
    files_.push_back(path);
    return path;
  }
  Bytes before_, log_;
};

TEST_F(DirtyCli, EveryCommandSeesTheLoggedChangesUnlessToldNotTo) {
  const std::string hive = place("NTUSER.DAT");
  Outcome r = cli({"info", hive});
  EXPECT_NE(r.out.find("dirty: no\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("transaction logs: 1 entry applied from NTUSER.DAT.LOG1 (sequence 40\u201340)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(cli({"ls", hive}).out, "Keep\nNew\n");
  EXPECT_EQ(cli({"--no-logs", "ls", hive}).out, "Keep\n");
  r = cli({"info", hive, "--no-logs"});
  EXPECT_NE(r.out.find("dirty: yes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("transaction logs: not applied (--no-logs)\n"), std::string::npos);

  // Applied in full: editing needs no --force, and the save keeps New.
  r = cli({"mkkey", hive, "Keep\\Edited"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(cli({"--no-logs", "ls", hive}).out, "Keep\nNew\n");
  EXPECT_NE(cli({"info", hive}).out.find("transaction logs: not needed\n"), std::string::npos);
  EXPECT_EQ(HiveBuilder::read_bytes(hive + ".LOG1"), log_) << "logs are never touched";
}

TEST_F(DirtyCli, RecoverWritesANewCleanFileOnly) {
  const std::string hive = place("SYSTEM");
  const std::string out = std::string(dir_) + "/recovered";
  files_.push_back(out);
  Outcome r = cli({"recover", hive, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "transaction logs: 1 entry applied from SYSTEM.LOG1 (sequence 40\u201340)\n");
  EXPECT_EQ(HiveBuilder::read_bytes(hive), before_);
  EXPECT_EQ(cli({"--no-logs", "ls", out}).out, "Keep\nNew\n");
  EXPECT_NE(cli({"info", out}).out.find("secondary sequence number: 41\n"), std::string::npos);
  r = cli({"recover", hive, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
  r = cli({"recover", out, std::string(dir_) + "/again"});
  EXPECT_EQ(r.err, "tolvane-cli: cannot recover \"" + out + "\": the hive is clean: there is nothing to recover\n");
}

TEST_F(DirtyCli, UnappliedLogsRefuseEditsAndForceSaysWhatIsLost) {
  const std::string hive = place("SOFTWARE", /*with_log=*/false);
  Outcome r = cli({"mkkey", hive, "X"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: the hive is dirty and its transaction logs could not be applied "
                   "(no log files): saving would discard the changes they hold; use --force to "
                   "edit it anyway\n");
  r = cli({"recover", hive, std::string(dir_) + "/none"});
  EXPECT_EQ(r.err, "tolvane-cli: cannot recover \"" + hive + "\": not applied: no log files\n");
  r = cli({"mkkey", hive, "X", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("transaction logs of " + hive + " that could not be applied (no log files) "
                       "will be lost"),
            std::string::npos)
      << r.err;
}

}  // namespace
