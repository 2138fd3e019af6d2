#include "search/timeline.h"

#include <algorithm>

#include "hive/format.h"
#include "search/key_set.h"

namespace {

// Newest first; equal times in walk order.
bool ranks_before(const TolTimelineEntry& a, const TolTimelineEntry& b) {
  return a.last_write != b.last_write ? a.last_write > b.last_write : a.node < b.node;
}

class Walk {
 public:
  Walk(const TolHive& hive, const TolTimelineOptions& options, TolTimeline& out)
      : hive_(hive), options_(options), out_(out), visited_(hive.bins_length) {}

  void key(std::uint32_t nk, std::uint32_t parent, int depth) {
    if (depth >= TOL_MAX_KEY_DEPTH || !visited_.insert(nk)) return;
    const auto record = tol_hive_key(hive_, nk);
    if (!record) return;
    const auto node = static_cast<std::uint32_t>(out_.nodes.size());
    out_.nodes.push_back({nk, depth == 0 ? node : parent});
    ++out_.keys_walked;
    const std::uint64_t time = record->u64(TOL_NK_TIMESTAMP);
    if ((!options_.since || time >= *options_.since) && (!options_.until || time <= *options_.until))
      keep({time, nk, node});

    std::vector<std::uint32_t>& subkeys = levels_[static_cast<std::size_t>(depth)];
    tol_hive_subkeys_into(hive_, nk, subkeys);
    for (const std::uint32_t sub : subkeys) key(sub, node, depth + 1);
  }

  void finish() {
    auto& entries = out_.entries;
    if (options_.limit == 0)
      std::sort(entries.begin(), entries.end(), ranks_before);
    else
      std::sort_heap(entries.begin(), entries.end(), ranks_before);
  }

 private:
  void keep(const TolTimelineEntry& entry) {
    auto& entries = out_.entries;
    if (options_.limit == 0) {
      entries.push_back(entry);
      return;
    }
    // A heap whose top is the entry that ranks last: a newcomer replaces it
    // or is dropped, so the work stays O(keys * log limit).
    if (entries.size() == options_.limit) {
      if (!ranks_before(entry, entries.front())) return;
      std::pop_heap(entries.begin(), entries.end(), ranks_before);
      entries.back() = entry;
    } else {
      entries.push_back(entry);
    }
    std::push_heap(entries.begin(), entries.end(), ranks_before);
  }

  const TolHive& hive_;
  const TolTimelineOptions& options_;
  TolTimeline& out_;
  TolKeySet visited_;
  std::vector<std::vector<std::uint32_t>> levels_ =
      std::vector<std::vector<std::uint32_t>>(TOL_MAX_KEY_DEPTH);
};

}  // namespace

TolTimeline tol_timeline(const TolHive& hive, std::uint32_t start, const TolTimelineOptions& options) {
  TolTimeline timeline;
  timeline.start_path = tol_hive_key_path(hive, start);
  if (options.limit != 0) timeline.entries.reserve(std::min<std::size_t>(options.limit, hive.bins_length / 80 + 1));
  Walk walk(hive, options, timeline);
  walk.key(start, 0, 0);
  walk.finish();
  return timeline;
}

void tol_timeline_path(const TolHive& hive, const TolTimeline& timeline,
                       const TolTimelineEntry& entry, std::string& out) {
  out = timeline.start_path;
  // The chain up to the start key, at most one step per level walked.
  std::uint32_t chain[TOL_MAX_KEY_DEPTH];
  int n = 0;
  for (std::uint32_t node = entry.node; node != 0 && node < timeline.nodes.size() && n < TOL_MAX_KEY_DEPTH;
       node = timeline.nodes[node].parent)
    chain[n++] = timeline.nodes[node].key;
  while (n > 0) {
    if (!out.empty()) out += '\\';
    tol_hive_append_key_name(hive, chain[--n], out);
  }
}
