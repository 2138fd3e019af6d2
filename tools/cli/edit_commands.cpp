// Editing commands. Each opens the hive, applies one operation to the image,
// saves it atomically and prints one line; on failure the file is untouched.
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/check.h"
#include "hive/copy.h"
#include "hive/create.h"
#include "hive/document.h"
#include "hive/edit.h"
#include "hive/logs.h"
#include "hive/repair.h"
#include "hive/save.h"
#include "hive/sddl.h"
#include "hive/security.h"
#include "value/codec.h"

namespace tolcli {
namespace {

// Positional arguments and the options editing commands understand.
struct Args {
  std::vector<std::string> pos;
  bool force = false;
  std::optional<std::string> root_name;
  std::optional<std::string> set_hex;
  std::optional<std::string> set_sddl;
  bool sddl = false;    // sd: print SDDL
  bool decode = false;  // sd: print the descriptor decoded
  bool bad = false;
};

Args parse(std::span<const std::string> raw) {
  Args a;
  const auto args = parse_args(raw, {"--force", "--sddl", "--decode"}, {"--root-name", "--set", "--set-sddl"});
  if (!args) {
    a.bad = true;
    return a;
  }
  a.pos = args->pos;
  a.force = args->has("--force");
  a.sddl = args->has("--sddl");
  a.decode = args->has("--decode");
  a.root_name = args->value({"--root-name"});
  a.set_hex = args->value({"--set"});
  a.set_sddl = args->value({"--set-sddl"});
  return a;
}

// What an operation reports: the line to print after a successful save, or
// nothing when it failed (and has said why).
using Outcome = std::optional<std::string>;

// "cannot WHAT: REASON" on standard error; the reason is the engine's.
Outcome refused(const std::string& what, const GError* error) {
  fail(kFailed, "cannot " + what + ": " +
                    (error && error->message ? error->message : std::string("unknown error")));
  return std::nullopt;
}

// Damage found by the census is said once, before the operation: the
// operation itself refuses only what would spread it.
void warn_damage(TolHive& hive, const std::string& path) {
  const TolCensus& census = tol_hive_census(hive);
  if (census.problems == 0) return;
  std::fprintf(stderr,
               "tolvane-cli: warning: %s is damaged (%zu problems, see \"tolvane-cli check\"); "
               "edits that would spread the damage are refused\n",
               path.c_str(), census.problems);
}

// The one editing path, shared with the window: the document runs the
// operation and saves, or leaves the file as it was.
int edit(const std::string& path, bool force, const std::function<Outcome(TolHive&)>& op) {
  GError* error = nullptr;
  g_autoptr(TolDocument) document = tol_document_open(path, log_policy(), &error);
  if (!document) {
    fail(kFailed, error ? error->message : "cannot open the hive");
    g_clear_error(&error);
    return kFailed;
  }
  TolHive& hive = tol_document_get_hive(document);
  if (refuse_pending_log(hive, force)) return kFailed;
  warn_damage(hive, path);
  Outcome line;
  const auto run = [&](TolHive& image, GError**) {
    line = op(image);
    return line.has_value();
  };
  if (!tol_document_change(document, TolChange{}, run, &error)) {
    // A refused operation has said why already; a failed save has not.
    if (error) fail(kFailed, error->message ? error->message : "saving the hive failed");
    g_clear_error(&error);
    return kFailed;
  }
  std::printf("%s\n", line->c_str());
  return kOk;
}

std::string root_or(std::string_view path) {
  std::string p(path);
  return p.empty() || p == "\\" ? std::string("\\") : p;
}

bool valid_key_name(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos;
}

int cmd_new(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 1) return usage_error(*find_command("new"));
  const std::string root = a.root_name.value_or("ROOT");
  if (!valid_key_name(root)) return fail(kFailed, "invalid root key name");
  GError* error = nullptr;
  if (!tol_hive_create_file(a.pos[0], root, &error)) {
    const int rc = fail(kFailed, error && error->message ? error->message : "cannot create the hive");
    g_clear_error(&error);
    return rc;
  }
  std::printf("created hive %s with root key %s\n", a.pos[0].c_str(), root.c_str());
  return kOk;
}

int cmd_mkkey(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 2) return usage_error(*find_command("mkkey"));
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    std::uint32_t key = hive.root_cell;
    int created = 0;
    std::string_view rest = a.pos[1];
    while (!rest.empty()) {
      const auto cut = rest.find('\\');
      const std::string_view name = rest.substr(0, cut);
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
      if (name.empty()) continue;
      if (auto found = tol_hive_find_subkey(hive, key, name)) {
        key = *found;
        continue;
      }
      g_autoptr(GError) error = nullptr;
      auto made = tol_hive_create_key(hive, key, name, &error);
      if (!made) return refused("create key \"" + std::string(name) + "\"", error);
      key = *made;
      ++created;
    }
    if (created == 0) return "key " + root_or(a.pos[1]) + " exists already";
    return "created key " + tol_hive_key_path(hive, key) + " (" + std::to_string(created) +
           (created == 1 ? " key" : " keys") + " new)";
  });
}

