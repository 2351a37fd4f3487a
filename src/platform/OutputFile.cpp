#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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
constexpr size_t kRandomLetters = 6;
// An entry names two paths; anything much longer was not written by us.
constexpr off_t kLongestEntryBytes = 16 * 1024;

std::filesystem::path dataRegister() { return applicationDataFolder() / "Unfinished"; }

// Where entries go while the data folder cannot take them (read-only, full, a dangling link):
// a folder of the user's own that nobody else may enter, so nobody else can plant entries in it.
// None when there is no such folder (and, with `create`, none could be made).
std::optional<std::filesystem::path> fallbackRegister(bool create) {
  std::filesystem::path base;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/') {
    base = runtime;
  } else {
    std::error_code error;
    base = std::filesystem::temp_directory_path(error);
    if (error) return std::nullopt;
  }
  const std::filesystem::path folder =
      base / ("brisklet-unfinished-" + std::to_string(::geteuid()));
  if (create) ::mkdir(folder.c_str(), 0700);  // one already there is checked like any other
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
    return std::nullopt;
  return folder;
}

std::string randomLetters() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string letters;
  for (size_t index = 0; index < kRandomLetters; ++index) letters += kLetters[pick(generator)];
  return letters;
}

// ".stem.XXXXXX.ext" beside `destination`: hidden, and with the extension tools go by.
std::filesystem::path temporaryFor(const std::filesystem::path& destination) {
  return destination.parent_path() / ("." + destination.stem().string() + "." + randomLetters() +
                                      destination.extension().string());
}

bool isRandomLetters(std::string_view text) {
  return text.size() == kRandomLetters && std::all_of(text.begin(), text.end(), [](char letter) {
           return (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
                  (letter >= '0' && letter <= '9');
         });
}

// Whether `temporary` is a name temporaryFor gives `destination`: both absolute and plain (no
// "..", no "."), in one folder.
bool isTemporaryOf(const std::filesystem::path& temporary,
                   const std::filesystem::path& destination) {
  if (!temporary.is_absolute() || !destination.is_absolute() ||
      temporary != temporary.lexically_normal() || destination != destination.lexically_normal() ||
      !destination.has_filename() || temporary.parent_path() != destination.parent_path())
    return false;
  const std::string name = temporary.filename().string();
  const std::string prefix = "." + destination.stem().string() + ".";
  const std::string extension = destination.extension().string();
  return name.size() == prefix.size() + kRandomLetters + extension.size() &&
         name.starts_with(prefix) && name.ends_with(extension) &&
         isRandomLetters(std::string_view(name).substr(prefix.size(), kRandomLetters));
}

// Removes `temporary` when it is a plain file of this user that no writer holds (a live writer
// keeps its temporary locked).
void removeIfAbandoned(const std::filesystem::path& temporary) {
  FileDescriptor file(::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) return;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
    return;
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) return;
  ::unlink(temporary.c_str());
}

// What a register entry names: its destination and temporary, or none when it does not hold
// exactly two lines.
std::optional<std::pair<std::filesystem::path, std::filesystem::path>> namedBy(
    const std::string& entry) {
  const size_t firstEnd = entry.find('\n');
  if (firstEnd == std::string::npos || entry.empty() || entry.back() != '\n') return std::nullopt;
  const std::string second = entry.substr(firstEnd + 1, entry.size() - firstEnd - 2);
  if (second.find('\n') != std::string::npos) return std::nullopt;
  return std::pair{std::filesystem::path(entry.substr(0, firstEnd)), std::filesystem::path(second)};
}

// Writes `text` as the whole content of a register entry. A failure is let go: the entry then
// names nothing, which costs only the clean-up after a kill (the sweep removes just the entry).
void writeWhole(int descriptor, const std::string& text) {
  if (::ftruncate(descriptor, 0) != 0) return;
  const ssize_t written = ::pwrite(descriptor, text.data(), text.size(), 0);
  static_cast<void>(written);
}

