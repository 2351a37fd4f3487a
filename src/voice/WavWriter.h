#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/FileDescriptor.h"
#include "platform/OutputFile.h"

namespace brisklet {

// A 16-bit little-endian PCM WAV file being written. Sound goes to a hidden temporary beside the
// file (an OutputFile, swept after a kill); finish() writes the header's sizes and renames it
// over `file`, so the file there is always a whole recording: the previous one until the new one
// is done. A writer destroyed unfinished leaves the file as it was.
class WavWriter {
 public:
  // Throws FileError when the file cannot be created.
  WavWriter(std::filesystem::path file, int sampleRate, int channels);
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Appends interleaved samples. A failed write is noted, not thrown: finish() reports it.
  void append(std::span<const std::int16_t> interleaved);
  // Throws FileError, with the system's reason ("No space left on device"), when the file could
  // not be written or renamed; the file is left as it was then.
  void finish();

  std::uint64_t framesWritten() const { return samplesWritten_ / static_cast<unsigned>(channels_); }

 private:
  OutputFile output_;
  FileDescriptor descriptor_;
  int sampleRate_;
  int channels_;
  std::uint64_t samplesWritten_ = 0;
  int writeError_ = 0;  // errno of the first failed write
};

}  // namespace brisklet
