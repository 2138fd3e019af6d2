#include "ui/window.h"

#include <glib/gi18n-lib.h>

#include "ui/commands.h"
#include "ui/compat.h"
#include "ui/open_dialogs.h"
#include "ui/pane_private.h"
#include "ui/session.h"

struct _TolWindow {
  AdwApplicationWindow parent_instance;

  TolPane* left;                  // owned by the widget tree
  TolPane* right;                 // owned by the widget tree
  AdwToastOverlay* toast_overlay;  // owned by the widget tree
  bool mapped_before;
};

G_DEFINE_FINAL_TYPE(TolWindow, tol_window, ADW_TYPE_APPLICATION_WINDOW)

namespace {

constexpr int kDefaultWidth = 1400;
constexpr int kDefaultHeight = 800;

// ---- Commands -----------------------------------------------------------------

void copy_to_right(TolWindow* self) {
  tol_window_copy_between_panes(self, self->left, self->right, _("→ right pane"));
}

void copy_to_left(TolWindow* self) {
  tol_window_copy_between_panes(self, self->right, self->left, _("→ left pane"));
}

bool focus_in_right_pane(TolWindow* self) {
  GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self));
  return focus != nullptr &&
         (focus == GTK_WIDGET(self->right) || gtk_widget_is_ancestor(focus, GTK_WIDGET(self->right)));
}

void switch_panes(TolWindow* self) {
  tol_pane_focus_tree(focus_in_right_pane(self) ? self->left : self->right);
}

void rename_selected(TolWindow* self) { tol_pane_rename_selected(tol_window_get_active_pane(self)); }
void new_key(TolWindow* self) { tol_pane_new_key(tol_window_get_active_pane(self)); }
void delete_selected(TolWindow* self) { tol_pane_delete_selected(tol_window_get_active_pane(self)); }
void copy_selected(TolWindow* self) { tol_pane_copy_selected(tol_window_get_active_pane(self)); }
void undo(TolWindow* self) { tol_window_undo(self); }
void show_search(TolWindow* self) { tol_pane_show_search(tol_window_get_active_pane(self)); }
void show_replace(TolWindow* self) { tol_pane_show_replace(tol_window_get_active_pane(self)); }

// ---- Shortcut bar -------------------------------------------------------------

struct BarCommand {
  const char* key;   // shown as it is
  const char* text;  // translated when shown
  void (*run)(TolWindow*);
};

constexpr BarCommand kBarCommands[] = {
    {"F2", N_("Rename"), rename_selected},
    {"F5", N_("Copy →"), copy_to_right},
    {"Shift+F5", N_("← Copy"), copy_to_left},
    {"F7", N_("New key"), new_key},
    {"Del", N_("Delete"), delete_selected},
    {"Ctrl+C", N_("Copy"), copy_selected},
    {"Ctrl+Z", N_("Undo"), undo},
    {"Ctrl+F", N_("Search"), show_search},
    {"Ctrl+H", N_("Replace"), show_replace},
    {"Tab", N_("Pane"), switch_panes},
};

void on_bar_button_clicked(GtkButton* button, gpointer data) {
  auto* command = static_cast<const BarCommand*>(data);
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(button));
  if (TOL_IS_WINDOW(root))
    command->run(TOL_WINDOW(root));
}

GtkWidget* shortcut_bar_new() {
  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  gtk_widget_add_css_class(bar, "tol-shortcut-bar");
  gtk_widget_set_halign(bar, GTK_ALIGN_CENTER);
  for (const BarCommand& command : kBarCommands) {
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    GtkWidget* key = gtk_label_new(command.key);
    gtk_widget_add_css_class(key, "tol-shortcut-key");
    gtk_box_append(GTK_BOX(content), key);
    gtk_box_append(GTK_BOX(content), gtk_label_new(_(command.text)));

    GtkWidget* button = gtk_button_new();
    gtk_widget_add_css_class(button, "flat");
    gtk_button_set_child(GTK_BUTTON(button), content);
    // Clicking keeps the focus where it was, so the command acts on the pane
    // the user was working in.
    gtk_widget_set_focus_on_click(button, FALSE);
    g_signal_connect(button, "clicked", G_CALLBACK(on_bar_button_clicked),
                     const_cast<BarCommand*>(&command));
    gtk_box_append(GTK_BOX(bar), button);
  }
  return bar;
}

// ---- Header bar and copy column -------------------------------------------

GtkWidget* icon_button_new(const char* icon, const char* tooltip, GCallback clicked, gpointer data) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon);
  gtk_widget_set_tooltip_text(button, tooltip);
  g_signal_connect_swapped(button, "clicked", clicked, data);
  return button;
}

GtkWidget* linked_box_new() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_add_css_class(box, "linked");
  return box;
}

void open_file_left(TolWindow* self) { tol_pane_open_file_dialog(self->left); }
void open_file_right(TolWindow* self) { tol_pane_open_file_dialog(self->right); }
void open_dir_left(TolWindow* self) { tol_pane_open_windows_dir(self, self->left); }
void open_dir_right(TolWindow* self) { tol_pane_open_windows_dir(self, self->right); }