void sweepRegister(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return;
  for (const std::filesystem::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kEntryPrefix) && !name.starts_with(".")) continue;
    struct stat status {};
    if (::lstat(entry.path().c_str(), &status) != 0) continue;
    if (!S_ISREG(status.st_mode)) {
      // Not an entry of ours: dropped, never followed (unlink removes a link, not its target).
      if (S_ISLNK(status.st_mode)) ::unlink(entry.path().c_str());
      continue;
    }
    std::optional<FileLock> abandoned = FileLock::tryAcquire(entry.path());
    if (!abandoned) continue;  // its writer is still at work
    std::optional<std::pair<std::filesystem::path, std::filesystem::path>> named;
    if (status.st_size <= kLongestEntryBytes) {
      try {
        named = namedBy(readFile(entry.path()));
      } catch (const FileError&) {
        continue;  // unreadable now; the next start tries again
      }
    }
    // Only ever a hidden temporary of ours beside the destination the entry names, never what a
    // damaged or planted entry might point at. Others of the same destination, left where the
    // register could not be written, go with it.
    if (named && isTemporaryOf(named->second, named->first)) {
      removeIfAbandoned(named->second);
      for (const auto& sibling :
           std::filesystem::directory_iterator(named->first.parent_path(), error))
        if (isTemporaryOf(sibling.path(), named->first)) removeIfAbandoned(sibling.path());
    }
    ::unlink(entry.path().c_str());
  }
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
  const std::filesystem::path absoluteDestination = std::filesystem::absolute(destination_, error);
  for (int attempt = 0;; ++attempt) {
    temporary_ = temporaryFor(destination_);
    if (entryDescriptor_.valid())
      writeWhole(entryDescriptor_.get(),
                 absoluteDestination.lexically_normal().string() + "\n" +
                     std::filesystem::absolute(temporary_, error).lexically_normal().string() +
                     "\n");
    FileDescriptor created(
        ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (created.valid()) {
      // Held until the object goes: a sweep never takes a temporary that is being written.
      ::flock(created.get(), LOCK_EX);
      temporaryDescriptor_ = std::move(created);
      return;
    }
    if (errno != EEXIST || attempt == 8) {
      const int failure = errno;
      if (!entry_.empty()) ::unlink(entry_.c_str());
      throw fileError("write", destination_, failure);
    }
  }
}

void OutputFile::registerTemporary() {
  // The entry is locked before it names anything, and names the temporary before it exists, so
  // a process killed at any point leaves nothing the next start cannot find. Without any
  // register the output is still written; only a kill would leave it behind.
  std::error_code error;
  std::filesystem::create_directories(dataRegister(), error);
  for (int choice = 0; choice < 2; ++choice) {
    // The private fallback is made only when the data folder's register cannot be written.
    const std::optional<std::filesystem::path> register_ =
        choice == 0 ? std::optional(dataRegister()) : fallbackRegister(true);
    if (!register_) return;
    const std::filesystem::path& folder = *register_;
    std::string hiddenName = (folder / ".XXXXXX").string();
    FileDescriptor entry(::mkostemp(hiddenName.data(), O_CLOEXEC));
    if (!entry.valid()) continue;
    const std::filesystem::path visibleName =
        folder / (kEntryPrefix + std::filesystem::path(hiddenName).filename().string().substr(1));
    if (::flock(entry.get(), LOCK_EX) != 0 ||
        ::rename(hiddenName.c_str(), visibleName.c_str()) != 0) {
      ::unlink(hiddenName.c_str());
      continue;
    }
    entry_ = visibleName;
    entryDescriptor_ = std::move(entry);
    return;
  }
}

OutputFile::~OutputFile() {
  if (!committed_) ::unlink(temporary_.c_str());
  if (!entry_.empty()) ::unlink(entry_.c_str());
}

void OutputFile::commit() {
  if (::fsync(temporaryDescriptor_.get()) != 0) throw fileError("flush", destination_, errno);
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
  FileDescriptor from = openRegularFile(source);
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
  sweepRegister(dataRegister());
  if (const auto fallback = fallbackRegister(false)) sweepRegister(*fallback);
}

}  // namespace brisklet
