#pragma once

#include <unistd.h>

#include <utility>

namespace brisklet {

// Owns a file descriptor from the line it is opened; negative means none.
class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
  FileDescriptor(FileDescriptor&& other) noexcept
      : descriptor_(std::exchange(other.descriptor_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      close();
      descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { close(); }

  int get() const { return descriptor_; }
  bool valid() const { return descriptor_ >= 0; }
  // Closing can report a deferred write error (NFS, quota), so callers that write check it.
  int close() {
    if (descriptor_ < 0) return 0;
    const int result = ::close(descriptor_);
    descriptor_ = -1;
    return result;
  }

 private:
  int descriptor_;
};

}  // namespace brisklet
