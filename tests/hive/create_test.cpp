// New hive files: what the engine and the peer tools read from them, and the
// files they must never touch.
#include <unistd.h>

#include <sstream>

#include "hive/check.h"
#include "hive/create.h"
#include "hive/edit.h"
#include "hive/save.h"
#include "hive/security.h"
#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

using ::testing::HasSubstr;


std::uint32_t u32_at(const Bytes& b, std::size_t off) {
  return b.at(off) | (b.at(off + 1) << 8) | (b.at(off + 2) << 16) | (static_cast<std::uint32_t>(b.at(off + 3)) << 24);
}

class CreateFile : public HiveTest {
 protected:
  // Creates a hive; the error message, or "" on success.
  std::string create(const std::string& file, std::string_view root) {
    GError* error = nullptr;
    const bool ok = tol_hive_create_file(file, root, &error);
    EXPECT_EQ(ok, error == nullptr);
    if (ok) return "";
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    code_ = error->code;
    std::string message = error->message;
    g_error_free(error);
    return message;
  }
  TolHivePtr reopen(const std::string& file) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file, &error);
    EXPECT_NE(hive, nullptr) << (error ? error->message : "");
    if (error) g_error_free(error);
    return hive;
  }
  int code_ = -1;
};

TEST_F(CreateFile, WritesAnEmptyVersion15HiveThatPassesTheCheck) {
  const std::string file = path();
  ASSERT_EQ(create(file, "ROOT"), "");
  const Bytes bytes = file_bytes(file);
  ASSERT_EQ(bytes.size(), 8192u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), bytes_of("regf"));
  // Sequence numbers 1/1, version 1.5, primary file, direct-load format,
  // root cell 0x20, one bin of 4096 bytes, clustering factor 1.
  const std::pair<std::size_t, std::uint32_t> fields[] = {
      {0x04, 1}, {0x08, 1}, {0x14, 1}, {0x18, 5}, {0x1C, 0},
      {0x20, 1}, {0x24, 0x20}, {0x28, 4096}, {0x2C, 1}};
  for (const auto& [off, v] : fields) EXPECT_EQ(u32_at(bytes, off), v) << "base block field " << off;
  EXPECT_NE(u32_at(bytes, 0x0C) | u32_at(bytes, 0x10), 0u);  // a timestamp
  EXPECT_EQ(Bytes(bytes.begin() + 4096, bytes.begin() + 4100), bytes_of("hbin"));

  TolHivePtr hive = reopen(file);
  ASSERT_NE(hive, nullptr);
  const TolCheckReport report = tol_hive_check(*hive);
  EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
  EXPECT_EQ(report.keys, 1u);
  EXPECT_EQ(report.security_records, 1u);
  EXPECT_EQ(tol_hive_key_name(*hive, hive->root_cell), "ROOT");
  const auto root = tol_hive_key(*hive, hive->root_cell);
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->u16(0x02), 0x2C);
  EXPECT_TRUE(tol_hive_subkeys(*hive, hive->root_cell).empty());
  EXPECT_EQ(tol_hive_value_count(*hive, hive->root_cell), 0u);
  const auto sd = tol_hive_key_security(*hive, hive->root_cell);
  ASSERT_TRUE(sd.has_value());
  EXPECT_TRUE(tol_security_descriptor_valid(*sd));
}

TEST_F(CreateFile, NonAsciiRootNameIsStoredAsUtf16) {
  const std::string file = path();
  ASSERT_EQ(create(file, "Z\xC3\xBCrich"), "");
  TolHivePtr hive = reopen(file);
  ASSERT_NE(hive, nullptr);
  EXPECT_EQ(tol_hive_key_name(*hive, hive->root_cell), "Z\xC3\xBCrich");
  EXPECT_EQ(tol_hive_key(*hive, hive->root_cell)->u16(0x02), 0x0C);
  EXPECT_EQ(tol_hive_key(*hive, hive->root_cell)->u16(0x48), 12);
  EXPECT_TRUE(tol_hive_check(*hive).ok());
}

