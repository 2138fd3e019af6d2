// The search popover (see search_popover.h).
#include "ui/search_popover.h"

#include <glib/gi18n-lib.h>

#include <optional>
#include <string>
#include <vector>

#include "search/search.h"
#include "ui/pane.h"
#include "ui/widget_util.h"

struct _TolSearchPopover {
  GtkPopover parent_instance;
  GtkWidget* parts[8];  // by TolSearchPart, owned by the popover's child
  std::vector<TolSearchResult>* results;  // the rows point into them
};

G_DEFINE_FINAL_TYPE(TolSearchPopover, tol_search_popover, GTK_TYPE_POPOVER)

namespace {

GtkWidget*& part(TolSearchPopover* self, TolSearchPart which) {
  return self->parts[static_cast<int>(which)];
}

bool is_active(TolSearchPopover* self, TolSearchPart which) {
  return gtk_check_button_get_active(GTK_CHECK_BUTTON(part(self, which)));
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
  while (GtkWidget* row = gtk_widget_get_first_child(GTK_WIDGET(list))) gtk_list_box_remove(list, row);
}

void on_row_activated(GtkListBox*, GtkListBoxRow* row, gpointer popover) {
  auto* self = TOL_SEARCH_POPOVER(popover);
  GtkWidget* box = gtk_list_box_row_get_child(row);
  auto* result =
      box != nullptr ? static_cast<TolSearchResult*>(g_object_get_data(G_OBJECT(box), "tol-result")) : nullptr;
  if (result != nullptr)
    gtk_widget_activate_action(GTK_WIDGET(self), "pane.select-path", "s", result->path.c_str());
  gtk_popover_popdown(GTK_POPOVER(self));
}

void on_run(GtkWidget*, gpointer popover) { tol_search_popover_run(TOL_SEARCH_POPOVER(popover)); }

}  // namespace

static void tol_search_popover_finalize(GObject* object) {
  delete TOL_SEARCH_POPOVER(object)->results;
  G_OBJECT_CLASS(tol_search_popover_parent_class)->finalize(object);
}

static void tol_search_popover_class_init(TolSearchPopoverClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tol_search_popover_finalize;
}

static void tol_search_popover_init(TolSearchPopover* self) {
  self->results = new std::vector<TolSearchResult>();
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(box, 340, -1);
  gtk_widget_set_margin_start(box, 8);
  gtk_widget_set_margin_end(box, 8);
  gtk_widget_set_margin_top(box, 8);
  gtk_widget_set_margin_bottom(box, 8);

  GtkWidget* entry = part(self, TolSearchPart::entry) = gtk_search_entry_new();
  g_object_set(entry, "placeholder-text", _("Search…"), nullptr);
  g_signal_connect(entry, "activate", G_CALLBACK(on_run), self);
  gtk_box_append(GTK_BOX(box), entry);

  GtkWidget* targets = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_append(GTK_BOX(targets), part(self, TolSearchPart::keys) = tol_check_button_new(_("Keys"), true));
  gtk_box_append(GTK_BOX(targets), part(self, TolSearchPart::values) = tol_check_button_new(_("Values"), true));
  gtk_box_append(GTK_BOX(targets), part(self, TolSearchPart::data) = tol_check_button_new(_("Data"), true));
  gtk_box_append(GTK_BOX(box), targets);
  gtk_box_append(GTK_BOX(box), part(self, TolSearchPart::whole) = tol_check_button_new(_("Whole text"), false));
  gtk_box_append(GTK_BOX(box), part(self, TolSearchPart::regex) = tol_check_button_new(_("Regex (PCRE2)"), false));

  GtkWidget* run = gtk_button_new_with_label(_("Search"));
  gtk_widget_add_css_class(run, "suggested-action");
  g_signal_connect(run, "clicked", G_CALLBACK(on_run), self);
  gtk_box_append(GTK_BOX(box), run);

  GtkWidget* status = part(self, TolSearchPart::status) = gtk_label_new("");
  gtk_widget_add_css_class(status, "dim-label");
  gtk_widget_add_css_class(status, "caption");
  gtk_widget_set_halign(status, GTK_ALIGN_START);
  gtk_box_append(GTK_BOX(box), status);

  GtkWidget* list = part(self, TolSearchPart::results) = gtk_list_box_new();
  gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_NONE);
  g_signal_connect(list, "row-activated", G_CALLBACK(on_row_activated), self);
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(scrolled, -1, 320);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), list);
  gtk_box_append(GTK_BOX(box), scrolled);

  gtk_popover_set_child(GTK_POPOVER(self), box);
}

TolSearchPopover* tol_search_popover_new() {
  return TOL_SEARCH_POPOVER(g_object_new(TOL_TYPE_SEARCH_POPOVER, nullptr));
}

void tol_search_popover_show(TolSearchPopover* self) {
  g_return_if_fail(TOL_IS_SEARCH_POPOVER(self));
  gtk_popover_popup(GTK_POPOVER(self));
  gtk_widget_grab_focus(part(self, TolSearchPart::entry));
}

void tol_search_popover_run(TolSearchPopover* self) {
  g_return_if_fail(TOL_IS_SEARCH_POPOVER(self));
  auto* list = GTK_LIST_BOX(part(self, TolSearchPart::results));
  auto* status = GTK_LABEL(part(self, TolSearchPart::status));
  clear_rows(list);
  self->results->clear();
  GtkWidget* pane = gtk_widget_get_ancestor(GTK_WIDGET(self), TOL_TYPE_PANE);
  const TolHive* hive = pane != nullptr ? tol_pane_get_hive(TOL_PANE(pane)) : nullptr;
  if (hive == nullptr) {
    gtk_label_set_text(status, tol_search_status(nullptr, "", 0).c_str());
    return;
  }
  const char* text = gtk_editable_get_text(GTK_EDITABLE(part(self, TolSearchPart::entry)));
  if (text == nullptr || text[0] == '\0') {
    gtk_label_set_text(status, "");
    return;
  }
  TolSearchOptions options;
  options.keys = is_active(self, TolSearchPart::keys);
  options.values = is_active(self, TolSearchPart::values);
  options.data = is_active(self, TolSearchPart::data);
  options.whole_text = is_active(self, TolSearchPart::whole);
  options.regex = is_active(self, TolSearchPart::regex);
  g_autoptr(GError) error = nullptr;
  std::optional<std::vector<TolSearchResult>> found = tol_search_hive(*hive, text, options, &error);
  if (!found) {
    gtk_label_set_text(status, error != nullptr ? error->message : "");
    return;
  }
  *self->results = std::move(*found);
  for (const TolSearchResult& result : *self->results) gtk_list_box_append(list, result_row(result));
  gtk_label_set_text(status, tol_search_status(hive, text, self->results->size()).c_str());
}

GtkWidget* tol_search_popover_get_part(TolSearchPopover* self, TolSearchPart which) {
  g_return_val_if_fail(TOL_IS_SEARCH_POPOVER(self), nullptr);
  return part(self, which);
}

std::size_t tol_search_popover_result_count(TolSearchPopover* self) {
  g_return_val_if_fail(TOL_IS_SEARCH_POPOVER(self), 0);
  return self->results->size();
}
