#include "ui/deleted_layout.h"

#include <algorithm>
#include <cstdint>

TolDeletedLayout tol_deleted_layout_new(TolDeletedScan scan) {
  TolDeletedLayout layout;
  layout.scan = std::move(scan);
  const std::vector<TolDeletedKey>& keys = layout.scan.keys;
  const std::size_t n = keys.size();

  // Every chain that does not reach a live key either ends in the unknown
  // or loops; each key is walked once.
  enum : std::uint8_t { kTodo, kOnPath, kDone };
  std::vector<std::uint8_t> state(n, kTodo);
  std::vector<bool> cut(n, false);
  std::vector<std::size_t> chain;
  for (std::size_t i = 0; i < n; ++i) {
    const TolDeletedKey& key = keys[i];
    if (key.parent_place == TolDeletedPlace::live) {
      layout.below_live[key.parent].push_back(i);
      continue;
    }
    if (key.parent_place == TolDeletedPlace::unknown) {
      layout.unknown_keys.push_back(i);
      continue;
    }
    if (key.live_ancestor != TOL_NO_CELL) continue;
    chain.clear();
    std::size_t at = i;
    while (state[at] == kTodo && keys[at].parent_place == TolDeletedPlace::deleted &&
           keys[at].parent_index < n) {
      state[at] = kOnPath;
      chain.push_back(at);
      at = keys[at].parent_index;
    }
    if (state[at] == kOnPath) {
      cut[at] = true;
      layout.unknown_keys.push_back(at);
    }
    for (const std::size_t k : chain) state[k] = kDone;
  }

  std::sort(layout.unknown_keys.begin(), layout.unknown_keys.end());
  layout.children.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (const std::size_t child : keys[i].subkeys)
      if (child < n && !cut[child]) layout.children[i].push_back(child);
  }
  for (std::size_t i = 0; i < layout.scan.values.size(); ++i)
    if (layout.scan.values[i].owner_place == TolDeletedPlace::unknown) layout.unknown_values.push_back(i);
  return layout;
}
