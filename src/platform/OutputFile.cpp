#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/Paths.h"

namespace brisklet {
namespace {

constexpr const char* kEntryPrefix = "output-";

std::filesystem::path registerFolder() { return applicationDataFolder() / "Unfinished"; }

std::string randomLetters(int count) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string letters;
  for (int index = 0; index < count; ++index) letters += kLetters[pick(generator)];
  return letters;
}

// ".stem.XXXXXX.ext" beside `destination`: hidden, and with the extension tools go by.
std::filesystem::path temporaryFor(const std::filesystem::path& destination) {
  return destination.parent_path() / ("." + destination.stem().string() + "." +
                                       randomLetters(6) + destination.extension().string());
}

// Writes `text` as the whole content of a register entry. A failure is let go: the entry then
// names nothing, which costs only the clean-up after a kill (the sweep removes just the entry).
void writeWhole(int descriptor, const std::string& text) {
  if (::ftruncate(descriptor, 0) != 0) return;
  const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
  static_cast<void>(written);
}

}  // namespace

OutputFile::OutputFile(std::filesystem::path destination) : destination_(std::move(destination)) {
  const std::filesystem::path folder =
      destination_.parent_path().empty() ? std::filesystem::path(".") : destination_.parent_path();
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error))
    throw FileError("The folder \u201C" + folder.string() + "\u201D does not exist.",
                    "no such folder");

  registerTemporary();
  for (int attempt = 0;; ++attempt) {
    temporary_ = temporaryFor(destination_);
    if (entryDescriptor_.valid()) writeWhole(entryDescriptor_.get(), temporary_.string());
    FileDescriptor created(
        ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (created.valid()) return;
    if (errno != EEXIST || attempt == 8) {
      const int failure = errno;
      if (!entry_.empty()) ::unlink(entry_.c_str());
      throw fileError("write", destination_, failure);
    }
  }
}

void OutputFile::registerTemporary() {
  // The entry is locked before it names anything, and names the temporary before it exists, so
  // a process killed at any point leaves nothing the next start cannot find. Without a register
  // (a read-only data folder) the output is still written; only a kill would leave it behind.
  std::error_code error;
  std::filesystem::create_directories(registerFolder(), error);
  std::string hiddenName = (registerFolder() / ".XXXXXX").string();
  FileDescriptor entry(::mkostemp(hiddenName.data(), O_CLOEXEC));
  if (!entry.valid()) return;
  const std::filesystem::path visibleName =
      registerFolder() / (kEntryPrefix + std::filesystem::path(hiddenName).filename().string().substr(1));
  if (::flock(entry.get(), LOCK_EX) != 0 || ::rename(hiddenName.c_str(), visibleName.c_str()) != 0) {
    ::unlink(hiddenName.c_str());
    return;
  }
  entry_ = visibleName;
  entryDescriptor_ = std::move(entry);
}

OutputFile::~OutputFile() {
  if (!committed_) ::unlink(temporary_.c_str());
  if (!entry_.empty()) ::unlink(entry_.c_str());
}

void OutputFile::commit() {
  {
    FileDescriptor written(::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!written.valid() || ::fsync(written.get()) != 0) throw fileError("flush", destination_, errno);
  }
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0)
    throw fileError("replace", destination_, errno);
  committed_ = true;
  syncFolder(destination_.parent_path().empty() ? std::filesystem::path(".")
                                                : destination_.parent_path());
}

namespace {

FileDescriptor openTemporary(const OutputFile& output) {
  FileDescriptor to(::open(output.temporary().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!to.valid()) throw fileError("write", output.destination(), errno);
  return to;
}

void writeAll(int descriptor, std::string_view bytes, const OutputFile& output) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throw fileError("write", output.destination(), errno);
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void close(FileDescriptor& descriptor, const OutputFile& output) {
  if (descriptor.close() != 0) throw fileError("write", output.destination(), errno);
}

}  // namespace

void copyInto(const std::filesystem::path& source, const OutputFile& output) {
  FileDescriptor from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (!from.valid()) throw fileError("open", source, errno);
  FileDescriptor to = openTemporary(output);
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t count = ::read(from.get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw fileError("read", source, errno);
    if (count == 0) break;
    writeAll(to.get(), std::string_view(buffer.data(), static_cast<size_t>(count)), output);
  }
  close(to, output);
}

void writeInto(std::string_view bytes, const OutputFile& output) {
  FileDescriptor to = openTemporary(output);
  writeAll(to.get(), bytes, output);
  close(to, output);
}

void sweepAbandonedOutputs() {
  std::error_code error;
  std::filesystem::directory_iterator entries(registerFolder(), error);
  if (error) return;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kEntryPrefix) && !name.starts_with(".")) continue;
    std::optional<FileLock> abandoned = FileLock::tryAcquire(entry.path());
    if (!abandoned) continue;  // its writer is still at work
    std::string named;
    try {
      named = readFile(entry.path());
    } catch (const FileError&) {
      continue;
    }
    const std::filesystem::path temporary = named;
    // Only ever a hidden temporary of ours, never what a damaged entry might point at.
    if (temporary.is_absolute() && temporary.filename().string().starts_with("."))
      ::unlink(temporary.c_str());
    ::unlink(entry.path().c_str());
  }
}

}  // namespace brisklet
