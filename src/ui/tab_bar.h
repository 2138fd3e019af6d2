// A pane's tab bar: one button per tab ("tol-tab", "tol-tab-active",
// "tol-missing") with its close button, and the "New tab" button. The buttons
// run the pane's "pane.switch-tab", "pane.close-tab" and "pane.open-file".
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

G_BEGIN_DECLS
#define TOL_TYPE_TAB_BAR (tol_tab_bar_get_type())
G_DECLARE_FINAL_TYPE(TolTabBar, tol_tab_bar, TOL, TAB_BAR, GtkBox)
G_END_DECLS

struct TolTabInfo {
  std::string label;
  bool missing = false;  // the file was not found
};

TolTabBar* tol_tab_bar_new();
void tol_tab_bar_set_tabs(TolTabBar* self, const std::vector<TolTabInfo>& tabs, int active);
// The widget of tab `index`, or null.
GtkWidget* tol_tab_bar_get_tab(TolTabBar* self, int index);
