// Editing throughput on the engine, for bench/run:
//   edit-bench create-keys DIR N      N keys under one parent of a new hive
//   edit-bench set-values DIR N       N values spread over 100 keys of a new hive
//   edit-bench save HIVE              one change to HIVE, then the atomic save
// Prints one line "<what> <count> <seconds> <bytes of image>" for the script.
//   edit-bench dirty-copy HIVE OUT MB  OUT: HIVE left dirty, with OUT.LOG1
//                                      holding MB megabytes of its pages
//   edit-bench open HIVE RUNS [--no-logs]  "open RUNS <median CPU seconds> <entries applied>"
//   edit-bench delete-keys HIVE OUT N  OUT: HIVE with N keys spread over it
//                                      deleted (with their subtrees)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>
#include <cstdlib>
#include <string>

#include "hive/create.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/logs.h"
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

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void put_u32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_u64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
  put_u32(b, off, static_cast<std::uint32_t>(v));
  put_u32(b, off + 4, static_cast<std::uint32_t>(v >> 32));
}

// A dirty copy of a hive whose LOG1 rewrites `mb` megabytes of its pages with
// the bytes they hold already, in entries of 64 pages: all the work of a real
// recovery, and a result that must still read as the original.
int dirty_copy(const std::string& in, const std::string& out, long mb) {
  std::ifstream file(in, std::ios::binary);
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(file)), {});
  if (image.size() < 8192) return 1;
  const tol::ByteView base(std::span<const std::uint8_t>(image).first(4096));
  const std::uint32_t sequence = base.u32(TOL_BASE_SEQ_SECONDARY);
  const std::uint32_t bins_size = base.u32(TOL_BASE_BINS_SIZE);
  std::vector<std::uint8_t> log(image.begin(), image.begin() + 512);
  put_u32(log, TOL_BASE_SEQ_PRIMARY, sequence);
  put_u32(log, TOL_BASE_SEQ_SECONDARY, sequence);
  put_u32(log, 0x1C, 6);
  put_u32(log, TOL_BASE_CHECKSUM, tol_hive_checksum(tol::ByteView(log)));
  const std::uint32_t pages = static_cast<std::uint32_t>(
      std::min<long>(mb * 256, static_cast<long>(bins_size / 4096)));
  std::uint32_t entry_sequence = sequence;
  for (std::uint32_t first = 0; first < pages; first += 64) {
    const std::uint32_t count = std::min<std::uint32_t>(64, pages - first);
    std::vector<std::uint8_t> e(40, 0);
    std::copy_n("HvLE", 4, e.begin());
    put_u32(e, 12, entry_sequence++);
    put_u32(e, 16, bins_size);
    put_u32(e, 20, count);
    for (std::uint32_t i = 0; i < count; ++i) {
      // Spread over the whole hive, as Windows' dirty pages are.
      const std::uint32_t page = (first + i) * (bins_size / 4096 / pages);
      e.resize(e.size() + 8);
      put_u32(e, e.size() - 8, page * 4096);
      put_u32(e, e.size() - 4, 4096);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t page = (first + i) * (bins_size / 4096 / pages);
      const auto at = image.begin() + 4096 + std::size_t{page} * 4096;
      e.insert(e.end(), at, at + 4096);
    }
    e.resize((e.size() + 511) / 512 * 512, 0);
    put_u32(e, 4, static_cast<std::uint32_t>(e.size()));
    put_u64(e, 24, tol_marvin32(std::span<const std::uint8_t>(e).subspan(40)));
    put_u64(e, 32, tol_marvin32(std::span<const std::uint8_t>(e).first(32)));
    log.insert(log.end(), e.begin(), e.end());
  }
  std::vector<std::uint8_t> dirty = image;
  put_u32(dirty, TOL_BASE_SEQ_PRIMARY, sequence + 1);
  put_u32(dirty, TOL_BASE_CHECKSUM,
          tol_hive_checksum(tol::ByteView(std::span<const std::uint8_t>(dirty).first(4096))));
  std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(dirty.data()),
                                             static_cast<std::streamsize>(dirty.size()));
  std::ofstream(out + ".LOG1", std::ios::binary)
      .write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
  return 0;
}

int open_times(const std::string& path, long runs, TolLogPolicy policy) {
  std::vector<double> cpu;
  std::uint32_t applied = 0;
  for (long i = 0; i < runs; ++i) {
    const double t0 = cpu_seconds();
    TolHivePtr hive = tol_hive_open(path, nullptr, policy);
    if (!hive) return 1;
    applied = hive->logs.applied;
    tol_hive_close(std::move(hive));
    cpu.push_back(cpu_seconds() - t0);
  }
  std::sort(cpu.begin(), cpu.end());
  std::printf("open %ld %.6f %u\n", runs, cpu[cpu.size() / 2], applied);
  return 0;
}

// A copy of a hive with keys deleted all over it, the way a hive that has
// been in use for a while holds deleted keys: every key below the top level
// is a candidate, and N of them, evenly spread, go. Keys are found by path
// each time, since a candidate may lie in a subtree deleted before it.
int delete_keys(const std::string& in, const std::string& out, long n) {
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(in, &error);
  if (!hive || n <= 0) return 1;
  std::vector<std::string> paths;
  tol_hive_walk_subtree(*hive, hive->root_cell, [&](std::uint32_t nk) {
    std::string path = tol_hive_key_path(*hive, nk);
    if (path.find('\\') != std::string::npos) paths.push_back(std::move(path));
    return true;
  });
  long deleted = 0;
  const std::size_t step = std::max<std::size_t>(1, paths.size() / static_cast<std::size_t>(n));
  for (std::size_t i = step / 2; i < paths.size() && deleted < n; i += step) {
    const auto key = tol_hive_find_path(*hive, paths[i]);
    if (key && tol_hive_delete_key(*hive, *key, nullptr)) ++deleted;
  }
  std::remove(out.c_str());
  hive->path = out;
  if (!tol_hive_save_new(*hive, in, &error)) {
    std::fprintf(stderr, "edit-bench: %s\n", error->message);
    return 1;
  }
  std::printf("delete-keys %ld\n", deleted);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "delete-keys")
    return delete_keys(argv[2], argv[3], std::strtol(argv[4], nullptr, 10));
  if (argc >= 5 && std::string(argv[1]) == "dirty-copy")
    return dirty_copy(argv[2], argv[3], std::strtol(argv[4], nullptr, 10));
  if (argc >= 4 && std::string(argv[1]) == "open")
    return open_times(argv[2], std::strtol(argv[3], nullptr, 10),
                      argc > 4 && std::string(argv[4]) == "--no-logs" ? TolLogPolicy::ignore
                                                                      : TolLogPolicy::apply);
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
