// Replacing text in value names and string data across a subtree.
//
// Matching always goes through a GRegex: a plain find text is escaped into
// one, so case folding and whole-text anchoring behave the same in both
// modes. The engine changes only the in-memory image; it never saves and
// never takes undo snapshots.
//
// A walk that fails part-way (depth limit, a replacement or match error)
// leaves the changes made before the failure in the image. A caller that is
// not running a dry run must therefore run it as a document change, which
// puts the image back when the run fails.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "hive/hive.h"
#include "search/key_set.h"
#include "search/pattern.h"

inline constexpr std::uint32_t TOL_REPLACE_MAX_REPORT_LINES = 20;

struct TolReplaceOptions {
  bool names = false;       // replace in value names
  bool data = true;         // replace in REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data
  bool match_case = false;  // without it the expression is caseless
  bool whole_text = false;  // the expression must match a whole name or text
  bool regex = false;       // the find text is an expression; the replacement may name groups
  bool dry_run = false;     // count and report, change nothing
};

// Filled by a run; start from a default-constructed report.
struct TolReplaceReport {
  std::uint32_t keys = 0;             // keys visited
  std::uint32_t values_examined = 0;  // values read and considered
  std::uint32_t values_changed = 0;   // values whose name or data changed (dry run: would)
  std::uint32_t replacements = 0;     // matches replaced, names and data together
  std::uint32_t name_collisions = 0;  // renames refused because the new name was taken
  std::uint32_t failures = 0;         // unreadable values and failed data stores
  // "\\Path : Name [nazwa|dane]" for the first TOL_REPLACE_MAX_REPORT_LINES
  // changes; later changes are counted but not described.
  std::vector<std::string> lines;
};

// The state of one run.
struct TolReplaceContext {
  TolHive* hive = nullptr;
  TolReplaceOptions options;
  std::string find;
  std::string replacement;
  TolRegexPtr regex;
  bool literal = true;  // the replacement is inserted as it is (regex option off)
  std::uint32_t line_limit = TOL_REPLACE_MAX_REPORT_LINES;
  TolReplaceReport* report = nullptr;
  // Keys walked so far: in a damaged hive whose lists name a key twice, the
  // key's values are still rewritten only once.
  TolKeySet visited;
  // Set when the find text is plain ASCII without a line feed or "?" and no
  // expression: then a text can match only where the text itself is ASCII,
  // and keys none of whose values can are passed over without building texts.
  bool prefilter = false;
  std::string lower_find;  // the find text in ASCII lower case
  // Buffers reused from one key and value to the next.
  std::vector<std::vector<std::uint32_t>> levels = std::vector<std::vector<std::uint32_t>>(TOL_MAX_KEY_DEPTH);
  TolHiveValue value;
  std::string run;
  std::string stretch;
};

// Replaces in the subtree of `start` (an nk offset), the start key included.
// False with a G_FILE_ERROR_INVAL error for an empty find text or no start key
// ("Empty pattern or invalid key"), an expression that does not compile (the
// compiler's message), a subtree deeper than 256 levels below the start key
// ("Maximum hive depth exceeded") and replacement or match errors (the
// library's message). The replacement must be valid UTF-8.
bool tol_replace_tree(TolHive& hive, std::uint32_t start, std::string_view find,
                      std::string_view replacement, const TolReplaceOptions& options,
                      TolReplaceReport& report, GError** error);

// The recursive walk: the key's values, then its subkeys; `depth` 0 is the start key.
bool tol_replace_walk(TolReplaceContext& context, std::uint32_t key, std::string& path,
                      int depth, GError** error);

// The text with every match replaced and the number of matches, or nothing
// with the library's error.
std::optional<std::string> tol_replace_text(const TolReplaceContext& context, std::string_view text,
                                            std::uint32_t& count, GError** error);

// Appends "\\%s : %s [%s]" (path, value name or "(Default)", kind word) unless
// the report already holds the context's line limit.
void tol_replace_report_line(TolReplaceContext& context, std::string_view path,
                             std::string_view value_name, std::string_view kind);

// --- Texts of the replace popover. -------------------------------------------

// Why a run cannot start, checked in this order: an empty find text ("Enter
// text to find"), no hive or no selected key ("Select a key"), neither names
// nor data ("Select names or data"); nothing when it can.
std::optional<std::string> tol_replace_input_error(std::string_view find, bool have_key,
                                                   const TolReplaceOptions& options);
// The one message for a finished run: the error's message when there is one,
// else "Preview: …" or "Done: …" with the counts.
std::string tol_replace_message(const TolReplaceReport& report, bool dry_run, const GError* error);
