// Copying a key with its subtree, within a hive or between two hives.
#pragma once

#include <glib.h>

#include <cstdint>

#include "hive/hive.h"

// Merges the source key and everything below it under the destination parent.
// Returns the number of keys copied, 0 on failure with a G_FILE_ERROR error.
// src and dst may be the same hive.
std::uint32_t tol_hive_copy_subtree(TolHive& src, std::uint32_t key, TolHive& dst,
                                    std::uint32_t parent, GError** error);
std::uint32_t tol_hive_copy_key(TolHive& src, std::uint32_t key, TolHive& dst,
                                std::uint32_t parent, int level, GError** error);
