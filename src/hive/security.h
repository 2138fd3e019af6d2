// Security descriptors of keys (sk records).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hive/hive.h"

// The self-relative descriptor checks: header, revision 1, self-relative flag,
// the bounds of owner, group, SACL and DACL.
bool tol_security_descriptor_valid(std::span<const std::uint8_t> descriptor);
// The descriptor bytes of the key's sk record, or nothing when it has no valid one.
std::optional<std::vector<std::uint8_t>> tol_hive_key_security(const TolHive& hive,
                                                               std::uint32_t key);
// Gives the key a new sk record of its own holding the descriptor, linked into
// the hive's list of sk records; the old record's count drops by one.
// False (nothing changed) with the reason when the descriptor is invalid, the
// key unreadable or the records it would touch damaged.
bool tol_hive_store_security(TolHive& hive, std::uint32_t key,
                             std::span<const std::uint8_t> descriptor, GError** error = nullptr);
