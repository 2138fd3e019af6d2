#include "ui/dialog.h"

#include <glib/gi18n-lib.h>

#include <memory>

namespace {

constexpr int kWidth = 440;
constexpr int kMultilineHeight = 300;

void on_cancel(GtkButton*, gpointer window) {
  gtk_window_destroy(GTK_WINDOW(window));
}

}  // namespace

GtkWidget* tol_dialog_button_row(GtkWidget* window, GtkWidget** ok) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  GtkWidget* cancel = gtk_button_new_with_label(_("Cancel"));
  g_signal_connect(cancel, "clicked", G_CALLBACK(on_cancel), window);
  GtkWidget* confirm = gtk_button_new_with_label(_("OK"));
  gtk_widget_add_css_class(confirm, "suggested-action");
  gtk_box_append(GTK_BOX(row), cancel);
  gtk_box_append(GTK_BOX(row), confirm);
  if (ok != nullptr)
    *ok = confirm;
  return row;
}

TolDialog tol_dialog_new(TolPane* pane, const char* title, const char* text, bool multiline) {
  TolDialog dialog;
  dialog.window = gtk_window_new();
  GtkWindow* window = GTK_WINDOW(dialog.window);
  gtk_window_set_title(window, title);
  gtk_window_set_modal(window, TRUE);
  if (pane != nullptr) {
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(pane));
    if (GTK_IS_WINDOW(root))
      gtk_window_set_transient_for(window, GTK_WINDOW(root));
  }
  gtk_window_set_default_size(window, kWidth, multiline ? kMultilineHeight : -1);

  // Escape leaves the dialog as Cancel does.
  GtkEventController* keys = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                       gtk_named_action_new("window.close")));
  gtk_widget_add_controller(dialog.window, keys);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);
  gtk_widget_set_margin_top(box, 12);
  gtk_widget_set_margin_bottom(box, 12);
  gtk_window_set_child(window, box);

  const char* initial = text != nullptr ? text : "";
  if (multiline) {
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    dialog.buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    gtk_text_buffer_set_text(dialog.buffer, initial, -1);
    GtkWidget* scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_box_append(GTK_BOX(box), scrolled);
  } else {
    dialog.entry = gtk_entry_new();
    gtk_editable_set_text(GTK_EDITABLE(dialog.entry), initial);
    gtk_box_append(GTK_BOX(box), dialog.entry);
  }
  gtk_box_append(GTK_BOX(box), tol_dialog_button_row(dialog.window, &dialog.ok));

  gtk_window_present(window);
  if (dialog.entry != nullptr) {
    gtk_widget_grab_focus(dialog.entry);
    gtk_editable_select_region(GTK_EDITABLE(dialog.entry), 0, -1);
  }
  return dialog;
}

std::string tol_dialog_get_text(GtkWidget* entry, GtkTextBuffer* buffer) {
  if (buffer != nullptr) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string out = text;
    g_free(text);
    return out;
  }
  if (entry != nullptr)
    return gtk_editable_get_text(GTK_EDITABLE(entry));
  return {};
}

void tol_dialog_choose_file(TolPane* pane, const TolFileRequest& request,
                            void (*run)(TolPane* pane, const char* path)) {
  auto ref = std::make_shared<TolPaneRef>(pane);
  tol_compat_file_dialog(GTK_WIDGET(pane), request, [ref, run](GFile* file) {
    TolPane* target = ref->get();
    g_autofree char* path = file != nullptr ? g_file_get_path(file) : nullptr;
    if (target != nullptr && path != nullptr)
      run(target, path);
  });
}
