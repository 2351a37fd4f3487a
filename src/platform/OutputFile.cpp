#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <random>
#include <string>

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

void writeWhole(int descriptor, const std::string& text, const std::filesystem::path& file) {
  if (::ftruncate(descriptor, 0) != 0 || ::pwrite(descriptor, text.data(), text.size(), 0) !=
                                             static_cast<ssize_t>(text.size()))
    throw fileError("write", file, errno);
}

}  // namespace

OutputFile::OutputFile(std::filesystem::path destination) : destination_(std::move(destination)) {
  const std::filesystem::path folder =
      destination_.parent_path().empty() ? std::filesystem::path(".") : destination_.parent_path();
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error))
    throw FileError("The folder \u201C" + folder.string() + "\u201D does not exist.",
                    "no such folder");

  // The entry is locked before it names anything, and named before the temporary exists, so a
  // process killed at any point leaves nothing the next start cannot find.
  std::filesystem::create_directories(registerFolder(), error);
  std::string entryName = (registerFolder() / ".XXXXXX").string();
  FileDescriptor entry(::mkostemp(entryName.data(), O_CLOEXEC));
  if (!entry.valid()) throw fileError("register the output", destination_, errno);
  const std::filesystem::path hiddenEntry = entryName;
  if (::flock(entry.get(), LOCK_EX) != 0) {
    const int failure = errno;
    ::unlink(hiddenEntry.c_str());
    throw fileError("register the output", destination_, failure);
  }
  entry_ = registerFolder() / (kEntryPrefix + hiddenEntry.filename().string().substr(1));
  if (::rename(hiddenEntry.c_str(), entry_.c_str()) != 0) {
    const int failure = errno;
    ::unlink(hiddenEntry.c_str());
    throw fileError("register the output", destination_, failure);
  }
  entryDescriptor_ = std::move(entry);

  try {
    for (int attempt = 0;; ++attempt) {
      temporary_ = temporaryFor(destination_);
      writeWhole(entryDescriptor_.get(), temporary_.string(), entry_);
      FileDescriptor created(
          ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
      if (created.valid()) break;
      if (errno != EEXIST || attempt == 8) throw fileError("write", destination_, errno);
    }
  } catch (...) {
    ::unlink(entry_.c_str());
    throw;
  }
}

OutputFile::~OutputFile() {
  if (!committed_) ::unlink(temporary_.c_str());
  ::unlink(entry_.c_str());
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
