// Running the peer tools (hivex, libregf, reglookup) from engine tests.
#pragma once

#include <glib.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace tol::test {

struct Outcome {
  int status = -1;  // 0 when the tool exited successfully
  std::string out;
  std::string err;
};

// Runs a program found on PATH and collects its output.
inline Outcome run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  char* out = nullptr;
  char* err = nullptr;
  int status = 0;
  GError* error = nullptr;
  Outcome r;
  if (!g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                    &err, &status, &error)) {
    r.err = error ? error->message : "spawn failed";
    g_clear_error(&error);
    return r;
  }
  r.status = g_spawn_check_wait_status(status, nullptr) ? 0 : 1;
  r.out = out ? out : "";
  r.err = err ? err : "";
  g_free(out);
  g_free(err);
  return r;
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

inline bool ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

inline bool installed(const char* tool) {
  char* found = g_find_program_in_path(tool);
  g_free(found);
  return found != nullptr;
}

}  // namespace tol::test
