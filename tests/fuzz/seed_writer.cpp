// Writes the seed inputs of every fuzz driver: fuzz-seeds DIR makes
// DIR/read, DIR/import, DIR/search, DIR/edit and DIR/logs.
#include <glib.h>

#include <cstdio>
#include <string>
#include <utility>

#include "harness.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::pair<const char*, std::vector<tol::fuzz::Seed>> sets[] = {
      {"read", tol::fuzz::read_seeds()},
      {"import", tol::fuzz::import_seeds()},
      {"search", tol::fuzz::search_seeds()},
      {"edit", tol::fuzz::edit_seeds()},
      {"logs", tol::fuzz::logs_seeds()},
  };
  for (const auto& [target, seeds] : sets) {
    const std::string dir = std::string(argv[1]) + "/" + target;
    if (g_mkdir_with_parents(dir.c_str(), 0755) != 0) {
      std::perror(dir.c_str());
      return 1;
    }
    for (const auto& seed : seeds) {
      const std::string path = dir + "/" + seed.name;
      GError* error = nullptr;
      if (!g_file_set_contents(path.c_str(), reinterpret_cast<const char*>(seed.bytes.data()),
                               static_cast<gssize>(seed.bytes.size()), &error)) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
        return 1;
      }
    }
  }
  return 0;
}
