// tolvane-cli stat, timeline and sd's SDDL, driven as a script would, with
// reglookup (times, descriptors) and the other peers as independent readers.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cli_run.h"
#include "hive_builder.h"

using namespace tol::test;

namespace {

class DetailsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = g_dir_make_tmp("tolvane-details-cli-XXXXXX", nullptr);
    ASSERT_NE(dir_, nullptr);
    hive_ = file("test.hiv");
    KeySpec root{.name = "ROOT",
                 .subkeys = {KeySpec{.name = "Software", .subkeys = {KeySpec{.name = "Run"}}},
                             KeySpec{.name = "System"}, KeySpec{.name = "Damaged"}}};
    tree_ = b_.tree(root);
    // Times (seconds after 2024-03-01T12:34:56Z): System newest, Run and the
    // root equal, Software oldest.
    const std::pair<const char*, std::uint64_t> times[] = {
        {"", 10}, {"Software", 0}, {"Software\\Run", 10}, {"System", 3600}, {"Damaged", 5}};
    for (const auto& [path, seconds] : times) {
      const std::uint64_t t = 133537700960000000ull + seconds * 10000000ull;
      b_.patch_u32(tree_.key(path), 0x04, static_cast<std::uint32_t>(t));
      b_.patch_u32(tree_.key(path), 0x08, static_cast<std::uint32_t>(t >> 32));
    }
    const Bytes cls = utf16le("Cls");
    const std::uint32_t class_cell = b_.cell(cls);
    b_.patch_u32(tree_.key("System"), 0x30, class_cell);
    b_.patch_u16(tree_.key("System"), 0x4A, static_cast<std::uint16_t>(cls.size()));
    // Damaged: a descriptor of its own whose first ACE has size 0 (the DACL
    // at 20, its first ACE at 28).
    Bytes sd = default_security_descriptor();
    sd.at(30) = 0;
    sd.at(31) = 0;
    b_.patch_u32(tree_.key("Damaged"), 0x2C, b_.sk(sd, 1));
    b_.patch_u32(tree_.sk, 0x0C, 4);
    b_.write_file(hive_);
  }
  void TearDown() override {
    for (const auto& f : files_) g_remove(f.c_str());
    g_rmdir(dir_);
    g_free(dir_);
  }
  std::string file(const char* name) {
    files_.push_back(std::string(dir_) + "/" + name);
    return files_.back();
  }
  // Python evaluates `expr` over the JSON lines the command printed.
  std::string json(const std::vector<std::string>& args, const char* expr) {
    std::vector<std::string> argv{"--json"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Outcome r = cli(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string out = file("out.json");
    HiveBuilder::write_bytes(out, Bytes(r.out.begin(), r.out.end()));
    const std::string script =
        std::string("import json,sys\nrows=[json.loads(l) for l in sys.stdin]\nprint(") + expr + ")";
    const Outcome py = run({"sh", "-c", "python3 -c \"$0\" < \"$1\"", script, out});
    EXPECT_EQ(py.status, 0) << py.err << r.out;
    return py.out;
  }

  gchar* dir_ = nullptr;
  std::vector<std::string> files_;
  std::string hive_;
  HiveBuilder b_;
  BuiltTree tree_;
};

bool has_line(const std::string& out, const std::string& line) {
  return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

TEST_F(DetailsCli, StatPrintsTheRecordAndNamesDamage) {
  Outcome r = cli({"stat", hive_, "system"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"key: \\System", "last write: 2024-03-01T13:34:56Z",
                           "flags: 0x20 (compressed name)", "class name: \"Cls\" (6 bytes at ",
                           "subkeys: 0", "values: 0"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_NE(r.out.find(", 4 references, descriptor of "), std::string::npos) << r.out;
  EXPECT_EQ(json({"stat", hive_, ""}, "rows[0]['path'], rows[0]['flag_names'], rows[0]['subkeys'], "
                                      "rows[0]['class_name'], rows[0]['security']['refcount']"),
            " ['hive entry', 'no delete', 'compressed name'] 3 None 4\n");
  EXPECT_EQ(json({"stat", hive_, "System"}, "rows[0]['last_write'], rows[0]['class_name']"),
            "2024-03-01T13:34:56Z Cls\n");

  EXPECT_EQ(cli({"stat", hive_, "Nowhere"}).status, 1);
  EXPECT_EQ(cli({"stat", hive_}).status, 2);
}

TEST_F(DetailsCli, TimelineListsNewestFirstWithinBounds) {
  Outcome r = cli({"timeline", hive_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "2024-03-01T13:34:56Z\t\\System\n"
            "2024-03-01T12:35:06Z\t\\\n"
            "2024-03-01T12:35:06Z\t\\Software\\Run\n"
            "2024-03-01T12:35:01Z\t\\Damaged\n"
            "2024-03-01T12:34:56Z\t\\Software\n");
  EXPECT_EQ(cli({"timeline", hive_, "--since", "2024-03-01T12:35:01", "--until", "2024-03-01 12:35:06Z",
                 "--limit", "2"})
                .out,
            "2024-03-01T12:35:06Z\t\\\n2024-03-01T12:35:06Z\t\\Software\\Run\n");
  EXPECT_EQ(cli({"timeline", hive_, "SOFTWARE"}).out,
            "2024-03-01T12:35:06Z\t\\Software\\Run\n2024-03-01T12:34:56Z\t\\Software\n");
  EXPECT_EQ(json({"timeline", hive_, "--limit", "1"}, "[(x['time'], x['path'], x['filetime']) for x in rows]"),
            "[('2024-03-01T13:34:56Z', 'System', 133537736960000000)]\n");

  r = cli({"timeline", hive_, "--since", "2024-02-30"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no such date"), std::string::npos) << r.err;
  EXPECT_EQ(cli({"timeline", hive_, "--limit", "0"}).status, 2);
  EXPECT_EQ(cli({"timeline", hive_, "--limit"}).status, 2);

  // reglookup reads the same times (its MTIME, in whole seconds).
  if (!installed("reglookup")) GTEST_SKIP() << "reglookup is not installed";
  const Outcome peer = run({"reglookup", "-H", "-t", "KEY", hive_});
  ASSERT_EQ(peer.status, 0) << peer.err;
  std::set<std::string> theirs, ours;
  for (const std::string& line : lines(peer.out)) {
    const auto fields = lines(std::string(line).replace(line.find(",KEY,,"), 6, "\n"));
    std::string path = fields.at(0), time = fields.at(1).substr(0, 19);
    std::replace(path.begin(), path.end(), '/', '\\');
    time[10] = 'T';
    theirs.insert(time + "Z\t" + path);
  }
  for (const std::string& line : lines(cli({"timeline", hive_}).out)) ours.insert(line);
  EXPECT_EQ(ours, theirs);
}

TEST_F(DetailsCli, SdPrintsAndStoresSddlThePeersRead) {
  EXPECT_EQ(cli({"sd", hive_, "Software", "--sddl"}).out,
            "O:BAG:SYD:(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;WD)\n");
  const Outcome decoded = cli({"sd", hive_, "Software", "--decode"});
  EXPECT_TRUE(has_line(decoded.out, "owner: BUILTIN\\Administrators (S-1-5-32-544)")) << decoded.out;
  EXPECT_TRUE(has_line(decoded.out, "  Allow Everyone (S-1-1-0): Read (0x00020019); This key and subkeys; flags: container inherit"))
      << decoded.out;
  EXPECT_EQ(json({"sd", hive_, "Software"},
                 "rows[0]['sddl'], rows[0]['dacl']['aces'][2]['rights'], rows[0]['owner']['alias']"),
            "O:BAG:SYD:(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;WD) ['Read'] BA\n");

  // Damage: hex still prints, SDDL names the offset and the reason.
  EXPECT_EQ(cli({"sd", hive_, "Damaged"}).status, 0);
  Outcome r = cli({"sd", hive_, "Damaged", "--sddl"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("security descriptor offset 30: ACE 1 of the DACL has size 0"), std::string::npos)
      << r.err;
  EXPECT_NE(json({"sd", hive_, "Damaged"}, "rows[0]['sddl'], rows[0]['error']").find("None security"),
            std::string::npos);

  // A text that does not parse leaves the file as it was.
  const Bytes before = HiveBuilder::read_bytes(hive_);
  r = cli({"sd", hive_, "Software", "--set-sddl", "O:BAD:(A;;KA;;SY)"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: SDDL position 14: expected \";\" (only object ACE types carry GUIDs)\n");
  EXPECT_EQ(HiveBuilder::read_bytes(hive_), before);
  EXPECT_EQ(cli({"sd", hive_, "Software", "--sddl", "--set-sddl", "D:"}).status, 2);

  r = cli({"sd", hive_, "Software", "--set-sddl",
           "O:SYG:SYD:AIP(A;CIIO;GA;;;CO)(A;CI;KA;;;SY)(A;CI;0x20019;;;BU)(A;CI;KR;;;S-1-15-2-2)"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string canonical = "O:SYG:SYD:PAI(A;CIIO;GA;;;CO)(A;CI;KA;;;SY)(A;CI;KR;;;BU)(A;CI;KR;;;S-1-15-2-2)";
  EXPECT_EQ(r.out, "stored a security descriptor of 140 bytes for Software: " + canonical + "\n");
  EXPECT_EQ(cli({"sd", hive_, "Software", "--sddl"}).out, canonical + "\n");
  EXPECT_EQ(cli({"sd", hive_, "Software\\Run", "--sddl"}).out,
            "O:BAG:SYD:(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;WD)\n");
  // The check passes but for the damage the fixture holds.
  EXPECT_EQ(cli({"check", hive_}).out.find("Software"), std::string::npos);

  if (installed("reglookup")) {
    const Outcome peer = run({"reglookup", "-H", "-s", "-t", "KEY", "-p", "/Software", hive_});
    EXPECT_EQ(peer.status, 0) << peer.err;
    EXPECT_NE(peer.out.find("/Software,KEY,,2024-03-01 12:34:56,S-1-5-18,S-1-5-18,,"
                            "S-1-3-0:ALLOW:GEN_A:CI IO|S-1-5-18:ALLOW:"),
              std::string::npos)
        << peer.out;
    EXPECT_NE(peer.out.find("|S-1-15-2-2:ALLOW:QRY_VAL ENUM_KEYS NOTIFY R_CONT:CI,"), std::string::npos)
        << peer.out;
  }
  if (installed("hivexsh")) {
    const std::string script = file("script.txt");
    ASSERT_TRUE(g_file_set_contents(script.c_str(), "cd \\Software\nls\n", -1, nullptr));
    const Outcome peer = run({"hivexsh", "-f", script, hive_});
    EXPECT_EQ(peer.status, 0) << peer.err;
    EXPECT_EQ(peer.out, "Run\n");
  }
  if (installed("regfexport")) {
    const Outcome peer = run({"regfexport", hive_});
    EXPECT_EQ(peer.status, 0) << peer.err;
    EXPECT_NE(peer.out.find("Key path: ROOT\\Software\\Run"), std::string::npos) << peer.out;
  }
}

}  // namespace
