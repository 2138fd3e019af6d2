// Deleted keys and values: listing what is left of them, and restoring them
// through the document like every other edit.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/deleted.h"
#include "hive/document.h"
#include "hive/names.h"
#include "value/codec.h"

namespace tolcli {
namespace {

const char* place_name(TolDeletedPlace place) {
  switch (place) {
    case TolDeletedPlace::live: return "live";
    case TolDeletedPlace::deleted: return "deleted";
    case TolDeletedPlace::unknown: break;
  }
  return "unknown";
}

const char* evidence_name(TolDeletedEvidence evidence) {
  switch (evidence) {
    case TolDeletedEvidence::deleted_key: return "deleted-key";
    case TolDeletedEvidence::list_slack: return "list-slack";
    case TolDeletedEvidence::old_list: return "old-list";
    case TolDeletedEvidence::none: break;
  }
  return "none";
}

// The root shows as "\", as the other commands name it.
std::string shown_path(std::string path) { return path.empty() ? std::string("\\") : path; }

// Path components without empty ones, for comparing paths as typed.
std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> out;
  while (!path.empty()) {
    const std::size_t cut = path.find('\\');
    if (cut != 0) out.push_back(path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
  }
  return out;
}

bool same_path(std::string_view a, std::string_view b) {
  const auto x = components(a);
  const auto y = components(b);
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!tol_name_equal(x[i], y[i])) return false;
  return true;
}

int cmd_deleted(std::span<const std::string> args) {
  if (args.size() != 1) return usage_error(*find_command("deleted"));
  auto hive = open_hive(args[0]);
  if (!hive) return kFailed;
  const TolDeletedScan scan = tol_deleted_scan(*hive);
  for (std::size_t i = 0; i < scan.keys.size(); ++i) {
    const TolDeletedKey& k = scan.keys[i];
    const std::string path = tol_deleted_key_path(*hive, scan, i);
    const std::string time = tol_deleted_time_text(k.last_write);
    const char* confidence = tol_deleted_confidence_name(k.confidence);
    if (!json_output()) {
      std::printf("key\t%s\t%s\t%s\n", path.c_str(), time.c_str(), confidence);
      continue;
    }
    Json j;
    j.begin_object().key("kind").str("key").key("path").str(path).key("name").str(k.name);
    j.key("last_write").str(time).key("last_write_filetime").num(k.last_write);
    j.key("confidence").str(confidence).key("offset").num(k.record).key("in_slack").boolean(k.in_slack);
    j.key("parent").num(k.parent).key("parent_place").str(place_name(k.parent_place));
    j.key("subkeys_found").num(k.subkeys.size()).key("subkey_count").num(k.subkey_count);
    j.key("values_found").num(k.values.size()).key("value_count").num(k.value_count);
    print_json(j.end_object());
  }
  std::vector<std::uint8_t> data;
  for (std::size_t i = 0; i < scan.values.size(); ++i) {
    const TolDeletedValue& v = scan.values[i];
    const std::string key_path = shown_path(tol_deleted_value_key_path(*hive, scan, i));
    const char* confidence = tol_deleted_confidence_name(v.confidence);
    if (!json_output()) {
      std::printf("value\t%s\t%s\t%s\t%s\n", key_path.c_str(), display_value_name(v.name).c_str(),
                  tol_value_type_name(v.type), confidence);
      continue;
    }
    Json j;
    j.begin_object().key("kind").str("value").key("key_path").str(key_path).key("name").str(v.name);
    j.key("type").num(v.type).key("type_name").str(tol_value_type_name(v.type));
    j.key("length").num(v.length).key("confidence").str(confidence);
    j.key("offset").num(v.record).key("in_slack").boolean(v.in_slack);
    j.key("owner_place").str(place_name(v.owner_place)).key("evidence").str(evidence_name(v.evidence));
    if (tol_deleted_value_data(*hive, scan, v, data)) j.key("data_hex").hex(data);
    print_json(j.end_object());
  }
  return kOk;
}

struct UndeleteArgs {
  std::vector<std::string> pos;
  std::optional<std::string> to;
  std::optional<std::string> value;
  bool rename = false;
  bool force = false;
  bool bad = false;
};

UndeleteArgs parse(std::span<const std::string> raw) {
  UndeleteArgs a;
  const auto args = parse_args(raw, {"--rename", "--force"}, {"--to", "--value"});
  if (!args) {
    a.bad = true;
    return a;
  }
  a.pos = args->pos;
  a.rename = args->has("--rename");
  a.force = args->has("--force");
  a.to = args->value({"--to"});
  a.value = args->value({"--value"});
  return a;
}

// The deleted key a path names. Several keys deleted at the same path (made
// and deleted again) are told apart by time: the last written is restored.
std::optional<std::size_t> pick_key(const TolHive& hive, const TolDeletedScan& scan,
                                    std::string_view path) {
  std::optional<std::size_t> best;
  std::size_t matches = 0;
  for (std::size_t i = 0; i < scan.keys.size(); ++i) {
    if (!same_path(tol_deleted_key_path(hive, scan, i), path)) continue;
    ++matches;
    if (!best || scan.keys[i].last_write > scan.keys[*best].last_write) best = i;
  }
  if (matches > 1)
    std::fprintf(stderr, "tolvane-cli: %zu deleted keys have this path; restoring the one last written (%s)\n",
                 matches, tol_deleted_time_text(scan.keys[*best].last_write).c_str());
  return best;
}

// The deleted value of that name at that key path; one whose data are
// intact before one whose data are lost.
std::optional<std::size_t> pick_value(const TolHive& hive, const TolDeletedScan& scan,
                                      std::string_view key_path, std::string_view name) {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < scan.values.size(); ++i) {
    const TolDeletedValue& v = scan.values[i];
    if (!tol_name_equal(v.name, name) ||
        !same_path(tol_deleted_value_key_path(hive, scan, i), key_path))
      continue;
    if (!best || (v.data_intact && !scan.values[*best].data_intact)) best = i;
  }
  return best;
}

