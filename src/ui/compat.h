// Widgets and dialogs whose best implementation depends on the GTK and
// libadwaita versions at hand. Everything else in the user interface is built
// against the oldest supported versions and goes through these functions, so
// newer API stays out of the rest of the code. Only GTK 4.8 / libadwaita 1.2
// types appear here.
#pragma once

#include <adwaita.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

// ---- Toolbar view -----------------------------------------------------------
// An AdwToolbarView where libadwaita has one, otherwise a vertical box with the
// top bars, the content (expanding) and the bottom bars in that order.

GtkWidget* tol_compat_toolbar_view_new();
void tol_compat_toolbar_view_add_top_bar(GtkWidget* view, GtkWidget* bar);
void tol_compat_toolbar_view_add_bottom_bar(GtkWidget* view, GtkWidget* bar);
// Replaces the previous content, if any.
void tol_compat_toolbar_view_set_content(GtkWidget* view, GtkWidget* content);
GtkWidget* tol_compat_toolbar_view_get_content(GtkWidget* view);

// ---- Alert dialog -----------------------------------------------------------

struct TolAlertResponse {
  std::string id;
  std::string label;
  AdwResponseAppearance appearance = ADW_RESPONSE_DEFAULT;
};

struct TolAlert {
  std::string heading;
  std::string body;
  std::vector<TolAlertResponse> responses;
  std::string default_response;  // empty: none
  std::string close_response;    // empty: "cancel", the toolkit's default
};

// Called at most once, with the chosen response id (the close response when
// the dialog is dismissed with Escape). Not called when the dialog is
// destroyed without a response; the callback is released either way.
using TolAlertDone = std::function<void(const char* response_id)>;

// Shows a modal alert over the window of `parent` (may be null) and returns
// the dialog widget, owned by the toolkit.
GtkWidget* tol_compat_alert_show(GtkWidget* parent, const TolAlert& alert, TolAlertDone done);
// Answers a shown alert as if the user had chosen `response_id`, and closes it.
void tol_compat_alert_respond(GtkWidget* dialog, const char* response_id);

// ---- File dialog ------------------------------------------------------------

enum class TolFileAction { open, save, select_folder };

struct TolFileFilterSpec {
  std::string name;
  std::vector<std::string> patterns;  // glob patterns such as "*.reg"
};

struct TolFileRequest {
  TolFileAction action = TolFileAction::open;
  std::string title;
  std::string accept_label;                // empty: the toolkit's default
  std::vector<TolFileFilterSpec> filters;  // the first one is preselected
  std::string initial_name;                // suggested name when saving
  GFile* initial_folder = nullptr;         // borrowed; may be null
  // How a failure other than the user's dismissal is logged: a format with
  // one "%s" for the toolkit's message, such as "zapis pliku .reg: %s".
  std::string error_format = "%s";
};

// Called exactly once: with the chosen file, or with null when the dialog was
// dismissed or failed. The file is borrowed for the duration of the call.
using TolFileDone = std::function<void(GFile* file)>;

void tol_compat_file_dialog(GtkWidget* parent, const TolFileRequest& request, TolFileDone done);
// The logged text of a failed file dialog: `format` with its "%s" replaced by
// `message` (the message is appended when the format has no "%s").
std::string tol_compat_file_error_text(const std::string& format, const char* message);

// ---- Column view ------------------------------------------------------------

// Brings row `position` into view, selecting it first when `select` is set.
void tol_compat_column_view_scroll_to(GtkColumnView* view, guint position, bool select);