TEST_F(CreateFile, NeverReplacesOrFollowsAnExistingPath) {
  const std::string existing = path();
  const Bytes old = bytes_of("precious data");
  HiveBuilder::write_bytes(existing, old);
  EXPECT_THAT(create(existing, "ROOT"), HasSubstr("already exists"));
  EXPECT_EQ(code_, G_FILE_ERROR_EXIST);
  EXPECT_EQ(file_bytes(existing), old);

  // A dangling symbolic link is not followed to create its target.
  const std::string target = path("target.hiv");
  const std::string link = path("link.hiv");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_NE(create(link, "ROOT"), "");
  EXPECT_FALSE(g_file_test(target.c_str(), G_FILE_TEST_EXISTS));

  EXPECT_NE(create(dir_ + "/missing/dir.hiv", "ROOT"), "");
  EXPECT_EQ(code_, G_FILE_ERROR_NOENT);
}

TEST_F(CreateFile, RefusesRootNamesWindowsCannotHold) {
  const std::string file = path();
  for (const std::string& bad : {std::string(), std::string("a\\b"), std::string("\xFF\xFE"),
                                 std::string(256, 'x')}) {
    EXPECT_EQ(create(file, bad), "Invalid root key name") << bad;
    EXPECT_EQ(code_, G_FILE_ERROR_INVAL);
    EXPECT_FALSE(g_file_test(file.c_str(), G_FILE_TEST_EXISTS));
  }
  EXPECT_EQ(create(file, std::string(255, 'x')), "");
}

// The new hive, and the same hive after keys, values and a descriptor of its
// own were added and it was saved, as the independent readers see it.
TEST_F(CreateFile, PeersReadItBeforeAndAfterEdits) {
  const std::string file = path();
  ASSERT_EQ(create(file, "ROOT"), "");
  const auto peers = [&](const char* stage, const char* hivexsh_script) {
    SCOPED_TRACE(stage);
    bool any = false;
    if (installed("hivexsh")) {
      any = true;
      const std::string script = path();
      EXPECT_TRUE(g_file_set_contents(script.c_str(), hivexsh_script, -1, nullptr));
      const Outcome r = run({"hivexsh", "-f", script, file});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
    }
    if (installed("hivexregedit")) {
      any = true;
      const Outcome r = run({"hivexregedit", "--export", file, "\\"});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_THAT(r.out, HasSubstr("[\\]"));
    }
    if (installed("regfexport")) {
      any = true;
      const Outcome r = run({"regfexport", file});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_THAT(r.out, HasSubstr("Key path: ROOT"));
    }
    if (installed("reglookup")) {
      any = true;
      const Outcome r = run({"reglookup", "-s", file});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      // The default descriptor: owner Administrators, group SYSTEM.
      EXPECT_THAT(r.out, HasSubstr("/,KEY,,"));
      EXPECT_THAT(r.out, HasSubstr("S-1-5-32-544,S-1-5-18"));
    }
    return any;
  };
  const bool any_peer = peers("new", "ls\nlsval\n");

  TolHivePtr hive = reopen(file);
  ASSERT_NE(hive, nullptr);
  const auto sub = tol_hive_create_key(*hive, hive->root_cell, "Sub");
  ASSERT_TRUE(sub.has_value());
  ASSERT_TRUE(tol_hive_set_value(*hive, *sub, "v", 4, le32(7)));
  ASSERT_TRUE(tol_hive_set_value(*hive, *sub, "big", 3, pattern(20000)));
  Bytes sd = default_security_descriptor();
  sd[sd.size() - 4] = 19;  // group S-1-5-19 instead of S-1-5-18
  ASSERT_TRUE(tol_hive_store_security(*hive, *sub, sd));
  GError* error = nullptr;
  ASSERT_TRUE(tol_hive_save(*hive, &error)) << error->message;
  hive.reset();

  TolHivePtr saved = reopen(file);
  ASSERT_NE(saved, nullptr);
  const TolCheckReport report = tol_hive_check(*saved);
  EXPECT_TRUE(report.ok()) << ::testing::PrintToString(report.problems);
  EXPECT_EQ(report.security_records, 2u);
  peers("edited", "ls\nlsval\ncd Sub\nlsval\n");
  if (installed("reglookup")) {
    const Outcome r = run({"reglookup", "-s", "-p", "/Sub", file});
    EXPECT_THAT(r.out, HasSubstr("/Sub,KEY,,"));
    EXPECT_THAT(r.out, HasSubstr("S-1-5-32-544,S-1-5-19"));
  }
  if (!any_peer) GTEST_SKIP() << "no peer tool is installed";
}

}  // namespace
}  // namespace tol::test
