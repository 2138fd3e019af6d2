// Comparing two subtrees, in one hive file or in two: the differences as
// lines, as counts or as a .reg file that turns the left subtree into the
// right one.
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/support.h"
#include "hive/compare.h"
#include "reg/diff.h"

namespace tolcli {
namespace {

// diff answers like diff(1) and cmp(1): 1 is "different", so a failure needs
// a status of its own.
constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kError = 3;

struct Args {
  std::vector<std::string> pos;
  std::optional<std::string> output;
  bool stat = false;
  TolDiffOptions options;
  bool bad = false;
};

Args parse(std::span<const std::string> raw) {
  Args a;
  const auto args = parse_args(raw, {"--stat", "--security", "--times"}, {"-o", "--output"});
  if (!args) {
    a.bad = true;
    return a;
  }
  a.pos = args->pos;
  a.output = args->value({"-o", "--output"});
  a.stat = args->has("--stat");
  a.options.security = args->has("--security");
  a.options.times = args->has("--times");
  return a;
}

// The kinds as scripts name them, in TolDiffKind's order.
constexpr const char* kKindNames[TOL_DIFF_KINDS] = {
    "key_only_left",   "key_only_right", "value_only_left",  "value_only_right",
    "value_changed",   "class_changed",  "security_changed", "time_changed",
};

const char* kind_name(TolDiffKind kind) { return kKindNames[static_cast<int>(kind)]; }

bool is_value(TolDiffKind kind) {
  return kind == TolDiffKind::value_only_left || kind == TolDiffKind::value_only_right ||
         kind == TolDiffKind::value_changed;
}

// Fields are separated by tabs and entries by line feeds, so neither may
// stand inside a name in the text form (--json carries names as they are).
std::string field(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = '?';
  return out;
}

void print_entry(const TolDiffEntry& e) {
  if (!json_output()) {
    std::printf("%s\t%s\t%s", tol_diff_sign(e.kind), tol_diff_noun(e.kind), field(e.path).c_str());
    if (is_value(e.kind)) std::printf("\t%s", field(e.value).c_str());
    std::putchar('\n');
    return;
  }
  Json j;
  j.begin_object()
      .key("sign").str(tol_diff_sign(e.kind))
      .key("noun").str(tol_diff_noun(e.kind))
      .key("kind").str(kind_name(e.kind))
      .key("path").str(e.path);
  if (is_value(e.kind)) j.key("value").str(e.value);
  if (e.kind == TolDiffKind::value_changed)
    j.key("type_differs").boolean(e.type_differs).key("data_differs").boolean(e.data_differs);
  if (e.kind == TolDiffKind::key_only_left || e.kind == TolDiffKind::key_only_right)
    j.key("keys").num(e.subtree_keys).key("values").num(e.subtree_values);
  print_json(j.end_object());
}

void print_counts(const TolDiffCounts& counts) {
  if (!json_output()) {
    for (int k = 0; k < TOL_DIFF_KINDS; ++k) std::printf("%s\t%u\n", kKindNames[k], counts.by_kind[k]);
    std::printf("total\t%u\n", counts.total());
    return;
  }
  Json j;
  j.begin_object();
  for (int k = 0; k < TOL_DIFF_KINDS; ++k) j.key(kKindNames[k]).num(counts.by_kind[k]);
  print_json(j.key("total").num(counts.total()).end_object());
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (a == b) return true;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int cmd_diff(std::span<const std::string> raw) {
  const Args a = parse(raw);
  if (a.bad || a.pos.size() != 4) return usage_error(*find_command("diff"));

  TolHivePtr left = open_hive(a.pos[0]);
  if (!left) return kError;
  // One file on both sides is opened once: a key compared with itself then
  // costs nothing.
  TolHivePtr right_owned;
  if (!same_file(a.pos[0], a.pos[2])) {
    right_owned = open_hive(a.pos[2]);
    if (!right_owned) return kError;
  }
  const TolHive& right = right_owned ? *right_owned : *left;
  const auto left_key = resolve_key(*left, a.pos[1]);
  if (!left_key) return kError;
  const auto right_key = resolve_key(right, a.pos[3]);
  if (!right_key) return kError;

  TolDiff diff;
  GError* error = nullptr;
  if (!tol_compare(*left, *left_key, right, *right_key, a.options, diff, &error)) {
    fail(kError, error && error->message ? error->message : "the comparison failed");
    g_clear_error(&error);
    return kError;
  }
  if (a.output && !tol_reg_diff_file(*left, right, diff, *a.output, &error)) {
    fail(kError, error && error->message ? error->message : "writing " + *a.output + " failed");
    g_clear_error(&error);
    return kError;
  }
  if (a.stat)
    print_counts(diff.counts);
  else if (!a.output)
    for (const TolDiffEntry& e : diff.entries) print_entry(e);
  return diff.entries.empty() ? kSame : kDifferent;
}

constexpr Command kDiffCommands[] = {
    {"diff", "LEFT LEFTKEY RIGHT RIGHTKEY [-o FILE] [--stat] [--security] [--times]",
     "compare two subtrees (LEFT and RIGHT may be one file): one \"SIGN<TAB>NOUN<TAB>PATH\" line "
     "per difference, with <TAB>NAME for values; --stat only the counts; -o FILE writes a .reg "
     "file that, imported below LEFTKEY, makes it equal RIGHTKEY; --security and --times also "
     "compare class names, security descriptors and last-write times. Exit status 0 equal, "
     "1 different, 2 wrong usage, 3 failed",
     cmd_diff},
};

}  // namespace

std::span<const Command> diff_commands() { return kDiffCommands; }

}  // namespace tolcli