int cmd_rmkey(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 2) return usage_error(*find_command("rmkey"));
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    if (*key == hive.root_cell) {
      fail(kFailed, "the root key cannot be deleted");
      return std::nullopt;
    }
    const std::string path = tol_hive_key_path(hive, *key);
    g_autoptr(GError) error = nullptr;
    if (!tol_hive_delete_key(hive, *key, &error)) return refused("delete key " + path, error);
    return "deleted key " + path;
  });
}

int cmd_renkey(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 3) return usage_error(*find_command("renkey"));
  const std::string& new_name = a.pos[2];
  if (!valid_key_name(new_name))
    return fail(kFailed, "a key name must not be empty or contain a backslash");
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    if (*key == hive.root_cell) {
      fail(kFailed, "the root key cannot be renamed");
      return std::nullopt;
    }
    const std::string old_path = tol_hive_key_path(hive, *key);
    g_autoptr(GError) error = nullptr;
    auto renamed = tol_hive_rename_key(hive, *key, new_name, &error);
    if (!renamed)
      return refused("rename key " + old_path + " to \"" + new_name + "\"", error);
    return "renamed key " + old_path + " to " + tol_hive_key_path(hive, *renamed);
  });
}

std::optional<std::uint32_t> parse_type(const std::string& text) {
  if (auto t = tol_value_type_from_name(text)) return t;
  if (auto n = tol_value_parse_number(text, 0xFFFFFFFFu)) return static_cast<std::uint32_t>(*n);
  return std::nullopt;
}

// Turns the DATA arguments of `set` into value data for the type.
std::optional<TolBytes> parse_data(std::uint32_t type, std::span<const std::string> data) {
  switch (type) {
    case TOL_REG_SZ:
    case TOL_REG_EXPAND_SZ:
      if (data.size() > 1) {
        fail(kUsage, "REG_SZ and REG_EXPAND_SZ take one DATA argument (quote it)");
        return std::nullopt;
      }
      return tol_value_sz_encode(data.empty() ? std::string_view() : std::string_view(data[0]));
    case TOL_REG_MULTI_SZ: {
      TolBytes out;
      for (const std::string& s : data) {
        const TolBytes one = tol_value_sz_encode(s);
        out.insert(out.end(), one.begin(), one.end());
      }
      out.push_back(0);
      out.push_back(0);
      return out;
    }
    case TOL_REG_DWORD:
    case TOL_REG_QWORD: {
      const bool dword = type == TOL_REG_DWORD;
      auto n = data.size() == 1
                   ? tol_value_parse_number(data[0], dword ? 0xFFFFFFFFull : ~0ull)
                   : std::nullopt;
      if (!n) {
        fail(kFailed, std::string("invalid ") + (dword ? "REG_DWORD" : "REG_QWORD") +
                          " number (use 0x hexadecimal, 0 octal or decimal)");
        return std::nullopt;
      }
      TolBytes out(dword ? 4 : 8);
      for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(*n >> (8 * i));
      return out;
    }
    default: {
      std::string joined;
      for (const std::string& s : data) joined += s + " ";
      GError* error = nullptr;
      auto bytes = tol_value_hex_parse(joined.c_str(), &error);
      if (!bytes) {
        fail(kFailed, error ? error->message : "invalid hex bytes");
        g_clear_error(&error);
      }
      return bytes;
    }
  }
}

