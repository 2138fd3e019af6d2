#include "search/search.h"

#include <glib/gi18n-lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "hive/bytes.h"
#include "hive/format.h"
#include "hive/names.h"
#include "value/codec.h"

namespace {

struct GFreeDeleter {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

std::string casefold(std::string_view text) {
  const GCharPtr folded(g_utf8_casefold(text.data(), static_cast<gssize>(text.size())));
  return folded ? std::string(folded.get()) : std::string();
}

std::string take(gchar* text) {
  const GCharPtr owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

bool full(const TolSearchContext& context) {
  return context.limit != 0 && context.results.size() >= context.limit;
}

// Writes the ASCII lower case of `text` to `out` as far as the text is ASCII
// without zero bytes; returns how far that is. Eight bytes at a time: a text
// search spends most of its time here.
std::size_t ascii_lower(std::string_view text, char* out) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    const bool zero_byte = ((w - kOnes) & ~w & kHigh) != 0;
    if ((w & kHigh) != 0 || zero_byte) break;
    // Bit 7 of w + 0x3F is set from 'A' on, of w + 0x25 from '[' on.
    const std::uint64_t upper = (w + 0x3F * kOnes) & ~(w + 0x25 * kOnes) & kHigh;
    w |= upper >> 2;
    std::memcpy(out + i, &w, 8);
  }
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0 || c >= 0x80) break;
    out[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  return i;
}

bool is_string_type(std::uint32_t type) {
  return type == TOL_REG_SZ || type == TOL_REG_EXPAND_SZ || type == TOL_REG_MULTI_SZ;
}

}  // namespace

std::string tol_search_value_text(std::uint32_t type, std::span<const std::uint8_t> data) {
  std::string text;
  tol_search_value_text_into(type, data, text);
  return text;
}

void tol_search_value_text_into(std::uint32_t type, std::span<const std::uint8_t> data,
                                std::string& text) {
  text.clear();
  if (data.empty()) return;
  if (type != TOL_REG_MULTI_SZ) return tol_utf16_append(text, data);
  const tol::ByteView view(data);
  std::size_t start = 0;
  for (std::size_t off = 0; view.has(off, 2); off += 2) {
    if (view.u16(off) != 0) continue;
    if (off > start) {
      tol_utf16_append(text, view.sub(start, off - start).span());
      text += ' ';
    }
    start = off + 2;
  }
  if (start < view.size()) tol_utf16_append(text, view.tail(start).span());
}

bool tol_search_match(const TolSearchContext& context, std::string_view text) {
  if (!context.regex) {
    // Most names and texts are plain ASCII, whose case folding is their lower
    // case: folded into a reused buffer, they are matched without building a
    // folded copy. A folded pattern beyond ASCII cannot occur in them.
    std::string& lower = context.folded;
    lower.resize(text.size());
    const std::size_t i = ascii_lower(text, lower.data());
    if (i < text.size() && text[i] == '\0') return false;  // not valid text for GLib (see below)
    if (i == text.size()) {
      if (!context.pattern_ascii) return false;
      if (context.options.whole_text) return lower == context.folded_pattern;
      return lower.find(context.folded_pattern) != std::string::npos;
    }
  }
  // Names and data are decoded to valid UTF-8; anything else cannot be
  // matched or folded meaningfully and is simply not a hit.
  if (!g_utf8_validate_len(text.data(), text.size(), nullptr)) return false;
  if (context.regex) {
    return g_regex_match_full(context.regex.get(), text.data(), static_cast<gssize>(text.size()), 0,
                              GRegexMatchFlags(0), nullptr, nullptr);
  }
  const std::string folded = casefold(text);
  if (context.options.whole_text) return folded == context.folded_pattern;
  return folded.find(context.folded_pattern) != std::string::npos;
}

void tol_search_tree(TolSearchContext& context, std::uint32_t key, std::string& path, int depth) {
  if (full(context) || depth >= TOL_MAX_KEY_DEPTH) return;
  if (!context.visited.insert(key)) return;
  const TolHive& hive = *context.hive;
  const TolSearchOptions& options = context.options;

  if (options.keys) {
    const std::size_t cut = path.rfind('\\');
    const std::string_view name =
        cut == std::string::npos ? std::string_view(path) : std::string_view(path).substr(cut + 1);
    if (tol_search_match(context, name)) context.results.push_back({path, {}, 0, true});
  }

  if (options.values || options.data) {
    const std::uint32_t count = tol_hive_value_count(hive, key);
    TolHiveValue& value = context.value;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (full(context)) return;
      if (!tol_hive_read_value(hive, key, i, value)) continue;
      if (options.values && tol_search_match(context, value.name)) {
        context.results.push_back({path, value.name, value.type, false});
        continue;
      }
      if (!options.data || !is_string_type(value.type)) continue;
      tol_search_value_text_into(value.type, value.data, context.text);
      if (tol_search_match(context, context.text))
        context.results.push_back({path, value.name, value.type, false});
    }
  }

  if (full(context)) return;
  std::vector<std::uint32_t>& subkeys = context.levels[static_cast<std::size_t>(depth)];
  tol_hive_subkeys_into(hive, key, subkeys);
  const std::size_t length = path.size();
  for (const std::uint32_t sub : subkeys) {
    if (full(context)) return;
    if (!path.empty()) path += '\\';
    tol_hive_append_key_name(hive, sub, path);
    tol_search_tree(context, sub, path, depth + 1);
    path.resize(length);
  }
}

std::optional<std::vector<TolSearchResult>> tol_search_hive(const TolHive& hive,
                                                            std::string_view text,
                                                            const TolSearchOptions& options,
                                                            GError** error) {
  if (text.empty()) return std::vector<TolSearchResult>();
  TolSearchContext context;
  context.hive = &hive;
  context.options = options;
  if (options.regex) {
    std::string pattern(text);
    if (options.whole_text) pattern = tol_pattern_whole(pattern);
    context.regex = tol_pattern_compile(
        pattern, GRegexCompileFlags(G_REGEX_CASELESS | G_REGEX_OPTIMIZE), error);
    if (!context.regex) return std::nullopt;
  } else {
    context.folded_pattern = casefold(text);
    context.pattern_ascii = std::all_of(context.folded_pattern.begin(), context.folded_pattern.end(),
                                        [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  }
  context.visited = TolKeySet(hive.bins_length);
  std::string path;
  tol_search_tree(context, hive.root_cell, path, 0);
  return std::move(context.results);
}

std::string tol_search_result_label(const TolSearchResult& result) {
  if (result.is_key) return take(g_strdup_printf(_("\\%s"), result.path.c_str()));
  const std::string name = result.value_name.empty() ? _("(Default)") : result.value_name;
  return take(g_strdup_printf(_("%s = \\%s"), name.c_str(), result.path.c_str()));
}

std::string tol_search_result_detail(const TolSearchResult& result) {
  return result.is_key ? _("key") : tol_value_type_name(result.type);
}

std::string tol_search_status(const TolHive* hive, std::string_view text, std::size_t count) {
  if (!hive) return _("No hive loaded");
  if (text.empty()) return {};
  const auto n = static_cast<unsigned>(count);
  if (count >= TOL_SEARCH_MAX_RESULTS)
    return take(g_strdup_printf(_("Found %u or more (narrow the query)"), n));
  return take(g_strdup_printf(_("Found: %u"), n));
}
