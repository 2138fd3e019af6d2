#include "ui/accels.h"

#include <glib/gi18n-lib.h>

#include "ui/diff_panel.h"
#include "ui/key_tree.h"
#include "ui/pane.h"
#include "ui/widget_util.h"
#include "ui/window.h"

namespace {

constexpr TolAccel kAccels[] = {
    {"pane.rename", "F2", TolAccelScope::views, "F2", N_("Rename"),
     {"pane.rename-key", "pane.value-rename"}},
    {"win.copy-right", "F5", TolAccelScope::anywhere, "F5", N_("Copy →"), {}},
    {"win.copy-left", "<Shift>F5", TolAccelScope::anywhere, "Shift+F5", N_("← Copy"), {}},
    {"pane.new-key", "F7", TolAccelScope::views, "F7", N_("New key"), {}},
    {"pane.delete", "Delete", TolAccelScope::views, "Del", N_("Delete"),
     {"pane.delete-key", "pane.value-delete"}},
    {"pane.copy", "<Control>c", TolAccelScope::views, "Ctrl+C", N_("Copy"), {"pane.copy-name"}},
    {"pane.undo-quietly", "<Control>z", TolAccelScope::not_editing, "Ctrl+Z", N_("Undo"), {"pane.undo"}},
    {"pane.redo-quietly", "<Control><Shift>z", TolAccelScope::not_editing, nullptr, nullptr, {"pane.redo"}},
    {"pane.search", "<Control>f", TolAccelScope::anywhere, "Ctrl+F", N_("Search"), {}},
    {"pane.replace", "<Control>h", TolAccelScope::anywhere, "Ctrl+H", N_("Replace"), {}},
    {"win.compare", "<Control>d", TolAccelScope::not_editing, nullptr, nullptr, {}},
    {"pane.properties", "<Alt>Return", TolAccelScope::views, nullptr, nullptr, {}},
    {"pane.show-deleted", "<Control><Shift>d", TolAccelScope::views, nullptr, nullptr, {}},
    {"win.switch-pane", "Tab", TolAccelScope::not_in_controls, "Tab", N_("Pane"), {}},
    {"win.switch-pane", "<Shift>ISO_Left_Tab", TolAccelScope::not_in_controls, nullptr, nullptr, {}},
    {"tree.collapse", "Left", TolAccelScope::tree, nullptr, nullptr, {}},
    {"tree.collapse", "KP_Subtract", TolAccelScope::tree, nullptr, nullptr, {}},
    {"tree.expand", "Right", TolAccelScope::tree, nullptr, nullptr, {}},
    {"tree.expand", "KP_Add", TolAccelScope::tree, nullptr, nullptr, {}},
    {"tree.expand-all", "KP_Multiply", TolAccelScope::tree, nullptr, nullptr, {}},
};

GtkWidget* focus_of(GtkWidget* window) {
  GtkRoot* root = gtk_widget_get_root(window);
  return root != nullptr ? gtk_root_get_focus(root) : nullptr;
}


bool in_views(GtkWidget* focus) {
  GtkWidget* pane = focus != nullptr ? gtk_widget_get_ancestor(focus, TOL_TYPE_PANE) : nullptr;
  if (pane == nullptr) return false;
  return tol_focus_inside(tol_pane_get_key_tree_view(TOL_PANE(pane))) ||
         tol_focus_inside(tol_pane_get_value_list_view(TOL_PANE(pane)));
}

bool scope_holds(TolAccelScope scope, GtkWidget* focus) {
  switch (scope) {
    case TolAccelScope::anywhere:
      return true;
    case TolAccelScope::not_editing:
      return focus == nullptr || !(GTK_IS_EDITABLE(focus) || GTK_IS_TEXT_VIEW(focus));
    case TolAccelScope::views:
      return in_views(focus);
    case TolAccelScope::tree: {
      GtkWidget* tree = focus != nullptr ? gtk_widget_get_ancestor(focus, TOL_TYPE_KEY_TREE) : nullptr;
      return tree != nullptr && tol_focus_inside(tol_key_tree_get_view(TOL_KEY_TREE(tree)));
    }
    case TolAccelScope::not_in_controls:
      return focus == nullptr || (gtk_widget_get_ancestor(focus, GTK_TYPE_POPOVER) == nullptr &&
                                  gtk_widget_get_ancestor(focus, TOL_TYPE_DIFF_PANEL) == nullptr);
  }
  return false;
}

// The widget whose action group has the entry's action: the window itself,
// or the pane (or its tree) the user works in; the left pane when the focus
// is in neither.
GtkWidget* target_of(GtkWidget* window, const char* action, GtkWidget* focus) {
  if (g_str_has_prefix(action, "win.")) return window;
  GtkWidget* pane = focus != nullptr ? gtk_widget_get_ancestor(focus, TOL_TYPE_PANE) : nullptr;
  if (g_str_has_prefix(action, "tree."))
    return focus != nullptr ? gtk_widget_get_ancestor(focus, TOL_TYPE_KEY_TREE) : nullptr;
  if (pane != nullptr) return pane;
  return TOL_IS_WINDOW(window) ? GTK_WIDGET(tol_window_get_active_pane(TOL_WINDOW(window))) : nullptr;
}

gboolean on_shortcut(GtkWidget* window, GVariant*, gpointer data) {
  return tol_accel_run(window, *static_cast<const TolAccel*>(data), true);
}

}  // namespace

std::span<const TolAccel> tol_accels() { return kAccels; }

const char* tol_accel_for_menu(const char* action) {
  for (const TolAccel& accel : kAccels) {
    for (const char* item : accel.menu_actions)
      if (item != nullptr && g_strcmp0(item, action) == 0) return accel.trigger;
    if (g_strcmp0(accel.action, action) == 0) return accel.trigger;
  }
  return nullptr;
}

GtkEventController* tol_accels_controller_new() {
  GtkEventController* controller = gtk_shortcut_controller_new();
  // Capture: the window decides before the focused view, whose own bindings
  // (arrows, Delete) would otherwise take some of these keys.
  gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
  gtk_event_controller_set_name(controller, "tol-accels");
  for (const TolAccel& accel : kAccels) {
    GtkShortcutTrigger* trigger = gtk_shortcut_trigger_parse_string(accel.trigger);
    g_assert(trigger != nullptr);
    GtkShortcutAction* action =
        gtk_callback_action_new(on_shortcut, const_cast<TolAccel*>(&accel), nullptr);
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(controller),
                                         gtk_shortcut_new(trigger, action));
  }
  return controller;
}

bool tol_accel_run(GtkWidget* window, const TolAccel& accel, bool in_scope) {
  GtkWidget* focus = focus_of(window);
  if (in_scope && !scope_holds(accel.scope, focus)) return false;
  GtkWidget* target = target_of(window, accel.action, focus);
  return target != nullptr && gtk_widget_activate_action(target, accel.action, nullptr);
}
