// Shared set-up for engine tests: builder images written to a private
// temporary directory and opened with the engine.
#pragma once

#include <glib.h>
#include <glib/gstdio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive/hive.h"
#include "hive_builder.h"

namespace tol::test {

class HiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GError* error = nullptr;
    char* dir = g_dir_make_tmp("tolvane-hive-XXXXXX", &error);
    ASSERT_NE(dir, nullptr) << error->message;
    dir_ = dir;
    g_free(dir);
  }

  void TearDown() override {
    for (const auto& f : files_) g_remove(f.c_str());
    if (!dir_.empty()) g_rmdir(dir_.c_str());
  }

  // A fresh path inside the test's directory.
  std::string path(const std::string& name = "") {
    std::string p = dir_ + "/" + (name.empty() ? "h" + std::to_string(files_.size()) + ".hiv" : name);
    files_.push_back(p);
    return p;
  }

  std::string write(std::span<const std::uint8_t> bytes) {
    std::string p = path();
    HiveBuilder::write_bytes(p, bytes);
    return p;
  }

  // Opens an image; fails the test when the engine refuses it.
  TolHivePtr open(std::span<const std::uint8_t> bytes) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(write(bytes), &error);
    EXPECT_NE(hive, nullptr) << (error ? error->message : "");
    if (error) g_error_free(error);
    return hive;
  }
  TolHivePtr open(const HiveBuilder& b) { return open(b.image()); }

  // The message of a refused open, or "" when the file opened.
  std::string open_error(const std::string& file) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file, &error);
    if (hive) return "";
    EXPECT_NE(error, nullptr);
    if (!error) return "(no error set)";
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    std::string message = error->message;
    g_error_free(error);
    return message;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

// The bytes of a file, empty when it cannot be read.
inline Bytes file_bytes(const std::string& file) { return HiveBuilder::read_bytes(file); }

// Base block and bins of a hive as they are in memory.
inline Bytes image_of(const TolHive& hive) {
  Bytes bytes(hive.base().span().begin(), hive.base().span().end());
  bytes.insert(bytes.end(), hive.bins().span().begin(), hive.bins().span().end());
  return bytes;
}

// Names of the subkeys of a key, in the order the engine returns them.
inline std::vector<std::string> subkey_names(const TolHive& hive, std::uint32_t nk) {
  std::vector<std::string> names;
  for (const auto off : tol_hive_subkeys(hive, nk)) names.push_back(tol_hive_key_name(hive, off));
  return names;
}


}  // namespace tol::test
