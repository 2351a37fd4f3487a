#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/AtomicFile.h"

namespace brisklet {

FileLock FileLock::acquire(const std::filesystem::path& file, bool create) {
  FileDescriptor descriptor(
      ::open(file.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644));
  if (!descriptor.valid()) throw fileError("lock", file, errno);
  while (::flock(descriptor.get(), LOCK_EX) != 0)
    if (errno != EINTR) throw fileError("lock", file, errno);
  return FileLock(std::move(descriptor));
}

std::optional<FileLock> FileLock::tryAcquire(const std::filesystem::path& file) {
  FileDescriptor descriptor(::open(file.c_str(), O_RDWR | O_CLOEXEC));
  if (!descriptor.valid()) return std::nullopt;
  if (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  return FileLock(std::move(descriptor));
}

}  // namespace brisklet
