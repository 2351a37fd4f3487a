#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>

#include "media/platform/Asset.h"

namespace brisklet {

enum class PcmSampleFormat { int16, float32 };

// The linear PCM a caller wants; FFmpeg converts, resamples and mixes down to it.
struct PcmFormat {
  int sampleRate = 48000;
  int channels = 2;
  PcmSampleFormat sampleFormat = PcmSampleFormat::float32;

  int bytesPerSample() const { return sampleFormat == PcmSampleFormat::int16 ? 2 : 4; }
};

// Decoded sound of the first audio track, in source time: sound that starts after the file's
// presentation start is preceded by silence, so sample 0 is source time 0 like picture time 0.
class PcmReader {
 public:
  // Reads from source time `startSec` on (a seek, then decoding from there). Throws MediaError
  // when the file has no audio or its audio cannot be decoded.
  PcmReader(const Asset& asset, const PcmFormat& format, double startSec = 0);
  PcmReader(PcmReader&&) noexcept;
  PcmReader& operator=(PcmReader&&) noexcept;
  ~PcmReader();

  // Hands every block of interleaved samples, in order, to `consume` (the bytes are valid only
  // during the call) until the sound ends or `stop` is requested. Damaged packets are skipped.
  void read(const std::function<void(std::span<const std::uint8_t> interleaved)>& consume,
            std::stop_token stop = {});
  // Fills `destination` with the next interleaved samples (whole sample frames); returns how
  // many bytes it wrote, fewer than asked only where the sound ends.
  std::size_t pull(std::span<std::uint8_t> destination);

 private:
  class Decoder;
  std::unique_ptr<Decoder> decoder_;
};

// `file` opened for its sound; none when it holds no sound track. A file that cannot be read,
// or whose sound track has nothing that decodes (all its packets damaged), throws MediaError
// "The file “name” could not be read: …".
std::optional<Asset> openSoundFile(const std::filesystem::path& file);

}  // namespace brisklet
