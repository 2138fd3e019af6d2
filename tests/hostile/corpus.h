// Hostile hives: images built byte by byte with the test builder whose records
// lie to their readers in every way the format allows (cycles, lists naming
// each other, counts far beyond their cells, overlapping cells, bad bins, odd
// names, looping big data, absurd security records, deep chains).
//
// Every hive is a small sound tree ("Keep" and "Victim" below the root) with
// one kind of damage, mostly in or below "Victim", so that tests can edit the
// damaged key and check that the rest of the hive survives. A few control
// hives are sound, which shows that the harness itself accepts good hives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hive_builder.h"

namespace tol::test {

// What an editing session should leave behind.
enum class EditResult {
  clean,      // the saved hive passes the consistency check
  damaged,    // still damaged, but nothing is worse than before
  unchanged,  // every edit was refused; nothing was saved
};

const char* edit_result_name(EditResult result);

struct HostileHive {
  std::string name;  // unique, usable as a file name and a test name
  std::string kind;  // the class of damage
  Bytes image;
  // The key the damage is about (deleted, renamed and given values by the
  // editing sessions), or kNoCell when the damage leaves no key to edit.
  std::uint32_t victim = kNoCell;
  bool sound = false;  // the consistency check finds nothing wrong
  // After creating a key, setting values, renaming the victim and its values:
  EditResult after_edits = EditResult::damaged;
  // After deleting the victim:
  EditResult after_delete = EditResult::clean;
  // Records that one cell serves two owners (two keys, a list and a value),
  // or that live records lie in free cells. Editing frees or reuses such a
  // cell for one owner while the other still names it, which the engine
  // cannot see without walking the whole hive: the consistency check reports
  // this damage before any edit, and what an edit leaves is not judged.
  bool shared_cells = false;
};

// Built once; between 40 and 80 hives, names unique.
const std::vector<HostileHive>& hostile_corpus();
// The hive of that name; throws when there is none.
const HostileHive& hostile_hive(const std::string& name);

}  // namespace tol::test
