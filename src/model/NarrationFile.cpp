#include "model/NarrationFile.h"

#include "platform/Sha256.h"

namespace brisklet {

std::string textHash(std::string_view text) { return hexPrefix(sha256(text), 6); }

std::string narrationFileName(const Uuid& segmentID, std::string_view text) {
  return "narration_" + segmentID.text() + "_" + textHash(text) + ".mp3";
}

bool needsNarrationAudio(const Segment& segment) {
  if (!segment.keep || !segment.narration || segment.narration->text.empty()) return false;
  return segment.narration->status != NarrationStatus::ready || !segment.narration->audioFileName;
}

}  // namespace brisklet
