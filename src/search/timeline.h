// A timeline: the keys of a subtree ordered by last-write time, newest first.
//
// The walk reads one time per key and keeps the key's offset and its parent
// in the walk, never its path: paths are built only for the entries a caller
// prints (tol_timeline_path). With a limit, only that many entries are kept
// (a bounded heap), whatever the size of the hive. The walk is guarded like
// the search's: each key once, at most TOL_MAX_KEY_DEPTH levels, lists that
// name each other cost nothing extra; records that are not keys are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hive/hive.h"

struct TolTimelineOptions {
  std::optional<std::uint64_t> since;  // FILETIME, inclusive
  std::optional<std::uint64_t> until;  // FILETIME, inclusive
  std::size_t limit = 0;               // the newest this many; 0 for all
};

struct TolTimelineEntry {
  std::uint64_t last_write = 0;  // FILETIME
  std::uint32_t key = TOL_NO_CELL;  // nk offset
  std::uint32_t node = 0;        // the key's place in the walk (see tol_timeline_path)
};

struct TolTimeline {
  // Newest first; keys of equal time in walk order (depth first, subkeys in
  // stored order).
  std::vector<TolTimelineEntry> entries;
  std::size_t keys_walked = 0;  // readable keys met, in bounds or not
  // The walk's tree, for paths: each node's key and its parent's node (the
  // start key is node 0, its own parent).
  struct Node {
    std::uint32_t key;
    std::uint32_t parent;
  };
  std::vector<Node> nodes;
  std::string start_path;  // tol_hive_key_path of the start key
};

// The timeline of `start` and every key below it.
TolTimeline tol_timeline(const TolHive& hive, std::uint32_t start, const TolTimelineOptions& options);
// The entry's key path from the root as the walk reached it (no leading
// backslash, "" for the root), into `out` (cleared first).
void tol_timeline_path(const TolHive& hive, const TolTimeline& timeline,
                       const TolTimelineEntry& entry, std::string& out);
