// tolvane-cli deleted and undelete, driven from outside as a script would.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_run.h"
#include "hive_builder.h"

using namespace tol::test;

namespace {

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> out = lines(text);
  std::sort(out.begin(), out.end());
  return out;
}

class DeletedCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = g_dir_make_tmp("tolvane-deleted-cli-XXXXXX", nullptr);
    ASSERT_NE(dir_, nullptr);
    hive_ = std::string(dir_) + "/test.hiv";
    HiveBuilder b;
    b.tree(KeySpec{.name = "ROOT",
                   .subkeys = {KeySpec{.name = "Gone",
                                       .subkeys = {KeySpec{.name = "Child",
                                                           .values = {{"c", 1, utf16le_sz("hi")}}}}},
                               KeySpec{.name = "Keep",
                                       .subkeys = {KeySpec{.name = "GONE"}},
                                       .values = {{"a", 4, le32(1)}, {"b", 3, pattern(20, 4)}}}}});
    b.write_file(hive_);
    ASSERT_EQ(cli({"rmkey", hive_, "Gone"}).status, 0);
    ASSERT_EQ(cli({"rmval", hive_, "Keep", "b"}).status, 0);
  }
  void TearDown() override {
    g_remove(hive_.c_str());
    g_remove((std::string(dir_) + "/out.json").c_str());
    g_rmdir(dir_);
    g_free(dir_);
  }

  gchar* dir_ = nullptr;
  std::string hive_;
};

TEST_F(DeletedCli, ListsWhatIsLeftOneLineEach) {
  const Outcome r = cli({"deleted", hive_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sorted_lines(r.out), (std::vector<std::string>{
                                     "key\tGone\t2022-11-24T12:26:38Z\tintact",
                                     "key\tGone\\Child\t2022-11-24T12:26:38Z\tintact",
                                     "value\tGone\\Child\tc\tREG_SZ\tintact",
                                     "value\tKeep\tb\tREG_BINARY\tintact",
                                 }));
  const Outcome json = cli({"--json", "deleted", hive_});
  const std::string file = std::string(dir_) + "/out.json";
  HiveBuilder::write_bytes(file, Bytes(json.out.begin(), json.out.end()));
  const Outcome py = run({"sh", "-c",
                          "python3 -c \"import json,sys\nfor r in map(json.loads, sys.stdin):\n"
                          " print(r['kind'], r.get('path', r.get('key_path')), r.get('parent_place', r.get('evidence')), "
                          "r.get('data_hex', '-'))\" < \"$0\" | sort",
                          file});
  EXPECT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out,
            "key Gone live -\n"
            "key Gone\\Child deleted -\n"
            "value Gone\\Child deleted-key 680069000000\n"
            "value Keep list-slack 295c913b56ad9dcf86e3fda94f230ddf609fd302\n");
  EXPECT_EQ(cli({"deleted"}).status, 2);
}

// Each run is one saved change; every refusal leaves the file as it was.
TEST_F(DeletedCli, UndeleteRestoresAKeyOnce) {
  Outcome r = cli({"undelete", hive_, "Gone", "--to", "Keep"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: cannot restore key Gone: a key named \"Gone\" already exists\n");
  r = cli({"undelete", hive_, "gone"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "restored key Gone (2 keys, 1 value)\n");
  EXPECT_EQ(cli({"values", hive_, "Gone\\Child"}).out, "c\tREG_SZ\thi\n");
  r = cli({"undelete", hive_, "Gone"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: no deleted key Gone (see tolvane-cli deleted)\n");

  ASSERT_EQ(cli({"rmkey", hive_, "Gone"}).status, 0);
  r = cli({"undelete", hive_, "Gone", "--to", "Keep", "--rename"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "restored key Keep\\Gone (restored) (2 keys, 1 value)\n");
  EXPECT_EQ(cli({"undelete", hive_, "Gone", "--to"}).status, 2);
  EXPECT_EQ(cli({"check", hive_}).status, 0);
}

TEST_F(DeletedCli, UndeleteRestoresAValueIntoItsKey) {
  Outcome r = cli({"undelete", hive_, "Keep", "--value", "b"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "restored value b of Keep\n");
  const Bytes data = pattern(20, 4);
  EXPECT_EQ(cli({"get", hive_, "Keep", "b"}).out, std::string(data.begin(), data.end()));
  r = cli({"undelete", hive_, "Keep", "--value", "b"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tolvane-cli: no deleted value b of Keep (see tolvane-cli deleted)\n");
}

}  // namespace
