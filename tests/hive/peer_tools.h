// Running the peer tools (hivex, libregf, reglookup) from engine tests.
#pragma once

#include <glib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
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

// The key paths of a `hivexregedit --export`, from its [\\...] lines. Perl
// prints names that fit Latin-1 in Latin-1 and others in UTF-8.
inline std::set<std::string> hivexregedit_keys(const std::string& export_text) {
  std::set<std::string> keys;
  for (std::string line : lines(export_text)) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    if (!g_utf8_validate(line.c_str(), static_cast<gssize>(line.size()), nullptr)) {
      gchar* utf8 = g_convert(line.c_str(), static_cast<gssize>(line.size()), "UTF-8",
                              "ISO-8859-1", nullptr, nullptr, nullptr);
      if (utf8) line = utf8;
      g_free(utf8);
    }
    keys.insert(line.substr(1, line.size() - 2));
  }
  return keys;
}

// The raw data of one value as hivexget prints it, through a file because the
// bytes hold NULs. Empty when hivexget failed.
inline std::vector<std::uint8_t> hivexget_bytes(const std::string& hive, const std::string& key,
                                                const std::string& value, const std::string& scratch) {
  const Outcome r = run({"sh", "-c", "hivexget \"$0\" \"$1\" \"$2\" > \"$3\"", hive, key, value, scratch});
  gchar* contents = nullptr;
  gsize length = 0;
  if (r.status != 0 || !g_file_get_contents(scratch.c_str(), &contents, &length, nullptr)) return {};
  std::vector<std::uint8_t> bytes(contents, contents + length);
  g_free(contents);
  return bytes;
}

}  // namespace tol::test

// Skips the current test when a peer tool is not installed.
#define TOL_REQUIRE_TOOL(tool) \
  if (!::tol::test::installed(tool)) GTEST_SKIP() << (tool) << " is not installed"
