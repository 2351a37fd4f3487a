#pragma once

#include <filesystem>
#include <optional>

#include "platform/FileDescriptor.h"

namespace brisklet {

// An advisory lock (flock) on a file, held for the object's life. Processes that agree to lock
// the same file take turns; a process that dies lets go at once, so a lock nobody holds marks
// work that was abandoned.
class FileLock {
 public:
  // Waits for the lock on `file`, creating the file when `create` is set. Throws FileError when
  // the file cannot be opened (a missing folder: ENOENT).
  static FileLock acquire(const std::filesystem::path& file, bool create = true);
  // The lock on an existing `file` when nobody holds it; none when someone does or the file is
  // not there.
  static std::optional<FileLock> tryAcquire(const std::filesystem::path& file);

  int descriptor() const { return descriptor_.get(); }

 private:
  explicit FileLock(FileDescriptor descriptor) : descriptor_(std::move(descriptor)) {}
  FileDescriptor descriptor_;
};

}  // namespace brisklet
