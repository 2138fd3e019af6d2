// The replace popover under the pane's replace button: find and replacement
// texts, where to replace, how to match, and the report of the last run.
#include <glib/gi18n-lib.h>

#include "ui/pane_private.h"

namespace {

GtkWidget* check_button(const char* label, bool active) {
  GtkWidget* button = gtk_check_button_new_with_label(label);
  gtk_check_button_set_active(GTK_CHECK_BUTTON(button), active);
  return button;
}

GtkWidget* entry_with_placeholder(const char* placeholder) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(entry), placeholder);
  return entry;
}

}  // namespace

void tol_pane_replace_popover_build(TolPane* self) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(box, 360, -1);
  gtk_widget_set_margin_start(box, 10);
  gtk_widget_set_margin_end(box, 10);
  gtk_widget_set_margin_top(box, 10);
  gtk_widget_set_margin_bottom(box, 10);

  self->replace_find = entry_with_placeholder(_("Find…"));
  self->replace_with = entry_with_placeholder(_("Replace with…"));
  gtk_box_append(GTK_BOX(box), self->replace_find);
  gtk_box_append(GTK_BOX(box), self->replace_with);

  GtkWidget* targets = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  self->replace_names = check_button(_("Value names"), false);
  self->replace_data = check_button(_("Text data"), true);
  gtk_box_append(GTK_BOX(targets), self->replace_names);
  gtk_box_append(GTK_BOX(targets), self->replace_data);
  gtk_box_append(GTK_BOX(box), targets);

  GtkWidget* matching = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  self->replace_case = check_button(_("Match case"), false);
  self->replace_whole = check_button(_("Whole text"), false);
  self->replace_regex = check_button(_("Regex"), false);
  gtk_box_append(GTK_BOX(matching), self->replace_case);
  gtk_box_append(GTK_BOX(matching), self->replace_whole);
  gtk_box_append(GTK_BOX(matching), self->replace_regex);
  gtk_box_append(GTK_BOX(box), matching);

  // Replacing edits the hive; the buttons stay off until editing arrives.
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* preview = gtk_button_new_with_label(_("Preview"));
  GtkWidget* replace_all = gtk_button_new_with_label(_("Replace all"));
  gtk_widget_add_css_class(replace_all, "suggested-action");
  gtk_widget_set_sensitive(preview, FALSE);
  gtk_widget_set_sensitive(replace_all, FALSE);
  gtk_box_append(GTK_BOX(buttons), preview);
  gtk_box_append(GTK_BOX(buttons), replace_all);
  gtk_box_append(GTK_BOX(box), buttons);

  self->replace_report = gtk_label_new("");
  gtk_label_set_wrap(GTK_LABEL(self->replace_report), TRUE);
  gtk_label_set_xalign(GTK_LABEL(self->replace_report), 0.0f);
  gtk_widget_set_halign(self->replace_report, GTK_ALIGN_START);
  gtk_widget_add_css_class(self->replace_report, "caption");
  gtk_box_append(GTK_BOX(box), self->replace_report);

  self->replace_popover = gtk_popover_new();
  gtk_popover_set_child(GTK_POPOVER(self->replace_popover), box);
  gtk_widget_set_parent(self->replace_popover, self->replace_button);
}

void tol_pane_show_replace(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->replace_popover == nullptr)
    return;
  gtk_popover_popup(GTK_POPOVER(self->replace_popover));
  gtk_widget_grab_focus(self->replace_find);
}
