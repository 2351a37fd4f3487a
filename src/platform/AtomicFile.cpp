#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor.h"

namespace brisklet {

FileError fileError(std::string_view action, const std::filesystem::path& file, int error) {
  return FileError("Could not " + std::string(action) + " \u201C" + file.string() + "\u201D: " +
                       std::strerror(error) + ".",
                   std::strerror(error));
}

namespace {

[[noreturn]] void fail(std::string_view action, const std::filesystem::path& file, int error) {
  throw fileError(action, file, error);
}

void writeAll(int descriptor, std::string_view bytes, const std::filesystem::path& file) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("write", file, errno);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

void syncFolder(const std::filesystem::path& folder) {
  FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (descriptor.get() >= 0) ::fsync(descriptor.get());
}

void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         mode_t permissions, Durability durability) {
  const std::filesystem::path folder = destination.parent_path();
  std::string temporaryName = (folder / ("." + destination.filename().string() + ".XXXXXX"));
  FileDescriptor descriptor(::mkostemp(temporaryName.data(), O_CLOEXEC));
  if (descriptor.get() < 0) fail("create a temporary file for", destination, errno);
  const std::filesystem::path temporary = temporaryName;

  try {
    if (::fchmod(descriptor.get(), permissions) != 0)
      fail("set the permissions of", temporary, errno);
    writeAll(descriptor.get(), bytes, destination);
    if (durability == Durability::synced && ::fsync(descriptor.get()) != 0)
      fail("flush", destination, errno);
    if (descriptor.close() != 0) fail("write", destination, errno);
    if (::rename(temporary.c_str(), destination.c_str()) != 0) fail("replace", destination, errno);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  if (durability == Durability::synced) syncFolder(folder);
}

std::string readFile(const std::filesystem::path& file) {
  FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (descriptor.get() < 0) fail("open", file, errno);
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) fail("read", file, errno);
  if (S_ISDIR(status.st_mode)) fail("read", file, EISDIR);

  std::string content;
  content.reserve(static_cast<size_t>(status.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("read", file, errno);
    }
    if (count == 0) return content;
    content.append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace brisklet
