// A comparison as a .reg file: imported below the left key, it turns the left
// subtree into the right one.
#pragma once

#include <glib.h>

#include <string>

#include "hive/compare.h"
#include "hive/hive.h"
#include "reg/export.h"

// Header, then for each key in the diff's order: "[-PATH]" for a key only on
// the left, the whole exported subtree for a key only on the right, and a
// section with "name"=- for values only on the left and the right's data for
// values only on the right or changed. Paths are relative to the compared
// keys ("[]" is the left key itself); quoting and data follow the exporter.
// Names both sides have are written as the left spells them, so that the
// import replaces the left's value instead of adding one Windows would take
// for the same.
// Class, security and time entries have no .reg form and are left out.
// False when the sink failed.
bool tol_reg_diff(TolRegOutput& out, const TolHive& left, const TolHive& right,
                  const TolDiff& diff);
std::string tol_reg_diff_text(const TolHive& left, const TolHive& right, const TolDiff& diff);
// The same written to `path` through a temporary file beside it that replaces
// the path only when complete. False with a G_FILE_ERROR error on failure.
bool tol_reg_diff_file(const TolHive& left, const TolHive& right, const TolDiff& diff,
                       const std::string& path, GError** error);
