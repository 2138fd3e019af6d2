// The search popover under a pane's search button: the query, its options,
// the outcome of the last run and one row per hit. Activating a hit selects
// its key ("pane.select-path").
#pragma once

#include <gtk/gtk.h>

#include <cstddef>

G_BEGIN_DECLS
#define TOL_TYPE_SEARCH_POPOVER (tol_search_popover_get_type())
G_DECLARE_FINAL_TYPE(TolSearchPopover, tol_search_popover, TOL, SEARCH_POPOVER, GtkPopover)
G_END_DECLS

enum class TolSearchPart { entry, keys, values, data, whole, regex, status, results };

TolSearchPopover* tol_search_popover_new();
// Pops up with the focus in the entry.
void tol_search_popover_show(TolSearchPopover* self);
// Runs the query on the hive of the pane the popover belongs to and fills its
// rows and status (the entry's Enter and the "Search" button).
void tol_search_popover_run(TolSearchPopover* self);
GtkWidget* tol_search_popover_get_part(TolSearchPopover* self, TolSearchPart part);
// How many results the popover holds (its rows point into them).
std::size_t tol_search_popover_result_count(TolSearchPopover* self);
