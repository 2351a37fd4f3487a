#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace brisklet {

// A 16-bit little-endian PCM WAV file being written. Sound goes to "<file>.part"; finish()
// writes the header's sizes and renames it over `file`, so the file there is always a whole
// recording: the previous one until the new one is done. Destroying a writer that was not
// finished finishes it, so a recording cut short (a quit, an exception) still ends as a valid
// file of what was recorded.
class WavWriter {
 public:
  // Throws FileError when the file cannot be created.
  WavWriter(std::filesystem::path file, int sampleRate, int channels);
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  ~WavWriter();

  // Appends interleaved samples. A failed write is noted, not thrown: finish() reports it.
  void append(std::span<const std::int16_t> interleaved);
  // Throws FileError when the file could not be written or renamed.
  void finish();
  // Removes what was written; the file is left as it was.
  void discard();

  std::uint64_t framesWritten() const { return samplesWritten_ / static_cast<unsigned>(channels_); }

 private:
  std::filesystem::path file_;
  std::filesystem::path partial_;
  int sampleRate_;
  int channels_;
  std::ofstream out_;
  std::uint64_t samplesWritten_ = 0;
  bool finished_ = false;
};

}  // namespace brisklet
