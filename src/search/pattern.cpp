#include "search/pattern.h"

std::string tol_pattern_whole(const std::string& pattern) { return "^(?:" + pattern + ")$"; }

TolRegexPtr tol_pattern_compile(const std::string& pattern, GRegexCompileFlags flags,
                                GError** error) {
  GError* compile_error = nullptr;
  TolRegexPtr regex(g_regex_new(pattern.c_str(), flags, GRegexMatchFlags(0), &compile_error));
  if (!regex) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                        compile_error ? compile_error->message : "");
    g_clear_error(&compile_error);
  }
  return regex;
}
