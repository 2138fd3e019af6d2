// The search popover under the pane's search button: the query, its options,
// the outcome of the last run and one row per hit.
#include <glib/gi18n-lib.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "search/search.h"
#include "ui/pane_private.h"

namespace {

using Results = std::vector<TolSearchResult>;

GtkWidget* check_button(const char* label, bool active) {
  GtkWidget* button = gtk_check_button_new_with_label(label);
  gtk_check_button_set_active(GTK_CHECK_BUTTON(button), active);
  return button;
}

bool is_active(GtkWidget* check) {
  return gtk_check_button_get_active(GTK_CHECK_BUTTON(check));
}

GtkWidget* result_row(const TolSearchResult& result) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_widget_set_margin_start(box, 6);
  gtk_widget_set_margin_end(box, 6);
  gtk_widget_set_margin_top(box, 4);
  gtk_widget_set_margin_bottom(box, 4);

  const std::string main_text = tol_search_result_label(result);
  GtkWidget* main_label = gtk_label_new(main_text.c_str());
  gtk_label_set_xalign(GTK_LABEL(main_label), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(main_label), PANGO_ELLIPSIZE_END);
  gtk_box_append(GTK_BOX(box), main_label);

  const std::string kind_text = tol_search_result_detail(result);
  GtkWidget* kind_label = gtk_label_new(kind_text.c_str());
  gtk_label_set_xalign(GTK_LABEL(kind_label), 0.0f);
  gtk_widget_add_css_class(kind_label, "dim-label");
  gtk_widget_add_css_class(kind_label, "caption");
  gtk_box_append(GTK_BOX(box), kind_label);

  // The results outlive the rows: both are replaced together by the next run.
  g_object_set_data(G_OBJECT(box), "tol-result", const_cast<TolSearchResult*>(&result));
  return box;
}

void clear_rows(GtkListBox* list) {
  while (GtkWidget* row = gtk_widget_get_first_child(GTK_WIDGET(list)))
    gtk_list_box_remove(list, row);
}

void on_row_activated(GtkListBox*, GtkListBoxRow* row, gpointer data) {
  auto* self = TOL_PANE(data);
  GtkWidget* box = gtk_list_box_row_get_child(row);
  auto* result = box != nullptr
                     ? static_cast<TolSearchResult*>(g_object_get_data(G_OBJECT(box), "tol-result"))
                     : nullptr;
  if (result != nullptr)
    tol_pane_select_path(self, result->path.c_str());
  gtk_popover_popdown(GTK_POPOVER(self->search_popover));
}

void on_run(GtkWidget*, gpointer data) {
  tol_pane_run_search(TOL_PANE(data));
}

}  // namespace

void tol_pane_search_popover_build(TolPane* self) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(box, 340, -1);
  gtk_widget_set_margin_start(box, 8);
  gtk_widget_set_margin_end(box, 8);
  gtk_widget_set_margin_top(box, 8);
  gtk_widget_set_margin_bottom(box, 8);

  self->search_entry = gtk_search_entry_new();
  g_object_set(self->search_entry, "placeholder-text", _("Search…"), nullptr);
  g_signal_connect(self->search_entry, "activate", G_CALLBACK(on_run), self);
  gtk_box_append(GTK_BOX(box), self->search_entry);

  GtkWidget* targets = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  self->search_keys = check_button(_("Keys"), true);
  self->search_values = check_button(_("Values"), true);
  self->search_data = check_button(_("Data"), true);
  gtk_box_append(GTK_BOX(targets), self->search_keys);
  gtk_box_append(GTK_BOX(targets), self->search_values);
  gtk_box_append(GTK_BOX(targets), self->search_data);
  gtk_box_append(GTK_BOX(box), targets);

  self->search_whole = check_button(_("Whole text"), false);
  self->search_regex = check_button(_("Regex (PCRE2)"), false);
  gtk_box_append(GTK_BOX(box), self->search_whole);
  gtk_box_append(GTK_BOX(box), self->search_regex);

  GtkWidget* run = gtk_button_new_with_label(_("Search"));
  gtk_widget_add_css_class(run, "suggested-action");
  g_signal_connect(run, "clicked", G_CALLBACK(on_run), self);
  gtk_box_append(GTK_BOX(box), run);

  self->search_status = gtk_label_new("");
  gtk_widget_add_css_class(self->search_status, "dim-label");
  gtk_widget_add_css_class(self->search_status, "caption");
  gtk_widget_set_halign(self->search_status, GTK_ALIGN_START);
  gtk_box_append(GTK_BOX(box), self->search_status);

  self->search_list = gtk_list_box_new();
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(self->search_list), GTK_SELECTION_NONE);
  g_signal_connect(self->search_list, "row-activated", G_CALLBACK(on_row_activated), self);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(scrolled, -1, 320);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), self->search_list);
  gtk_box_append(GTK_BOX(box), scrolled);

  self->search_popover = gtk_popover_new();
  gtk_popover_set_child(GTK_POPOVER(self->search_popover), box);
  gtk_widget_set_parent(self->search_popover, self->search_button);
}

void tol_pane_show_search(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  if (self->search_popover == nullptr)
    return;
  gtk_popover_popup(GTK_POPOVER(self->search_popover));
  gtk_widget_grab_focus(self->search_entry);
}

void tol_pane_run_search(TolPane* self) {
  g_return_if_fail(TOL_IS_PANE(self));
  auto* list = GTK_LIST_BOX(self->search_list);
  auto* status = GTK_LABEL(self->search_status);
  clear_rows(list);
  self->d->search_results.reset();

  const TolHive* hive = tol_pane_get_hive(self);
  if (hive == nullptr) {
    gtk_label_set_text(status, tol_search_status(nullptr, "", 0).c_str());
    return;
  }
  const char* text = gtk_editable_get_text(GTK_EDITABLE(self->search_entry));
  if (text == nullptr || text[0] == '\0') {
    gtk_label_set_text(status, "");
    return;
  }

  TolSearchOptions options;
  options.keys = is_active(self->search_keys);
  options.values = is_active(self->search_values);
  options.data = is_active(self->search_data);
  options.whole_text = is_active(self->search_whole);
  options.regex = is_active(self->search_regex);

  GError* error = nullptr;
  std::optional<Results> found = tol_search_hive(*hive, text, options, &error);
  auto results = std::make_shared<Results>(found ? std::move(*found) : Results{});
  self->d->search_results = results;
  if (!found) {
    gtk_label_set_text(status, error != nullptr ? error->message : "");
    g_clear_error(&error);
    return;
  }
  for (const TolSearchResult& result : *results)
    gtk_list_box_append(list, result_row(result));
  gtk_label_set_text(status, tol_search_status(hive, text, results->size()).c_str());
}
