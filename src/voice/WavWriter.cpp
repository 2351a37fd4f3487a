#include "voice/WavWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/AtomicFile.h"
#include "platform/Log.h"

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

}  // namespace

WavWriter::WavWriter(std::filesystem::path file, int sampleRate, int channels)
    : file_(std::move(file)),
      partial_(file_.string() + ".part"),
      sampleRate_(sampleRate),
      channels_(std::max(channels, 1)) {
  out_.open(partial_, std::ios::binary | std::ios::trunc);
  if (!out_) throw fileError("create", partial_, errno);
  const auto header = headerOf(sampleRate_, channels_, 0);
  out_.write(header.data(), header.size());
}

WavWriter::~WavWriter() {
  if (finished_) return;
  try {
    finish();
  } catch (const std::exception& error) {
    logLine(std::string("The recording could not be finished: ") + error.what());
  }
}

void WavWriter::append(std::span<const std::int16_t> interleaved) {
  // WAV is little-endian, as is every machine this runs on.
  out_.write(reinterpret_cast<const char*>(interleaved.data()),
             static_cast<std::streamsize>(interleaved.size_bytes()));
  samplesWritten_ += interleaved.size();
}

void WavWriter::discard() {
  finished_ = true;
  out_.close();
  std::error_code ignored;
  std::filesystem::remove(partial_, ignored);
}

void WavWriter::finish() {
  finished_ = true;
  const std::uint64_t dataBytes = std::min<std::uint64_t>(
      samplesWritten_ * 2, std::numeric_limits<std::uint32_t>::max() - kHeaderBytes);
  const auto header = headerOf(sampleRate_, channels_, static_cast<std::uint32_t>(dataBytes));
  out_.seekp(0);
  out_.write(header.data(), header.size());
  out_.close();
  if (!out_) {
    std::filesystem::remove(partial_);
    throw FileError("Could not write \u201C" + file_.string() + "\u201D.");
  }
  std::error_code error;
  std::filesystem::rename(partial_, file_, error);
  if (error) throw FileError("Could not replace \u201C" + file_.string() + "\u201D: " + error.message() + ".");
}

}  // namespace brisklet
