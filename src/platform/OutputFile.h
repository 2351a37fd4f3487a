#pragma once

#include <filesystem>
#include <string_view>

#include "platform/FileDescriptor.h"

namespace brisklet {

// A file the program writes for the user or for itself (a movie, a sound file, a copy), made
// under a hidden temporary name in its destination's folder (".name.XXXXXX.ext", the extension
// kept so tools that go by it still work) and renamed over the destination only once it is
// complete and flushed. Until then the destination keeps whatever it held, and readers never see
// a part. A temporary that is not committed is removed when the object goes.
//
// Each temporary is locked by its writer and named, with its destination, in a register of
// unfinished outputs in the application's data folder (or, while that cannot be written, in a
// private folder of the user's runtime or temporary folder), locked for as long as its writer
// lives, so when a process is killed the next start can find and remove what it left
// (sweepAbandonedOutputs).
class OutputFile {
 public:
  // Throws FileError, naming the folder, when the destination's folder is missing or cannot
  // take a new file.
  explicit OutputFile(std::filesystem::path destination);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Where to write. It exists, empty, from construction on.
  const std::filesystem::path& temporary() const { return temporary_; }
  const std::filesystem::path& destination() const { return destination_; }

  // Flushes the temporary to disk and renames it over the destination. Throws FileError; the
  // destination is untouched then and the temporary removed when the object goes.
  void commit();

 private:
  void registerTemporary();

  std::filesystem::path destination_;
  std::filesystem::path temporary_;
  std::filesystem::path entry_;         // in the register, naming the temporary; empty without one
  FileDescriptor entryDescriptor_;      // holds the entry's lock
  FileDescriptor temporaryDescriptor_;  // holds the temporary's lock
  bool committed_ = false;
};

// Copies the bytes of `source` into the temporary of `output`. Throws FileError with the
// system's reason ("No space left on device").
void copyInto(const std::filesystem::path& source, const OutputFile& output);
// Writes `bytes` into the temporary of `output`. Throws FileError as copyInto.
void writeInto(std::string_view bytes, const OutputFile& output);

// Removes the temporaries of outputs whose writers died before finishing them (their register
// entries are no longer locked), and those entries. An entry is trusted with nothing: only a
// plain file of this user named as our temporaries are (".stem.XXXXXX.ext"), beside the
// destination the entry names, and locked by nobody, is ever removed; other entries are
// dropped. Live writers, in this process or another, are left alone. Failures are ignored: the
// next start tries again.
void sweepAbandonedOutputs();

}  // namespace brisklet
