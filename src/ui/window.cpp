#include "ui/window.h"

#include <glib/gi18n-lib.h>

#include "ui/accels.h"
#include "ui/commands.h"
#include "ui/compat.h"
#include "ui/diff_panel.h"
#include "ui/open_dialogs.h"
#include "ui/session.h"

struct _TolWindow {
  AdwApplicationWindow parent_instance;

  TolPane* left;                   // owned by the widget tree
  TolPane* right;                  // owned by the widget tree
  AdwToastOverlay* toast_overlay;  // owned by the widget tree
  TolDiffPanel* diff_panel;        // owned by the widget tree
  GtkWidget* split;                // the panes above the panel; owned by the widget tree
  bool mapped_before;
};

G_DEFINE_FINAL_TYPE(TolWindow, tol_window, ADW_TYPE_APPLICATION_WINDOW)

namespace {

constexpr int kDefaultWidth = 1400;
constexpr int kDefaultHeight = 800;

bool focus_in_right_pane(TolWindow* self) {
  GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(self));
  return focus != nullptr &&
         (focus == GTK_WIDGET(self->right) || gtk_widget_is_ancestor(focus, GTK_WIDGET(self->right)));
}

// ---- Actions -------------------------------------------------------------------

void copy_right(GtkWidget* w, const char*, GVariant*) {
  auto* self = TOL_WINDOW(w);
  tol_window_copy_between_panes(self, self->left, self->right, _("→ right pane"));
}
void copy_left(GtkWidget* w, const char*, GVariant*) {
  auto* self = TOL_WINDOW(w);
  tol_window_copy_between_panes(self, self->right, self->left, _("→ left pane"));
}
void switch_pane(GtkWidget* w, const char*, GVariant*) {
  auto* self = TOL_WINDOW(w);
  tol_pane_focus_tree(focus_in_right_pane(self) ? self->left : self->right);
}
void open_file(GtkWidget* w, const char*, GVariant* side) {
  auto* self = TOL_WINDOW(w);
  tol_pane_open_file_dialog(g_strcmp0(g_variant_get_string(side, nullptr), "right") == 0 ? self->right
                                                                                          : self->left);
}
void open_dir(GtkWidget* w, const char*, GVariant* side) {
  auto* self = TOL_WINDOW(w);
  tol_pane_open_windows_dir(
      self, g_strcmp0(g_variant_get_string(side, nullptr), "right") == 0 ? self->right : self->left);
}

void about(GtkWidget* w, const char*, GVariant*) { tol_window_show_about(TOL_WINDOW(w)); }
void compare(GtkWidget* w, const char*, GVariant*) {
  auto* self = TOL_WINDOW(w);
  const bool was_open = tol_diff_panel_is_active(self->diff_panel);
  // A panel that opens takes the lower third of the window, enough for a
  // screenful of differences; after that it keeps the height the user gave it.
  if (tol_diff_panel_compare(self->diff_panel) && !was_open)
    gtk_paned_set_position(GTK_PANED(self->split), gtk_widget_get_height(self->split) * 2 / 3);
}

// ---- Shortcut bar -------------------------------------------------------------

void on_bar_button_clicked(GtkButton* button, gpointer accel) {
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(button));
  if (GTK_IS_WIDGET(root)) tol_accel_run(GTK_WIDGET(root), *static_cast<const TolAccel*>(accel), false);
}

// The bar's buttons are the table's entries that have a bar text, so a key
// shown there is the key bound.
GtkWidget* shortcut_bar_new() {
  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  gtk_widget_add_css_class(bar, "tol-shortcut-bar");
  gtk_widget_set_halign(bar, GTK_ALIGN_CENTER);
  for (const TolAccel& accel : tol_accels()) {
    if (accel.bar_key == nullptr) continue;
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    GtkWidget* key = gtk_label_new(accel.bar_key);
    gtk_widget_add_css_class(key, "tol-shortcut-key");
    gtk_box_append(GTK_BOX(content), key);
    gtk_box_append(GTK_BOX(content), gtk_label_new(_(accel.bar_text)));

    GtkWidget* button = gtk_button_new();
    gtk_widget_add_css_class(button, "flat");
    gtk_button_set_child(GTK_BUTTON(button), content);
    // Clicking keeps the focus where it was, so the command acts on the pane
    // the user was working in.
    gtk_widget_set_focus_on_click(button, FALSE);
    g_signal_connect(button, "clicked", G_CALLBACK(on_bar_button_clicked), const_cast<TolAccel*>(&accel));
    gtk_box_append(GTK_BOX(bar), button);
  }
  return bar;
}

