// Writing a new, empty hive file.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A hive of format version 1.5 with one bin and a root key holding a default
// security descriptor. Refuses to overwrite an existing file.
bool tol_hive_create_file(const std::string& path, std::string_view root_name, GError** error);
// The descriptor a new hive's root key gets: owner Administrators, group
// SYSTEM, full control for both and read access for Everyone.
std::vector<std::uint8_t> tol_default_security_descriptor();
