// Seeded random editing against a plain model of the tree.
//
// Each step applies one operation to a hive (or two, for copies between hives)
// and to the model, saves, and checks that the saved file reads back as the
// model says and passes the consistency check; every so often the peers must
// read the same tree, and a comparison of the two hives must find what the
// two models differ in and, imported as a .reg file, remove it. TOL_PROPERTY_STEPS and TOL_PROPERTY_SEEDS make it longer.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hive/check.h"
#include "hive/compare.h"
#include "hive/copy.h"
#include "hive/create.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/save.h"
#include "model.h"
#include "reg/diff.h"
#include "reg/import.h"
#include "temp_dir.h"

namespace tol::test {
namespace {

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

const char* const kKeyNames[] = {"Alpha", "alpha", "ALPHA", "Beta", "beta", "Gamma", "a", "ab",
                                 "Ab", "Größe", "größe", "Zürich", "日本", "Ωmega", "ÿes",
                                 "Services", "Run", "RunOnce", "x y z", "{GUID-1234}"};
const char* const kValueNames[] = {"", "Path", "PATH", "path", "Colour", "colour", "Größe",
                                   "日本", "with\\backslash", "Version", "a", "A", "data 1"};

struct Side {
  std::string path;
  TolHivePtr hive;
  ModelKey model;
};

class PropertyTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    rng_.seed(static_cast<unsigned>(GetParam()));
    for (int i = 0; i < 2; ++i) {
      sides_[i].path = dir_.path() + "/side" + std::to_string(i) + ".hiv";
      GError* error = nullptr;
      ASSERT_TRUE(tol_hive_create_file(sides_[i].path, "ROOT", &error))
          << (error ? error->message : "");
      sides_[i].model.name = "ROOT";
      reopen(sides_[i]);
    }
  }

  void TearDown() override {
    for (auto& s : sides_) {
      s.hive.reset();
      g_remove(s.path.c_str());
    }
  }

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  void reopen(Side& s) {
    s.hive.reset();
    GError* error = nullptr;
    s.hive = tol_hive_open(s.path, &error);
    ASSERT_TRUE(s.hive) << (error ? error->message : "");
    tol_hive_make_writable(*s.hive);
  }

  std::string random_key_path(Side& s) {
    std::vector<std::string> paths;
    model_paths(s.model, "", paths);
    return paths[pick(paths.size())];
  }

  std::uint32_t key_at(Side& s, const std::string& path) {
    auto k = tol_hive_find_path(*s.hive, path);
    EXPECT_TRUE(k) << "engine lost key " << path;
    return k.value_or(TOL_NO_CELL);
  }

  std::vector<std::uint8_t> random_data() {
    static const std::size_t sizes[] = {0, 1, 2, 4, 5, 8, 100, 4000, 16344, 16345, 20000, 40000};
    std::vector<std::uint8_t> d(sizes[pick(std::size(sizes))]);
    for (auto& b : d) b = static_cast<std::uint8_t>(rng_());
    return d;
  }