// ---- Header bar and copy column -------------------------------------------

GtkWidget* action_button_new(const char* icon, const char* tooltip, const char* action, const char* side) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon);
  gtk_widget_set_tooltip_text(button, tooltip);
  gtk_actionable_set_action_name(GTK_ACTIONABLE(button), action);
  if (side != nullptr) gtk_actionable_set_action_target(GTK_ACTIONABLE(button), "s", side);
  return button;
}

GtkWidget* linked_box_new() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_add_css_class(box, "linked");
  return box;
}

GtkWidget* main_menu_button_new() {
  g_autoptr(GMenu) menu = g_menu_new();
  g_menu_append(menu, _("About Tolvane"), "win.about");
  GtkWidget* button = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(button), "open-menu-symbolic");
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(button), G_MENU_MODEL(menu));
  gtk_widget_set_tooltip_text(button, _("Main menu"));
  return button;
}

GtkWidget* header_bar_new() {
  GtkWidget* header = adw_header_bar_new();

  GtkWidget* start = linked_box_new();
  gtk_box_append(GTK_BOX(start), action_button_new("document-open-symbolic", _("Open a hive file in the left pane"),
                                                   "win.open-file", "left"));
  gtk_box_append(GTK_BOX(start),
                 action_button_new("folder-symbolic", _("Open a Windows installation directory in the left pane"),
                                   "win.open-dir", "left"));
  adw_header_bar_pack_start(ADW_HEADER_BAR(header), start);

  adw_header_bar_pack_start(ADW_HEADER_BAR(header),
                             action_button_new("view-dual-symbolic",
                                               _("Compare the keys selected in the two panes (Ctrl+D)"),
                                               "win.compare", nullptr));

  GtkWidget* end = linked_box_new();
  gtk_box_append(GTK_BOX(end),
                 action_button_new("folder-symbolic", _("Open a Windows installation directory in the right pane"),
                                   "win.open-dir", "right"));
  gtk_box_append(GTK_BOX(end), action_button_new("document-open-symbolic", _("Open a hive file in the right pane"),
                                                 "win.open-file", "right"));
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), main_menu_button_new());
  adw_header_bar_pack_end(ADW_HEADER_BAR(header), end);
  return header;
}

GtkWidget* copy_column_new() {
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_valign(column, GTK_ALIGN_CENTER);
  gtk_widget_set_margin_start(column, 6);
  gtk_widget_set_margin_end(column, 6);
  gtk_box_append(GTK_BOX(column), action_button_new("go-next-symbolic", _("Copy the selection to the right pane (F5)"),
                                                    "win.copy-right", nullptr));
  gtk_box_append(GTK_BOX(column),
                 action_button_new("go-previous-symbolic", _("Copy the selection to the left pane (Shift+F5)"),
                                   "win.copy-left", nullptr));
  return column;
}

gboolean on_close_request(GtkWindow* window, gpointer) { return tol_session_save(TOL_WINDOW(window)); }

// A popover still shown when its window goes keeps the keyboard grabbed on
// some toolkit versions, and every other window of the program then stops
// receiving keys; so the window closes its popovers before it goes.
void close_popovers(GtkWidget* widget) {
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (GTK_IS_POPOVER(child) && gtk_widget_get_visible(child)) gtk_popover_popdown(GTK_POPOVER(child));
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
  if (self->mapped_before) return;
  self->mapped_before = true;
  for (TolPane* pane : {self->left, self->right}) {
    GtkWidget* tree = tol_pane_get_key_tree_view(pane);
    if (gtk_widget_get_mapped(tree) && gtk_widget_grab_focus(tree)) return;
  }
}

