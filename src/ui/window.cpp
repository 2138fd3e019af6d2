#include "ui/window.h"

#include "ui/compat.h"

#include <glib/gi18n-lib.h>

struct _TolWindow {
  AdwApplicationWindow parent_instance;

  AdwStatusPage* status;  // owned by the widget tree
  GtkLabel* left_label;   // owned by the widget tree
  GtkLabel* right_label;  // owned by the widget tree
  GFile* left_file;       // owned, may be null
  GFile* right_file;      // owned, may be null
};

G_DEFINE_FINAL_TYPE(TolWindow, tol_window, ADW_TYPE_APPLICATION_WINDOW)

namespace {

constexpr int kDefaultWidth = 1400;
constexpr int kDefaultHeight = 800;

// Shows which file each pane was given, until the panes can show the hives.
void show_file(GtkLabel* label, const char* format, GFile* file) {
  if (file == nullptr) {
    gtk_widget_set_visible(GTK_WIDGET(label), FALSE);
    return;
  }
  g_autofree char* name = g_file_get_basename(file);
  g_autofree char* text = g_strdup_printf(format, name != nullptr ? name : "");
  gtk_label_set_text(label, text);
  gtk_widget_set_visible(GTK_WIDGET(label), TRUE);
}

GtkLabel* file_label_new() {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_widget_set_visible(label, FALSE);
  return GTK_LABEL(label);
}

}  // namespace

static void tol_window_dispose(GObject* object) {
  TolWindow* self = TOL_WINDOW(object);
  g_clear_object(&self->left_file);
  g_clear_object(&self->right_file);
  G_OBJECT_CLASS(tol_window_parent_class)->dispose(object);
}

static void tol_window_class_init(TolWindowClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = tol_window_dispose;
}

static void tol_window_init(TolWindow* self) {
  GtkWidget* view = tol_compat_toolbar_view_new();
  tol_compat_toolbar_view_add_top_bar(view, adw_header_bar_new());

  GtkWidget* status = adw_status_page_new();
  adw_status_page_set_icon_name(ADW_STATUS_PAGE(status), TOL_APP_ID);
  adw_status_page_set_title(ADW_STATUS_PAGE(status), _("No hive open"));
  adw_status_page_set_description(ADW_STATUS_PAGE(status),
                                  _("Open a hive file to see its keys and values."));
  GtkWidget* files = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  self->left_label = file_label_new();
  self->right_label = file_label_new();
  gtk_box_append(GTK_BOX(files), GTK_WIDGET(self->left_label));
  gtk_box_append(GTK_BOX(files), GTK_WIDGET(self->right_label));
  adw_status_page_set_child(ADW_STATUS_PAGE(status), files);
  self->status = ADW_STATUS_PAGE(status);
  tol_compat_toolbar_view_set_content(view, status);

  gtk_window_set_default_size(GTK_WINDOW(self), kDefaultWidth, kDefaultHeight);
  gtk_window_set_title(GTK_WINDOW(self), _("Tolvane"));
  gtk_window_set_icon_name(GTK_WINDOW(self), TOL_APP_ID);
  adw_application_window_set_content(ADW_APPLICATION_WINDOW(self), view);
}

TolWindow* tol_window_new(GtkApplication* application) {
  return TOL_WINDOW(g_object_new(TOL_TYPE_WINDOW, "application", application, nullptr));
}

void tol_window_open_files(TolWindow* self, GFile** files, int n_files) {
  g_return_if_fail(TOL_IS_WINDOW(self));
  if (n_files < 1 || files == nullptr)
    return;
  g_set_object(&self->left_file, files[0]);
  if (n_files >= 2)
    g_set_object(&self->right_file, files[1]);

  adw_status_page_set_title(self->status, _("Hive files"));
  adw_status_page_set_description(self->status, nullptr);
  show_file(self->left_label, _("Left pane: %s"), self->left_file);
  show_file(self->right_label, _("Right pane: %s"), self->right_file);
}

GFile* tol_window_get_left_file(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->left_file;
}

GFile* tol_window_get_right_file(TolWindow* self) {
  g_return_val_if_fail(TOL_IS_WINDOW(self), nullptr);
  return self->right_file;
}