  // One random operation on the engine and the model. Returns a description.
  std::string step() {
    Side& s = sides_[pick(2)];
    const std::string path = random_key_path(s);
    ModelKey* mk = model_find(s.model, path);
    const std::uint32_t key = key_at(s, path);
    std::ostringstream what;
    switch (pick(9)) {
      case 0:
      case 1: {  // create
        const std::string name = kKeyNames[pick(std::size(kKeyNames))];
        what << "create " << path << "\\" << name;
        auto made = tol_hive_create_key(*s.hive, key, name);
        EXPECT_TRUE(made) << what.str();
        if (!mk->child(name)) {
          auto k = std::make_unique<ModelKey>();
          k->name = name;
          mk->subkeys[fold(name)] = std::move(k);
        }
        break;
      }
      case 2: {  // delete
        what << "delete " << path;
        const bool ok = tol_hive_delete_key(*s.hive, key);
        EXPECT_EQ(ok, !path.empty()) << what.str();
        if (!path.empty()) {
          const auto cut = path.rfind('\\');
          ModelKey* parent = model_find(s.model, cut == std::string::npos ? "" : path.substr(0, cut));
          parent->subkeys.erase(fold(mk->name));
        }
        break;
      }
      case 3: {  // rename, often to a case variant or a sibling's name
        if (path.empty()) return "skip";
        std::string name = kKeyNames[pick(std::size(kKeyNames))];
        what << "rename " << path << " to " << name;
        const auto cut = path.rfind('\\');
        ModelKey* parent = model_find(s.model, cut == std::string::npos ? "" : path.substr(0, cut));
        const bool same = fold(name) == fold(mk->name);
        const bool collides = !same && parent->child(name);
        auto renamed = tol_hive_rename_key(*s.hive, key, name);
        EXPECT_EQ(static_cast<bool>(renamed), !collides) << what.str();
        if (!collides) {
          auto node = std::move(parent->subkeys[fold(mk->name)]);
          parent->subkeys.erase(fold(mk->name));
          node->name = name;
          parent->subkeys[fold(name)] = std::move(node);
        }
        break;
      }
      case 4:
      case 5: {  // set
        const std::string name = kValueNames[pick(std::size(kValueNames))];
        const std::uint32_t type = pick(5) == 0 ? 0x1234 : static_cast<std::uint32_t>(pick(12));
        auto data = random_data();
        what << "set " << path << " [" << name << "] type " << type << " " << data.size() << " B";
        EXPECT_TRUE(tol_hive_set_value(*s.hive, key, name, type, data)) << what.str();
        auto it = mk->values.find(fold(name));
        if (it == mk->values.end()) {
          mk->values[fold(name)] = ModelValue{name, type, data};
        } else {
          it->second.type = type;
          it->second.data = data;
        }
        break;
      }
      case 6: {  // delete value
        const std::string name = kValueNames[pick(std::size(kValueNames))];
        what << "delete value " << path << " [" << name << "]";
        const bool exists = mk->values.count(fold(name)) > 0;
        EXPECT_EQ(tol_hive_delete_value(*s.hive, key, name), exists) << what.str();
        mk->values.erase(fold(name));
        break;
      }
      case 7: {  // rename value
        const std::string from = kValueNames[pick(std::size(kValueNames))];
        const std::string to = kValueNames[pick(std::size(kValueNames))];
        what << "rename value " << path << " [" << from << "] to [" << to << "]";
        auto it = mk->values.find(fold(from));
        const bool exists = it != mk->values.end();
        const bool same = fold(from) == fold(to);
        const bool collides = !same && mk->values.count(fold(to)) > 0;
        EXPECT_EQ(tol_hive_rename_value(*s.hive, key, from, to), exists && !collides) << what.str();
        if (exists && !collides) {
          ModelValue v = it->second;
          mk->values.erase(it);
          v.name = to;
          mk->values[fold(to)] = v;
        }
        break;
      }
      case 8: {  // copy, within this hive or from the other one
        Side& src = pick(2) ? sides_[0] : sides_[1];
        const std::string src_path = random_key_path(src);
        ModelKey* src_model = model_find(src.model, src_path);
        what << "copy " << (&src == &s ? "same " : "other ") << src_path << " under " << path;
        const std::uint32_t src_key = key_at(src, src_path);
        GError* error = nullptr;
        const bool refused =
            &src == &s && (src_path.empty() || path == src_path ||
                           path.rfind(src_path + "\\", 0) == 0);
        const std::uint32_t count = tol_hive_copy_subtree(*src.hive, src_key, *s.hive, key, &error);
        if (refused) {
          EXPECT_EQ(count, 0u) << what.str();
        } else {
          EXPECT_EQ(count, src_model->count_keys()) << what.str() << ": "
                                                     << (error ? error->message : "");
          auto snapshot = src_model->clone();  // the source may lie inside the destination
          model_merge(*snapshot, *mk);
        }
        g_clear_error(&error);
        break;
      }
    }
    GError* error = nullptr;
    EXPECT_TRUE(tol_hive_save(*s.hive, &error)) << (error ? error->message : "");
    g_clear_error(&error);
    if (pick(4) == 0) reopen(s);
    return what.str();
  }

  // Reads the whole tree of a hive into a model.
  void read_tree(const TolHive& hive, std::uint32_t key, ModelKey& out, int depth) {
    ASSERT_LT(depth, TOL_MAX_KEY_DEPTH);
    out.name = tol_hive_key_name(hive, key);
    const std::uint32_t n = tol_hive_value_count(hive, key);
    for (std::uint32_t i = 0; i < n; ++i) {
      TolHiveValue v;
      ASSERT_TRUE(tol_hive_read_value(hive, key, i, v)) << out.name << " value " << i;
      ASSERT_EQ(out.values.count(fold(v.name)), 0u) << "duplicate value " << v.name;
      out.values[fold(v.name)] = ModelValue{v.name, v.type, v.data};
    }
    for (std::uint32_t sub : tol_hive_subkeys(hive, key)) {
      auto k = std::make_unique<ModelKey>();
      read_tree(hive, sub, *k, depth + 1);
      ASSERT_EQ(out.subkeys.count(fold(k->name)), 0u) << "duplicate key " << k->name;
      out.subkeys[fold(k->name)] = std::move(k);
    }
  }