static void tol_window_class_init(TolWindowClass* klass) {
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  widget_class->map = tol_window_map;
  widget_class->unmap = tol_window_unmap;
  gtk_widget_class_install_action(widget_class, "win.copy-right", nullptr, copy_right);
  gtk_widget_class_install_action(widget_class, "win.copy-left", nullptr, copy_left);
  gtk_widget_class_install_action(widget_class, "win.switch-pane", nullptr, switch_pane);
  gtk_widget_class_install_action(widget_class, "win.open-file", "s", open_file);
  gtk_widget_class_install_action(widget_class, "win.open-dir", "s", open_dir);
  gtk_widget_class_install_action(widget_class, "win.about", nullptr, about);
  gtk_widget_class_install_action(widget_class, "win.compare", nullptr, compare);
}

static void tol_window_init(TolWindow* self) {
  GtkWidget* view = tol_compat_toolbar_view_new();
  tol_compat_toolbar_view_add_top_bar(view, header_bar_new());
  tol_compat_toolbar_view_add_bottom_bar(view, shortcut_bar_new());

  self->left = tol_pane_new(_("left pane"));
  self->right = tol_pane_new(_("right pane"));
  g_autoptr(GtkSizeGroup) widths = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
  for (TolPane* pane : {self->left, self->right}) {
    gtk_widget_set_hexpand(GTK_WIDGET(pane), TRUE);
    gtk_size_group_add_widget(widths, GTK_WIDGET(pane));  // the panes keep the group
  }
  tol_pane_set_other(self->left, self->right);
  tol_pane_set_other(self->right, self->left);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_append(GTK_BOX(row), GTK_WIDGET(self->left));
  gtk_box_append(GTK_BOX(row), gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  gtk_box_append(GTK_BOX(row), copy_column_new());
  gtk_box_append(GTK_BOX(row), gtk_separator_new(GTK_ORIENTATION_VERTICAL));
  gtk_box_append(GTK_BOX(row), GTK_WIDGET(self->right));

  // The comparison takes the lower part of the window while it is open.
  self->diff_panel = tol_diff_panel_new(self->left, self->right);
  GtkWidget* split = self->split = gtk_paned_new(GTK_ORIENTATION_VERTICAL);
  gtk_paned_set_start_child(GTK_PANED(split), row);
  gtk_paned_set_end_child(GTK_PANED(split), GTK_WIDGET(self->diff_panel));
  gtk_paned_set_resize_end_child(GTK_PANED(split), FALSE);
  gtk_paned_set_shrink_end_child(GTK_PANED(split), FALSE);
  gtk_paned_set_shrink_start_child(GTK_PANED(split), FALSE);

  GtkWidget* overlay = adw_toast_overlay_new();
  adw_toast_overlay_set_child(ADW_TOAST_OVERLAY(overlay), split);
  self->toast_overlay = ADW_TOAST_OVERLAY(overlay);
  tol_pane_set_toast_overlay(self->left, self->toast_overlay);
  tol_pane_set_toast_overlay(self->right, self->toast_overlay);
  tol_compat_toolbar_view_set_content(view, overlay);

  gtk_widget_add_controller(GTK_WIDGET(self), tol_accels_controller_new());

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
  if (files == nullptr) return;
  if (n_files >= 1) tol_pane_open_file(self->left, files[0]);
  if (n_files >= 2) tol_pane_open_file(self->right, files[1]);
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

TolDiffPanel* tol_window_get_diff_panel(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->diff_panel;
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

GtkWidget* tol_window_show_about(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  static const char* const developers[] = {"The Tolvane developers https://tolvane.org/", nullptr};
  GtkWidget* about = adw_about_window_new();
  g_object_set(about, "application-name", _("Tolvane"), "application-icon", TOL_APP_ID, "version", TOL_VERSION,
               "developer-name", _("The Tolvane developers"), "website", "https://tolvane.org/",
               "copyright", "© 2026 The Tolvane developers", "license-type", GTK_LICENSE_GPL_3_0,
               "comments", _("Edit Windows registry hive files"), "developers", developers,
               "transient-for", GTK_WINDOW(self), "modal", TRUE, nullptr);
  gtk_window_present(GTK_WINDOW(about));
  return about;
}
