// tolvane-cli: the headless front door to the engine.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolcli {

// Exit statuses shared by every command.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

struct Command {
  const char* name;
  const char* synopsis;  // arguments, for --help
  const char* summary;   // one line, for --help
  int (*run)(std::span<const std::string> args);
};

// Every command the tool knows, in the order --help lists them.
std::span<const Command> commands();

// Command groups, one per source file.
std::span<const Command> read_commands();
std::span<const Command> edit_commands();
std::span<const Command> reg_commands();
std::span<const Command> search_commands();
std::span<const Command> details_commands();
std::span<const Command> diff_commands();
std::span<const Command> deleted_commands();

// "tolvane-cli: MESSAGE" on standard error; returns status for convenience.
int fail(int status, std::string_view message);
int usage_error(const Command& cmd);

}  // namespace tolcli
