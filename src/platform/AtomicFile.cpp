#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brisklet {

FileError fileError(std::string_view action, const std::filesystem::path& file, int error) {
  return FileError("Could not " + std::string(action) + " \u201C" + file.string() +
                       "\u201D: " + std::strerror(error) + ".",
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

void createFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) return;
  // The system says only "File exists" for a link that leads nowhere: name the link.
  for (std::filesystem::path step = folder; !step.empty() && step != step.root_path();
       step = step.parent_path()) {
    std::error_code ignored;
    if (std::filesystem::is_symlink(step, ignored) && !std::filesystem::exists(step, ignored)) {
      const std::string reason =
          "\u201C" + step.filename().string() + "\u201D is a link to \u201C" +
          std::filesystem::read_symlink(step, ignored).string() + "\u201D, which does not exist";
      throw FileError(reason + ".", reason);
    }
  }
  throw FileError(
      "Could not create the folder \u201C" + folder.string() + "\u201D: " + error.message() + ".",
      error.message());
}

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

namespace {

// What a file that is not a regular one is, for the sentence that refuses it.
const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "a device";
}

[[noreturn]] void refuseKind(const std::filesystem::path& file, mode_t mode) {
  throw FileError(
      "\u201C" + file.filename().string() + "\u201D is " + kindOf(mode) + ", not a file.",
      std::string("it is ") + kindOf(mode) + ", not a file");
}

}  // namespace

void requireRegularFile(const std::filesystem::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) fail("open", file, errno);
  if (!S_ISREG(status.st_mode)) refuseKind(file, status.st_mode);
}

FileDescriptor openRegularFile(const std::filesystem::path& file) {
  requireRegularFile(file);
  // Non-blocking, so a pipe put in the file's place meanwhile cannot hold the open.
  FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!descriptor.valid()) fail("open", file, errno);
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) fail("read", file, errno);
  if (!S_ISREG(status.st_mode)) refuseKind(file, status.st_mode);
  return descriptor;
}

std::string readFile(const std::filesystem::path& file) {
  const FileDescriptor descriptor = openRegularFile(file);
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) fail("read", file, errno);

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