int cmd_set(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() < 4) return usage_error(*find_command("set"));
  auto type = parse_type(a.pos[3]);
  if (!type) return fail(kUsage, "unknown value type '" + a.pos[3] + "'");
  auto data = parse_data(*type, std::span(a.pos).subspan(4));
  if (!data) return kFailed;
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    g_autoptr(GError) error = nullptr;
    if (!tol_hive_set_value(hive, *key, a.pos[2], *type, *data, &error))
      return refused("set value " + display_value_name(a.pos[2]), error);
    return "set value " + display_value_name(a.pos[2]) + " of " + root_or(a.pos[1]) + " (" +
           tol_value_type_name(*type) + ", " + std::to_string(data->size()) + " bytes)";
  });
}

int cmd_rmval(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 3) return usage_error(*find_command("rmval"));
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    g_autoptr(GError) error = nullptr;
    if (!tol_hive_delete_value(hive, *key, a.pos[2], &error))
      return refused("delete value " + display_value_name(a.pos[2]), error);
    return "deleted value " + display_value_name(a.pos[2]) + " of " + root_or(a.pos[1]);
  });
}

int cmd_renval(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 4) return usage_error(*find_command("renval"));
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    g_autoptr(GError) error = nullptr;
    if (!tol_hive_rename_value(hive, *key, a.pos[2], a.pos[3], &error))
      return refused("rename value " + display_value_name(a.pos[2]) + " to " +
                         display_value_name(a.pos[3]),
                     error);
    return "renamed value " + display_value_name(a.pos[2]) + " to " +
           display_value_name(a.pos[3]);
  });
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int cmd_copy(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 4) return usage_error(*find_command("copy"));
  const std::string& src_path = a.pos[0];
  const std::string& dst_path = a.pos[2];
  TolHivePtr src_holder;
  if (!same_file(src_path, dst_path)) {
    src_holder = open_hive(src_path);
    if (!src_holder) return kFailed;
  }
  return edit(dst_path, a.force, [&](TolHive& dst) -> Outcome {
    TolHive& src = src_holder ? *src_holder : dst;
    auto key = resolve_key(src, a.pos[1]);
    if (!key) return std::nullopt;
    auto parent = resolve_key(dst, a.pos[3]);
    if (!parent) return std::nullopt;
    const std::string name = tol_hive_key_name(src, *key);
    GError* error = nullptr;
    const std::uint32_t count = tol_hive_copy_subtree(src, *key, dst, *parent, &error);
    if (count == 0) {
      fail(kFailed, "copying \"" + name + "\" failed: " +
                        (error && error->message ? error->message : "unknown error"));
      g_clear_error(&error);
      return std::nullopt;
    }
    // A failure below the top key does not stop the copy, but is said.
    std::string line = "copied " + std::to_string(count) + (count == 1 ? " key" : " keys");
    if (error) line += " (some parts failed: " + std::string(error->message) + ")";
    g_clear_error(&error);
    return line;
  });
}