  void expect_equal(const ModelKey& want, const ModelKey& got, const std::string& path) {
    EXPECT_EQ(got.name, want.name) << path;
    EXPECT_EQ(got.values.size(), want.values.size()) << path;
    for (const auto& [f, v] : want.values) {
      auto it = got.values.find(f);
      if (it == got.values.end()) {
        ADD_FAILURE() << path << ": value " << v.name << " missing";
        continue;
      }
      EXPECT_EQ(it->second, v) << path << ": value " << v.name;
    }
    EXPECT_EQ(got.subkeys.size(), want.subkeys.size()) << path;
    for (const auto& [f, k] : want.subkeys) {
      auto it = got.subkeys.find(f);
      if (it == got.subkeys.end()) {
        ADD_FAILURE() << path << ": key " << k->name << " missing";
        continue;
      }
      expect_equal(*k, *it->second, path + "\\" + k->name);
    }
  }

  void verify(Side& s, const std::string& after) {
    GError* error = nullptr;
    TolHivePtr disk = tol_hive_open(s.path, &error);
    ASSERT_TRUE(disk) << (error ? error->message : "");
    ModelKey got;
    read_tree(*disk, disk->root_cell, got, 0);
    expect_equal(s.model, got, "after " + after);
    const TolCheckReport report = tol_hive_check(*disk);
    for (const auto& p : report.problems) ADD_FAILURE() << "after " << after << ": " << p;
  }

  void write_model_json(const ModelKey& k, const std::string& path, std::ostream& out, bool& first) {
    out << (first ? "" : ",") << json_string(path) << ":{";
    first = false;
    bool first_value = true;
    for (const auto& [f, v] : k.values) {
      out << (first_value ? "" : ",") << json_string(v.name) << ":[" << v.type << ",\"";
      for (auto b : v.data) out << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
      out << "\"]";
      first_value = false;
    }
    out << "}";
    for (const auto& [f, sub] : k.subkeys)
      write_model_json(*sub, path.empty() ? sub->name : path + "\\" + sub->name, out, first);
  }

