// Atomic save of a hive image, and the undo journal of whole-image snapshots.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hive/hive.h"

// Writes base block and bins to "<path>.tolvane-tmp", flushes, renames it over
// the hive and flushes the directory. True when nothing needed writing.
bool tol_hive_save(TolHive& hive, GError** error);
// The same for a hive image that becomes a new file at hive.path: nothing may
// exist there, from the start until the file is in place (G_FILE_ERROR_EXIST
// otherwise). The file gets the permissions and owner of `attributes_of`.
bool tol_hive_save_new(TolHive& hive, const std::string& attributes_of, GError** error);

// The system calls the save makes, replaceable so tests can make each one fail.
struct TolSaveIo {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* buf, std::size_t n);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
};
// nullptr restores the real calls.
void tol_hive_save_set_io(const TolSaveIo* io);