GtkWidget* header_bar_new(TolWindow* self) {
  GtkWidget* header = adw_header_bar_new();

  GtkWidget* start = linked_box_new();
  gtk_box_append(GTK_BOX(start),
                 icon_button_new("document-open-symbolic", _("Open a hive file in the left pane"),
                                 G_CALLBACK(open_file_left), self));
  gtk_box_append(GTK_BOX(start),
                 icon_button_new("folder-symbolic",
                                 _("Open a Windows installation directory in the left pane"),
                                 G_CALLBACK(open_dir_left), self));
  adw_header_bar_pack_start(ADW_HEADER_BAR(header), start);

  GtkWidget* end = linked_box_new();
  gtk_box_append(GTK_BOX(end),
                 icon_button_new("folder-symbolic",
                                 _("Open a Windows installation directory in the right pane"),
                                 G_CALLBACK(open_dir_right), self));
  gtk_box_append(GTK_BOX(end),
                 icon_button_new("document-open-symbolic", _("Open a hive file in the right pane"),
                                 G_CALLBACK(open_file_right), self));
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), end);
  return header;
}

GtkWidget* copy_column_new(TolWindow* self) {
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_valign(column, GTK_ALIGN_CENTER);
  gtk_widget_set_margin_start(column, 6);
  gtk_widget_set_margin_end(column, 6);
  GtkWidget* to_right = icon_button_new("go-next-symbolic", _("Copy the selection to the right pane (F5)"),
                                        G_CALLBACK(copy_to_right), self);
  GtkWidget* to_left = icon_button_new("go-previous-symbolic",
                                       _("Copy the selection to the left pane (Shift+F5)"),
                                       G_CALLBACK(copy_to_left), self);
  for (GtkWidget* button : {to_right, to_left})
    gtk_box_append(GTK_BOX(column), button);
  return column;
}

// ---- Window shortcuts ---------------------------------------------------------

using ShortcutRun = gboolean (*)(TolWindow*);

gboolean run_copy_to_right(TolWindow* self) {
  copy_to_right(self);
  return TRUE;
}
gboolean run_copy_to_left(TolWindow* self) {
  copy_to_left(self);
  return TRUE;
}
// An undo that finds nothing leaves the key to the focused widget.
gboolean run_undo(TolWindow* self) {
  return tol_window_undo(self);
}
gboolean run_search(TolWindow* self) {
  show_search(self);
  return TRUE;
}
gboolean run_replace(TolWindow* self) {
  show_replace(self);
  return TRUE;
}
// Inside an open popover (search, replace) Tab is left to the popover, so
// that its options and results can be reached from the keyboard.
gboolean run_switch_panes(TolWindow* self) {
  GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self));
  if (focus != nullptr && gtk_widget_get_ancestor(focus, GTK_TYPE_POPOVER) != nullptr)
    return FALSE;
  switch_panes(self);
  return TRUE;
}

gboolean on_shortcut(GtkWidget* widget, GVariant*, gpointer data) {
  return reinterpret_cast<ShortcutRun>(data)(TOL_WINDOW(widget));
}

void add_shortcut(GtkShortcutController* controller, guint key, GdkModifierType mods, ShortcutRun run) {
  gtk_shortcut_controller_add_shortcut(
      controller, gtk_shortcut_new(gtk_keyval_trigger_new(key, mods),
                                   gtk_callback_action_new(on_shortcut, reinterpret_cast<gpointer>(run),
                                                           nullptr)));
}

void install_shortcuts(TolWindow* self) {
  GtkEventController* controller = gtk_shortcut_controller_new();
  gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
  gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(controller), GTK_SHORTCUT_SCOPE_GLOBAL);
  auto* shortcuts = GTK_SHORTCUT_CONTROLLER(controller);
  const auto none = GdkModifierType(0);
  add_shortcut(shortcuts, GDK_KEY_F5, none, run_copy_to_right);
  add_shortcut(shortcuts, GDK_KEY_F5, GDK_SHIFT_MASK, run_copy_to_left);
  add_shortcut(shortcuts, GDK_KEY_z, GDK_CONTROL_MASK, run_undo);
  add_shortcut(shortcuts, GDK_KEY_f, GDK_CONTROL_MASK, run_search);
  add_shortcut(shortcuts, GDK_KEY_h, GDK_CONTROL_MASK, run_replace);
  add_shortcut(shortcuts, GDK_KEY_Tab, none, run_switch_panes);
  add_shortcut(shortcuts, GDK_KEY_ISO_Left_Tab, GDK_SHIFT_MASK, run_switch_panes);
  gtk_widget_add_controller(GTK_WIDGET(self), controller);
}

gboolean on_close_request(GtkWindow* window, gpointer) {
  return tol_session_save(TOL_WINDOW(window));
}

