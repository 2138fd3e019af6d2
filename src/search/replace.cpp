#include "search/replace.h"

#include <glib/gi18n-lib.h>

#include <algorithm>
#include <memory>

#include "hive/edit.h"
#include "hive/format.h"
#include "hive/names.h"
#include "value/codec.h"

namespace {

// The report's kind words are fixed and never translated.
constexpr std::string_view kNameChange = "nazwa";
constexpr std::string_view kDataChange = "dane";

struct GFreeDeleter {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

std::string take(gchar* text) {
  const GCharPtr owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

void fail(GError** error, const char* message) {
  g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, message);
}

// The library's errors keep their message but join the file-error domain in
// which every failure of a run is reported.
void fail_with(GError** error, GError* library_error) {
  fail(error, library_error && library_error->message ? library_error->message : "");
  g_clear_error(&library_error);
}

bool is_string_type(std::uint32_t type) {
  return type == TOL_REG_SZ || type == TOL_REG_EXPAND_SZ || type == TOL_REG_MULTI_SZ;
}

std::vector<TolHiveValue> read_values(TolReplaceContext& context, std::uint32_t key) {
  std::vector<TolHiveValue> values;
  const std::uint32_t count = tol_hive_value_count(*context.hive, key);
  for (std::uint32_t i = 0; i < count; ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(*context.hive, key, i, value))
      values.push_back(std::move(value));
    else
      ++context.report->failures;
  }
  return values;
}

// One value's turn: its name first, then its data under the (possibly new) name.
bool replace_in_value(TolReplaceContext& context, std::uint32_t key, const std::string& path,
                      const TolHiveValue& value, GError** error) {
  TolReplaceReport& report = *context.report;
  const TolReplaceOptions& options = context.options;
  ++report.values_examined;
  std::string name = value.name;
  bool renamed = false;

  if (options.names) {
    std::uint32_t count = 0;
    auto new_name = tol_replace_text(context, name, count, error);
    if (!new_name) return false;
    if (count > 0 && *new_name != name) {
      tol_replace_report_line(context, path, name, kNameChange);
      if (!options.dry_run && !tol_hive_rename_value(*context.hive, key, name, *new_name)) {
        // A dry run cannot foresee this, so it never reports collisions.
        ++report.name_collisions;
      } else {
        report.replacements += count;
        name = std::move(*new_name);
        renamed = true;
      }
    }
  }

  if (!options.data || !is_string_type(value.type)) {
    if (renamed) ++report.values_changed;
    return true;
  }
  const bool multi = value.type == TOL_REG_MULTI_SZ;
  const std::string text =
      multi ? tol_value_multi_sz_decode(value.data) : tol_utf16_to_utf8(value.data);
  std::uint32_t count = 0;
  const auto new_text = tol_replace_text(context, text, count, error);
  if (!new_text) return false;
  if (count == 0) {
    if (renamed) ++report.values_changed;
    return true;
  }
  // Matches rewrite the data even when the text comes out the same.
  tol_replace_report_line(context, path, name, kDataChange);
  const TolBytes data =
      multi ? tol_value_multi_sz_encode(*new_text) : tol_value_sz_encode(*new_text);
  if (options.dry_run || tol_hive_set_value(*context.hive, key, name, value.type, data)) {
    report.replacements += count;
    ++report.values_changed;
  } else {
    ++report.failures;
    if (renamed) ++report.values_changed;
  }
  return true;
}

// Whether the find text occurs in ASCII text, with the run's case rule.
bool ascii_contains(const TolReplaceContext& context, std::string_view text, std::string& lower) {
  if (context.options.match_case) return text.find(context.find) != std::string_view::npos;
  lower.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) lower[i] = g_ascii_tolower(text[i]);
  return lower.find(context.lower_find) != std::string::npos;
}

bool ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// False only when the value's name and text cannot hold a match: under the
// prefilter's conditions a match lies inside one stretch of ASCII units
// between zero units, since every other unit decodes to bytes beyond ASCII
// (which a caseless match may still equate with ASCII letters, so those
// values are always looked at).
bool may_match(TolReplaceContext& context, const TolHiveValue& value) {
  const TolReplaceOptions& options = context.options;
  std::string& run = context.run;
  if (options.names && (!ascii(value.name) || ascii_contains(context, value.name, run))) return true;
  if (!options.data || !is_string_type(value.type)) return false;
  const tol::ByteView data(value.data);
  std::string& stretch = context.stretch;
  std::size_t start = 0;
  const std::size_t units = data.size() / 2;
  for (std::size_t i = 0; i <= units; ++i) {
    const unsigned u = i < units ? data.u16(2 * i) : 0;
    if (u >= 0x80) return true;
    if (u != 0) continue;
    stretch.clear();
    for (std::size_t j = start; j < i; ++j) stretch.push_back(static_cast<char>(data.u8(2 * j)));
    if (ascii_contains(context, stretch, run)) return true;
    start = i + 1;
  }
  return false;
}

}  // namespace

