// Everything the engine does with one hostile hive, meant to run in a child
// process under a watchdog: reading every key and value through every read
// operation and value text, the consistency check, .reg export, search, a
// dry replace, and three editing sessions on copies of the file (edits, delete
// of the damaged key, copy of the damaged key into a sound hive).
//
// The probe checks the engine's own invariants as it goes and returns a
// report of "key=value" lines; a line starting with "!" is a broken
// invariant.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "corpus.h"

namespace tol::test {

struct ProbeReport {
  std::map<std::string, std::string> fields;
  std::vector<std::string> failures;

  std::string text() const;
  static ProbeReport parse(const std::string& text);
  std::string get(const std::string& key) const {
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
  }
};

// Files the probe writes into `dir`: the edited, the pruned and the copy
// destination hive, when a session saved one, and the repaired hive.
inline constexpr const char* kEditedFile = "edited.hiv";
inline constexpr const char* kPrunedFile = "pruned.hiv";
inline constexpr const char* kCopyFile = "copy.hiv";
inline constexpr const char* kRepairedFile = "repaired.hiv";

// `file` holds the hive's image.
ProbeReport probe_hive(const HostileHive& hive, const std::string& file, const std::string& dir);

}  // namespace tol::test
