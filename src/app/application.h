// Start-up of the program: locale, message catalogue, application object and
// the style sheet every window relies on.
#pragma once

#include <adwaita.h>

#include <string>

// The directory holding the message catalogues. `env_value` is the value of
// TOLVANE_LOCALEDIR (null when unset) and wins even when empty; `exe_path` is
// the program's own path (null when unknown). A "po" directory beside the
// program's directory is used when it holds the English catalogue, so that a
// program run from its build tree finds its catalogues there.
std::string tol_app_catalogue_dir(const char* env_value, const char* exe_path);

// Sets the locale from the environment and binds the "tolvane" domain to the
// catalogue directory chosen for this process. Returns that directory.
std::string tol_app_init_i18n();

// The application-wide style sheet.
const std::string& tol_app_style_sheet();

// The application object, single-instance through the session bus.
AdwApplication* tol_application_new();
// Test-only: the same application without the single-instance check, so that
// it needs no session bus.
AdwApplication* tol_application_new_non_unique();

// The whole program: returns the exit status.
int tol_app_main(int argc, char** argv);
