// Search and replace commands: the search popover's list and the replace
// popover's run, for scripts.
#include <glib.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/document.h"
#include "hive/save.h"
#include "search/replace.h"
#include "search/search.h"
#include "value/codec.h"

namespace tolcli {
namespace {

struct Flag {
  const char* name;
  bool* target;
  bool value;  // what the flag sets
};

// Splits arguments into positionals and the given flags; false on an unknown
// option. "--" ends the options, so a find text may start with dashes.
bool parse(std::span<const std::string> raw, std::span<const Flag> flags,
           std::vector<std::string>& pos) {
  bool options = true;
  for (const std::string& s : raw) {
    if (options && s == "--") {
      options = false;
      continue;
    }
    if (options && s.size() > 2 && s.compare(0, 2, "--") == 0) {
      bool known = false;
      for (const Flag& f : flags) {
        if (s == f.name) {
          *f.target = f.value;
          known = true;
        }
      }
      if (!known) return false;
      continue;
    }
    pos.push_back(s);
  }
  return true;
}

bool utf8(const std::string& s) { return g_utf8_validate_len(s.data(), s.size(), nullptr); }

int cmd_search(std::span<const std::string> raw) {
  const Command& self = *find_command("search");
  TolSearchOptions options;
  const Flag flags[] = {
      {"--no-keys", &options.keys, false}, {"--no-values", &options.values, false},
      {"--no-data", &options.data, false}, {"--whole", &options.whole_text, true},
      {"--regex", &options.regex, true},
  };
  std::vector<std::string> pos;
  if (!parse(raw, flags, pos) || pos.size() != 2) return usage_error(self);
  const std::string& text = pos[1];
  if (text.empty()) return fail(kUsage, "the search text must not be empty");
  if (!utf8(text)) return fail(kUsage, "the search text is not valid UTF-8");

  TolHivePtr hive = open_hive(pos[0]);
  if (!hive) return kFailed;
  GError* error = nullptr;
  const auto results = tol_search_hive(*hive, text, options, &error);
  if (!results) {
    const int rc = fail(kFailed, error && error->message ? error->message : "invalid expression");
    g_clear_error(&error);
    return rc;
  }
  for (const TolSearchResult& r : *results) {
    if (!json_output()) {
      std::printf("%s\t%s\n", tol_search_result_label(r).c_str(),
                  tol_search_result_detail(r).c_str());
      continue;
    }
    Json j;
    j.begin_object().key("path").str(r.path).key("is_key").boolean(r.is_key);
    if (!r.is_key) {
      j.key("value_name").str(r.value_name).key("type").num(r.type);
      j.key("type_name").str(tol_value_type_name(r.type));
    }
    j.key("label").str(tol_search_result_label(r));
    print_json(j.end_object());
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", tol_search_status(hive.get(), text, results->size()).c_str());
  return kOk;
}

int cmd_replace(std::span<const std::string> raw) {
  const Command& self = *find_command("replace");
  TolReplaceOptions options;
  bool force = false;
  const Flag flags[] = {
      {"--names", &options.names, true},
      {"--no-data", &options.data, false},
      {"--match-case", &options.match_case, true},
      {"--whole", &options.whole_text, true},
      {"--regex", &options.regex, true},
      {"--dry-run", &options.dry_run, true},
      {"--force", &force, true},
  };
  std::vector<std::string> pos;
  if (!parse(raw, flags, pos) || pos.size() != 4) return usage_error(self);
  const std::string& find = pos[2];
  const std::string& replacement = pos[3];
  if (auto problem = tol_replace_input_error(find, true, options)) return fail(kUsage, *problem);
  if (!utf8(find) || !utf8(replacement))
    return fail(kUsage, "the find text and the replacement must be valid UTF-8");

  GError* error = nullptr;
  g_autoptr(TolDocument) document = tol_document_open(pos[0], log_policy(), &error);
  if (!document) {
    fail(kFailed, error ? error->message : "cannot open the hive");
    g_clear_error(&error);
    return kFailed;
  }
  TolHive& hive = tol_document_get_hive(document);
  // A dry run writes nothing, so a dirty hive is no reason to refuse it.
  if (!options.dry_run && refuse_pending_log(hive, force)) return kFailed;
  const auto key = resolve_key(hive, pos[1]);
  if (!key) return kFailed;

  TolReplaceReport report;
  const auto replace = [&](TolHive& image, GError** why) {
    return tol_replace_tree(image, *key, find, replacement, options, report, why);
  };
  // A failed walk leaves part of its changes in the image: the document puts
  // the image back, so the file keeps its state from before the run.
  const bool ok = options.dry_run ? replace(hive, &error)
                                  : tol_document_change(document, TolChange{TolChangeKind::subtree, *key},
                                                        replace, &error);
  const std::string message = tol_replace_message(report, options.dry_run, ok ? nullptr : error);
  g_clear_error(&error);
  if (!ok) return fail(kFailed, message);
  for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
  std::printf("%s\n", message.c_str());
  return kOk;
}

constexpr Command kSearchCommands[] = {
    {"search", "HIVE TEXT [--no-keys] [--no-values] [--no-data] [--whole] [--regex] [--json]",
     "find key names, value names and string data anywhere in the hive, case-insensitively "
     "(at most 500 hits; one \"label<TAB>kind\" line per hit, the count on standard error)",
     cmd_search},
    {"replace",
     "HIVE KEY FIND REPLACEMENT [--names] [--no-data] [--match-case] [--whole] [--regex] "
     "[--dry-run] [--force]",
     "replace text in string data (and with --names in value names) of KEY and its subtree; "
     "prints the first 20 changes and a summary; saves only when something changed",
     cmd_replace},
};

}  // namespace

std::span<const Command> search_commands() { return kSearchCommands; }

}  // namespace tolcli
