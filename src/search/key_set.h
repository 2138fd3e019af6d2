// The keys a search or replace walk has entered.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

// One bit per 8-byte slot of the hive-bins area for the cell offsets sound
// hives use, and a set for any other offset a damaged list may name: a walk
// over every key of a large hive then allocates once instead of per key.
class TolKeySet {
 public:
  explicit TolKeySet(std::uint32_t bins_length = 0) : slots_(bins_length / 8 + 1) {}
  // True when the key was not in the set yet.
  bool insert(std::uint32_t off) {
    if (off % 8 == 0 && off / 8 < slots_.size()) {
      if (slots_[off / 8]) return false;
      slots_[off / 8] = true;
      return true;
    }
    return others_.insert(off).second;
  }

 private:
  std::vector<bool> slots_;
  std::unordered_set<std::uint32_t> others_;
};