  static std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') out += '\\';
      out += static_cast<char>(c);
    }
    return out + "\"";
  }

  // The peers must read the saved file as the model says. False when they are missing.
  bool verify_peers(Side& s) {
    const std::string json = dir_.path() + "/model.json";
    {
      std::ofstream out(json);
      bool first = true;
      out << "{";
      write_model_json(s.model, "", out, first);
      out << "}";
    }
    const std::string cmd = "python3 " + std::string(PEER_COMPARE) + " '" + s.path + "' '" + json + "'";
    const int rc = std::system(cmd.c_str());
    if (WIFEXITED(rc) && WEXITSTATUS(rc) == 77) return false;
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << "peers disagree on " << s.path;
    return true;
  }

  // What a comparison of the two sides must find, from the models alone: the
  // entries as "kind|path|value|details", in no particular order.
  static void model_diff(const ModelKey& l, const ModelKey& r, const std::string& path,
                         std::vector<std::string>& out) {
    for (const auto& [f, v] : l.values) {
      auto it = r.values.find(f);
      if (it == r.values.end()) {
        out.push_back("-v|" + path + "|" + v.name);
      } else if (it->second.type != v.type || it->second.data != v.data) {
        out.push_back("~v|" + path + "|" + v.name + "|" + (it->second.type != v.type ? "t" : "") +
                      (it->second.data != v.data ? "d" : ""));
      }
    }
    for (const auto& [f, v] : r.values)
      if (!l.values.count(f)) out.push_back("+v|" + path + "|" + v.name);
    const auto below = [&](const std::string& name) { return path.empty() ? name : path + "\\" + name; };
    const auto counts = [](const ModelKey& k) {
      return std::to_string(k.count_keys()) + "/" + std::to_string(k.count_values());
    };
    for (const auto& [f, k] : l.subkeys) {
      auto it = r.subkeys.find(f);
      if (it == r.subkeys.end())
        out.push_back("-k|" + below(k->name) + "|" + counts(*k));
      else
        model_diff(*k, *it->second, below(k->name), out);
    }
    for (const auto& [f, k] : r.subkeys)
      if (!l.subkeys.count(f)) out.push_back("+k|" + below(k->name) + "|" + counts(*k));
  }

  static std::vector<std::string> engine_diff(const TolDiff& d) {
    std::vector<std::string> out;
    for (const TolDiffEntry& e : d.entries) {
      const std::string head = std::string(tol_diff_sign(e.kind)) +
                               (std::string(tol_diff_noun(e.kind)) == "key" ? "k|" : "v|") + e.path;
      if (e.kind == TolDiffKind::key_only_left || e.kind == TolDiffKind::key_only_right)
        out.push_back(head + "|" + std::to_string(e.subtree_keys) + "/" +
                      std::to_string(e.subtree_values));
      else if (e.kind == TolDiffKind::value_changed)
        out.push_back(head + "|" + e.value + "|" + (e.type_differs ? "t" : "") +
                      (e.data_differs ? "d" : ""));
      else
        out.push_back(head + "|" + e.value);
    }
    return out;
  }

  // The comparison of the two sides agrees with the models, and its .reg
  // form imported into a copy of the left side leaves nothing to compare.
  void check_diff(const std::string& after) {
    GError* error = nullptr;
    TolDiff diff;
    ASSERT_TRUE(tol_compare(*sides_[0].hive, sides_[0].hive->root_cell, *sides_[1].hive,
                            sides_[1].hive->root_cell, {}, diff, &error));
    std::vector<std::string> want, got = engine_diff(diff);
    model_diff(sides_[0].model, sides_[1].model, "", want);
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want) << "after " << after;

    const std::string copy = dir_.path() + "/copy.hiv";
    TolHivePtr left;
    {
      std::ifstream in(sides_[0].path, std::ios::binary);
      std::ofstream out(copy, std::ios::binary | std::ios::trunc);
      out << in.rdbuf();
    }
    left = tol_hive_open(copy, &error);
    ASSERT_TRUE(left) << (error ? error->message : "");
    tol_hive_make_writable(*left);
    const std::string text = tol_reg_diff_text(*sides_[0].hive, *sides_[1].hive, diff);
    TolRegImportCounts counts;
    ASSERT_TRUE(tol_reg_import(*left, left->root_cell,
                               {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                               counts, &error));
    EXPECT_EQ(counts.errors, 0u) << "after " << after << "\n" << text;
    TolDiff rest;
    ASSERT_TRUE(tol_compare(*left, left->root_cell, *sides_[1].hive, sides_[1].hive->root_cell, {},
                            rest, &error));
    EXPECT_EQ(engine_diff(rest), std::vector<std::string>()) << "after " << after << "\n" << text;
    for (const auto& p : tol_hive_check(*left).problems) ADD_FAILURE() << "after " << after << ": " << p;
    left.reset();
    g_remove(copy.c_str());
  }

  TempDir dir_{"tolvane-prop"};
  std::mt19937 rng_;
  Side sides_[2];
};

TEST_P(PropertyTest, RandomEditsMatchTheModel) {
  const int steps = env_int("TOL_PROPERTY_STEPS", 120);
  const int peer_every = env_int("TOL_PROPERTY_PEER_EVERY", 40);
  const int diff_every = env_int("TOL_PROPERTY_DIFF_EVERY", 10);
  bool peers = true;
  int done = 0;
  int skipped = 0;
  int peer_checks = 0;
  for (int i = 1; i <= steps && !HasFailure(); ++i) {
    const std::string what = step();
    for (auto& s : sides_) verify(s, what + " (step " + std::to_string(i) + ")");
    if (i % diff_every == 0 || i == steps) check_diff(what + " (step " + std::to_string(i) + ")");
    ++done;
    skipped += what == "skip" ? 1 : 0;
    if (peers && (i % peer_every == 0 || i == steps))
      for (auto& s : sides_) {
        peers = verify_peers(s) && peers;
        peer_checks += peers ? 1 : 0;
      }
  }
  // Long runs are reported by these figures.
  std::printf("seed %d: %d operations saved and read back (%d steps skipped), %d peer checks\n",
              GetParam(), done - skipped, skipped, peer_checks);
}

INSTANTIATE_TEST_SUITE_P(Seeds, PropertyTest,
                         ::testing::Range(1, 1 + env_int("TOL_PROPERTY_SEEDS", 3)));

}  // namespace
}  // namespace tol::test
