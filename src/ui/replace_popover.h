// The replace popover under a pane's replace button: find and replacement
// texts, where to replace, how to match, and the report of the last run.
// "Replace all" is one undoable change of the pane's document.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS
#define TOL_TYPE_REPLACE_POPOVER (tol_replace_popover_get_type())
G_DECLARE_FINAL_TYPE(TolReplacePopover, tol_replace_popover, TOL, REPLACE_POPOVER, GtkPopover)
G_END_DECLS

enum class TolReplacePart { find, with, names, data, match_case, whole, regex, report };

TolReplacePopover* tol_replace_popover_new();
// Pops up with the focus in the find entry.
void tol_replace_popover_show(TolReplacePopover* self);
// "Preview" (a dry run) and "Replace all", below the key selected in the
// popover's pane.
void tol_replace_popover_run(TolReplacePopover* self, bool dry_run);
GtkWidget* tol_replace_popover_get_part(TolReplacePopover* self, TolReplacePart part);