int cmd_undelete(std::span<const std::string> raw) {
  const UndeleteArgs a = parse(raw);
  if (a.bad || a.pos.size() != 2) return usage_error(*find_command("undelete"));
  GError* error = nullptr;
  g_autoptr(TolDocument) document = tol_document_open(a.pos[0], log_policy(), &error);
  if (!document) {
    fail(kFailed, error ? error->message : "cannot open the hive");
    g_clear_error(&error);
    return kFailed;
  }
  if (refuse_pending_log(tol_document_get_hive(document), a.force)) return kFailed;

  std::string line;
  const auto run = [&](TolHive& hive, GError**) {
    TolRestoreOptions options;
    options.rename = a.rename;
    if (a.to) {
      const auto to = resolve_key(hive, *a.to);
      if (!to) return false;
      options.parent = *to;
    }
    const TolDeletedScan scan = tol_deleted_scan(hive);
    const std::string& path = a.pos[1];
    if (a.value) {
      const auto index = pick_value(hive, scan, path, *a.value);
      if (!index) {
        fail(kFailed, "no deleted value " + display_value_name(*a.value) + " of " + path +
                          " (see tolvane-cli deleted)");
        return false;
      }
      g_autoptr(GError) why = nullptr;
      const auto done = tol_deleted_restore_value(hive, scan.values[*index].record, options, &why);
      if (!done) {
        fail(kFailed, "cannot restore value " + display_value_name(*a.value) + ": " + why->message);
        return false;
      }
      line = "restored value " + display_value_name(done->name) + " of " +
             shown_path(tol_hive_key_path(hive, done->key));
      return true;
    }
    const auto index = pick_key(hive, scan, path);
    if (!index) {
      fail(kFailed, "no deleted key " + path + " (see tolvane-cli deleted)");
      return false;
    }
    g_autoptr(GError) why = nullptr;
    const auto done = tol_deleted_restore_key(hive, scan.keys[*index].record, options, &why);
    if (!done) {
      fail(kFailed, "cannot restore key " + path + ": " + why->message);
      return false;
    }
    line = "restored key " + tol_hive_key_path(hive, done->key) + " (" +
           std::to_string(done->keys) + (done->keys == 1 ? " key, " : " keys, ") +
           std::to_string(done->values) + (done->values == 1 ? " value" : " values");
    if (done->lost_keys + done->lost_values > 0)
      line += "; left out: " + std::to_string(done->lost_keys) + " keys, " +
              std::to_string(done->lost_values) + " values";
    line += ")";
    return true;
  };
  if (!tol_document_change(document, TolChange{}, run, &error)) {
    // A refusal has been reported; a failed save has not.
    if (error) fail(kFailed, error->message ? error->message : "saving the hive failed");
    g_clear_error(&error);
    return kFailed;
  }
  std::printf("%s\n", line.c_str());
  return kOk;
}

constexpr Command kDeletedCommands[] = {
    {"deleted", "HIVE [--json]",
     "deleted keys and values still in the hive's free space, one per line with where they were "
     "and how much is left",
     cmd_deleted},
    {"undelete", "HIVE PATH [--to KEY] [--rename] [--value NAME] [--force]",
     "restore a deleted key with what is left of its values and subkeys, or with --value one "
     "deleted value of the key at PATH",
     cmd_undelete},
};

}  // namespace

std::span<const Command> deleted_commands() { return kDeletedCommands; }

}  // namespace tolcli
