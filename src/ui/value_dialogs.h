// What the value commands, the value editors and the security editor share.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <optional>
#include <string>

#include "ui/pane.h"
#include "value/codec.h"

// Hex text as bytes, or nothing after a toast with the parser's message.
inline std::optional<TolBytes> tol_pane_parse_hex(TolPane* pane, const std::string& text) {
  g_autoptr(GError) error = nullptr;
  std::optional<TolBytes> bytes = tol_value_hex_parse(text.c_str(), &error);
  if (!bytes) tol_pane_toast(pane, error != nullptr ? error->message : "?");
  return bytes;
}

// The New value dialog's types in the order its drop-down lists them.
inline constexpr std::uint32_t TOL_NEW_VALUE_TYPES[] = {1, 2, 3, 4, 7, 11};

// Creates (or resets) the value `name` in the selected key with the empty
// data of `type` (the New value dialog's OK).
void tol_pane_apply_new_value(TolPane* pane, const std::string& name, std::uint32_t type);
