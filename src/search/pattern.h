// Compiled expressions shared by search and replace.
#pragma once

#include <glib.h>

#include <memory>
#include <string>

struct TolRegexUnref {
  void operator()(GRegex* regex) const { g_regex_unref(regex); }
};
using TolRegexPtr = std::unique_ptr<GRegex, TolRegexUnref>;

struct TolMatchInfoFree {
  void operator()(GMatchInfo* info) const { g_match_info_free(info); }
};
using TolMatchInfoPtr = std::unique_ptr<GMatchInfo, TolMatchInfoFree>;

// "^(?:%s)$": the expression must cover the whole name or text. The group
// keeps alternatives ("a|b") inside the anchors.
std::string tol_pattern_whole(const std::string& pattern);

// Compiles an expression. On failure returns null and sets a
// G_FILE_ERROR_INVAL error carrying the compiler's own message, so that
// callers report every problem of a run in one error domain.
TolRegexPtr tol_pattern_compile(const std::string& pattern, GRegexCompileFlags flags,
                                GError** error);
