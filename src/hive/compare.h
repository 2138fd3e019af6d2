// Comparing two subtrees, in one hive or in two.
//
// Names are matched as Windows matches them (upcase_unit, unit by unit), so a
// key named "Run" on one side and "RUN" on the other is the same key. Both
// sides' subkey lists are walked together in Windows' order, which sound hives
// keep; a list out of that order (a damaged or foreign hive) is sorted first,
// and keys already entered on a side are not entered again, so damaged lists
// cost no more than sound ones.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hive/hive.h"

enum class TolDiffKind : std::uint8_t {
  key_only_left,     // the whole subtree is only on the left
  key_only_right,    // the whole subtree is only on the right
  value_only_left,
  value_only_right,
  value_changed,     // type or data differ
  class_changed,     // the keys' class names differ (TolDiffOptions::security)
  security_changed,  // the keys' descriptors differ (TolDiffOptions::security)
  time_changed,      // the keys' last-write times differ (TolDiffOptions::times)
};
inline constexpr int TOL_DIFF_KINDS = 8;

struct TolDiffEntry {
  TolDiffKind kind = TolDiffKind::value_changed;
  // The key's path below the compared keys, names joined by "\\" as the side
  // that has the key spells them (the left one when both have it); "" for the
  // compared keys themselves. For key entries it ends with the key's own name.
  std::string path;
  // The value's name for value entries ("" is the default value), spelled as
  // the side that has it spells it (the left one when both have it).
  std::string value;
  // The key on each side, or for a key only on one side the nearest key above
  // it that the other side has (its parent there). nk offsets.
  std::uint32_t left_key = TOL_NO_CELL;
  std::uint32_t right_key = TOL_NO_CELL;
  // Value entries: the vk records on each side (TOL_NO_CELL on the side that
  // lacks the value), so that the data need not be looked up by name again.
  std::uint32_t left_value = TOL_NO_CELL;
  std::uint32_t right_value = TOL_NO_CELL;
  // Keys only on one side: the keys (itself included) and values of the subtree.
  std::uint32_t subtree_keys = 0;
  std::uint32_t subtree_values = 0;
  // value_changed: what differs.
  bool type_differs = false;
  bool data_differs = false;
};

struct TolDiffOptions {
  bool security = false;  // also compare class names and security descriptors
  bool times = false;     // also compare last-write times
};

struct TolDiffCounts {
  std::uint32_t by_kind[TOL_DIFF_KINDS] = {};
  std::uint32_t total() const {
    std::uint32_t n = 0;
    for (std::uint32_t c : by_kind) n += c;
    return n;
  }
};

struct TolDiff {
  // Depth first in Windows' order of key names: a key's own entries (class,
  // security, time, then its values in Windows' order of value names) come
  // before the entries of its subkeys. Stable for equal input.
  std::vector<TolDiffEntry> entries;
  TolDiffCounts counts;
};

// Compares the subtree at left_key of `left` with the one at right_key of
// `right` (the same hive may be both). False with G_FILE_ERROR_INVAL when
// either key is not a readable key record, or G_IO_ERROR_CANCELLED when
// `keep_going` (asked now and then) returns false.
bool tol_compare(const TolHive& left, std::uint32_t left_key, const TolHive& right,
                 std::uint32_t right_key, const TolDiffOptions& options, TolDiff& out,
                 GError** error, const std::function<bool()>& keep_going = {});

// "+" (only on the right, so the diff adds it), "-" (only on the left) or "~".
const char* tol_diff_sign(TolDiffKind kind);
// "key", "value", "class", "security", "time".
const char* tol_diff_noun(TolDiffKind kind);
