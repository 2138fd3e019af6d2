#include "hive/errors.h"

#include <cinttypes>
#include <cstdarg>
#include <string>

G_DEFINE_QUARK(tol-hive-error-quark, tol_hive_error)

bool tol_fail(GError** error, TolHiveError code, std::string_view message) {
  if (error != nullptr && *error == nullptr)
    g_set_error_literal(error, TOL_HIVE_ERROR, code, std::string(message).c_str());
  return false;
}

bool tol_failf(GError** error, TolHiveError code, const char* format, ...) {
  if (error == nullptr || *error != nullptr) return false;
  va_list args;
  va_start(args, format);
  g_autofree gchar* text = g_strdup_vprintf(format, args);
  va_end(args);
  return tol_fail(error, code, text);
}

std::string tol_quoted(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out.append(1, '"').append(name).append(1, '"');
  return out;
}

std::string tol_hex(std::uint64_t value) {
  char buf[24];
  g_snprintf(buf, sizeof buf, "0x%" PRIX64, value);
  return buf;
}