int cmd_sd(std::span<const std::string> raw) {
  const Args a = parse(raw);
  const int forms = int{a.set_hex.has_value()} + int{a.set_sddl.has_value()} + int{a.sddl} + int{a.decode};
  if (a.bad || a.pos.size() != 2 || forms > 1) return usage_error(*find_command("sd"));
  if (!a.set_hex && !a.set_sddl) {
    TolHivePtr hive = open_hive(a.pos[0]);
    if (!hive) return kFailed;
    auto key = resolve_key(*hive, a.pos[1]);
    if (!key) return kFailed;
    auto sd = tol_hive_key_security(*hive, *key);
    if (!sd) return fail(kFailed, "the key has no valid security descriptor");
    return print_security(*sd, a.sddl     ? SecurityForm::sddl
                               : a.decode ? SecurityForm::decoded
                                          : SecurityForm::hex);
  }
  GError* error = nullptr;
  auto bytes = a.set_sddl ? tol_sddl_to_descriptor(*a.set_sddl, &error)
                          : tol_value_hex_parse(a.set_hex->c_str(), &error);
  if (!bytes) {
    const int rc = fail(kFailed, error ? error->message : "invalid hex bytes");
    g_clear_error(&error);
    return rc;
  }
  if (!tol_security_descriptor_valid(*bytes))
    return fail(kFailed, "invalid SECURITY_DESCRIPTOR_RELATIVE");
  // SDDL is echoed in its canonical form, which is what was stored.
  std::string canonical;
  if (a.set_sddl) canonical = ": " + tol_sddl_from_descriptor(*bytes, nullptr).value_or(*a.set_sddl);
  return edit(a.pos[0], a.force, [&](TolHive& hive) -> Outcome {
    auto key = resolve_key(hive, a.pos[1]);
    if (!key) return std::nullopt;
    g_autoptr(GError) error = nullptr;
    if (!tol_hive_store_security(hive, *key, *bytes, &error))
      return refused("store the security descriptor", error);
    return "stored a security descriptor of " + std::to_string(bytes->size()) + " bytes for " +
           root_or(a.pos[1]) + canonical;
  });
}

int cmd_check(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 1) return usage_error(*find_command("check"));
  TolHivePtr hive = open_hive(a.pos[0]);
  if (!hive) return kFailed;
  const TolCheckReport report = tol_hive_check(*hive);
  if (json_output()) {
    Json j;
    j.begin_object().key("ok").boolean(report.ok()).key("keys").num(report.keys);
    j.key("values").num(report.values).key("security_records").num(report.security_records);
    j.key("problems").begin_array();
    for (const std::string& p : report.problems) j.str(p);
    print_json(j.end_array().end_object());
    return report.ok() ? kOk : kFailed;
  }
  for (const std::string& p : report.problems) std::printf("%s\n", p.c_str());
  std::printf("%u keys, %u values, %u security records: %s\n", report.keys, report.values,
              report.security_records,
              report.ok() ? "no problems found"
                          : (std::to_string(report.problems.size()) + " problems").c_str());
  return report.ok() ? kOk : kFailed;
}

int cmd_repair(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.force || a.pos.size() != 2) return usage_error(*find_command("repair"));
  const std::string& in = a.pos[0];
  auto cannot = [&in](std::string_view why) {
    return fail(kFailed, "cannot repair \"" + in + "\": " + std::string(why));
  };
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(in, &error, log_policy());
  if (!hive) {
    const int rc = cannot(error ? error->message : "cannot open the hive");
    g_clear_error(&error);
    return rc;
  }
  TolRepairReport report;
  if (!tol_hive_repair(*hive, a.pos[1], report, &error)) {
    const int rc = cannot(error ? error->message : "writing the new hive failed");
    g_clear_error(&error);
    return rc;
  }
  if (json_output()) {
    Json j;
    j.begin_object().key("dropped").begin_array();
    for (const TolRepairDrop& d : report.drops)
      j.begin_object().key("path").str(d.path).key("reason").str(d.reason).end_object();
    j.end_array().key("keys").num(report.keys).key("values").num(report.values);
    j.key("security_records").num(report.security_records);
    j.key("size_before").num(report.size_before).key("size_after").num(report.size_after);
    print_json(j.end_object());
    return kOk;
  }
  for (const TolRepairDrop& d : report.drops)
    std::printf("dropped: %s: %s\n", d.path.empty() ? "\\" : d.path.c_str(), d.reason.c_str());
  std::printf("%u keys, %u values, %u security records\n", report.keys, report.values,
              report.security_records);
  std::printf("size: %llu -> %llu bytes\n", static_cast<unsigned long long>(report.size_before),
              static_cast<unsigned long long>(report.size_after));
  return kOk;
}

