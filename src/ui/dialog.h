// The modal dialog in which every name, value datum and security descriptor is
// typed: one entry or one multi-line text buffer, with "Cancel" and "OK".
// OK (and Enter in a one-line dialog) runs the command's apply function while
// the pane it belongs to lives; the dialog closes when that says so, and
// stays open for another try otherwise.
#pragma once

#include <adwaita.h>

#include <functional>
#include <string>

#include "ui/compat.h"
#include "ui/pane.h"

G_BEGIN_DECLS
#define TOL_TYPE_EDIT_DIALOG (tol_edit_dialog_get_type())
G_DECLARE_FINAL_TYPE(TolEditDialog, tol_edit_dialog, TOL, EDIT_DIALOG, GtkWindow)
G_END_DECLS

// True closes the dialog.
using TolDialogApply = std::function<bool(TolPane* pane, TolEditDialog* dialog)>;

// Builds the dialog, transient for the pane's window. A single-line entry
// gets the focus with its whole text selected once presented. `text` may be
// null (empty).
TolEditDialog* tol_edit_dialog_new(TolPane* pane, const char* title, const char* text, bool multiline);
void tol_edit_dialog_set_apply(TolEditDialog* self, TolDialogApply apply);
// Puts a widget below the text, above the buttons (the New value dialog's type).
void tol_edit_dialog_add(TolEditDialog* self, GtkWidget* widget);
// Puts a widget above the text (the security editor's readable views).
void tol_edit_dialog_add_above(TolEditDialog* self, GtkWidget* widget);
// Shows it, with the focus in the text.
void tol_edit_dialog_present(TolEditDialog* self);
// Runs OK as the button does.
void tol_edit_dialog_apply(TolEditDialog* self);

// The typed text: the whole buffer (hidden characters excluded) when there is
// one, otherwise the entry's text.
std::string tol_edit_dialog_get_text(TolEditDialog* self);
GtkWidget* tol_edit_dialog_get_entry(TolEditDialog* self);         // null when multi-line
GtkTextBuffer* tol_edit_dialog_get_buffer(TolEditDialog* self);    // null when single-line
GtkWidget* tol_edit_dialog_get_ok(TolEditDialog* self);
// Lets the hex text of a multi-line dialog wrap at any character: a long
// run of byte pairs has no spaces to break at and would run off the side.
void tol_edit_dialog_wrap_anywhere(TolEditDialog* self);

// The file dialog of a pane's command: `run` gets the chosen file's local
// path, unless the pane went away meanwhile or the file has no local path.
void tol_dialog_choose_file(TolPane* pane, const TolFileRequest& request,
                            void (*run)(TolPane* pane, const char* path));
