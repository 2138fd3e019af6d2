// Read-only commands: info, ls, values, get.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/hive.h"
#include "hive/logs.h"
#include "hive/names.h"
#include "hive/winorder.h"
#include "value/codec.h"

namespace tolcli {
namespace {

// The transaction logs' report as a JSON object.
void json_logs(Json& j, const TolHive& hive) {
  const TolLogReport& logs = hive.logs;
  j.begin_object().key("examined").boolean(logs.examined);
  j.key("needed").boolean(logs.examined || tol_hive_needs_recovery(hive.base()));
  j.key("complete").boolean(logs.complete).key("pending").boolean(logs.pending);
  j.key("format").str(logs.old_format ? "old" : "new").key("applied").num(logs.applied);
  j.key("files").begin_array();
  for (const std::string& f : logs.files) j.str(f);
  j.end_array();
  j.key("first_sequence").num(logs.first_sequence).key("last_sequence").num(logs.last_sequence);
  j.key("base_block_from_log").boolean(logs.base_from_log);
  j.key("summary").str(tol_log_summary(logs)).key("problem").str(logs.problem).end_object();
}

// "name", and "name_hex" with the stored bytes when the name does not decode
// without loss (broken UTF-16 reads as "?").
void json_name(Json& j, std::string_view name, tol::ByteView stored, bool one_byte) {
  j.key("name").str(name);
  if (!one_byte && !utf16_lossless(stored.span())) j.key("name_hex").hex(stored.span());
}

// A value's type, data as hex, and the data decoded where the type has a form.
void json_value(Json& j, const TolHive& hive, std::uint32_t key, std::uint32_t index,
                const TolHiveValue& value) {
  j.begin_object();
  tol::ByteView stored;
  bool one_byte = true;
  if (const auto rec = tol_hive_key(hive, key)) {
    if (const auto list = tol_hive_cell(hive, rec->u32(TOL_NK_VALUE_LIST))) {
      if (const auto vk = tol_hive_vk(hive, list->u32(std::size_t{index} * 4))) {
        stored = vk->sub(TOL_VK_NAME, vk->u16(TOL_VK_NAME_LENGTH));
        one_byte = (vk->u16(TOL_VK_FLAGS) & TOL_VK_FLAG_ASCII_NAME) != 0;
      }
    }
  }
  json_name(j, value.name, stored, one_byte);
  j.key("type").num(value.type).key("type_name").str(tol_value_type_name(value.type));
  j.key("data_hex").hex(value.data);
  const tol::ByteView data(value.data);
  switch (value.type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ: j.key("text").str(tol_utf16_to_utf8(value.data)); break;
    case TOL_REG_MULTI_SZ: {
      j.key("strings").begin_array();
      const std::string joined = tol_value_multi_sz_decode(value.data);
      for (std::size_t start = 0; !joined.empty();) {
        const std::size_t nl = joined.find('\n', start);
        j.str(std::string_view(joined).substr(start, nl == std::string::npos ? nl : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
      }
      j.end_array();
      break;
    }
    case TOL_REG_DWORD:
      if (data.size() == 4) j.key("number").num(data.u32(0));
      break;
    case TOL_REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) j.key("number").num(__builtin_bswap32(data.u32(0)));
      break;
    case TOL_REG_QWORD:
      if (data.size() == 8) j.key("number").num(data.u64(0));
      break;
    default: break;
  }
  j.end_object();
}

int cmd_info(std::span<const std::string> args) {
  if (args.size() != 1) return usage_error(*find_command("info"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  const tol::ByteView base = hive->base();
  const std::uint32_t stored = base.u32(TOL_BASE_CHECKSUM);
  const std::uint32_t computed = tol_hive_checksum(base);
  const std::uint32_t primary = tol_hive_primary_sequence(*hive);
  const std::uint32_t secondary = tol_hive_secondary_sequence(*hive);
  if (json_output()) {
    Json j;
    j.begin_object();
    j.key("version").str(std::to_string(tol_hive_major_version(*hive)) + "." +
                         std::to_string(tol_hive_minor_version(*hive)));
    j.key("root_name").str(tol_hive_key_name(*hive, hive->root_cell));
    j.key("root_cell").num(hive->root_cell).key("bins_length").num(hive->bins_length);
    j.key("primary_sequence").num(primary).key("secondary_sequence").num(secondary);
    j.key("checksum").begin_object().key("stored").num(stored).key("computed").num(computed);
    j.key("ok").boolean(stored == computed).end_object();
    j.key("dirty").boolean(tol_hive_has_pending_log(*hive));
    j.key("transaction_logs");
    json_logs(j, *hive);
    print_json(j.end_object());
    return kOk;
  }
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
  for (std::uint32_t sub : tol_hive_subkeys(*hive, *key)) {
    if (!json_output()) {
      std::printf("%s\n", tol_hive_key_name(*hive, sub).c_str());
      continue;
    }
    Json j;
    j.begin_object();
    const tol::StoredName stored = tol::stored_key_name(*hive, sub);
    json_name(j, tol_hive_key_name(*hive, sub), stored.bytes(), stored.one_byte());
    print_json(j.end_object());
  }
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
    if (json_output()) {
      Json j;
      json_value(j, *hive, *key, i, value);
      print_json(j);
      continue;
    }
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
  if (json_output()) {
    const std::uint32_t count = tol_hive_value_count(*hive, *key);
    for (std::uint32_t i = 0; i < count; ++i) {
      TolHiveValue candidate;
      if (!tol_hive_read_value(*hive, *key, i, candidate) || !tol_name_equal(candidate.name, name)) continue;
      Json j;
      json_value(j, *hive, *key, i, candidate);
      print_json(j);
      break;
    }
    return kOk;
  }
  if (!write_all(STDOUT_FILENO, value->data)) return fail(kFailed, "cannot write the data");
  return kOk;
}

constexpr Command kReadCommands[] = {
    {"info", "HIVE [--json]", "root key, offsets, sequence numbers, checksum, dirty state and what the transaction logs "
     "brought", cmd_info},
    {"ls", "HIVE [KEY] [--json]", "names of the key's subkeys, in stored order", cmd_ls},
    {"values", "HIVE [KEY] [--json]", "the key's values: name, type and data as the value list shows them",
     cmd_values},
    {"get", "HIVE KEY [NAME] [--json]", "raw data of one value (the default value without NAME)", cmd_get},
};

}  // namespace

std::span<const Command> read_commands() { return kReadCommands; }

}  // namespace tolcli
