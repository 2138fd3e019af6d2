// Built without the API ceilings of the rest of the user interface: this file
// alone may use what newer GTK and libadwaita offer, behind version checks.
#include "ui/compat.h"

#include <memory>
#include <utility>

// ---- Toolbar view -----------------------------------------------------------

GtkWidget* tol_compat_toolbar_view_new() {
#if ADW_CHECK_VERSION(1, 4, 0)
  return adw_toolbar_view_new();
#else
  // Three slots: top bars, content (inserted later), bottom bars.
  GtkWidget* view = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(view), gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
  gtk_box_append(GTK_BOX(view), gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
  return view;
#endif
}

void tol_compat_toolbar_view_add_top_bar(GtkWidget* view, GtkWidget* bar) {
#if ADW_CHECK_VERSION(1, 4, 0)
  adw_toolbar_view_add_top_bar(ADW_TOOLBAR_VIEW(view), bar);
#else
  gtk_box_append(GTK_BOX(gtk_widget_get_first_child(view)), bar);
#endif
}

void tol_compat_toolbar_view_add_bottom_bar(GtkWidget* view, GtkWidget* bar) {
#if ADW_CHECK_VERSION(1, 4, 0)
  adw_toolbar_view_add_bottom_bar(ADW_TOOLBAR_VIEW(view), bar);
#else
  gtk_box_append(GTK_BOX(gtk_widget_get_last_child(view)), bar);
#endif
}

void tol_compat_toolbar_view_set_content(GtkWidget* view, GtkWidget* content) {
#if ADW_CHECK_VERSION(1, 4, 0)
  adw_toolbar_view_set_content(ADW_TOOLBAR_VIEW(view), content);
#else
  GtkWidget* top = gtk_widget_get_first_child(view);
  GtkWidget* old = gtk_widget_get_next_sibling(top);
  if (old != gtk_widget_get_last_child(view))
    gtk_box_remove(GTK_BOX(view), old);
  if (content != nullptr) {
    gtk_widget_set_vexpand(content, TRUE);
    gtk_box_insert_child_after(GTK_BOX(view), content, top);
  }
#endif
}

GtkWidget* tol_compat_toolbar_view_get_content(GtkWidget* view) {
#if ADW_CHECK_VERSION(1, 4, 0)
  return adw_toolbar_view_get_content(ADW_TOOLBAR_VIEW(view));
#else
  GtkWidget* middle = gtk_widget_get_next_sibling(gtk_widget_get_first_child(view));
  return middle == gtk_widget_get_last_child(view) ? nullptr : middle;
#endif
}

// ---- Alert dialog -----------------------------------------------------------

namespace {

constexpr char kAlertContextKey[] = "tol-alert-context";

struct AlertContext {
  TolAlertDone done;
};

// The callback runs once; it is moved out first so that whatever it captured is
// released even if it destroys the dialog.
void alert_on_response(GObject* dialog, const char* response_id, gpointer) {
  auto* ctx = static_cast<AlertContext*>(g_object_get_data(dialog, kAlertContextKey));
  if (ctx == nullptr || !ctx->done)
    return;
  TolAlertDone done = std::exchange(ctx->done, nullptr);
  done(response_id);
}

void alert_context_free(gpointer data) {
  delete static_cast<AlertContext*>(data);
}

}  // namespace

GtkWidget* tol_compat_alert_show(GtkWidget* parent, const TolAlert& alert, TolAlertDone done) {
  const char* body = alert.body.empty() ? nullptr : alert.body.c_str();
#if ADW_CHECK_VERSION(1, 5, 0)
  AdwDialog* dialog = adw_alert_dialog_new(alert.heading.c_str(), body);
  AdwAlertDialog* alert_dialog = ADW_ALERT_DIALOG(dialog);
  for (const TolAlertResponse& r : alert.responses) {
    adw_alert_dialog_add_response(alert_dialog, r.id.c_str(), r.label.c_str());
    adw_alert_dialog_set_response_appearance(alert_dialog, r.id.c_str(), r.appearance);
  }
  if (!alert.default_response.empty())
    adw_alert_dialog_set_default_response(alert_dialog, alert.default_response.c_str());
  if (!alert.close_response.empty())
    adw_alert_dialog_set_close_response(alert_dialog, alert.close_response.c_str());
  GtkWidget* widget = GTK_WIDGET(dialog);
#else
  GtkWindow* parent_window = nullptr;
  if (parent != nullptr && GTK_IS_WINDOW(gtk_widget_get_root(parent)))
    parent_window = GTK_WINDOW(gtk_widget_get_root(parent));
  GtkWidget* widget = adw_message_dialog_new(parent_window, alert.heading.c_str(), body);
  AdwMessageDialog* message_dialog = ADW_MESSAGE_DIALOG(widget);
  for (const TolAlertResponse& r : alert.responses) {
    adw_message_dialog_add_response(message_dialog, r.id.c_str(), r.label.c_str());
    adw_message_dialog_set_response_appearance(message_dialog, r.id.c_str(), r.appearance);
  }
  if (!alert.default_response.empty())
    adw_message_dialog_set_default_response(message_dialog, alert.default_response.c_str());
  if (!alert.close_response.empty())
    adw_message_dialog_set_close_response(message_dialog, alert.close_response.c_str());
  gtk_window_set_modal(GTK_WINDOW(widget), TRUE);
#endif

  g_object_set_data_full(G_OBJECT(widget), kAlertContextKey, new AlertContext{std::move(done)},
                         alert_context_free);
  g_signal_connect(widget, "response", G_CALLBACK(alert_on_response), nullptr);

#if ADW_CHECK_VERSION(1, 5, 0)
  adw_dialog_present(dialog, parent);
#else
  gtk_window_present(GTK_WINDOW(widget));
#endif
  return widget;
}

void tol_compat_alert_respond(GtkWidget* dialog, const char* response_id) {
#if ADW_CHECK_VERSION(1, 5, 0)
  g_signal_emit_by_name(dialog, "response", response_id);
  adw_dialog_force_close(ADW_DIALOG(dialog));
#else
  adw_message_dialog_response(ADW_MESSAGE_DIALOG(dialog), response_id);
  gtk_window_destroy(GTK_WINDOW(dialog));
#endif
}

// ---- File dialog ------------------------------------------------------------

namespace {

struct FileContext {
  TolFileAction action;
  std::string error_format;
  TolFileDone done;
};

GtkFileFilter* file_filter_new(const TolFileFilterSpec& filter_def) {
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, filter_def.name.c_str());
  for (const std::string& pattern : filter_def.patterns)
    gtk_file_filter_add_pattern(filter, pattern.c_str());
  return filter;
}

GtkWindow* window_of(GtkWidget* widget) {
  if (widget == nullptr)
    return nullptr;
  GtkRoot* root = gtk_widget_get_root(widget);
  return GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

#if GTK_CHECK_VERSION(4, 10, 0)

void file_dialog_finished(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<FileContext> ctx(static_cast<FileContext*>(data));
  GtkFileDialog* dialog = GTK_FILE_DIALOG(source);
  GError* error = nullptr;
  GFile* file = nullptr;
  switch (ctx->action) {
    case TolFileAction::open:
      file = gtk_file_dialog_open_finish(dialog, result, &error);
      break;
    case TolFileAction::save:
      file = gtk_file_dialog_save_finish(dialog, result, &error);
      break;
    case TolFileAction::select_folder:
      file = gtk_file_dialog_select_folder_finish(dialog, result, &error);
      break;
  }
  if (error != nullptr) {
    // Closing the dialog without choosing is an ordinary answer.
    if (!g_error_matches(error, GTK_DIALOG_ERROR, GTK_DIALOG_ERROR_DISMISSED))
      g_warning("%s", tol_compat_file_error_text(ctx->error_format, error->message).c_str());
    g_error_free(error);
  }
  ctx->done(file);
  g_clear_object(&file);
}

#else

void file_chooser_response(GtkNativeDialog* native, int response, gpointer data) {
  std::unique_ptr<FileContext> ctx(static_cast<FileContext*>(data));
  GFile* file = response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_file(GTK_FILE_CHOOSER(native))
                                                : nullptr;
  ctx->done(file);
  g_clear_object(&file);
  g_object_unref(native);  // the reference taken when the dialog was created
}

#endif

}  // namespace

std::string tol_compat_file_error_text(const std::string& format, const char* message) {
  std::string text = format;
  const std::size_t at = text.find("%s");
  const std::string what = message != nullptr ? message : "";
  if (at == std::string::npos)
    return text + ": " + what;
  return text.replace(at, 2, what);
}

void tol_compat_file_dialog(GtkWidget* parent, const TolFileRequest& request, TolFileDone done) {
  auto ctx = std::make_unique<FileContext>(FileContext{request.action, request.error_format, std::move(done)});
  GtkWindow* parent_window = window_of(parent);
  const char* accept = request.accept_label.empty() ? nullptr : request.accept_label.c_str();

#if GTK_CHECK_VERSION(4, 10, 0)
  GtkFileDialog* dialog = gtk_file_dialog_new();
  gtk_file_dialog_set_title(dialog, request.title.c_str());
  gtk_file_dialog_set_modal(dialog, TRUE);
  if (accept != nullptr)
    gtk_file_dialog_set_accept_label(dialog, accept);
  if (!request.filters.empty()) {
    GListStore* filters = g_list_store_new(GTK_TYPE_FILE_FILTER);
    for (const TolFileFilterSpec& filter_def : request.filters) {
      GtkFileFilter* filter = file_filter_new(filter_def);
      g_list_store_append(filters, filter);
      if (&filter_def == &request.filters.front())
        gtk_file_dialog_set_default_filter(dialog, filter);
      g_object_unref(filter);
    }
    gtk_file_dialog_set_filters(dialog, G_LIST_MODEL(filters));
    g_object_unref(filters);
  }
  if (request.action == TolFileAction::save && !request.initial_name.empty())
    gtk_file_dialog_set_initial_name(dialog, request.initial_name.c_str());
  if (request.initial_folder != nullptr)
    gtk_file_dialog_set_initial_folder(dialog, request.initial_folder);

  // The pending operation keeps the dialog alive until it finishes.
  gpointer data = ctx.release();
  switch (request.action) {
    case TolFileAction::open:
      gtk_file_dialog_open(dialog, parent_window, nullptr, file_dialog_finished, data);
      break;
    case TolFileAction::save:
      gtk_file_dialog_save(dialog, parent_window, nullptr, file_dialog_finished, data);
      break;
    case TolFileAction::select_folder:
      gtk_file_dialog_select_folder(dialog, parent_window, nullptr, file_dialog_finished, data);
      break;
  }
  g_object_unref(dialog);
#else
  GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
  if (request.action == TolFileAction::save)
    action = GTK_FILE_CHOOSER_ACTION_SAVE;
  else if (request.action == TolFileAction::select_folder)
    action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  GtkFileChooserNative* native =
      gtk_file_chooser_native_new(request.title.c_str(), parent_window, action, accept, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
  for (const TolFileFilterSpec& filter_def : request.filters) {
    GtkFileFilter* filter = file_filter_new(filter_def);
    gtk_file_chooser_add_filter(chooser, filter);
    if (&filter_def == &request.filters.front())
      gtk_file_chooser_set_filter(chooser, filter);
    g_object_unref(filter);
  }
  if (request.action == TolFileAction::save && !request.initial_name.empty())
    gtk_file_chooser_set_current_name(chooser, request.initial_name.c_str());
  if (request.initial_folder != nullptr)
    gtk_file_chooser_set_current_folder(chooser, request.initial_folder, nullptr);

  // The dialog is released by its response handler.
  g_signal_connect(native, "response", G_CALLBACK(file_chooser_response), ctx.release());
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
#endif
}

// ---- Column view ------------------------------------------------------------

#if !GTK_CHECK_VERSION(4, 12, 0)
namespace {

// The column view draws its rows with an internal list view, whose
// "list.scroll-to-item" action positions the row exactly. Setting the
// scroll adjustment instead would need row heights the list only estimates,
// and does not make it build the rows at the new place.
GtkWidget* column_view_rows(GtkColumnView* view) {
  for (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(view)); child != nullptr;
       child = gtk_widget_get_next_sibling(child)) {
    if (GTK_IS_LIST_VIEW(child))
      return child;
  }
  return nullptr;
}

}  // namespace
#endif

void tol_compat_column_view_scroll_to(GtkColumnView* view, guint position, bool select) {
  GtkSelectionModel* model = gtk_column_view_get_model(view);
  guint n_items = model != nullptr ? g_list_model_get_n_items(G_LIST_MODEL(model)) : 0;
  if (position >= n_items)
    return;
#if GTK_CHECK_VERSION(4, 12, 0)
  gtk_column_view_scroll_to(view, position, nullptr,
                            select ? GTK_LIST_SCROLL_SELECT : GTK_LIST_SCROLL_NONE, nullptr);
#else
  if (select)
    gtk_selection_model_select_item(model, position, TRUE);
  if (GtkWidget* rows = column_view_rows(view))
    gtk_widget_activate_action(rows, "list.scroll-to-item", "u", position);
#endif
}
