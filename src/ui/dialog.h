// The modal dialog in which every name, value datum and security descriptor is
// typed: one entry or one multi-line text buffer, with "Cancel" and "OK".
#pragma once

#include <adwaita.h>

#include <memory>
#include <string>

#include "ui/compat.h"
#include "ui/pane.h"

struct TolDialog {
  GtkWidget* window = nullptr;      // owned by the toolkit; destroyed by Cancel
  GtkWidget* entry = nullptr;       // single-line dialogs only
  GtkTextBuffer* buffer = nullptr;  // multi-line dialogs only; owned by its view
  GtkWidget* ok = nullptr;          // the caller connects "clicked"
};

// Builds and presents the dialog, transient for the pane's window. A
// single-line entry gets the focus with its whole text selected. `text` may be
// null (empty).
TolDialog tol_dialog_new(TolPane* pane, const char* title, const char* text, bool multiline);

// The row of "Cancel" (destroys `window`) and "OK" ("suggested-action"),
// aligned to the end, for dialogs laid out by hand. `ok` receives the OK button.
GtkWidget* tol_dialog_button_row(GtkWidget* window, GtkWidget** ok);

// The typed text: the whole buffer (hidden characters excluded) when there is
// one, otherwise the entry's text.
std::string tol_dialog_get_text(GtkWidget* entry, GtkTextBuffer* buffer);
inline std::string tol_dialog_get_text(const TolDialog& dialog) {
  return tol_dialog_get_text(dialog.entry, dialog.buffer);
}

// A pane pointer that turns null when the pane goes, for dialogs and alerts
// that may outlive it (left open while the main window closes).
class TolPaneRef {
 public:
  explicit TolPaneRef(TolPane* pane) : pane_(pane) {
    g_object_add_weak_pointer(G_OBJECT(pane_), reinterpret_cast<gpointer*>(&pane_));
  }
  ~TolPaneRef() {
    if (pane_ != nullptr)
      g_object_remove_weak_pointer(G_OBJECT(pane_), reinterpret_cast<gpointer*>(&pane_));
  }
  TolPaneRef(const TolPaneRef&) = delete;
  TolPaneRef& operator=(const TolPaneRef&) = delete;

  TolPane* get() const { return pane_; }

 private:
  TolPane* pane_;
};

// The file dialog of a pane's command: `run` gets the chosen file's local
// path, unless the pane went away meanwhile or the file has no local path.
void tol_dialog_choose_file(TolPane* pane, const TolFileRequest& request,
                            void (*run)(TolPane* pane, const char* path));

// The command's context record, kept on the dialog window under `key` and
// deleted with the window.
inline constexpr char TOL_DIALOG_CONTEXT[] = "tol-ctx";
inline constexpr char TOL_SECURITY_CONTEXT[] = "tol-security-ctx";

template <typename T>
T* tol_dialog_set_context(GtkWidget* window, std::unique_ptr<T> context,
                          const char* key = TOL_DIALOG_CONTEXT) {
  T* raw = context.release();
  g_object_set_data_full(G_OBJECT(window), key, raw, [](gpointer data) { delete static_cast<T*>(data); });
  return raw;
}

template <typename T>
T* tol_dialog_get_context(GtkWidget* window, const char* key = TOL_DIALOG_CONTEXT) {
  return static_cast<T*>(g_object_get_data(G_OBJECT(window), key));
}
