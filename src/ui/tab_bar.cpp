#include "ui/tab_bar.h"

#include <glib/gi18n-lib.h>

struct _TolTabBar {
  GtkBox parent_instance;
};

G_DEFINE_FINAL_TYPE(TolTabBar, tol_tab_bar, GTK_TYPE_BOX)

namespace {

GtkWidget* tab_widget(const TolTabInfo& tab, int index, bool active) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_add_css_class(box, "linked");
  gtk_widget_add_css_class(box, "tol-tab");
  if (tab.missing) gtk_widget_add_css_class(box, "tol-missing");
  if (active) gtk_widget_add_css_class(box, "tol-tab-active");

  GtkWidget* select = gtk_button_new_with_label(tab.label.c_str());
  gtk_widget_add_css_class(select, "flat");
  gtk_actionable_set_action_name(GTK_ACTIONABLE(select), "pane.switch-tab");
  gtk_actionable_set_action_target(GTK_ACTIONABLE(select), "i", index);
  gtk_box_append(GTK_BOX(box), select);

  GtkWidget* close = gtk_button_new_from_icon_name("window-close-symbolic");
  gtk_widget_add_css_class(close, "flat");
  gtk_widget_set_tooltip_text(close, _("Close tab"));
  gtk_actionable_set_action_name(GTK_ACTIONABLE(close), "pane.close-tab");
  gtk_actionable_set_action_target(GTK_ACTIONABLE(close), "i", index);
  gtk_box_append(GTK_BOX(box), close);
  return box;
}

}  // namespace

static void tol_tab_bar_class_init(TolTabBarClass*) {}

static void tol_tab_bar_init(TolTabBar* self) {
  gtk_orientable_set_orientation(GTK_ORIENTABLE(self), GTK_ORIENTATION_HORIZONTAL);
  gtk_box_set_spacing(GTK_BOX(self), 2);
  gtk_widget_set_margin_start(GTK_WIDGET(self), 4);
  gtk_widget_set_margin_end(GTK_WIDGET(self), 4);
  gtk_widget_set_margin_top(GTK_WIDGET(self), 3);
  gtk_widget_set_margin_bottom(GTK_WIDGET(self), 3);
  tol_tab_bar_set_tabs(self, {}, -1);
}

TolTabBar* tol_tab_bar_new() { return TOL_TAB_BAR(g_object_new(TOL_TYPE_TAB_BAR, nullptr)); }

void tol_tab_bar_set_tabs(TolTabBar* self, const std::vector<TolTabInfo>& tabs, int active) {
  g_return_if_fail(TOL_IS_TAB_BAR(self));
  while (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(self))) gtk_box_remove(GTK_BOX(self), child);
  for (std::size_t i = 0; i < tabs.size(); ++i)
    gtk_box_append(GTK_BOX(self), tab_widget(tabs[i], static_cast<int>(i), static_cast<int>(i) == active));
  GtkWidget* add = gtk_button_new_from_icon_name("list-add-symbolic");
  gtk_widget_add_css_class(add, "flat");
  gtk_widget_set_tooltip_text(add, _("New tab — open a file"));
  gtk_actionable_set_action_name(GTK_ACTIONABLE(add), "pane.open-file");
  gtk_box_append(GTK_BOX(self), add);
}

GtkWidget* tol_tab_bar_get_tab(TolTabBar* self, int index) {
  g_return_val_if_fail(TOL_IS_TAB_BAR(self), nullptr);
  GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(self));
  for (int i = 0; child != nullptr && i < index; ++i) child = gtk_widget_get_next_sibling(child);
  return child != nullptr && gtk_widget_get_next_sibling(child) != nullptr ? child : nullptr;
}
