// Editing throughput on the engine, for bench/run:
//   edit-bench create-keys DIR N      N keys under one parent of a new hive
//   edit-bench set-values DIR N       N values spread over 100 keys of a new hive
//   edit-bench save HIVE              one change to HIVE, then the atomic save
// Prints one line "<what> <count> <seconds> <bytes of image>" for the script.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hive/create.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/save.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

TolHivePtr fresh(const std::string& dir) {
  const std::string path = dir + "/edit-bench.hiv";
  std::remove(path.c_str());
  GError* error = nullptr;
  if (!tol_hive_create_file(path, "ROOT", &error)) {
    std::fprintf(stderr, "edit-bench: %s\n", error->message);
    std::exit(1);
  }
  TolHivePtr hive = tol_hive_open(path, &error);
  if (!hive) std::exit(1);
  tol_hive_make_writable(*hive);
  return hive;
}

bool save_or_die(TolHive& hive) {
  GError* error = nullptr;
  if (tol_hive_save(hive, &error)) return true;
  std::fprintf(stderr, "edit-bench: %s\n", error->message);
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 3 && std::string(argv[1]) == "save")) {
    std::fprintf(stderr, "usage: edit-bench create-keys|set-values DIR N | save HIVE\n");
    return 2;
  }
  const std::string what = argv[1];
  if (what == "save") {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(argv[2], &error);
    if (!hive) return 1;
    tol_hive_make_writable(*hive);
    const auto bench_value = std::vector<std::uint8_t>{1, 0, 0, 0};
    tol_hive_set_value(*hive, hive->root_cell, "EditBench", 4, bench_value);
    const auto t0 = Clock::now();
    save_or_die(*hive);
    std::printf("save 1 %.6f %u\n", seconds_since(t0), hive->bins_length + 4096);
    return 0;
  }
  const long n = std::strtol(argv[3], nullptr, 10);
  TolHivePtr hive = fresh(argv[2]);
  const auto t0 = Clock::now();
  if (what == "create-keys") {
    auto parent = tol_hive_create_key(*hive, hive->root_cell, "Parent");
    for (long i = 0; i < n; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "Key%06ld", (i * 7919) % n);  // not in sorted order
      if (!tol_hive_create_key(*hive, *parent, name)) return 1;
    }
  } else if (what == "set-values") {
    std::vector<std::uint32_t> keys;
    for (int k = 0; k < 100; ++k) {
      auto key = tol_hive_create_key(*hive, hive->root_cell, "Key" + std::to_string(k));
      keys.push_back(*key);
    }
    std::vector<std::uint8_t> data(24, 0x5A);
    for (long i = 0; i < n; ++i) {
      // Offsets stay valid across allocations; only views move.
      if (!tol_hive_set_value(*hive, keys[static_cast<std::size_t>(i % 100)],
                              "Value" + std::to_string(i), 3, data))
        return 1;
    }
  } else {
    return 2;
  }
  const double elapsed = seconds_since(t0);
  save_or_die(*hive);
  std::printf("%s %ld %.6f %u\n", what.c_str(), n, elapsed, hive->bins_length + 4096);
  return 0;
}
