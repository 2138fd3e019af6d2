// Small things the widgets share.
#pragma once

#include <gtk/gtk.h>

// Whether the keyboard focus of `widget`'s window is on it or inside it.
inline bool tol_focus_inside(GtkWidget* widget) {
  GtkRoot* root = widget != nullptr ? gtk_widget_get_root(widget) : nullptr;
  GtkWidget* focus = root != nullptr ? gtk_root_get_focus(root) : nullptr;
  return focus != nullptr && (focus == widget || gtk_widget_is_ancestor(focus, widget));
}

// Opens a view's context menu at the pointer, with the focus in the view, and
// claims the press that asked for it.
inline void tol_popup_menu_at(GtkWidget* view, GtkWidget* menu, GtkGestureClick* gesture, double x, double y) {
  gtk_widget_grab_focus(view);
  const GdkRectangle at = {static_cast<int>(x), static_cast<int>(y), 1, 1};
  gtk_popover_set_pointing_to(GTK_POPOVER(menu), &at);
  gtk_popover_popup(GTK_POPOVER(menu));
  gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
}

// A check button with its label, on or off.
inline GtkWidget* tol_check_button_new(const char* label, bool active) {
  GtkWidget* button = gtk_check_button_new_with_label(label);
  gtk_check_button_set_active(GTK_CHECK_BUTTON(button), active);
  return button;
}
