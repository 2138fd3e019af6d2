// tolvane-cli search and replace, driven from outside as a script would.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_run.h"
#include "hive_builder.h"

using namespace tol::test;

namespace {

std::string contents(const std::string& path) {
  gchar* data = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &data, &length, nullptr)) return {};
  std::string s(data, length);
  g_free(data);
  return s;
}

ino_t inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class SearchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = g_dir_make_tmp("tolvane-search-cli-XXXXXX", nullptr);
    ASSERT_NE(dir_, nullptr);
    hive_ = std::string(dir_) + "/test.hiv";
  }
  void TearDown() override {
    for (const char* f : {"test.hiv", "script.txt"})
      g_remove((std::string(dir_) + "/" + f).c_str());
    g_rmdir(dir_);
    g_free(dir_);
  }
  void write(const KeySpec& root, bool dirty = false) {
    HiveBuilder b;
    b.tree(root);
    if (dirty) b.set_sequence(5, 4);
    b.write_file(hive_);
  }
  void sample(bool dirty = false) {
    KeySpec run{.name = "Run",
                .values = {{"RunOnce", 1, utf16le_sz("foo")},
                           {"", 1, utf16le_sz("say RUN")},
                           {"Count", 4, le32(7)}}};
    KeySpec software{.name = "Software", .subkeys = {run}, .values = {{"foo", 7, {0, 0}}}};
    write(KeySpec{.name = "ROOT", .subkeys = {software}}, dirty);
  }

  gchar* dir_ = nullptr;
  std::string hive_;
};

TEST_F(SearchCli, SearchListsHitsReportsTheCountAndFails) {
  sample();
  Outcome r = cli({"search", hive_, "run"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\\Software\\Run\tkey\n"
            "RunOnce = \\Software\\Run\tREG_SZ\n"
            "(Default) = \\Software\\Run\tREG_SZ\n");
  EXPECT_EQ(r.err, "Found: 3\n");

  r = cli({"search", hive_, "^r", "--regex", "--no-keys", "--no-data"});
  EXPECT_EQ(r.out, "RunOnce = \\Software\\Run\tREG_SZ\n");
  r = cli({"search", hive_, "nothing", "--whole"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Found: 0\n");

  r = cli({"search", hive_, "(", "--regex"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tolvane-cli: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("missing terminating )"), std::string::npos) << r.err;
  EXPECT_EQ(cli({"search", std::string(dir_) + "/missing.hiv", "x"}).status, 1);
  EXPECT_EQ(cli({"search", hive_}).status, 2);
  EXPECT_EQ(cli({"search", hive_, ""}).status, 2);
  EXPECT_EQ(cli({"search", hive_, "x", "--bogus"}).status, 2);
}

TEST_F(SearchCli, ReplaceSavesAHiveThePeersRead) {
  sample();
  const std::string before = contents(hive_);
  Outcome r = cli({"replace", hive_, "Software", "FOO", "bar", "--names", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "\\Software : foo [nazwa]\n"
            "\\Software\\Run : RunOnce [dane]\n"
            "Preview: 2 values, 2 replacements\n");
  EXPECT_EQ(contents(hive_), before);

  r = cli({"replace", hive_, "software", "FOO", "bar", "--names"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.rfind("Done")), "Done: 2 values, 2 replacements\n");
  EXPECT_EQ(cli({"values", hive_, "Software\\Run"}).out,
            "RunOnce\tREG_SZ\tbar\n(Default)\tREG_SZ\tsay RUN\nCount\tREG_DWORD\t0x00000007 (7)\n");
  Outcome check = cli({"check", hive_});
  EXPECT_EQ(check.status, 0) << check.out;

  gchar* hivexsh = g_find_program_in_path("hivexsh");
  g_free(hivexsh);
  if (!hivexsh) GTEST_SKIP() << "hivexsh is not installed";
  const std::string script = std::string(dir_) + "/script.txt";
  ASSERT_TRUE(g_file_set_contents(script.c_str(), "cd \\Software\nlsval\ncd Run\nlsval RunOnce\n",
                                  -1, nullptr));
  Outcome hivex = run({"hivexsh", "-f", script, hive_});
  EXPECT_EQ(hivex.status, 0) << hivex.err;
  EXPECT_EQ(hivex.out, "\"bar\"=hex(7):00,00\nbar\n");
}

TEST_F(SearchCli, ReplaceSavesNothingWithoutChangeOrOnFailure) {
  KeySpec chain{.name = "d"};
  for (int i = 0; i < 257; ++i) chain = KeySpec{.name = "d", .subkeys = {chain}};
  write(KeySpec{.name = "ROOT", .subkeys = {chain}, .values = {{"v", 1, utf16le_sz("t")}}});
  const std::string before = contents(hive_);
  const ino_t file = inode(hive_);

  Outcome r = cli({"replace", hive_, "d\\d", "nothing", "x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Done: 0 values, 0 replacements\n");
  EXPECT_EQ(inode(hive_), file);  // an atomic save would have replaced the file

  // The root's value changes before the walk gives up below; that change must
  // not reach the file.
  r = cli({"replace", hive_, "", "t", "u"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tolvane-cli: Maximum hive depth exceeded\n");
  EXPECT_EQ(contents(hive_), before);
  EXPECT_EQ(inode(hive_), file);
}

TEST_F(SearchCli, ReplaceReportsTwentyLinesAndRefusesDirtyHives) {
  KeySpec k{.name = "K"};
  for (int i = 0; i < 25; ++i) k.values.push_back({"v" + std::to_string(i), 1, utf16le_sz("x")});
  write(KeySpec{.name = "ROOT", .subkeys = {k}}, /*dirty=*/true);

  Outcome r = cli({"replace", hive_, "K", "x", "y"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  r = cli({"replace", hive_, "K", "x", "y", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = cli({"replace", hive_, "K", "x", "y", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string expected_first = "\\K : v0 [dane]\n";
  EXPECT_EQ(r.out.substr(0, expected_first.size()), expected_first);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 21);
  EXPECT_EQ(r.out.substr(r.out.rfind("Done")), "Done: 25 values, 25 replacements\n");
}

TEST_F(SearchCli, ReplaceUsage) {
  sample();
  Outcome r = cli({"replace", hive_, "Software", "", "x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tolvane-cli: Enter text to find\n");
  r = cli({"replace", hive_, "Software", "a", "x", "--no-data"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tolvane-cli: Select names or data\n");
  EXPECT_EQ(cli({"replace", hive_, "Software", "a"}).status, 2);
  EXPECT_EQ(cli({"replace", hive_, "Nope", "a", "b"}).status, 1);
  // "--" lets a find text start with dashes.
  r = cli({"replace", hive_, "Software", "--dry-run", "--", "--x", "y"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Preview: 0 values, 0 replacements\n");
}

}  // namespace