std::optional<std::string> tol_replace_text(const TolReplaceContext& context, std::string_view text,
                                            std::uint32_t& count, GError** error) {
  count = 0;
  GRegex* regex = context.regex.get();
  const auto length = static_cast<gssize>(text.size());
  GError* local = nullptr;
  gchar* replaced =
      context.literal
          ? g_regex_replace_literal(regex, text.data(), length, 0, context.replacement.c_str(),
                                    GRegexMatchFlags(0), &local)
          : g_regex_replace(regex, text.data(), length, 0, context.replacement.c_str(),
                            GRegexMatchFlags(0), &local);
  if (!replaced) {
    fail_with(error, local);
    return std::nullopt;
  }
  std::string result = take(replaced);

  // The same walk over the original text again, to count what was replaced.
  GMatchInfo* raw_info = nullptr;
  g_regex_match_full(regex, text.data(), length, 0, GRegexMatchFlags(0), &raw_info, &local);
  const TolMatchInfoPtr info(raw_info);
  while (!local && info && g_match_info_matches(info.get())) {
    ++count;
    g_match_info_next(info.get(), &local);
  }
  if (local) {
    fail_with(error, local);
    return std::nullopt;
  }
  return result;
}

void tol_replace_report_line(TolReplaceContext& context, std::string_view path,
                             std::string_view value_name, std::string_view kind) {
  std::vector<std::string>& lines = context.report->lines;
  if (lines.size() >= context.line_limit) return;
  const std::string shown = value_name.empty() ? _("(Default)") : std::string(value_name);
  lines.push_back("\\" + std::string(path) + " : " + shown + " [" + std::string(kind) + "]");
}

bool tol_replace_walk(TolReplaceContext& context, std::uint32_t key, std::string& path,
                      int depth, GError** error) {
  if (depth >= TOL_MAX_KEY_DEPTH) {
    fail(error, _("Maximum hive depth exceeded"));
    return false;
  }
  if (!context.visited.insert(key)) return true;
  TolReplaceReport& report = *context.report;
  ++report.keys;

  // A key none of whose values can match is only counted.
  bool look = !context.prefilter;
  if (!look) {
    const std::uint32_t count = tol_hive_value_count(*context.hive, key);
    std::uint32_t examined = 0;
    std::uint32_t unreadable = 0;
    for (std::uint32_t i = 0; i < count && !look; ++i) {
      if (!tol_hive_read_value(*context.hive, key, i, context.value)) {
        ++unreadable;
        continue;
      }
      ++examined;
      look = may_match(context, context.value);
    }
    if (!look) {
      report.values_examined += examined;
      report.failures += unreadable;
    }
  }
  // A rename moves the value to the end of the list, so the list is read
  // once up front and the copies are worked through.
  if (look)
    for (const TolHiveValue& value : read_values(context, key))
      if (!replace_in_value(context, key, path, value, error)) return false;

  // Value operations never move key records: the offsets stay valid.
  std::vector<std::uint32_t>& subkeys = context.levels[static_cast<std::size_t>(depth)];
  tol_hive_subkeys_into(*context.hive, key, subkeys);
  const std::size_t length = path.size();
  for (const std::uint32_t sub : subkeys) {
    if (!path.empty()) path += '\\';
    tol_hive_append_key_name(*context.hive, sub, path);
    const bool ok = tol_replace_walk(context, sub, path, depth + 1, error);
    path.resize(length);
    if (!ok) return false;
  }
  return true;
}

bool tol_replace_tree(TolHive& hive, std::uint32_t start, std::string_view find,
                      std::string_view replacement, const TolReplaceOptions& options,
                      TolReplaceReport& report, GError** error) {
  if (find.empty() || start == TOL_NO_CELL) {
    fail(error, _("Empty pattern or invalid key"));
    return false;
  }
  g_return_val_if_fail(g_utf8_validate_len(replacement.data(), replacement.size(), nullptr), false);

  std::string pattern =
      options.regex ? std::string(find)
                    : take(g_regex_escape_string(find.data(), static_cast<gint>(find.size())));
  if (options.whole_text) pattern = tol_pattern_whole(pattern);
  auto flags = GRegexCompileFlags(G_REGEX_OPTIMIZE);
  if (!options.match_case) flags = GRegexCompileFlags(flags | G_REGEX_CASELESS);

  TolReplaceContext context;
  context.hive = &hive;
  context.options = options;
  context.find = std::string(find);
  context.replacement = std::string(replacement);
  context.regex = tol_pattern_compile(pattern, flags, error);
  if (!context.regex) return false;
  context.literal = !options.regex;
  context.report = &report;
  context.visited = TolKeySet(hive.bins_length);
  context.prefilter = !options.regex && ascii(find) &&
                      find.find_first_of("\n?") == std::string_view::npos;
  for (const char c : find) context.lower_find.push_back(g_ascii_tolower(c));
  std::string path = tol_hive_key_path(hive, start);
  return tol_replace_walk(context, start, path, 0, error);
}

std::optional<std::string> tol_replace_input_error(std::string_view find, bool have_key,
                                                   const TolReplaceOptions& options) {
  if (find.empty()) return std::string(_("Enter text to find"));
  if (!have_key) return std::string(_("Select a key"));
  if (!options.names && !options.data) return std::string(_("Select names or data"));
  return std::nullopt;
}

std::string tol_replace_message(const TolReplaceReport& report, bool dry_run, const GError* error) {
  if (error) return error->message ? error->message : "";
  const char* word = dry_run ? _("Preview") : _("Done");
  if (report.name_collisions != 0)
    return take(g_strdup_printf(_("%s: %u values, %u replacements, name collisions: %u"), word,
                                report.values_changed, report.replacements,
                                report.name_collisions));
  return take(g_strdup_printf(_("%s: %u values, %u replacements"), word, report.values_changed,
                              report.replacements));
}
