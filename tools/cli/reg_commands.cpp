// .reg interchange: export a subtree as text, import a .reg file under a key.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/document.h"
#include "hive/save.h"
#include "reg/export.h"
#include "reg/import.h"

namespace tolcli {
namespace {

struct Args {
  std::vector<std::string> pos;
  std::optional<std::string> output;
  bool force = false;
  bool stat = false;
  bool bad = false;
};

Args parse(std::span<const std::string> raw, bool allow_output, bool allow_force) {
  Args a;
  const auto args = allow_output ? parse_args(raw, {"--stat"}, {"-o", "--output"})
                    : allow_force ? parse_args(raw, {"--force"}, {})
                                  : parse_args(raw, {}, {});
  if (!args) {
    a.bad = true;
    return a;
  }
  a.pos = args->pos;
  a.output = args->value({"-o", "--output"});
  a.stat = args->has("--stat");
  a.force = args->has("--force");
  return a;
}

int report(GError* error, const std::string& fallback) {
  const int rc = fail(kFailed, error && error->message ? error->message : fallback);
  g_clear_error(&error);
  return rc;
}

int cmd_export(std::span<const std::string> raw) {
  const Args a = parse(raw, true, false);
  if (a.bad || a.pos.size() != 2) return usage_error(*find_command("export"));
  TolHivePtr hive = open_hive(a.pos[0]);
  if (!hive) return kFailed;
  const auto key = resolve_key(*hive, a.pos[1]);
  if (!key) return kFailed;

  if (a.stat) {
    if (a.output) return usage_error(*find_command("export"));
    // What the file would hold, counted as it streams by: sections open with
    // "[" and values with a quote or "@" at the start of a line.
    std::uint64_t keys = 0, values = 0, bytes = 0;
    bool line_start = true;
    TolRegOutput count([&](std::string_view piece) {
      bytes += piece.size();
      for (const char c : piece) {
        if (line_start && c == '[') ++keys;
        if (line_start && (c == '"' || c == '@')) ++values;
        line_start = c == '\n';
      }
      return true;
    });
    if (!tol_reg_export(count, *hive, *key)) return fail(kFailed, "the export failed");
    if (json_output()) {
      Json json;
      json.begin_object().key("keys").num(keys).key("values").num(values).key("bytes").num(bytes).end_object();
      print_json(json);
    } else {
      std::printf("%llu keys, %llu values, %llu bytes\n", static_cast<unsigned long long>(keys),
                  static_cast<unsigned long long>(values), static_cast<unsigned long long>(bytes));
    }
    return kOk;
  }
  if (a.output) {
    GError* error = nullptr;
    if (!tol_reg_export_file(*hive, *key, *a.output, &error))
      return report(error, "writing " + *a.output + " failed");
    return kOk;
  }
  // Streamed in pieces: a large subtree never sits in memory as one text.
  TolRegOutput out([](std::string_view piece) {
    return write_all(STDOUT_FILENO, {reinterpret_cast<const std::uint8_t*>(piece.data()),
                                     piece.size()});
  });
  if (!tol_reg_export(out, *hive, *key)) return fail(kFailed, "writing to standard output failed");
  return kOk;
}

int cmd_import(std::span<const std::string> raw) {
  const Args a = parse(raw, false, true);
  if (a.bad || a.pos.size() != 3) return usage_error(*find_command("import"));
  GError* error = nullptr;
  g_autoptr(TolDocument) document = tol_document_open(a.pos[0], log_policy(), &error);
  if (!document) return report(error, "cannot open the hive");
  TolHive& hive = tol_document_get_hive(document);
  if (refuse_pending_log(hive, a.force)) return kFailed;
  const auto key = resolve_key(hive, a.pos[1]);
  if (!key) return kFailed;

  // Saved also when lines failed: what did apply is kept. A file that cannot
  // be read or parsed at all changes nothing.
  TolRegImportCounts counts;
  const auto import = [&](TolHive& image, GError** why) {
    return tol_reg_import_from_file(image, *key, a.pos[2], counts, why);
  };
  if (!tol_document_change(document, TolChange{TolChangeKind::subtree, *key}, import, &error))
    return report(error, "import failed");
  std::printf("%s\n", tol_reg_import_summary(counts).c_str());
  return kOk;
}

constexpr Command kRegCommands[] = {
    {"export", "HIVE KEY [-o FILE | --stat]",
     "write the key's subtree as a .reg file (version 5.00) to FILE or standard output; with --stat "
     "only count the keys, values and bytes it would hold",
     cmd_export},
    {"import", "HIVE KEY FILE [--force]",
     "apply a .reg file below KEY (its key paths are relative to KEY) and save; prints what was "
     "done",
     cmd_import},
};

}  // namespace

std::span<const Command> reg_commands() { return kRegCommands; }

}  // namespace tolcli
