#include "app/application.h"

#include "ui/window.h"

#include <gio/gio.h>
extern "C" {
#include "tolvane-resources.h"  // generated C, without C++ guards
}

#include <glib/gi18n-lib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

constexpr char kLocaleDirVariable[] = "TOLVANE_LOCALEDIR";
constexpr char kSystemLocaleDir[] = "/usr/share/locale";

struct StyleRule {
  std::string_view selector;
  std::string_view declarations;
};

constexpr StyleRule kStyleRules[] = {
    {".tol-diff-only", "background-color: rgba(38, 162, 105, 0.22);"},
    {".tol-diff-changed", "background-color: rgba(229, 165, 10, 0.28);"},
    {".tol-diff-below", "background-color: rgba(53, 132, 228, 0.16); border-radius: 4px;"},
    {".tol-diff-sign", "font-family: monospace; font-weight: bold; border-radius: 4px;"},
    {".tol-missing", "color: #e5a50a;"},
    {".tol-missing.tol-tab", "background-color: rgba(229, 165, 10, 0.18);"},
    {".tol-error", "color: #e01b24;"},
    {".tol-empty", "opacity: 0.5;"},
    {".tol-tab", "border-radius: 6px;"},
    {".tol-tab-active", "background-color: alpha(currentColor, 0.12);"},
    {".tol-tab-active label", "font-weight: bold;"},
    {".tol-shortcut-bar", "padding: 3px 8px;"},
    {".tol-shortcut-key",
     "font-family: monospace; font-weight: bold; background: alpha(currentColor, 0.10); "
     "border-radius: 4px; padding: 1px 5px;"},
    {".tol-icon-folder", "color: #e5a50a;"},
    {".tol-icon-string", "color: #3584e4;"},
    {".tol-icon-number", "color: #2ec27e;"},
    {".tol-icon-binary", "color: #e66100;"},
    {".tol-deleted", "opacity: 0.55;"},
};

void on_startup(GApplication*, gpointer) {
  GtkCssProvider* provider = gtk_css_provider_new();
  const std::string& css = tol_app_style_sheet();
  gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()));
  gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

void on_activate(GApplication* app, gpointer) {
  gtk_window_present(GTK_WINDOW(tol_window_new(GTK_APPLICATION(app))));
}

void on_open(GApplication* app, GFile** files, int n_files, const char*, gpointer) {
  TolWindow* window = tol_window_new(GTK_APPLICATION(app));
  tol_window_open_files(window, files, n_files);
  gtk_window_present(GTK_WINDOW(window));
}

// --version answers in the process it was given to, before any window or
// the running instance is involved.
int on_local_options(GApplication*, GVariantDict* options, gpointer) {
  if (!g_variant_dict_contains(options, "version")) return -1;
  std::printf("tolvane %s\n", TOL_VERSION);
  return 0;
}

AdwApplication* application_new(GApplicationFlags flags) {
  // The icon theme finds the application icon under the application's
  // resource path; it must be there before the theme is first read.
  static const bool registered = (tol_resources_register_resource(), true);
  (void)registered;
  AdwApplication* app = adw_application_new(TOL_APP_ID, flags);
  g_signal_connect(app, "startup", G_CALLBACK(on_startup), nullptr);
  g_signal_connect(app, "activate", G_CALLBACK(on_activate), nullptr);
  g_signal_connect(app, "open", G_CALLBACK(on_open), nullptr);
  g_application_add_main_option(G_APPLICATION(app), "version", 0, G_OPTION_FLAG_NONE,
                                G_OPTION_ARG_NONE, _("Print the version and exit"), nullptr);
  g_signal_connect(app, "handle-local-options", G_CALLBACK(on_local_options), nullptr);
  return app;
}

}  // namespace

std::string tol_app_catalogue_dir(const char* env_value, const char* exe_path) {
  if (env_value != nullptr)
    return env_value;
  if (exe_path != nullptr) {
    namespace fs = std::filesystem;
    fs::path po = fs::path(exe_path).parent_path().parent_path() / "po";
    std::error_code ec;
    if (fs::is_regular_file(po / "en" / "LC_MESSAGES" / "tolvane.mo", ec))
      return po.string();
  }
  return kSystemLocaleDir;
}

std::string tol_app_init_i18n() {
  std::setlocale(LC_ALL, "");
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string dir =
      tol_app_catalogue_dir(std::getenv(kLocaleDirVariable), ec ? nullptr : exe.c_str());
  bindtextdomain(GETTEXT_PACKAGE, dir.c_str());
  bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
  textdomain(GETTEXT_PACKAGE);
  return dir;
}

const std::string& tol_app_style_sheet() {
  static const std::string css = [] {
    std::string text;
    for (const StyleRule& rule : kStyleRules) {
      text.append(rule.selector).append(" { ").append(rule.declarations).append(" }\n");
    }
    return text;
  }();
  return css;
}

AdwApplication* tol_application_new() {
  return application_new(G_APPLICATION_HANDLES_OPEN);
}

AdwApplication* tol_application_new_non_unique() {
  return application_new(static_cast<GApplicationFlags>(G_APPLICATION_HANDLES_OPEN |
                                                        G_APPLICATION_NON_UNIQUE));
}

int tol_app_main(int argc, char** argv) {
  tol_app_init_i18n();
  AdwApplication* app = tol_application_new();
  int status = g_application_run(G_APPLICATION(app), argc, argv);
  g_object_unref(app);
  return status;
}
