// What the value commands, the value editors and the security editor share:
// the New value dialog's context
// (built by the editors, applied by the commands).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/pane.h"
#include "value/codec.h"

// Lets the hex text of a multi-line dialog wrap at any character: a long
// run of byte pairs has no spaces to break at and would run off the side.
inline void tol_dialog_wrap_hex(GtkWidget* widget) {
  if (GTK_IS_TEXT_VIEW(widget)) {
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(widget), GTK_WRAP_CHAR);
    return;
  }
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child))
    tol_dialog_wrap_hex(child);
}

// Hex text as bytes, or nothing after a toast with the parser's message.
inline std::optional<TolBytes> tol_pane_parse_hex(TolPane* pane, const std::string& text) {
  GError* error = nullptr;
  std::optional<TolBytes> bytes = tol_value_hex_parse(text.c_str(), &error);
  if (!bytes)
    tol_pane_toast(pane, error != nullptr ? error->message : "?");
  g_clear_error(&error);
  return bytes;
}

// The New value dialog's context, kept on its window under "tol-ctx".
struct TolNewValueDialog {
  explicit TolNewValueDialog(TolPane* pane) : pane(pane) {}
  TolPaneRef pane;
  GtkWidget* window = nullptr;
  GtkWidget* entry = nullptr;
  GtkWidget* type_drop_down = nullptr;
};

// The drop-down's types in the order it lists them.
inline constexpr std::uint32_t TOL_NEW_VALUE_TYPES[] = {1, 2, 3, 4, 7, 11};

// The New value dialog's OK: creates (or resets) the value named in the entry
// with the empty data of the chosen type, then closes the dialog.
void tol_pane_apply_new_value(TolNewValueDialog* dialog);
