// Writing a new, empty hive file.
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

// A hive of format version 1.5 with one bin and a root key holding a default
// security descriptor. Refuses to overwrite an existing file.
bool tol_hive_create_file(const std::string& path, std::string_view root_name, GError** error);
