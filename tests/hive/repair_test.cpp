// Repair and compaction: sound hives come out with the same content in a file
// no larger, damaged ones without what Windows would reject, and the peers
// read what was written.
#include <glib/gstdio.h>

#include <map>
#include <set>
#include <tuple>

#include "hive/check.h"
#include "hive/repair.h"
#include "hive/security.h"
#include "hive_fixture.h"
#include "peer_tools.h"

namespace tol::test {
namespace {

constexpr std::uint32_t kNkClass = 0x30;
constexpr std::uint32_t kNkClassLength = 0x4A;
constexpr std::uint32_t kNkTime = 0x04;

// Everything of a key a reader sees.
struct KeySeen {
  std::string name;
  std::string cls;
  std::uint64_t time = 0;
  Bytes descriptor;
  std::map<std::string, std::pair<std::uint32_t, Bytes>> values;
  std::vector<std::string> subkeys;
  bool operator==(const KeySeen&) const = default;
};

std::map<std::string, KeySeen> seen(const TolHive& hive) {
  std::map<std::string, KeySeen> out;
  std::vector<std::pair<std::uint32_t, std::string>> pending{{hive.root_cell, ""}};
  while (!pending.empty()) {
    const auto [nk, path] = pending.back();
    pending.pop_back();
    KeySeen& k = out[path];
    const auto rec = tol_hive_key(hive, nk);
    if (!rec) continue;
    k.name = tol_hive_key_name(hive, nk);
    k.time = rec->u64(kNkTime);
    if (const auto cls = tol_hive_cell(hive, rec->u32(kNkClass)); cls && rec->u16(kNkClassLength))
      k.cls = std::string(reinterpret_cast<const char*>(cls->span().data()), rec->u16(kNkClassLength));
    k.descriptor = tol_hive_key_security(hive, nk).value_or(Bytes{});
    for (std::uint32_t i = 0; i < tol_hive_value_count(hive, nk); ++i) {
      TolHiveValue v;
      if (tol_hive_read_value(hive, nk, i, v)) k.values[v.name] = {v.type, v.data};
    }
    for (const std::uint32_t sub : tol_hive_subkeys(hive, nk)) {
      const std::string name = tol_hive_key_name(hive, sub);
      k.subkeys.push_back(name);
      pending.emplace_back(sub, path.empty() ? name : path + "\\" + name);
    }
  }
  return out;
}

Bytes with_control(Bytes sd, std::uint16_t bits) {
  sd[2] |= static_cast<std::uint8_t>(bits);
  sd[3] |= static_cast<std::uint8_t>(bits >> 8);
  return sd;
}

std::uint64_t file_size(const std::string& path) {
  GStatBuf st{};
  return g_stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}


const std::vector<std::pair<std::string, std::size_t>> kBigValues = {
    {"b16344", 16344}, {"b16345", 16345}, {"b200000", 200000}};

class RepairTest : public HiveTest {
 protected:
  // Writes IN's repair to a fresh path, failing the test when it fails.
  std::string repair(const std::string& in, TolRepairReport& report) {
    const std::string out = path();
    TolHivePtr hive = tol_hive_open(in, nullptr);
    EXPECT_NE(hive, nullptr);
    GError* error = nullptr;
    EXPECT_TRUE(hive && tol_hive_repair(*hive, out, report, &error)) << (error ? error->message : "");
    g_clear_error(&error);
    return out;
  }

  // The peers read the whole file without complaint.
  void expect_peers_accept(const std::string& file) {
    if (installed("hivexsh")) {
      const std::string script = path();
      ASSERT_TRUE(g_file_set_contents(script.c_str(), "ls\n", -1, nullptr));
      const Outcome r = run({"hivexsh", "-f", script, file});
      EXPECT_TRUE(r.status == 0 && r.err.empty()) << "hivexsh: " << r.err;
    }
    if (installed("regfexport")) {
      const Outcome r = run({"regfexport", file});
      EXPECT_TRUE(r.status == 0 && r.err.empty()) << "regfexport: " << r.err;
    }
    if (installed("reglookup")) {
      const Outcome r = run({"reglookup", file});
      EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << "reglookup: " << r.err;
      EXPECT_EQ(r.status, 0);
    }
  }
};

// Sound builder hives of version 1.3 and 1.5: class names, three distinct
// descriptors, timestamps, data at and around the big data threshold.
class RepairSound : public RepairTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  std::string build() {
    const std::uint32_t minor = GetParam();
    HiveBuilder b;
    b.set_minor_version(minor);
    b.set_base_u32(0x30, 0x00460046);  // "FF" in the file name field
    KeySpec root = key("ROOT", {key("Big"), key("Zeta", {key("inner"), key("Inner2")}),
                                key("alpha", {}, {val("", 1, utf16le_sz("default")),
                                                  val("dw", 4, le32(7)), val("cell", 3, pattern(300))}),
                                key("Gr\xC3\xB6\xC3\x9F" "e")});
    const BuiltTree t = b.tree(root);

