// Transaction logs: the changes Windows writes to NAME.LOG1/NAME.LOG2 (or
// NAME.LOG) before it writes them to the hive file itself.
//
// A hive whose base block is damaged or whose two sequence numbers differ was
// not fully written; opening applies its logs to the in-memory image the way
// Windows does when it loads the hive, and records in hive.logs what came of it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "hive/hive.h"

// The seed Windows hashes log entries with.
inline constexpr std::uint64_t TOL_LOG_MARVIN_SEED = 0x82EF4D887A4E55C5ull;

// Microsoft's Marvin32 hash of the bytes.
std::uint64_t tol_marvin32(std::span<const std::uint8_t> bytes,
                           std::uint64_t seed = TOL_LOG_MARVIN_SEED);

// True when Windows would recover the hive from its logs before using it:
// the base block's checksum is wrong or its sequence numbers differ.
bool tol_hive_needs_recovery(tol::ByteView base_block);

// The existing log files beside a hive file, in the order recovery considers
// them: NAME.LOG1, NAME.LOG2, NAME.LOG, each matched whatever its letter case.
std::vector<std::string> tol_hive_find_logs(const std::string& hive_path);

// Applies the logs of a freshly opened dirty hive, whose file is still open as
// fd, and fills hive.logs. The image stays read-only: the mapping is replaced
// by a copy-on-write one in which only the pages the logs replace are copied.
void tol_hive_apply_logs(TolHive& hive, int fd);

// One line about the logs for people: what was applied from which files, or
// why nothing (or not everything) was; empty when the hive was clean.
std::string tol_log_summary(const TolLogReport& report);
