// Running tolvane-cli from the command-line tests, as a script would. Output is
// kept byte for byte (`get` writes raw data, NULs included) and the real exit
// status is kept, since usage errors (2) and failures (1) differ.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../hive/peer_tools.h"

namespace tol::test {

inline std::string take_bytes(GBytes* bytes) {
  std::string s;
  if (bytes) {
    gsize n = 0;
    const char* p = static_cast<const char*>(g_bytes_get_data(bytes, &n));
    s.assign(p ? p : "", n);
    g_bytes_unref(bytes);
  }
  return s;
}

inline Outcome cli(const std::vector<std::string>& args) {
  std::vector<const char*> argv{TOLVANE_CLI};
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Outcome r;
  GError* error = nullptr;
  GSubprocess* proc = g_subprocess_newv(
      argv.data(),
      GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE), &error);
  GBytes* out = nullptr;
  GBytes* err = nullptr;
  if (!proc || !g_subprocess_communicate(proc, nullptr, nullptr, &out, &err, &error)) {
    ADD_FAILURE() << (error ? error->message : "spawn failed");
    g_clear_error(&error);
    if (proc) g_object_unref(proc);
    return r;
  }
  r.status = g_subprocess_get_if_exited(proc) ? g_subprocess_get_exit_status(proc) : -1;
  r.out = take_bytes(out);
  r.err = take_bytes(err);
  g_object_unref(proc);
  return r;
}

}  // namespace tol::test
