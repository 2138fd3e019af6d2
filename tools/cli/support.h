// Helpers shared by the command implementations.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "hive/hive.h"

namespace tolcli {

const Command* find_command(std::string_view name);

// A command's arguments: positionals, and the options given from the ones it
// knows. Flags stand alone; valued options take the next argument (the last
// use wins). "--" ends the options, so a positional may start with dashes;
// an argument of one dash that names no option is a positional (a number
// such as -1).
struct CommandArgs {
  std::vector<std::string> pos;
  std::vector<std::string> flags;
  std::vector<std::pair<std::string, std::string>> values;
  bool has(std::string_view flag) const;
  // The value given with any of the names, or nothing.
  std::optional<std::string> value(std::initializer_list<std::string_view> names) const;
};
// Nothing for an unknown "--option", or a valued option without its value.
std::optional<CommandArgs> parse_args(std::span<const std::string> raw,
                                      std::initializer_list<std::string_view> flags,
                                      std::initializer_list<std::string_view> valued);

// Whether hives are opened with their transaction logs applied (the default)
// or as the files are on disk (--no-logs).
void set_log_policy(TolLogPolicy policy);
TolLogPolicy log_policy();
// Opens a hive; on failure reports the open message and returns null.
TolHivePtr open_hive(const std::string& path);
// Before a command saves: a hive whose logged changes are not all in the image
// is refused unless forced, and forcing says that those changes will be lost.
// True when the command must stop.
bool refuse_pending_log(const TolHive& hive, bool force);
// The nk offset of a backslash path; on failure reports "no such key".
std::optional<std::uint32_t> resolve_key(const TolHive& hive, std::string_view path);
// The value with that name (ASCII case-insensitive), or nothing.
std::optional<TolHiveValue> read_named_value(const TolHive& hive, std::uint32_t key,
                                             std::string_view name);
// "(Default)" for the empty name, the name otherwise.
std::string display_value_name(std::string_view name);
// How `sd` prints a descriptor: hex bytes (as it always has), SDDL, or
// decoded in words; with --json always one object holding all three.
enum class SecurityForm { hex, sddl, decoded };
int print_security(std::span<const std::uint8_t> descriptor, SecurityForm form);
// Writes every byte, retrying short writes.
bool write_all(int fd, std::span<const std::uint8_t> bytes);

}  // namespace tolcli
