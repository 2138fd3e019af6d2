// Why an editing operation of the engine refused or failed.
//
// Every refusal carries one of these codes and a message that names the
// reason in words a user can act on ("a key named "X" already exists"). The
// message is complete on its own: callers put their own context in front.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <string_view>

#define TOL_HIVE_ERROR (tol_hive_error_quark())
GQuark tol_hive_error_quark();

enum TolHiveError {
  TOL_HIVE_ERROR_EXISTS,        // a key or value of that name exists
  TOL_HIVE_ERROR_NOT_FOUND,     // no such key or value
  TOL_HIVE_ERROR_INVALID_NAME,  // empty, too long, not UTF-8, not storable
  TOL_HIVE_ERROR_TOO_MANY,      // more subkeys or values than a list can count
  TOL_HIVE_ERROR_DAMAGED,       // the hive is damaged where the operation would write
  TOL_HIVE_ERROR_NO_ROOM,       // the image would outgrow what the format can address
  TOL_HIVE_ERROR_TOO_LONG,      // data longer than the format can store
  TOL_HIVE_ERROR_INVALID,       // anything else the caller asked for that cannot be done
};

// Sets a TOL_HIVE_ERROR unless an error is set already: the first reason is
// the one worth reporting. Always returns false, for `return tol_fail(...)`.
bool tol_fail(GError** error, TolHiveError code, std::string_view message);
// The same with a printf format (translated by the caller).
bool tol_failf(GError** error, TolHiveError code, const char* format, ...) G_GNUC_PRINTF(3, 4);
// A name as refusals quote it: "Name".
std::string tol_quoted(std::string_view name);
// "0x1A20", the way the check and the refusals name cell offsets.
std::string tol_hex(std::uint64_t value);
