// Generates a large hive of realistic shape for the benchmarks:
//   gen-hive PATH [KEYS [VALUES]] [--vary PERCENT]
//   (defaults: 200000 keys, 650000 values)
// Sorted lh lists, ri lists above 512 entries, mixed value types with some big
// data, a share of UTF-16 names, one key with 50,000 subkeys and one with 5,000
// values. The output is the same for the same arguments. --vary changes about
// PERCENT % of the keys of the hive the same arguments give without it (a
// value's data changed, a value added or removed, a subkey added or removed),
// for comparisons of two hives that are mostly alike.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "hive_builder.h"

using namespace tol::test;

namespace {

constexpr std::size_t kLhMax = 500;  // entries per lh list before an ri list takes over

struct Gen {
  std::mt19937 rng{20261207};
  std::size_t keys_left;
  std::size_t values_left;
  std::size_t values_per_key;  // average

  std::size_t pick(std::size_t lo, std::size_t hi) {
    return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
  }

  std::string name(const char* stem, std::size_t i) {
    static const char* const utf16_stems[] = {"Größe", "Zürich", "Ångström", "日本語", "Ελληνικά"};
    if (pick(0, 19) == 0) return std::string(utf16_stems[pick(0, 4)]) + " " + std::to_string(i);
    return std::string(stem) + std::to_string(i);
  }

  ValueSpec value(std::size_t i) {
    ValueSpec v;
    v.name = i == 0 && pick(0, 3) == 0 ? std::string() : name("Value", i);
    switch (pick(0, 9)) {
      case 0: case 1: case 2:
        v.type = 1;
        v.data = utf16le_sz(std::string(pick(8, 120), static_cast<char>('a' + pick(0, 25))));
        break;
      case 3:
        v.type = 2;
        v.data = utf16le_sz("%SystemRoot%\\system32\\drivers\\" + std::to_string(i) + ".sys");
        break;
      case 4: case 5:
        v.type = 4;
        v.data = le32(static_cast<std::uint32_t>(rng()));
        break;
      case 6:
        v.type = 11;
        v.data = pattern(8, static_cast<std::uint32_t>(rng()));
        break;
      case 7: {
        v.type = 7;
        Bytes all;
        for (std::size_t k = pick(1, 5); k > 0; --k) {
          Bytes one = utf16le_sz("entry" + std::to_string(k));
          all.insert(all.end(), one.begin(), one.end());
        }
        all.push_back(0);
        all.push_back(0);
        v.data = all;
        break;
      }
      default:
        v.type = 3;
        // About one binary value in 400 is big data.
        v.data = pattern(pick(0, 399) == 0 ? pick(16345, 60000) : pick(16, 600),
                         static_cast<std::uint32_t>(rng()));
        break;
    }
    return v;
  }

  void fill_values(KeySpec& key, std::size_t n) {
    n = std::min(n, values_left);
    for (std::size_t i = 0; i < n; ++i) key.values.push_back(value(i));
    values_left -= n;
  }

  void index_children(KeySpec& key) {
    if (key.subkeys.size() <= 512) {
      key.list = ListKind::lh;
      return;
    }
    key.list = ListKind::ri;
    key.ri_parts.clear();
    for (std::size_t at = 0; at < key.subkeys.size(); at += kLhMax)
      key.ri_parts.push_back({ListKind::lh, std::min(kLhMax, key.subkeys.size() - at)});
  }

  // Builds a subtree with about `budget` keys.
  KeySpec subtree(std::string key_name, std::size_t budget, int depth) {
    KeySpec key{.name = std::move(key_name)};
    --keys_left;
    fill_values(key, pick(0, 2 * values_per_key));
    std::size_t remaining = budget > 0 ? budget - 1 : 0;
    std::size_t i = 0;
    while (remaining > 0 && keys_left > 0) {
      const std::size_t share =
          depth >= 5 ? 1 : std::min(remaining, pick(1, std::max<std::size_t>(2, remaining / 8)));
      key.subkeys.push_back(subtree(name("Key", i++), share, depth + 1));
      remaining -= std::min(remaining, share);
    }
    index_children(key);
    return key;
  }
};

// Changes about `percent` % of the keys, each in one way, with a generator of
// its own so that everything else stays as generated.
struct Variation {
  Gen& gen;
  double share;
  std::mt19937 rng{20261208};
  std::size_t changed = 0;

  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

