// Repair and compaction: a new hive file holding everything of a hive that
// can still be read, laid out as Windows lays out a freshly written hive.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hive/hive.h"

// Something of the input that the new hive does not hold, or holds only in
// part. `path` is the key's path as tol_hive_key_path writes it ("" the root).
struct TolRepairDrop {
  std::string path;
  std::string reason;
};

struct TolRepairReport {
  std::vector<TolRepairDrop> drops;
  std::uint64_t size_before = 0;  // bytes of the input file
  std::uint64_t size_after = 0;   // bytes of the file written
  std::uint32_t keys = 0;
  std::uint32_t values = 0;
  std::uint32_t security_records = 0;
};

// Writes the new hive to out_path, which must not exist (the input is never
// written). Keys whose records or names are unsound, keys reached a second
// time (cycles, keys listed twice), siblings Windows would take for the same
// name (the first one stays) and values that cannot be read are left out and
// reported. Fails with a G_FILE_ERROR when the root key is unreadable or the
// file cannot be written; out_path is then left as it was.
bool tol_hive_repair(const TolHive& in, const std::string& out_path, TolRepairReport& report,
                     GError** error);
