// Gives every key of a hive its own last write time, for the timeline bench:
//   timeline-times IN OUT     OUT: IN with times spread over ten years
// The generated hive stamps every key alike, which would leave a timeline
// nothing to sort. The output is the same for the same input.
#include <cstdio>
#include <random>
#include <string>

#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/save.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: timeline-times IN OUT\n");
    return 2;
  }
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(argv[1], &error);
  if (!hive) {
    std::fprintf(stderr, "%s\n", error ? error->message : "cannot open");
    return 1;
  }
  tol_hive_make_writable(*hive);
  // 2015-01-01 to 2025-01-01, whole seconds with a random fraction.
  constexpr std::uint64_t kFrom = 130645440000000000ull;
  constexpr std::uint64_t kSpan = 3653ull * 86400 * 10000000;
  std::mt19937_64 rng(20261208);
  std::size_t keys = 0;
  tol_hive_walk_subtree(*hive, hive->root_cell, [&](std::uint32_t key) {
    if (auto nk = tol_hive_key_mut(*hive, key)) {
      nk->put_u64(TOL_NK_TIMESTAMP, kFrom + rng() % kSpan);
      ++keys;
    }
    return true;
  });
  hive->dirty = true;
  hive->path = argv[2];
  if (!tol_hive_save_new(*hive, argv[1], &error)) {
    std::fprintf(stderr, "%s\n", error ? error->message : "cannot save");
    return 1;
  }
  std::printf("wrote %s: %zu keys with times of their own\n", argv[2], keys);
  return 0;
}
