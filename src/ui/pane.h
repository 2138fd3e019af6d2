// One half of the main window: a toolbar row, the tab bar and either a status
// page or the key tree beside the value list. Each tab shows one hive file
// through its document, which every tab of either pane showing that file
// shares; edits, undo and redo go through the document and every view of it
// follows in place.
#pragma once

#include <adwaita.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "hive/document.h"

typedef struct _TolKeyTree TolKeyTree;
typedef struct _TolValueList TolValueList;
typedef struct _TolValueItem TolValueItem;
typedef struct _TolSearchPopover TolSearchPopover;
typedef struct _TolReplacePopover TolReplacePopover;
typedef struct _TolTabBar TolTabBar;

G_BEGIN_DECLS

#define TOL_TYPE_PANE (tol_pane_get_type())
G_DECLARE_FINAL_TYPE(TolPane, tol_pane, TOL, PANE, GtkBox)

G_END_DECLS

inline constexpr int TOL_MAX_TABS = 16;

enum TolStatusKind { TOL_STATUS_EMPTY = 0, TOL_STATUS_MISSING = 1, TOL_STATUS_ERROR = 2 };

// `tooltip` is the pane's own tooltip ("left pane" / "right pane").
TolPane* tol_pane_new(const char* tooltip);

// Wiring done by the window.
void tol_pane_set_other(TolPane* self, TolPane* other);
TolPane* tol_pane_get_other(TolPane* self);
void tol_pane_set_toast_overlay(TolPane* self, AdwToastOverlay* overlay);
// Shows a 4-second toast on the overlay; nothing without one.
void tol_pane_toast(TolPane* self, const char* message);

// ---- Tabs ------------------------------------------------------------------------
int tol_pane_add_tab(TolPane* self, const char* label, const char* path, bool is_user);
// Shows the tab's document, opening the file the first time (or sharing the
// document another tab already has open).
void tol_pane_switch_tab(TolPane* self, int index);
void tol_pane_close_tab(TolPane* self, int index);
void tol_pane_open_file(TolPane* self, GFile* file);
void tol_pane_show_status(TolPane* self, TolStatusKind kind, const char* icon_name,
                          const char* title, const char* description);

// Read access to the tabs, for the session and for tests.
int tol_pane_get_tab_count(TolPane* self);
int tol_pane_get_active_tab(TolPane* self);
// Field getters of tab `index`; null / false for an invalid index. Strings are
// owned by the pane and valid until the tab changes.
const char* tol_pane_get_tab_label(TolPane* self, int index);
const char* tol_pane_get_tab_path(TolPane* self, int index);  // null: no file
const char* tol_pane_get_tab_last_key(TolPane* self, int index);
bool tol_pane_get_tab_is_user(TolPane* self, int index);
void tol_pane_set_tab_last_key(TolPane* self, int index, const char* key_path);

// The document of the active tab, or null (none open, or it failed to open).
TolDocument* tol_pane_get_document(TolPane* self);
// Its hive, or null.
TolHive* tol_pane_get_hive(TolPane* self);

// ---- Key tree and value list -------------------------------------------------
// Cell offset of the selected key, or TOL_NO_CELL (0xFFFFFFFF).
std::uint32_t tol_pane_get_selected_key(TolPane* self);
// Path of the selected key ("" for the root); false when nothing is selected.
bool tol_pane_get_selected_key_path(TolPane* self, std::string& out);
// Expands the rows on the way and selects the key; names compare ASCII
// case-insensitively; leaves the selection unchanged when a component is missing.
void tol_pane_select_path(TolPane* self, const char* path);
// Shows the selected key's values again, tinted against the other pane.
void tol_pane_refresh_values(TolPane* self);
// The value list's selected row, or null (borrowed).
TolValueItem* tol_pane_get_selected_value(TolPane* self);
// Whether the keyboard focus is in the value list (commands that act on a key
// or a value then act on the value).
bool tol_pane_focus_in_value_list(TolPane* self);

// ---- Deleted items --------------------------------------------------------------
// The "show-deleted" property (and stateful action "pane.show-deleted"): the
// key tree and the value list show the deleted keys and values still in the
// shown file, dimmed, beside the live ones. Off, nothing is scanned.
void tol_pane_set_show_deleted(TolPane* self, bool show);
bool tol_pane_get_show_deleted(TolPane* self);
// The selected deleted key (an index into the key tree's scan), if any.
std::optional<std::size_t> tol_pane_get_selected_deleted_key(TolPane* self);
// Restore (to the original place) and Restore to… (asks for the key): the
// selected deleted value when the focus is in the value list and one is
// selected there, otherwise the deleted key selected in the tree. One
// undoable change each; a taken name offers to restore under another.
void tol_pane_restore_selected(TolPane* self);
void tol_pane_restore_selected_to(TolPane* self);

// ---- Commands (also the pane's actions) -----------------------------------------
void tol_pane_show_search(TolPane* self);
void tol_pane_show_replace(TolPane* self);
void tol_pane_focus_tree(TolPane* self);
void tol_pane_copy_selected(TolPane* self);
void tol_pane_new_key(TolPane* self);
void tol_pane_delete_selected(TolPane* self);
void tol_pane_rename_selected(TolPane* self);
void tol_pane_export_reg(TolPane* self);
void tol_pane_import_reg(TolPane* self);
// Puts the selected key's path on the clipboard ("\" for the root) and shows
// a toast; false without a hive or a selected key.
bool tol_pane_copy_key_path(TolPane* self);
// Puts the selected value on the clipboard as "name\ttype\tdata" and shows a
// toast; false when no value is selected.
bool tol_pane_copy_value(TolPane* self);
// Undo and redo of the document's newest step; a toast says what happened
// when `toast` is set, and always when the save failed. True when a step was
// there to take.
bool tol_pane_undo(TolPane* self, bool toast);
bool tol_pane_redo(TolPane* self, bool toast);

// ---- Parts, for the window and for tests ------------------------------------------
TolKeyTree* tol_pane_get_key_tree(TolPane* self);
TolValueList* tol_pane_get_value_list(TolPane* self);
TolSearchPopover* tol_pane_get_search_popover(TolPane* self);
TolReplacePopover* tol_pane_get_replace_popover(TolPane* self);
TolTabBar* tol_pane_get_tab_bar(TolPane* self);
GtkWidget* tol_pane_get_path_label(TolPane* self);
GtkWidget* tol_pane_get_status_page(TolPane* self);
// Whether the views (rather than the status page) are on show.
bool tol_pane_shows_views(TolPane* self);
GtkWidget* tol_pane_get_key_tree_view(TolPane* self);
GtkWidget* tol_pane_get_value_list_view(TolPane* self);
