// Read-only commands: info, ls, values, get.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/support.h"
#include "hive/hive.h"
#include "hive/logs.h"
#include "value/codec.h"

namespace tolcli {
namespace {

int cmd_info(std::span<const std::string> args) {
  if (args.size() != 1) return usage_error(*find_command("info"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  const tol::ByteView base = hive->base();
  const std::uint32_t stored = base.u32(TOL_BASE_CHECKSUM);
  const std::uint32_t computed = tol_hive_checksum(base);
  const std::uint32_t primary = tol_hive_primary_sequence(*hive);
  const std::uint32_t secondary = tol_hive_secondary_sequence(*hive);
  std::printf("version: %u.%u\n", tol_hive_major_version(*hive), tol_hive_minor_version(*hive));
  std::printf("root key name: %s\n", tol_hive_key_name(*hive, hive->root_cell).c_str());
  std::printf("root cell offset: 0x%08x\n", hive->root_cell);
  std::printf("bins length: %u\n", hive->bins_length);
  std::printf("primary sequence number: %u\n", primary);
  std::printf("secondary sequence number: %u\n", secondary);
  if (stored == computed)
    std::printf("checksum: ok (0x%08x)\n", stored);
  else
    std::printf("checksum: mismatch (stored 0x%08x, computed 0x%08x)\n", stored, computed);
  if (tol_hive_has_pending_log(*hive))
    std::printf("dirty: yes (changes are pending in the transaction logs .LOG1/.LOG2)\n");
  else
    std::printf("dirty: no\n");
  if (hive->logs.examined)
    std::printf("transaction logs: %s\n", tol_log_summary(hive->logs).c_str());
  else if (tol_hive_needs_recovery(hive->base()))
    std::printf("transaction logs: not applied (--no-logs)\n");
  else
    std::printf("transaction logs: not needed\n");
  return kOk;
}

int cmd_ls(std::span<const std::string> args) {
  if (args.empty() || args.size() > 2) return usage_error(*find_command("ls"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  auto key = resolve_key(*hive, args.size() > 1 ? args[1] : std::string());
  if (!key) return kFailed;
  for (std::uint32_t sub : tol_hive_subkeys(*hive, *key))
    std::printf("%s\n", tol_hive_key_name(*hive, sub).c_str());
  return kOk;
}

int cmd_values(std::span<const std::string> args) {
  if (args.empty() || args.size() > 2) return usage_error(*find_command("values"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  auto key = resolve_key(*hive, args.size() > 1 ? args[1] : std::string());
  if (!key) return kFailed;
  const std::uint32_t count = tol_hive_value_count(*hive, *key);
  for (std::uint32_t i = 0; i < count; ++i) {
    TolHiveValue value;
    if (!tol_hive_read_value(*hive, *key, i, value)) continue;
    std::printf("%s\t%s\t%s\n", display_value_name(value.name).c_str(),
                tol_value_type_name(value.type),
                tol_value_data_text(value.type, value.data).c_str());
  }
  return kOk;
}

int cmd_get(std::span<const std::string> args) {
  if (args.size() < 2 || args.size() > 3) return usage_error(*find_command("get"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  auto key = resolve_key(*hive, args[1]);
  if (!key) return kFailed;
  const std::string name = args.size() > 2 ? args[2] : std::string();
  auto value = read_named_value(*hive, *key, name);
  if (!value) return fail(kFailed, "no such value: " + display_value_name(name));
  if (!write_all(STDOUT_FILENO, value->data)) return fail(kFailed, "cannot write the data");
  return kOk;
}

constexpr Command kReadCommands[] = {
    {"info", "HIVE", "root key, offsets, sequence numbers, checksum, dirty state and what the transaction logs "
     "brought", cmd_info},
    {"ls", "HIVE [KEY]", "names of the key's subkeys, in stored order", cmd_ls},
    {"values", "HIVE [KEY]", "the key's values: name, type and data as the value list shows them",
     cmd_values},
    {"get", "HIVE KEY [NAME]", "raw data of one value (the default value without NAME)", cmd_get},
};

}  // namespace

std::span<const Command> read_commands() { return kReadCommands; }

}  // namespace tolcli