    // The builder lays big values out the way the version wants them.
    std::vector<std::uint32_t> vks;
    for (const auto& [name, size] : kBigValues)
      vks.push_back(b.value(name, 3, pattern(size, static_cast<std::uint32_t>(size))));
    const std::uint32_t big = t.key("Big");
    b.patch_u32(big, 0x24, static_cast<std::uint32_t>(vks.size()));
    b.patch_u32(big, 0x28, b.offsets(vks));
    b.patch_u32(big, 0x3C, 14);
    b.patch_u32(big, 0x40, 200000);

    const Bytes cls = utf16le("class");
    for (const char* path : {"Zeta", "alpha"}) {
      b.patch_u32(t.key(path), kNkClass, b.cell(cls));
      b.patch_u16(t.key(path), kNkClassLength, static_cast<std::uint16_t>(cls.size()));
    }
    b.patch_u32(t.key(""), 0x38, static_cast<std::uint32_t>(cls.size()));
    std::uint64_t time = 0x01D8000000000000ull;
    for (const auto& [path, nk] : t.keys) {
      b.patch_u32(nk, kNkTime, static_cast<std::uint32_t>(time));
      b.patch_u32(nk, kNkTime + 4, static_cast<std::uint32_t>(time >> 32));
      time += 0x123456789ull;
    }

