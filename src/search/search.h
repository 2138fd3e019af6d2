// Finding keys, value names and string data anywhere in a hive.
//
// A search reads the whole hive from the root key, ignores case always and
// stops at TOL_SEARCH_MAX_RESULTS hits. Hits come in pre-order: a key's own
// hit, then its values in value order (at most one hit per value, a name hit
// before a data hit), then its subkeys.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "hive/hive.h"
#include "search/key_set.h"
#include "search/pattern.h"

inline constexpr std::uint32_t TOL_SEARCH_MAX_RESULTS = 500;

struct TolSearchOptions {
  bool keys = true;    // match key names
  bool values = true;  // match value names
  bool data = true;    // match the text of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data
  bool whole_text = false;
  bool regex = false;  // the text is a PCRE2 expression
};

struct TolSearchResult {
  // Key path from the root without a leading backslash ("" for the root);
  // for a value hit the path of the key that holds the value.
  std::string path;
  // The value's name ("" for the default value); always "" for a key hit.
  std::string value_name;
  std::uint32_t type = 0;  // 0 for a key hit
  bool is_key = false;
};

// The state of one run.
struct TolSearchContext {
  const TolHive* hive = nullptr;
  std::string folded_pattern;  // g_utf8_casefold of the text; used without a regex
  bool pattern_ascii = true;   // the folded pattern is plain ASCII
  TolRegexPtr regex;           // null unless the regex option is on
  TolSearchOptions options;
  std::vector<TolSearchResult> results;
  std::uint32_t limit = TOL_SEARCH_MAX_RESULTS;  // 0: no limit
  // Keys walked so far: a damaged hive whose lists name a key twice or name
  // an ancestor is walked once per key instead of exponentially often.
  TolKeySet visited;
  // Buffers reused from one key and value to the next, so that a walk that
  // finds nothing allocates nothing per key or value.
  std::vector<std::vector<std::uint32_t>> levels = std::vector<std::vector<std::uint32_t>>(TOL_MAX_KEY_DEPTH);
  TolHiveValue value;
  std::string text;
  mutable std::string folded;
};

// The walk below `key` (an nk offset) whose path is `path`, at `depth` (the
// root is 0); keys at depth TOL_MAX_KEY_DEPTH are not entered. The path is
// extended and cut back on the way, and comes back as it was.
void tol_search_tree(TolSearchContext& context, std::uint32_t key, std::string& path, int depth);
// True when the UTF-8 text matches under the context's options.
bool tol_search_match(const TolSearchContext& context, std::string_view text);

// The text a Data search matches for string data: REG_SZ / REG_EXPAND_SZ up
// to the first zero unit; for REG_MULTI_SZ each non-empty string followed by
// one space, then any bytes after the last zero unit.
std::string tol_search_value_text(std::uint32_t type, std::span<const std::uint8_t> data);
// The same into a buffer the caller reuses (cleared first).
void tol_search_value_text_into(std::uint32_t type, std::span<const std::uint8_t> data,
                                std::string& out);

// One whole search of the hive, what the search popover and tolvane-cli run.
// Empty text finds nothing. A regex that does not compile gives nothing and a
// G_FILE_ERROR_INVAL error carrying the compiler's message.
std::optional<std::vector<TolSearchResult>> tol_search_hive(const TolHive& hive,
                                                            std::string_view text,
                                                            const TolSearchOptions& options,
                                                            GError** error);

// --- Texts of the result list. ---------------------------------------------

// "\\Path" for a key hit, "Name = \\Path" for a value hit ("(Default)" for the
// empty name): paths are shown with one leading backslash.
std::string tol_search_result_label(const TolSearchResult& result);
// "key" for a key hit, else the name of the value's type.
std::string tol_search_result_detail(const TolSearchResult& result);
// The status line after a run: "No hive loaded" without a hive, "" for an
// empty search text, else the number of hits ("or more" at the limit).
std::string tol_search_status(const TolHive* hive, std::string_view text, std::size_t count);
