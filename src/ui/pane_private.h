// The pane's instance structure, for its own files (construction and tabs in
// pane.cpp, actions in pane_actions.cpp). Everything else uses pane.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/pane.h"

struct TolTab {
  TolTab() = default;
  TolTab(const TolTab&) = delete;
  TolTab& operator=(const TolTab&) = delete;
  ~TolTab() { g_clear_object(&document); }

  std::string label;
  std::optional<std::string> path;  // none: the file was not found
  std::string last_key;             // "" is the root key
  bool is_user = false;
  TolDocument* document = nullptr;  // owned; null until first shown or when it failed
  std::string tooltip;              // the path label's, with what opening found
};

struct TolPaneTabs {
  std::vector<std::unique_ptr<TolTab>> tabs;
  int active = -1;
  gulong changed_handler = 0;  // on the shown document
  TolDocument* shown = nullptr;  // not owned: the active tab's document
};

struct _TolPane {
  GtkBox parent_instance;

  GtkWidget* path_label;
  GtkWidget* stack;  // the status page or the views
  GtkWidget* status_page;
  TolTabBar* tab_bar;
  TolKeyTree* key_tree;
  TolValueList* value_list;
  TolSearchPopover* search;
  TolReplacePopover* replace;
  TolPane* other;                  // not owned
  AdwToastOverlay* toast_overlay;  // not owned; may be null
  TolPaneTabs* tabs;
  bool show_deleted;  // the "show-deleted" property, for every tab
};

// pane.cpp: enables the actions that follow the document (undo, redo).
void tol_pane_update_actions(TolPane* self);
// pane_actions.cpp: installs the pane's actions on its class.
void tol_pane_class_install_actions(GtkWidgetClass* widget_class);
