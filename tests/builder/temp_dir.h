// A directory of a test's own under the system's temporary directory,
// removed with everything in it when the object goes.
#pragma once

#include <glib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace tol::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "tolvane") {
    char* dir = g_dir_make_tmp((prefix + "-XXXXXX").c_str(), nullptr);
    if (dir != nullptr) path_ = dir;
    g_free(dir);
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the directory; `relative` may name subdirectories.
  std::string file(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

}  // namespace tol::test
