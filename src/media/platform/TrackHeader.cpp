#include "media/platform/TrackHeader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

namespace brisklet {
namespace {

// One box of the file: where its contents begin and end, and its four-letter type.
struct Box {
  std::array<char, 4> type{};
  std::uint64_t contentStart = 0;
  std::uint64_t end = 0;
};

std::uint64_t bigEndian(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int index = 0; index < count; ++index) value = (value << 8) | bytes[index];
  return value;
}

// The box starting at `at`, within a parent ending at `parentEnd`; none past the end or when
// its size does not fit.
std::optional<Box> boxAt(std::fstream& file, std::uint64_t at, std::uint64_t parentEnd) {
  unsigned char header[16];
  if (at + 8 > parentEnd) return std::nullopt;
  file.seekg(static_cast<std::streamoff>(at));
  if (!file.read(reinterpret_cast<char*>(header), 8)) return std::nullopt;
  std::uint64_t size = bigEndian(header, 4);
  std::uint64_t headerSize = 8;
  if (size == 1) {  // a 64-bit size follows the type
    if (!file.read(reinterpret_cast<char*>(header + 8), 8)) return std::nullopt;
    size = bigEndian(header + 8, 8);
    headerSize = 16;
  } else if (size == 0) {  // runs to the end of its parent
    size = parentEnd - at;
  }
  if (size < headerSize || at + size > parentEnd) return std::nullopt;
  Box box;
  std::copy_n(header + 4, 4, box.type.begin());
  box.contentStart = at + headerSize;
  box.end = at + size;
  return box;
}

// The boxes of type `type` among those from `start` to `end`, in order.
std::vector<Box> childrenOf(std::fstream& file, std::uint64_t start, std::uint64_t end,
                            std::string_view type) {
  std::vector<Box> found;
  for (std::optional<Box> box = boxAt(file, start, end); box; box = boxAt(file, box->end, end))
    if (std::string_view(box->type.data(), 4) == type) found.push_back(*box);
  return found;
}

}  // namespace

bool leaveTrackOff(const std::filesystem::path& movie, int trackOrdinal) {
  std::fstream file(movie, std::ios::in | std::ios::out | std::ios::binary);
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(movie, error);
  if (!file || error) return false;
  const std::vector<Box> movies = childrenOf(file, 0, size, "moov");
  if (movies.empty()) return false;
  const std::vector<Box> tracks =
      childrenOf(file, movies.front().contentStart, movies.front().end, "trak");
  if (trackOrdinal < 0 || trackOrdinal >= static_cast<int>(tracks.size())) return false;
  const Box& track = tracks[static_cast<size_t>(trackOrdinal)];
  const std::vector<Box> headers = childrenOf(file, track.contentStart, track.end, "tkhd");
  if (headers.empty() || headers.front().end - headers.front().contentStart < 4) return false;
  // A full box: one byte of version, then three of flags, the lowest bit of which is "enabled".
  const auto flagsAt = static_cast<std::streamoff>(headers.front().contentStart + 3);
  char flags = 0;
  file.seekg(flagsAt);
  file.read(&flags, 1);
  flags = static_cast<char>(flags & ~1);
  file.seekp(flagsAt);
  file.write(&flags, 1);
  file.flush();
  return static_cast<bool>(file);
}

}  // namespace brisklet
