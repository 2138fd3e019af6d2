// Applying a .reg file below a key of a hive.
//
// Key paths in the file are taken relative to the destination key. The import
// changes the hive image only; the caller records the undo snapshot before it
// and saves afterwards.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive.h"

struct TolRegImportCounts {
  std::uint32_t keys = 0;            // key lines applied
  std::uint32_t values = 0;          // values stored
  std::uint32_t deleted_keys = 0;
  std::uint32_t deleted_values = 0;
  std::uint32_t errors = 0;          // lines that were malformed or failed
};

struct TolRegUnquoted {
  std::string text;
  std::size_t end = 0;  // position just after the closing quote
};

// Reads a quoted string from the text just after its opening quote. A
// backslash makes the next character literal. Nothing when the text ends
// before the closing quote.
std::optional<TolRegUnquoted> tol_reg_unquote(std::string_view text);
// The bytes of a comma-separated hex list; ends silently at the first piece
// that is not a number.
std::vector<std::uint8_t> tol_reg_parse_hex_bytes(std::string_view text);
// The file's bytes as UTF-8 text: a UTF-16LE file (with its FF FE mark) is
// converted, a UTF-8 mark dropped, anything else taken as it is.
std::string tol_reg_file_text(std::span<const std::uint8_t> bytes);

// Applies the file below `destination`. False with "invalid destination key"
// (G_FILE_ERROR_INVAL) when the destination is TOL_NO_CELL; otherwise true,
// with malformed and failed lines counted as errors.
bool tol_reg_import(TolHive& hive, std::uint32_t destination, std::span<const std::uint8_t> file,
                    TolRegImportCounts& counts, GError** error);
// The same for a file on disk; a file that cannot be read gives its error.
bool tol_reg_import_from_file(TolHive& hive, std::uint32_t destination, const std::string& path,
                              TolRegImportCounts& counts, GError** error);

// "Imported: 3 keys, 5 values (deleted 0 keys, 1 values)", with a note when
// the file contained errors.
std::string tol_reg_import_summary(const TolRegImportCounts& counts);