    // Zeta and its subtree get a descriptor of their own, alpha another one.
    const Bytes sd = default_security_descriptor();
    const std::uint32_t shared = t.sk;
    const std::uint32_t zeta_sk = b.sk(with_control(sd, 0x1000), 3, kNoCell, shared);
    const std::uint32_t alpha_sk = b.sk(with_control(sd, 0x0400), 1, shared, zeta_sk);
    b.patch_u32(zeta_sk, 0x04, alpha_sk);
    b.patch_u32(shared, 0x04, zeta_sk);
    b.patch_u32(shared, 0x08, alpha_sk);
    b.patch_u32(shared, 0x0C, static_cast<std::uint32_t>(t.keys.size() - 4));
    for (const char* path : {"Zeta", "Zeta\\inner", "Zeta\\Inner2"}) b.patch_u32(t.key(path), 0x2C, zeta_sk);
    b.patch_u32(t.key("alpha"), 0x2C, alpha_sk);
    return write(b.image());
  }
};

TEST_P(RepairSound, KeepsEverythingInNoMoreBytes) {
  const std::string in = build();
  TolHivePtr original = tol_hive_open(in, nullptr);
  ASSERT_NE(original, nullptr);
  auto expect_sound = [](const TolHive& hive) {
    for (const std::string& problem : tol_hive_check(hive).problems) ADD_FAILURE() << problem;
  };
  expect_sound(*original);

  TolRepairReport report;
  const std::string out = repair(in, report);
  EXPECT_TRUE(report.drops.empty()) << report.drops.front().path << ": " << report.drops.front().reason;
  EXPECT_EQ(report.size_after, file_size(out));
  EXPECT_LE(file_size(out), file_size(in));
  EXPECT_EQ(report.security_records, 3u);

  TolHivePtr repaired = tol_hive_open(out, nullptr);
  ASSERT_NE(repaired, nullptr);
  EXPECT_EQ(seen(*repaired), seen(*original));
  EXPECT_EQ(tol_hive_key_name(*repaired, repaired->root_cell), "ROOT");
  for (const std::uint32_t field : {0x0Cu, 0x10u, 0x14u, 0x18u, 0x30u, 0x90u})
    EXPECT_EQ(repaired->base().u32(field), original->base().u32(field)) << field;
  EXPECT_EQ(tol_hive_primary_sequence(*repaired), tol_hive_secondary_sequence(*repaired));

  expect_sound(*repaired);

  expect_peers_accept(out);
  if (installed("hivexget")) {
    for (const auto& [name, size] : kBigValues)
      EXPECT_EQ(hivexget_bytes(out, "\\Big", name, path()), pattern(size, static_cast<std::uint32_t>(size)))
          << name;
  }
  if (installed("reglookup")) {
    // Paths, types, data and modification times, in list order.
    EXPECT_EQ(run({"reglookup", out}).out, run({"reglookup", in}).out);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, RepairSound, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "Minor" + std::to_string(info.param); });

TEST_F(RepairTest, DropsTwinsCyclesAndUnsoundNamesWithTheirPaths) {
  HiveBuilder b;
  const std::uint32_t sk = b.sk(default_security_descriptor(), 7);
  auto nk = [&](std::string_view name, std::uint32_t parent) {
    NkRecord r;
    r.name = encode_name(name);
    r.parent = parent;
    r.sk = sk;
    return b.nk(r);
  };
  const std::uint32_t root = nk("ROOT", kNoCell);
  const std::uint32_t alpha = nk("Alpha", root);
  const std::uint32_t twin = nk("ALPHA", root);
  const std::uint32_t beta = nk("Beta", root);
  const std::uint32_t child = nk("Child", beta);
  const std::uint32_t slash = nk("x\\y", root);
  const std::uint32_t empty = nk("", root);
  // Beta lists itself beside its child; the twin's subtree goes with it.
  b.patch_u32(beta, 0x14, 2);
  b.patch_u32(beta, 0x1C, b.li({child, beta}));
  b.patch_u32(twin, 0x14, 1);
  b.patch_u32(twin, 0x1C, b.li({nk("Lost", twin)}));
  b.patch_u32(root, 0x14, 5);
  b.patch_u32(root, 0x1C, b.li({alpha, twin, beta, slash, empty}));
  b.patch_u32(root, 0x24, 2);
  b.patch_u32(root, 0x28, b.offsets({b.value("v", 4, le32(1)), b.value("V", 4, le32(2))}));
  b.set_root(root);
  const std::string in = write(b.image());

  TolRepairReport report;
  const std::string out = repair(in, report);
  std::set<std::pair<std::string, std::string>> drops;
  for (const auto& d : report.drops) drops.emplace(d.path, d.reason);
  EXPECT_EQ(drops, (std::set<std::pair<std::string, std::string>>{
                       {"ALPHA", "an earlier sibling has the same name"},
                       {"Beta\\Beta", "the key was reached before (listed twice or in a cycle)"},
                       {"", "subkey 3 \"x\\y\": the name contains a backslash"},
                       {"", "subkey 4 \"\": the name is empty"},
                       {"", "value \"V\": an earlier value has the same name"},
                   }));

  TolHivePtr repaired = tol_hive_open(out, nullptr);
  ASSERT_NE(repaired, nullptr);
  const auto keys = seen(*repaired);
  std::set<std::string> paths;
  for (const auto& [path, key] : keys) paths.insert(path);
  EXPECT_EQ(paths, (std::set<std::string>{"", "Alpha", "Beta", "Beta\\Child"}));
  EXPECT_EQ(keys.at("").values.size(), 1u);
  EXPECT_EQ(keys.at("").values.at("v").second, le32(1));
  const TolCheckReport check = tol_hive_check(*repaired);
  EXPECT_TRUE(check.ok()) << check.problems.front();
  expect_peers_accept(out);
}

TEST_F(RepairTest, NeverWritesOverAFileAndFailsWithoutARoot) {
  HiveBuilder b;
  b.tree(key("ROOT", {key("A")}));
  const std::string in = write(b.image());
  TolHivePtr hive = tol_hive_open(in, nullptr);
  ASSERT_NE(hive, nullptr);
  TolRepairReport report;
  GError* error = nullptr;
  for (const std::string& target : {in, write(Bytes{1, 2, 3})}) {
    const Bytes before = file_bytes(target);
    EXPECT_FALSE(tol_hive_repair(*hive, target, report, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_EXIST)) << error->message;
    g_clear_error(&error);
    EXPECT_EQ(file_bytes(target), before);
  }

  HiveBuilder broken;
  broken.tree(key("ROOT"));
  broken.set_root(0x20000);
  TolHivePtr rootless = open(broken);
  ASSERT_NE(rootless, nullptr);
  const std::string out = path();
  EXPECT_FALSE(tol_hive_repair(*rootless, out, report, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error->message).find("root"), std::string::npos) << error->message;
  g_clear_error(&error);
  EXPECT_FALSE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS));
}

}  // namespace
}  // namespace tol::test
