#pragma once

#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FileDescriptor.h"

namespace brisklet {

// A file operation that failed; what() is a sentence naming the file and the reason.
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& sentence, std::string reason = {})
      : std::runtime_error(sentence), reason_(std::move(reason)) {}
  // The system's words for what went wrong ("No space left on device"), without the file;
  // empty when the sentence says it all.
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// "Could not <action> “file”: <the system's words for error>."
FileError fileError(std::string_view action, const std::filesystem::path& file, int error);

// Whether a write must survive a power cut, or only never be seen half-written.
enum class Durability { synced, cacheOnly };

// Replaces `destination` so that readers see either the whole old content or the whole new one:
// a temporary file in the same folder is written and renamed over the destination. Synced
// writes also flush the file before the rename and the folder after it, so the same holds after
// a crash or power cut; cache files, which are made again when lost, skip that cost. The folder
// must exist. Throws FileError; on failure the destination is untouched and the temporary file
// removed.
void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         mode_t permissions = 0644, Durability durability = Durability::synced);

// Makes `folder` and the folders above it that are missing. Throws FileError with a sentence
// that says what is in the way, a link to nowhere included ("“Brisklet” is a link to
// “/mnt/gone”, which does not exist.").
void createFolders(const std::filesystem::path& folder);

// Flushes a folder's entries (a rename into it) to disk. A folder that cannot be synced only
// weakens durability, so failures are ignored.
void syncFolder(const std::filesystem::path& folder);

// Throws FileError unless `file` (its links followed) is a regular file: a pipe, a device, a
// socket or a folder is refused at once ("“x” is a pipe, not a file."), since opening or reading
// one could wait for ever.
void requireRegularFile(const std::filesystem::path& file);
// `file` opened for reading once requireRegularFile holds; never waits for a pipe's writer.
FileDescriptor openRegularFile(const std::filesystem::path& file);

// The whole content of a regular file. Throws FileError when it cannot be opened or read.
std::string readFile(const std::filesystem::path& file);

}  // namespace brisklet
