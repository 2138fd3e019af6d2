// The replace popover (see replace_popover.h).
#include "ui/replace_popover.h"

#include <glib/gi18n-lib.h>

#include <optional>
#include <string>

#include "search/replace.h"
#include "ui/commit.h"
#include "ui/widget_util.h"

struct _TolReplacePopover {
  GtkPopover parent_instance;
  GtkWidget* parts[8];  // by TolReplacePart, owned by the popover's child
};

G_DEFINE_FINAL_TYPE(TolReplacePopover, tol_replace_popover, GTK_TYPE_POPOVER)

namespace {

GtkWidget*& part(TolReplacePopover* self, TolReplacePart which) {
  return self->parts[static_cast<int>(which)];
}

GtkWidget* entry_with_placeholder(const char* placeholder) {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(entry), placeholder);
  return entry;
}

bool is_on(TolReplacePopover* self, TolReplacePart which) {
  return gtk_check_button_get_active(GTK_CHECK_BUTTON(part(self, which)));
}

void on_preview(TolReplacePopover* self) { tol_replace_popover_run(self, true); }
void on_replace_all(TolReplacePopover* self) { tol_replace_popover_run(self, false); }

}  // namespace

static void tol_replace_popover_class_init(TolReplacePopoverClass*) {}

static void tol_replace_popover_init(TolReplacePopover* self) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(box, 360, -1);
  gtk_widget_set_margin_start(box, 10);
  gtk_widget_set_margin_end(box, 10);
  gtk_widget_set_margin_top(box, 10);
  gtk_widget_set_margin_bottom(box, 10);

  gtk_box_append(GTK_BOX(box), part(self, TolReplacePart::find) = entry_with_placeholder(_("Find…")));
  gtk_box_append(GTK_BOX(box),
                 part(self, TolReplacePart::with) = entry_with_placeholder(_("Replace with…")));

  GtkWidget* targets = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_append(GTK_BOX(targets), part(self, TolReplacePart::names) = tol_check_button_new(_("Value names"), false));
  gtk_box_append(GTK_BOX(targets), part(self, TolReplacePart::data) = tol_check_button_new(_("Text data"), true));
  gtk_box_append(GTK_BOX(box), targets);

  GtkWidget* matching = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_append(GTK_BOX(matching), part(self, TolReplacePart::match_case) = tol_check_button_new(_("Match case"), false));
  gtk_box_append(GTK_BOX(matching), part(self, TolReplacePart::whole) = tol_check_button_new(_("Whole text"), false));
  gtk_box_append(GTK_BOX(matching), part(self, TolReplacePart::regex) = tol_check_button_new(_("Regex"), false));
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

  GtkWidget* report = part(self, TolReplacePart::report) = gtk_label_new("");
  gtk_label_set_wrap(GTK_LABEL(report), TRUE);
  gtk_label_set_xalign(GTK_LABEL(report), 0.0f);
  gtk_widget_set_halign(report, GTK_ALIGN_START);
  gtk_widget_add_css_class(report, "caption");
  gtk_box_append(GTK_BOX(box), report);

  gtk_popover_set_child(GTK_POPOVER(self), box);
}

TolReplacePopover* tol_replace_popover_new() {
  return TOL_REPLACE_POPOVER(g_object_new(TOL_TYPE_REPLACE_POPOVER, nullptr));
}

void tol_replace_popover_show(TolReplacePopover* self) {
  g_return_if_fail(TOL_IS_REPLACE_POPOVER(self));
  gtk_popover_popup(GTK_POPOVER(self));
  gtk_widget_grab_focus(part(self, TolReplacePart::find));
}

void tol_replace_popover_run(TolReplacePopover* self, bool dry_run) {
  g_return_if_fail(TOL_IS_REPLACE_POPOVER(self));
  auto show = [self](const std::string& message) {
    gtk_label_set_text(GTK_LABEL(part(self, TolReplacePart::report)), message.c_str());
  };
  const std::string find = gtk_editable_get_text(GTK_EDITABLE(part(self, TolReplacePart::find)));
  const std::string replacement = gtk_editable_get_text(GTK_EDITABLE(part(self, TolReplacePart::with)));
  TolReplaceOptions options;
  options.names = is_on(self, TolReplacePart::names);
  options.data = is_on(self, TolReplacePart::data);
  options.match_case = is_on(self, TolReplacePart::match_case);
  options.whole_text = is_on(self, TolReplacePart::whole);
  options.regex = is_on(self, TolReplacePart::regex);
  options.dry_run = dry_run;

  GtkWidget* widget = gtk_widget_get_ancestor(GTK_WIDGET(self), TOL_TYPE_PANE);
  TolPane* pane = widget != nullptr ? TOL_PANE(widget) : nullptr;
  TolHive* hive = pane != nullptr ? tol_pane_get_hive(pane) : nullptr;
  const std::uint32_t start = pane != nullptr ? tol_pane_get_selected_key(pane) : TOL_NO_CELL;
  if (std::optional<std::string> refused =
          tol_replace_input_error(find, hive != nullptr && start != TOL_NO_CELL, options)) {
    show(*refused);
    return;
  }
  TolReplaceReport report;
  if (dry_run) {
    // Nothing changes, so there is nothing to undo or to save.
    g_autoptr(GError) error = nullptr;
    tol_replace_tree(*hive, start, find, replacement, options, report, &error);
    show(tol_replace_message(report, true, error));
    return;
  }
  TolCommit commit;
  commit.operation = [&](TolHive& target, GError**) {
    g_autoptr(GError) error = nullptr;
    if (!tol_replace_tree(target, start, find, replacement, options, report, &error)) {
      commit.failure = tol_replace_message(report, false, error);
      return false;
    }
    commit.success = tol_replace_message(report, false, nullptr);
    return true;
  };
  commit.change = TolChange{TolChangeKind::subtree, start};
  commit.report = show;
  tol_pane_commit(pane, commit);
}

GtkWidget* tol_replace_popover_get_part(TolReplacePopover* self, TolReplacePart which) {
  g_return_val_if_fail(TOL_IS_REPLACE_POPOVER(self), nullptr);
  return part(self, which);
}
