// The comparison panel below the two panes: the differences between the keys
// selected in the panes, grouped by key and filterable by kind; activating a
// row selects its key in both panes. The differences can be written as a .reg
// file or applied to either side as one undoable change, and the key trees
// mark the keys that have differences at or below them. It follows every
// change of either document.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "hive/compare.h"

typedef struct _TolPane TolPane;

G_BEGIN_DECLS
#define TOL_TYPE_DIFF_PANEL (tol_diff_panel_get_type())
G_DECLARE_FINAL_TYPE(TolDiffPanel, tol_diff_panel, TOL, DIFF_PANEL, GtkWidget)
G_END_DECLS

// What the list shows.
enum class TolDiffFilter { all, keys, values, changed, details };

// The panes are borrowed: the window holds them and the panel.
TolDiffPanel* tol_diff_panel_new(TolPane* left, TolPane* right);

// Compares the keys selected in the two panes and shows the panel; false
// (with a toast saying why) when a pane has no file or no selected key.
bool tol_diff_panel_compare(TolDiffPanel* self);
// Hides the panel and forgets the comparison and the trees' marks.
void tol_diff_panel_close(TolDiffPanel* self);
// Whether a comparison is on show.
bool tol_diff_panel_is_active(TolDiffPanel* self);

// The comparison on show (empty when none), and the compared keys' paths.
const TolDiff& tol_diff_panel_get_diff(TolDiffPanel* self);
const std::string& tol_diff_panel_get_left_path(TolDiffPanel* self);
const std::string& tol_diff_panel_get_right_path(TolDiffPanel* self);

void tol_diff_panel_set_filter(TolDiffPanel* self, TolDiffFilter filter);
// The rows on show: a key row for each key with differences (or a key only on
// one side) and a row for each of its differences below it.
guint tol_diff_panel_get_row_count(TolDiffPanel* self);
// The entry a row shows, or null for the row of a key that has entries below it.
const TolDiffEntry* tol_diff_panel_get_row_entry(TolDiffPanel* self, guint row);
// The path (below the compared keys) a row belongs to.
std::string tol_diff_panel_get_row_path(TolDiffPanel* self, guint row);
// As Enter or a double click on the row: selects the row's key in both panes
// (the nearest key above it on a side that lacks it). False for no such row.
bool tol_diff_panel_activate_row(TolDiffPanel* self, guint row);

// Imports the differences into one side, so that it equals the other, as one
// undoable change of that side's document; false (with a toast) when nothing
// was applied.
bool tol_diff_panel_apply(TolDiffPanel* self, bool to_left);
// "Export differences as .reg…": a save dialog, then tol_diff_panel_export_to.
void tol_diff_panel_export(TolDiffPanel* self);
bool tol_diff_panel_export_to(TolDiffPanel* self, const char* path, GError** error);

// The parts, for the window and for tests.
GtkWidget* tol_diff_panel_get_list_view(TolDiffPanel* self);
GtkWidget* tol_diff_panel_get_summary_label(TolDiffPanel* self);