// A popover still shown when its window goes keeps the keyboard grabbed on
// some toolkit versions, and every other window of the program then stops
// receiving keys; so the window closes its popovers before it goes.
void close_popovers(GtkWidget* widget) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (GTK_IS_POPOVER(child) && gtk_widget_get_visible(child))
      gtk_popover_popdown(GTK_POPOVER(child));
    close_popovers(child);
  }
}

}  // namespace

static void tol_window_unmap(GtkWidget* widget) {
  close_popovers(widget);
  GTK_WIDGET_CLASS(tol_window_parent_class)->unmap(widget);
}

// A window opens ready for the keyboard: the user's first arrow key should
// walk the left key tree, not a header-bar button that happened to be first in
// the focus chain. An empty left pane hands the focus to the right one.
static void tol_window_map(GtkWidget* widget) {
  GTK_WIDGET_CLASS(tol_window_parent_class)->map(widget);
  TolWindow* self = TOL_WINDOW(widget);
  if (self->mapped_before)
    return;
  self->mapped_before = true;
  for (TolPane* pane : {self->left, self->right}) {
    GtkWidget* tree = tol_pane_get_key_tree_view(pane);
    if (gtk_widget_get_mapped(tree) && gtk_widget_grab_focus(tree))
      return;
  }
}

static void tol_window_class_init(TolWindowClass* klass) {
  GTK_WIDGET_CLASS(klass)->map = tol_window_map;
  GTK_WIDGET_CLASS(klass)->unmap = tol_window_unmap;
}

static void tol_window_init(TolWindow* self) {
  GtkWidget* view = tol_compat_toolbar_view_new();
  tol_compat_toolbar_view_add_top_bar(view, header_bar_new(self));
  tol_compat_toolbar_view_add_bottom_bar(view, shortcut_bar_new());

  self->left = tol_pane_new(_("left pane"));
  self->right = tol_pane_new(_("right pane"));
  GtkSizeGroup* widths = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
  for (TolPane* pane : {self->left, self->right}) {
    gtk_widget_set_hexpand(GTK_WIDGET(pane), TRUE);
    gtk_size_group_add_widget(widths, GTK_WIDGET(pane));
  }
  g_object_unref(widths);  // the panes keep the group
  tol_pane_set_other(self->left, self->right);
  tol_pane_set_other(self->right, self->left);
  tol_pane_refresh_values(self->left);
  tol_pane_refresh_values(self->right);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_append(GTK_BOX(row), GTK_WIDGET(self->left));
  gtk_box_append(GTK_BOX(row), gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  gtk_box_append(GTK_BOX(row), copy_column_new(self));
  gtk_box_append(GTK_BOX(row), gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  gtk_box_append(GTK_BOX(row), GTK_WIDGET(self->right));

  GtkWidget* overlay = adw_toast_overlay_new();
  adw_toast_overlay_set_child(ADW_TOAST_OVERLAY(overlay), row);
  self->toast_overlay = ADW_TOAST_OVERLAY(overlay);
  tol_pane_set_toast_overlay(self->left, self->toast_overlay);
  tol_pane_set_toast_overlay(self->right, self->toast_overlay);
  tol_compat_toolbar_view_set_content(view, overlay);

  install_shortcuts(self);

  gtk_window_set_default_size(GTK_WINDOW(self), kDefaultWidth, kDefaultHeight);
  gtk_window_set_title(GTK_WINDOW(self), _("Tolvane"));
  gtk_window_set_icon_name(GTK_WINDOW(self), TOL_APP_ID);
  adw_application_window_set_content(ADW_APPLICATION_WINDOW(self), view);
  g_signal_connect(self, "close-request", G_CALLBACK(on_close_request), nullptr);

  tol_session_restore(self->left, self->right);
}

TolWindow* tol_window_new(GtkApplication* application) {
  return TOL_WINDOW(g_object_new(TOL_TYPE_WINDOW, "application", application, nullptr));
}

void tol_window_open_files(TolWindow* self, GFile** files, int n_files) {
  g_return_if_fail(TOL_IS_WINDOW(self));
  if (files == nullptr)
    return;
  if (n_files >= 1)
    tol_pane_open_file(self->left, files[0]);
  if (n_files >= 2)
    tol_pane_open_file(self->right, files[1]);
}

TolPane* tol_window_get_left_pane(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->left;
}

TolPane* tol_window_get_right_pane(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->right;
}

AdwToastOverlay* tol_window_get_toast_overlay(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->toast_overlay;
}

TolPane* tol_window_get_active_pane(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return focus_in_right_pane(self) ? self->right : self->left;
}

void tol_window_copy_between_panes(TolWindow* self, TolPane* source, TolPane* destination,
                                   const char* direction) {
  g_return_if_fail(TOL_IS_WINDOW(self));
  tol_pane_copy_between(source, destination, direction);
}

bool tol_window_undo(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), false);
  return tol_pane_undo(tol_window_get_active_pane(self), false);
}
