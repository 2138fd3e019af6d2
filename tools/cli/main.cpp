// tolvane-cli: scriptable access to hive files through the Tolvane engine.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"

namespace tolcli {

std::span<const Command> commands() {
  static const std::vector<Command> all = [] {
    std::vector<Command> v;
    for (auto group : {read_commands(), edit_commands(), reg_commands(), search_commands(),
                        details_commands(), diff_commands(), deleted_commands()})
      v.insert(v.end(), group.begin(), group.end());
    return v;
  }();
  return all;
}

}  // namespace tolcli

namespace {

void print_help(std::FILE* out) {
  std::fprintf(out,
               "Usage: tolvane-cli COMMAND ARGUMENTS...\n\n"
               "Key paths are backslash-separated names from the root (\"\" or \"\\\" is the\n"
               "root), matched ASCII case-insensitively.\n\nCommands:\n");
  for (const tolcli::Command& c : tolcli::commands())
    std::fprintf(out, "  %s %s\n      %s\n", c.name, c.synopsis, c.summary);
  std::fprintf(out,
               "\n  --version\n      print the version and exit\n"
               "\nOptions for every command:\n"
               "  --no-logs\n"
               "      open dirty hives as the files are on disk, without applying their\n"
               "      transaction logs (.LOG1/.LOG2/.LOG)\n"
               "  --json\n"
               "      print data as JSON: one object, or one object per line for lists\n"
               "      (ls, values, search, timeline, diff, deleted); see tolvane-cli(1)\n"
               "\nExit status: 0 success, 1 the operation failed, 2 wrong usage (diff: 0\n"
               "equal, 1 different, 3 failed).\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    print_help(stderr);
    return tolcli::kUsage;
  }
  // --no-logs and --json may stand anywhere before "--", the command name
  // included.
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      words.insert(words.end(), argv + i, argv + argc);
      break;
    }
    if (arg == "--no-logs")
      tolcli::set_log_policy(TolLogPolicy::ignore);
    else if (arg == "--json")
      tolcli::set_json_output(true);
    else
      words.push_back(arg);
  }
  if (words.empty()) {
    print_help(stderr);
    return tolcli::kUsage;
  }
  const std::string name = words.front();
  if (name == "--help" || name == "-h" || name == "help") {
    print_help(stdout);
    return tolcli::kOk;
  }
  if (name == "--version") {
    std::printf("tolvane-cli %s\n", TOL_VERSION);
    return tolcli::kOk;
  }
  const tolcli::Command* cmd = tolcli::find_command(name);
  if (!cmd) return tolcli::fail(tolcli::kUsage, "unknown command '" + name + "' (see --help)");
  const std::vector<std::string> args(words.begin() + 1, words.end());
  return cmd->run(args);
}
