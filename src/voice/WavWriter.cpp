#include "voice/WavWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/AtomicFile.h"

namespace brisklet {
namespace {

constexpr std::uint32_t kHeaderBytes = 44;

void putLittleEndian(std::array<char, kHeaderBytes>& header, size_t at, std::uint32_t value,
                     int bytes) {
  for (int index = 0; index < bytes; ++index)
    header[at + static_cast<size_t>(index)] = static_cast<char>((value >> (8 * index)) & 0xFF);
}

// The canonical 44-byte header of 16-bit PCM with `dataBytes` of sound.
std::array<char, kHeaderBytes> headerOf(int sampleRate, int channels, std::uint32_t dataBytes) {
  std::array<char, kHeaderBytes> header{};
  std::memcpy(header.data(), "RIFF", 4);
  putLittleEndian(header, 4, 36 + dataBytes, 4);
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  putLittleEndian(header, 16, 16, 4);  // size of the format chunk
  putLittleEndian(header, 20, 1, 2);   // PCM
  putLittleEndian(header, 22, static_cast<std::uint32_t>(channels), 2);
  putLittleEndian(header, 24, static_cast<std::uint32_t>(sampleRate), 4);
  putLittleEndian(header, 28, static_cast<std::uint32_t>(sampleRate * channels * 2), 4);
  putLittleEndian(header, 32, static_cast<std::uint32_t>(channels * 2), 2);
  putLittleEndian(header, 34, 16, 2);
  std::memcpy(header.data() + 36, "data", 4);
  putLittleEndian(header, 40, dataBytes, 4);
  return header;
}

// Writes all of `bytes` at `offset`; the errno of a failure, else 0.
int writeAt(int descriptor, const char* bytes, size_t count, off_t offset) {
  while (count > 0) {
    const ssize_t written = ::pwrite(descriptor, bytes, count, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes += written;
    count -= static_cast<size_t>(written);
    offset += written;
  }
  return 0;
}

}  // namespace

WavWriter::WavWriter(std::filesystem::path file, int sampleRate, int channels)
    : output_(std::move(file)),
      descriptor_(::open(output_.temporary().c_str(), O_WRONLY | O_CLOEXEC)),
      sampleRate_(sampleRate),
      channels_(std::max(channels, 1)) {
  if (!descriptor_.valid()) throw fileError("write", output_.destination(), errno);
  const auto header = headerOf(sampleRate_, channels_, 0);
  writeError_ = writeAt(descriptor_.get(), header.data(), header.size(), 0);
}

void WavWriter::append(std::span<const std::int16_t> interleaved) {
  if (writeError_ != 0) return;
  // WAV is little-endian, as is every machine this runs on.
  writeError_ =
      writeAt(descriptor_.get(), reinterpret_cast<const char*>(interleaved.data()),
              interleaved.size_bytes(), static_cast<off_t>(kHeaderBytes + samplesWritten_ * 2));
  if (writeError_ == 0) samplesWritten_ += interleaved.size();
}

void WavWriter::finish() {
  const std::uint64_t dataBytes = std::min<std::uint64_t>(
      samplesWritten_ * 2, std::numeric_limits<std::uint32_t>::max() - kHeaderBytes);
  const auto header = headerOf(sampleRate_, channels_, static_cast<std::uint32_t>(dataBytes));
  if (writeError_ == 0) writeError_ = writeAt(descriptor_.get(), header.data(), header.size(), 0);
  if (descriptor_.close() != 0 && writeError_ == 0) writeError_ = errno;
  if (writeError_ != 0) throw fileError("write", output_.destination(), writeError_);
  output_.commit();
}

}  // namespace brisklet
