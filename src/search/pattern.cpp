#include "search/pattern.h"

#include <glib/gi18n-lib.h>

std::string tol_pattern_whole(const std::string& pattern) { return "^(?:" + pattern + ")$"; }

TolRegexPtr tol_pattern_compile(const std::string& pattern, GRegexCompileFlags flags,
                                GError** error) {
  // PCRE2 is asked to trust that patterns are UTF-8 and reads past the end
  // of one that is not.
  if (!g_utf8_validate(pattern.data(), static_cast<gssize>(pattern.size()), nullptr)) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, _("The text is not valid UTF-8"));
    return nullptr;
  }
  GError* compile_error = nullptr;
  TolRegexPtr regex(g_regex_new(pattern.c_str(), flags, GRegexMatchFlags(0), &compile_error));
  if (!regex) {
    g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                        compile_error ? compile_error->message : "");
    g_clear_error(&compile_error);
  }
  return regex;
}
