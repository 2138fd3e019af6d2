#include "ui/dialog.h"

#include <glib/gi18n-lib.h>

#include "ui/weak_ref.h"

namespace {

constexpr int kWidth = 440;
constexpr int kMultilineHeight = 300;

struct DialogState {
  TolWeakRef<TolPane> pane;
  TolDialogApply apply;
};

}  // namespace

struct _TolEditDialog {
  GtkWindow parent_instance;
  GtkWidget* box;
  GtkWidget* text_view;     // multi-line only
  GtkWidget* entry;         // single-line only
  GtkWidget* buttons;
  GtkWidget* ok;
  DialogState* state;
};

G_DEFINE_FINAL_TYPE(TolEditDialog, tol_edit_dialog, GTK_TYPE_WINDOW)

static void tol_edit_dialog_finalize(GObject* object) {
  delete TOL_EDIT_DIALOG(object)->state;
  G_OBJECT_CLASS(tol_edit_dialog_parent_class)->finalize(object);
}

static void tol_edit_dialog_class_init(TolEditDialogClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_edit_dialog_finalize;
  // Escape leaves the dialog as Cancel does.
  gtk_widget_class_add_binding_action(GTK_WIDGET_CLASS(klass), GDK_KEY_Escape, GdkModifierType(0),
                                      "window.close", nullptr);
}

static void tol_edit_dialog_init(TolEditDialog* self) {
  self->state = new DialogState();
  gtk_window_set_modal(GTK_WINDOW(self), TRUE);
  self->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_widget_set_margin_start(self->box, 12);
  gtk_widget_set_margin_end(self->box, 12);
  gtk_widget_set_margin_top(self->box, 12);
  gtk_widget_set_margin_bottom(self->box, 12);
  gtk_window_set_child(GTK_WINDOW(self), self->box);

  self->buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_halign(self->buttons, GTK_ALIGN_END);
  GtkWidget* cancel = gtk_button_new_with_label(_("Cancel"));
  g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(gtk_window_destroy), self);
  self->ok = gtk_button_new_with_label(_("OK"));
  gtk_widget_add_css_class(self->ok, "suggested-action");
  g_signal_connect_swapped(self->ok, "clicked", G_CALLBACK(tol_edit_dialog_apply), self);
  gtk_box_append(GTK_BOX(self->buttons), cancel);
  gtk_box_append(GTK_BOX(self->buttons), self->ok);
}

TolEditDialog* tol_edit_dialog_new(TolPane* pane, const char* title, const char* text, bool multiline) {
  auto* self = TOL_EDIT_DIALOG(g_object_new(TOL_TYPE_EDIT_DIALOG, "title", title, nullptr));
  self->state->pane.set(pane);
  if (pane != nullptr) {
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(pane));
    if (GTK_IS_WINDOW(root)) gtk_window_set_transient_for(GTK_WINDOW(self), GTK_WINDOW(root));
  }
  gtk_window_set_default_size(GTK_WINDOW(self), kWidth, multiline ? kMultilineHeight : -1);

  const char* initial = text != nullptr ? text : "";
  if (multiline) {
    self->text_view = gtk_text_view_new();
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(self->text_view), TRUE);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(self->text_view)), initial, -1);
    GtkWidget* scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), self->text_view);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_box_append(GTK_BOX(self->box), scrolled);
  } else {
    self->entry = gtk_entry_new();
    gtk_editable_set_text(GTK_EDITABLE(self->entry), initial);
    // In the multi-line dialogs Enter starts a new line.
    g_signal_connect_swapped(self->entry, "activate", G_CALLBACK(tol_edit_dialog_apply), self);
    gtk_box_append(GTK_BOX(self->box), self->entry);
  }
  gtk_box_append(GTK_BOX(self->box), self->buttons);
  return self;
}

void tol_edit_dialog_set_apply(TolEditDialog* self, TolDialogApply apply) {
  g_return_if_fail(TOL_IS_EDIT_DIALOG(self));
  self->state->apply = std::move(apply);
}

void tol_edit_dialog_add(TolEditDialog* self, GtkWidget* widget) {
  g_return_if_fail(TOL_IS_EDIT_DIALOG(self));
  gtk_box_insert_child_after(GTK_BOX(self->box), widget, gtk_widget_get_prev_sibling(self->buttons));
}

void tol_edit_dialog_add_above(TolEditDialog* self, GtkWidget* widget) {
  g_return_if_fail(TOL_IS_EDIT_DIALOG(self));
  gtk_box_prepend(GTK_BOX(self->box), widget);
}

void tol_edit_dialog_present(TolEditDialog* self) {
  g_return_if_fail(TOL_IS_EDIT_DIALOG(self));
  gtk_window_present(GTK_WINDOW(self));
  if (self->entry != nullptr) {
    gtk_widget_grab_focus(self->entry);
    gtk_editable_select_region(GTK_EDITABLE(self->entry), 0, -1);
  } else {
    gtk_widget_grab_focus(self->text_view);
  }
}

void tol_edit_dialog_apply(TolEditDialog* self) {
  g_return_if_fail(TOL_IS_EDIT_DIALOG(self));
  g_autoptr(TolPane) pane = self->state->pane.get();
  // A dialog whose pane went has nothing left to change.
  if (pane == nullptr || !self->state->apply || self->state->apply(pane, self))
    gtk_window_destroy(GTK_WINDOW(self));
}

std::string tol_edit_dialog_get_text(TolEditDialog* self) {
  g_return_val_if_fail(TOL_IS_EDIT_DIALOG(self), std::string());
  if (self->text_view != nullptr) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(self->text_view));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    g_autofree char* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    return text;
  }
  return gtk_editable_get_text(GTK_EDITABLE(self->entry));
}

GtkWidget* tol_edit_dialog_get_entry(TolEditDialog* self) { return self->entry; }

GtkTextBuffer* tol_edit_dialog_get_buffer(TolEditDialog* self) {
  return self->text_view != nullptr ? gtk_text_view_get_buffer(GTK_TEXT_VIEW(self->text_view)) : nullptr;
}

GtkWidget* tol_edit_dialog_get_ok(TolEditDialog* self) { return self->ok; }

void tol_edit_dialog_wrap_anywhere(TolEditDialog* self) {
  if (self->text_view != nullptr) gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(self->text_view), GTK_WRAP_CHAR);
}

void tol_dialog_choose_file(TolPane* pane, const TolFileRequest& request,
                            void (*run)(TolPane* pane, const char* path)) {
  TolWeakRef<TolPane> ref(pane);
  tol_compat_file_dialog(GTK_WIDGET(pane), request, [ref, run](GFile* file) {
    g_autoptr(TolPane) target = ref.get();
    g_autofree char* path = file != nullptr ? g_file_get_path(file) : nullptr;
    if (target != nullptr && path != nullptr) run(target, path);
  });
}
