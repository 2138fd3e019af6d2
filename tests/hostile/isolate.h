// Runs a piece of work in a forked child with a watchdog and a memory limit,
// so that a hang, a crash, a sanitizer report or runaway memory in the work
// becomes a report about that work instead of the end of the test program.
#pragma once

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

namespace tol::test {

// Address space limits and the sanitizers' shadow memory do not mix; there
// the child reports its peak resident size instead.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressLimit = false;
#else
inline constexpr bool kAddressLimit = true;
#endif

struct Isolated {
  std::string output;   // what the work returned
  std::string problem;  // why the child did not finish, empty when it did
  std::string errors;   // what the child wrote to stderr
  long peak_kib = 0;    // the child's peak resident size
};

// The text a sanitizer leaves on stderr, or "".
inline std::string sanitizer_report(const std::string& errors) {
  for (const char* mark : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    const auto at = errors.find(mark);
    if (at != std::string::npos) return errors.substr(at > 200 ? at - 200 : 0, 1500);
  }
  return {};
}

// `stderr_file` receives the child's stderr.
inline Isolated run_isolated(const std::function<std::string()>& work, unsigned seconds,
                             std::uint64_t memory_bytes, const std::string& stderr_file) {
  Isolated result;
  int fds[2];
  if (pipe(fds) != 0) {
    result.problem = "pipe failed";
    return result;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    result.problem = "fork failed";
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    const int err = open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err >= 0) dup2(err, STDERR_FILENO);
    alarm(seconds);
    if (kAddressLimit) {
      const rlimit limit{memory_bytes, memory_bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::string out;
    int code = 0;
    try {
      out = work();
    } catch (const std::exception& e) {
      out = std::string("!exception: ") + e.what() + "\n";
      code = 3;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out += "peak_kib=" + std::to_string(usage.ru_maxrss) + "\n";
    for (std::size_t done = 0; done < out.size();) {
      const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    _exit(code);
  }
  close(fds[1]);
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    result.problem = sig == SIGALRM ? "hung: no result after " + std::to_string(seconds) + " s"
                                    : std::string("killed by signal ") + strsignal(sig);
  } else if (WEXITSTATUS(status) != 0) {
    result.problem = "exited with status " + std::to_string(WEXITSTATUS(status));
  }

  gchar* contents = nullptr;
  gsize length = 0;
  if (g_file_get_contents(stderr_file.c_str(), &contents, &length, nullptr)) {
    result.errors.assign(contents, length);
    g_free(contents);
  }
  const auto peak = result.output.rfind("peak_kib=");
  if (peak != std::string::npos) result.peak_kib = std::atol(result.output.c_str() + peak + 9);
  return result;
}

}  // namespace tol::test