int cmd_recover(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.force || a.pos.size() != 2) return usage_error(*find_command("recover"));
  const std::string& in = a.pos[0];
  auto cannot = [&in](std::string_view why) {
    return fail(kFailed, "cannot recover \"" + in + "\": " + std::string(why));
  };
  if (log_policy() == TolLogPolicy::ignore) return cannot("--no-logs leaves nothing to apply");
  TolHivePtr hive = open_hive(in);
  if (!hive) return kFailed;
  const TolLogReport& logs = hive->logs;
  if (!logs.examined) return cannot("the hive is clean: there is nothing to recover");
  if (logs.applied == 0 && !logs.base_from_log) return cannot(tol_log_summary(logs));
  if (struct stat st {}; ::lstat(a.pos[1].c_str(), &st) == 0)
    return cannot("the output file exists already");
  hive->path = a.pos[1];
  GError* error = nullptr;
  if (!tol_hive_save_new(*hive, in, &error)) {
    const int rc = cannot(error ? error->message : "writing the new hive failed");
    g_clear_error(&error);
    return rc;
  }
  if (json_output()) {
    Json j;
    j.begin_object().key("output").str(a.pos[1]).key("applied").num(logs.applied);
    j.key("complete").boolean(logs.complete).key("summary").str(tol_log_summary(logs));
    print_json(j.end_object());
  } else {
    std::printf("transaction logs: %s\n", tol_log_summary(logs).c_str());
  }
  // The file is written either way; a recovery that stopped part way is
  // still a failure for scripts, which the summary explains.
  return logs.complete ? kOk : kFailed;
}

constexpr Command kEditCommands[] = {
    {"new", "HIVE [--root-name NAME]", "write a new empty hive (never overwrites a file)", cmd_new},
    {"mkkey", "HIVE KEY [--force]", "create the key and any missing keys above it", cmd_mkkey},
    {"rmkey", "HIVE KEY [--force]", "delete the key with its subtree", cmd_rmkey},
    {"renkey", "HIVE KEY NEWNAME [--force]", "rename the key", cmd_renkey},
    {"set", "HIVE KEY NAME TYPE [DATA...] [--force]",
     "create or replace a value; TYPE is a REG_ name or a number; REG_SZ/REG_EXPAND_SZ take the "
     "text, REG_MULTI_SZ one argument per string, REG_DWORD/REG_QWORD a number (0x hex, 0 octal, "
     "decimal), other types hex bytes",
     cmd_set},
    {"rmval", "HIVE KEY NAME [--force]", "delete a value (\"\" is the default value)", cmd_rmval},
    {"renval", "HIVE KEY OLD NEW [--force]", "rename a value", cmd_renval},
    {"copy", "SRC SRCKEY DST DSTKEY [--force]",
     "copy SRCKEY with its subtree under DSTKEY (SRC and DST may be the same file)", cmd_copy},
    {"sd", "HIVE KEY [--sddl | --decode | --set HEX | --set-sddl TEXT] [--force] [--json]",
     "print the key's security descriptor as hex, as SDDL or decoded (owner, group, each ACE in "
     "words), or store a new one for this key alone, given as hex or as SDDL",
     cmd_sd},
    {"check", "HIVE [--json]", "consistency report; exit status 1 when something is wrong", cmd_check},
    {"repair", "IN OUT [--json]",
     "write to the new file OUT everything of IN that can still be read, compacted; lists what "
     "was dropped",
     cmd_repair},
    {"recover", "IN OUT [--json]",
     "apply the transaction logs of the dirty hive IN and write the result to the new file OUT, "
     "as a clean hive; IN and its logs stay as they are",
     cmd_recover},
};

}  // namespace

std::span<const Command> edit_commands() { return kEditCommands; }

}  // namespace tolcli