  void walk(KeySpec& key) {
    for (KeySpec& sub : key.subkeys) walk(sub);
    if (!chance(share)) return;
    ++changed;
    const std::string name = "Varied" + std::to_string(changed);
    switch (pick(5)) {
      case 0:
        if (!key.values.empty()) {
          ValueSpec& v = key.values[pick(key.values.size())];
          v.data = v.data.empty() ? Bytes{1} : Bytes(v.data.rbegin(), v.data.rend());
          if (v.data.size() > 1 && v.data.front() == v.data.back()) v.data.front() ^= 0xFF;
          break;
        }
        [[fallthrough]];
      case 1: {
        ValueSpec v = gen.value(key.values.size() + 1);
        v.name = name;
        key.values.push_back(v);
        break;
      }
      case 2:
        if (!key.values.empty()) {
          key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(pick(key.values.size())));
          break;
        }
        [[fallthrough]];
      case 3: {
        KeySpec added{.name = name};
        added.values.push_back(gen.value(1));
        key.subkeys.push_back(added);
        gen.index_children(key);
        break;
      }
      default:
        // A subkey without subkeys of its own, so that one key changes.
        for (std::size_t i = 0; i < key.subkeys.size(); ++i) {
          if (!key.subkeys[i].subkeys.empty()) continue;
          key.subkeys.erase(key.subkeys.begin() + static_cast<std::ptrdiff_t>(i));
          gen.index_children(key);
          return;
        }
        key.values.push_back(ValueSpec{.name = name, .type = 4, .data = le32(1)});
        break;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  double vary = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--vary" && i + 1 < argc)
      vary = std::strtod(argv[++i], nullptr);
    else
      args.emplace_back(argv[i]);
  }
  if (args.empty()) {
    std::fprintf(stderr, "usage: gen-hive PATH [KEYS [VALUES]] [--vary PERCENT]\n");
    return 2;
  }
  const std::size_t keys = args.size() > 1 ? std::strtoul(args[1].c_str(), nullptr, 10) : 200000;
  const std::size_t values = args.size() > 2 ? std::strtoul(args[2].c_str(), nullptr, 10) : 650000;

  Gen g{.keys_left = keys, .values_left = values, .values_per_key = values / std::max<std::size_t>(keys, 1)};
  KeySpec root{.name = "ROOT"};
  --g.keys_left;

  // The two extremes the interface must handle.
  KeySpec wide{.name = "Wide"};
  const std::size_t wide_count = std::min<std::size_t>(50000, keys / 4);
  for (std::size_t i = 0; i < wide_count; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Entry%06zu", i);
    wide.subkeys.push_back(KeySpec{.name = buf});
  }
  g.keys_left -= std::min(g.keys_left, wide_count + 1);
  g.index_children(wide);
  KeySpec many_values{.name = "ManyValues"};
  g.fill_values(many_values, std::min<std::size_t>(5000, values / 10));
  g.keys_left -= std::min<std::size_t>(g.keys_left, 1);
  root.subkeys.push_back(wide);
  root.subkeys.push_back(many_values);

  for (std::size_t top = 0; g.keys_left > 0; ++top)
    root.subkeys.push_back(g.subtree(g.name("Top", top), std::min<std::size_t>(g.keys_left, 12000), 1));
  // Whatever value budget is left goes to the top-level keys, round robin.
  for (std::size_t i = 2; g.values_left > 0; i = i + 1 < root.subkeys.size() ? i + 1 : 2) {
    KeySpec& k = root.subkeys[i];
    k.values.push_back(g.value(k.values.size()));
    --g.values_left;
  }
  g.index_children(root);
  std::size_t varied = 0;
  if (vary > 0) {
    Variation variation{.gen = g, .share = vary / 100};
    variation.walk(root);
    varied = variation.changed;
  }

  HiveBuilder b;
  b.tree(root);
  b.write_file(args[0]);
  std::printf("wrote %s: %zu keys, %zu values, %u bytes of bins", args[0].c_str(), keys, values,
              b.bins_size());
  if (vary > 0) std::printf("; %zu keys varied", varied);
  std::printf("\n");
  return 0;
}
