#include "model/NarrationFile.h"

#include "platform/Sha256.h"

namespace brisklet {

std::string textHash(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto digest = sha256(text);
  std::string hash;
  for (size_t index = 0; index < 6; ++index) {
    hash += kDigits[digest[index] >> 4];
    hash += kDigits[digest[index] & 0x0F];
  }
  return hash;
}

std::string narrationFileName(const Uuid& segmentID, std::string_view text) {
  return "narration_" + segmentID.text() + "_" + textHash(text) + ".mp3";
}

bool needsNarrationAudio(const Segment& segment) {
  if (!segment.keep || !segment.narration || segment.narration->text.empty()) return false;
  return segment.narration->status != NarrationStatus::ready || !segment.narration->audioFileName;
}

}  // namespace brisklet
