// The key tree of a pane: a lazily filled tree over a document's keys, with
// type-ahead find, keyboard navigation, drag and drop and its context menu.
//
// It follows its document in place: a change reads again only the lists of
// subkeys it touched, so rows that stay keep their expansion, and the
// selection, scroll position and keyboard focus stay where they were.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "hive/deleted.h"
#include "hive/document.h"

G_BEGIN_DECLS
#define TOL_TYPE_KEY_TREE (tol_key_tree_get_type())
G_DECLARE_FINAL_TYPE(TolKeyTree, tol_key_tree, TOL, KEY_TREE, GtkWidget)
G_END_DECLS

// Signals: "selection-changed" (no arguments) whenever another key, or none,
// is selected; "key-dropped" (returns whether the drop was taken) when a key
// dragged from a key tree is dropped on this one.
TolKeyTree* tol_key_tree_new();

// Shows the document's root key, expanded and selected; null empties the tree.
void tol_key_tree_set_document(TolKeyTree* self, TolDocument* document);
TolDocument* tol_key_tree_get_document(TolKeyTree* self);
// Brings the rows up to date after a change of the document.
void tol_key_tree_apply_change(TolKeyTree* self, const TolChange& change);

// The selected key's nk offset, or TOL_NO_CELL (also for a deleted row).
std::uint32_t tol_key_tree_get_selected_key(TolKeyTree* self);
// The selected key's path ("" for the root); false when nothing is selected.
bool tol_key_tree_get_selected_path(TolKeyTree* self, std::string& out);
// The name the selected row shows ("" without one).
std::string tol_key_tree_get_selected_name(TolKeyTree* self);
// Expands the rows on the way and selects the key; names compare ASCII
// case-insensitively. False, with the selection unchanged, when a component
// is missing.
bool tol_key_tree_select_path(TolKeyTree* self, const char* path);

// Keyboard navigation (the "tree.collapse", "tree.expand" and
// "tree.expand-all" actions); false without a selected row.
bool tol_key_tree_collapse_or_parent(TolKeyTree* self);
bool tol_key_tree_expand_or_child(TolKeyTree* self);
bool tol_key_tree_expand_subtree(TolKeyTree* self);

// Type-ahead: the prefix typed so far, and how long a pause starts a new one
// (one second; tests make it endless or none).
const std::string& tol_key_tree_get_type_ahead(TolKeyTree* self);
// Sets the prefix as if it had just been typed.
void tol_key_tree_set_type_ahead(TolKeyTree* self, const std::string& prefix);
void tol_key_tree_set_type_ahead_pause(TolKeyTree* self, gint64 microseconds);

// Marks the rows of these keys (nk offsets of `document`; none when the tree
// shows another document). Showing another document clears the marks.
void tol_key_tree_set_marks(TolKeyTree* self, TolDocument* document, std::unordered_set<std::uint32_t> keys);
bool tol_key_tree_is_marked(TolKeyTree* self, std::uint32_t key);

// Deleted items (off at first). On, the tree scans its document, then again
// after every change, and shows each deleted key dimmed below its live
// parent (after the live subkeys) or its deleted parent, and those whose
// place is unknown below one more top-level row after the root. Their rows
// are never a selected key: tol_key_tree_get_selected_key and _path say
// nothing is selected. Turning it on or off rebuilds the rows, keeping the
// expanded ones and the selection where they still are.
void tol_key_tree_set_show_deleted(TolKeyTree* self, bool show);
bool tol_key_tree_get_show_deleted(TolKeyTree* self);
// The scan the rows show; null while deleted items are not shown (or no
// document is).
const TolDeletedScan* tol_key_tree_get_deleted_scan(TolKeyTree* self);
// The selected deleted key, as an index into that scan.
std::optional<std::size_t> tol_key_tree_get_selected_deleted_key(TolKeyTree* self);
// Whether a row other than a live key's is selected: a deleted key's, or
// the one of those whose place is unknown.
bool tol_key_tree_deleted_selected(TolKeyTree* self);
// The deleted values the value list shows for the selected row (indices
// into the scan): a live key's, a deleted key's own, or those whose key is
// unknown for that row. None while deleted items are not shown.
std::vector<std::size_t> tol_key_tree_get_selected_deleted_values(TolKeyTree* self);

// The parts, for the pane and for tests.
GtkWidget* tol_key_tree_get_view(TolKeyTree* self);
GtkSingleSelection* tol_key_tree_get_selection(TolKeyTree* self);
GtkWidget* tol_key_tree_get_menu(TolKeyTree* self);

// The key being dragged from any key tree, with its document (a new
// reference), or null when no drag is under way.
TolDocument* tol_key_tree_dragged_key(std::uint32_t* key);
// What a drag source records when a drag starts, and clears (null) when it
// ends; drop targets read it through tol_key_tree_dragged_key.
void tol_key_tree_set_dragged_key(TolDocument* document, std::uint32_t key);
