// The pane's instance structure, shared by the files that build its pieces
// (construction and actions, tabs, key tree, value list, popovers, export).
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive/save.h"
#include "ui/pane.h"

struct TolTab {
  std::string label;
  std::optional<std::string> path;  // none: the file was not found
  std::string last_key;             // "" is the root key
  bool is_user = false;
  GtkWidget* widget = nullptr;      // owned by the tab bar
  TolUndoJournal journal;
};

// Pane state that is not a widget; owned by the pane, deleted at finalize.
struct TolPaneData {
  std::vector<std::unique_ptr<TolTab>> tabs;
  int active_tab = -1;
  TolHivePtr hive;
  std::string type_ahead;
  gint64 type_ahead_time = 0;
  // Files whose damage has been announced: once per file, not at every reload.
  std::set<std::string> damage_announced;
  // The last search's results; the result rows point into it.
  std::shared_ptr<void> search_results;
};

struct _TolPane {
  GtkBox parent_instance;

  GtkWidget* path_label;
  GtkWidget* export_button;
  GtkWidget* import_button;
  GtkWidget* delete_button;
  GtkWidget* undo_button;
  GtkWidget* rename_button;
  GtkWidget* new_key_button;
  GtkWidget* new_value_button;
  GtkWidget* search_button;
  GtkWidget* replace_button;
  GtkWidget* security_button;
  GtkWidget* stack;
  GtkWidget* status_page;
  AdwToastOverlay* toast_overlay;  // not owned; may be null
  GtkWidget* tab_box;
  GSimpleActionGroup* actions;

  // Search popover.
  GtkWidget* search_popover;
  GtkWidget* search_entry;
  GtkWidget* search_keys;
  GtkWidget* search_values;
  GtkWidget* search_data;
  GtkWidget* search_whole;
  GtkWidget* search_regex;
  GtkWidget* search_status;
  GtkWidget* search_list;

  // Replace popover.
  GtkWidget* replace_popover;
  GtkWidget* replace_find;
  GtkWidget* replace_with;
  GtkWidget* replace_names;
  GtkWidget* replace_data;
  GtkWidget* replace_case;
  GtkWidget* replace_whole;
  GtkWidget* replace_regex;
  GtkWidget* replace_report;

  // Key tree.
  GtkWidget* key_tree_view;
  GtkSingleSelection* key_tree_selection;
  GtkWidget* key_tree_menu;

  // Value list.
  GtkWidget* value_list_view;
  GListStore* value_store;
  GtkSingleSelection* value_selection;
  GtkWidget* value_list_menu;

  TolPane* other;  // not owned

  TolPaneData* d;
};

// ---- Pieces built by their own files, called from the pane's construction --
// key_tree.cpp: the key tree's model, view, controllers and menu; returns the
// scrolled window to put on the start side of the paned.
GtkWidget* tol_pane_key_tree_build(TolPane* self);
// value_list.cpp: the value store, selection, view, controllers and menu;
// returns the scrolled window for the end side of the paned.
GtkWidget* tol_pane_value_list_build(TolPane* self);
void tol_pane_value_list_clear(TolPane* self);
// search_popover.cpp / replace_popover.cpp: the popovers, parented to the buttons.
void tol_pane_search_popover_build(TolPane* self);
void tol_pane_replace_popover_build(TolPane* self);
// pane_menus.cpp: the "New" submenu shared by both context menus.
GMenuModel* tol_pane_new_submenu();
// Whether the window's focus widget is `widget` or lies inside it.
bool tol_focus_inside(GtkWidget* widget);
// Whether the window's focus widget lies inside the value list.
bool tol_pane_focus_in_value_list(TolPane* self);
// Runs the undo of the active tab; shows a toast when `toast` is set, and
// always when the undo failed. True when it undid or tried to.
bool tol_pane_undo(TolPane* self, bool toast);
// tabs.cpp: the active tab, or null.
TolTab* tol_pane_active_tab(TolPane* self);

// pane_menus.cpp: the complete context menus (new references).
GMenuModel* tol_pane_key_tree_menu_model();
GMenuModel* tol_pane_value_list_menu_model();
// value_list.cpp: puts the selected value on the clipboard as "name\ttype\tdata"
// and shows a toast; false when no value is selected.
bool tol_pane_copy_value(TolPane* self);
// value_list.cpp: the value list's selected row, or null (borrowed).
typedef struct _TolValueItem TolValueItem;
TolValueItem* tol_pane_get_selected_value(TolPane* self);
// export.cpp: what the export dialog does once a file is chosen: writes the
// .reg file of the key selected now to `path`. Tests call it directly.
void tol_pane_export_reg_to(TolPane* self, const char* path);
// import.cpp: what the import dialog does once a file is chosen: applies the
// .reg file at `path` below the key selected now (the root when none), as
// one undoable change. Tests call it directly.
void tol_pane_import_reg_from(TolPane* self, const char* path);
// search_popover.cpp: runs the popover's query and fills its rows and status
// (the entry's Enter and the "Search" button).
void tol_pane_run_search(TolPane* self);
// pane.cpp: puts the selected key's path on the clipboard ("\" for the root)
// and shows a toast; false without a hive or a selected key.
bool tol_pane_copy_key_path(TolPane* self);
// pane.cpp: records a snapshot of the hive in the active tab's journal; editing
// commands call it once before they change the hive.
void tol_undo_push(TolPane* self);
// open_dialogs.cpp: the hive-file dialog for the pane ("New tab" button).
void tol_pane_open_file_dialog(TolPane* self);

// The one drag in progress from a key tree, shared by both panes: set when a
// drag is prepared, cleared when it ends.
struct TolDragRecord {
  TolHive* hive = nullptr;  // not owned
  std::uint32_t key = TOL_NO_CELL;
};
extern TolDragRecord tol_drag_record;
