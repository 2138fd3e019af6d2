// Builder hives read by independent implementations of the format (hivex,
// libregf, reglookup): if they agree with the builder, tests built on it test
// the engine against real hive layouts, not against the builder's own idea.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

class Peers : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    KeySpec root = key("ROOT");
    root.values = {
        val("", 1, utf16le_sz("default")),
        val("dw", 4, le32(0x12345678)),
        val("four", 3, {1, 2, 3, 4}),
        val("cell", 3, pattern(100, 1)),
        val("max", 3, pattern(16344, 2)),
        val("big", 3, pattern(50001, 3)),
        val("Gr\xC3\xB6\xC3\x9F" "e", 1, utf16le_sz("Gr\xC3\xBC\xC3\x9F" "e")),
    };
    KeySpec lf = key("Lf", {key("zeta"), key("Alpha"), key("beta"), key("Gamma")});
    KeySpec lh = key("Lh", {key("one"), key("two"), key("three")});
    lh.list = ListKind::lh;
    KeySpec li = key("Li", {key("x"), key("y")});
    li.list = ListKind::li;
    KeySpec ri = key("Ri", {key("k1"), key("k2"), key("k3"), key("k4"), key("k5"), key("k6")});
    ri.list = ListKind::ri;
    ri.ri_parts = {{ListKind::lf, 2}, {ListKind::li, 1}, {ListKind::lh, 3}};
    KeySpec ri_default = key("RiDefault", {key("a"), key("b"), key("c")});
    ri_default.list = ListKind::ri;
    KeySpec wide = key("Z\xC3\xBCrich", {key("\xE6\x9D\xB1\xE4\xBA\xAC")});  // Zürich, 東京
    KeySpec latin = key("Caf\xC3\xA9");
    latin.form = NameForm::Latin1;
    KeySpec emoji = key("smile\xF0\x9F\x98\x80");
    root.subkeys = {lf, lh, li, ri, ri_default, wide, latin, emoji};
    tree_ = builder_.tree(root);
    file_ = write(builder_.image());
  }


  std::set<std::string> expected_paths(const std::string& prefix, char sep, bool only_ascii) {
    std::set<std::string> paths;
    for (const auto& [path, off] : tree_.keys) {
      if (only_ascii && !ascii(path)) continue;
      std::string p = path;
      std::replace(p.begin(), p.end(), '\\', sep);
      paths.insert(path.empty() ? prefix : prefix + (prefix.back() == sep ? "" : std::string(1, sep)) + p);
    }
    return paths;
  }

  HiveBuilder builder_;
  BuiltTree tree_;
  std::string file_;
};

TEST_F(Peers, EngineReadsTheSameTree) {
  TolHivePtr hive = open(builder_);
  ASSERT_NE(hive, nullptr);
  for (const auto& [path, off] : tree_.keys) {
    EXPECT_EQ(tol_hive_find_path(*hive, path), off) << path;
    EXPECT_EQ(tol_hive_key_path(*hive, off), path);
  }
  EXPECT_THAT(subkey_names(*hive, tree_.key("Ri")), ::testing::ElementsAre("k1", "k2", "k3", "k4", "k5", "k6"));
}

TEST_F(Peers, Hivexsh) {
  TOL_REQUIRE_TOOL("hivexsh");
  const std::string script = path("script.txt");
  ASSERT_TRUE(g_file_set_contents(script.c_str(),
                                  "ls\ncd \\Lf\nls\ncd \\Ri\nls\ncd \\\nlsval dw\nlsval four\n", -1, nullptr));
  const Outcome r = run({"hivexsh", "-f", script, file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(lines(r.out), ::testing::ElementsAre(
                                "Caf\xC3\xA9", "Lf", "Lh", "Li", "Ri", "RiDefault", "smile\xF0\x9F\x98\x80",
                                "Z\xC3\xBCrich",                                      // root, Windows order
                                "Alpha", "beta", "Gamma", "zeta",                     // Lf
                                "k1", "k2", "k3", "k4", "k5", "k6",                   // Ri
                                "305419896", "\x01\x02\x03\x04"));                  // values
}

TEST_F(Peers, HivexregeditExport) {
  TOL_REQUIRE_TOOL("hivexregedit");
  const Outcome r = run({"hivexregedit", "--export", file_, "\\"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(hivexregedit_keys(r.out), expected_paths("\\", '\\', false));
  EXPECT_NE(r.out.find("\"dw\"=dword:12345678"), std::string::npos);
}

TEST_F(Peers, HivexgetBigData) {
  TOL_REQUIRE_TOOL("hivexget");
  EXPECT_EQ(hivexget_bytes(file_, "\\", "big", path("big.bin")), pattern(50001, 3));
}

TEST_F(Peers, Regfexport) {
  TOL_REQUIRE_TOOL("regfexport");
  const Outcome r = run({"regfexport", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::set<std::string> keys;
  std::map<std::string, std::string> sizes;  // value name -> "Data size" of the root's values
  std::string value;
  bool in_root = false;
  for (const auto& line : lines(r.out)) {
    if (line.rfind("Key path: ", 0) == 0) {
      keys.insert(line.substr(10));
      in_root = line == "Key path: ROOT";
    } else if (in_root && line.rfind("Value: ", 0) == 0) {
      value = line.substr(line.find(' ', 7) + 1);
    } else if (in_root && line.rfind("Data size: ", 0) == 0) {
      sizes[value] = line.substr(11);
    }
  }
  EXPECT_EQ(keys, expected_paths("ROOT", '\\', false));
  EXPECT_EQ(sizes["dw"], "4");
  EXPECT_EQ(sizes["four"], "4");
  EXPECT_EQ(sizes["cell"], "100");
  EXPECT_EQ(sizes["max"], "16344");
  EXPECT_EQ(sizes["big"], "50001");
  EXPECT_EQ(sizes["Gr\xC3\xB6\xC3\x9F" "e"], "12");
}

TEST_F(Peers, Reglookup) {
  TOL_REQUIRE_TOOL("reglookup");
  const Outcome r = run({"reglookup", "-s", file_});
  ASSERT_EQ(r.status, 0) << r.err;
  // Names and strings outside ASCII only draw warnings about the output encoding.
  for (const auto& line : lines(r.err)) {
    EXPECT_TRUE(line.find("converting") != std::string::npos || line.find("quoting") != std::string::npos)
        << line;
  }
  std::set<std::string> keys;
  std::size_t big = 0;
  for (const auto& line : lines(r.out)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    const std::string rest = line.substr(comma);
    if (rest.rfind(",KEY,", 0) == 0) {
      keys.insert(line.substr(0, comma));
      // The shared sk record parses: owner Administrators, group SYSTEM.
      EXPECT_NE(rest.find("S-1-5-32-544,S-1-5-18"), std::string::npos) << line;
    }
    if (line.rfind("//big,BINARY,", 0) == 0) big = line.size();
  }
  for (const auto& p : expected_paths("/", '/', true)) EXPECT_TRUE(keys.contains(p)) << p;
  EXPECT_EQ(keys.size(), tree_.keys.size());
  EXPECT_GT(big, 50001u);  // every byte printed, escaped or not
}

}  // namespace
}  // namespace tol::test
