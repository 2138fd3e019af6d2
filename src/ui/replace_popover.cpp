// The replace popover under the pane's replace button: find and replacement
// texts, where to replace, how to match, and the report of the last run.
#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "search/replace.h"
#include "ui/commands.h"
#include "ui/commit.h"
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

bool is_on(GtkWidget* check) { return gtk_check_button_get_active(GTK_CHECK_BUTTON(check)); }

void on_preview(TolPane* self) { tol_pane_run_replace(self, true); }
void on_replace_all(TolPane* self) { tol_pane_run_replace(self, false); }

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

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* preview = gtk_button_new_with_label(_("Preview"));
  GtkWidget* replace_all = gtk_button_new_with_label(_("Replace all"));
  gtk_widget_add_css_class(replace_all, "suggested-action");
  g_signal_connect_swapped(preview, "clicked", G_CALLBACK(on_preview), self);
  g_signal_connect_swapped(replace_all, "clicked", G_CALLBACK(on_replace_all), self);
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

void tol_pane_run_replace(TolPane* self, bool dry_run) {
  g_return_if_fail(TOL_IS_PANE(self));
  auto show = [self](const std::string& message) {
    gtk_label_set_text(GTK_LABEL(self->replace_report), message.c_str());
  };
  const std::string find = gtk_editable_get_text(GTK_EDITABLE(self->replace_find));
  const std::string replacement = gtk_editable_get_text(GTK_EDITABLE(self->replace_with));
  TolReplaceOptions options;
  options.names = is_on(self->replace_names);
  options.data = is_on(self->replace_data);
  options.match_case = is_on(self->replace_case);
  options.whole_text = is_on(self->replace_whole);
  options.regex = is_on(self->replace_regex);
  options.dry_run = dry_run;

  TolHive* hive = tol_pane_get_hive(self);
  const std::uint32_t start = tol_pane_get_selected_key(self);
  if (std::optional<std::string> refused =
          tol_replace_input_error(find, hive != nullptr && start != TOL_NO_CELL, options)) {
    show(*refused);
    return;
  }

  TolReplaceReport report;
  if (dry_run) {
    // Nothing changes, so there is nothing to undo or to save.
    GError* error = nullptr;
    tol_replace_tree(*hive, start, find, replacement, options, report, &error);
    show(tol_replace_message(report, true, error));
    g_clear_error(&error);
    return;
  }

  TolCommit commit;
  commit.operation = [&](TolHive& target, GError**) {
    GError* error = nullptr;
    if (!tol_replace_tree(target, start, find, replacement, options, report, &error)) {
      commit.failure = tol_replace_message(report, false, error);
      g_clear_error(&error);
      return false;
    }
    commit.nothing_to_save = report.values_changed == 0;
    commit.success = tol_replace_message(report, false, nullptr);
    return true;
  };
  // A walk that stops half way must not leave its first changes in the
  // image for the next command's save to write.
  commit.restore_on_failure = true;
  commit.update = TolViewUpdate::kReloadKeepSelection;
  commit.report = show;
  tol_pane_commit(self, commit);
}
