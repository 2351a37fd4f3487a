#pragma once

#include <string>
#include <string_view>

#include "model/EditPlan.h"
#include "model/Uuid.h"

namespace brisklet {

// The first 6 bytes of the SHA-256 of the text's UTF-8 bytes, in lower-case hexadecimal: 12
// characters that change whenever the text does ("abc" gives "ba7816bf8f01").
std::string textHash(std::string_view text);

// "narration_" + segment id + "_" + text hash + ".mp3": the file of one spoken line inside the
// project's "narration" folder. A line edited back to an earlier text finds its earlier file.
std::string narrationFileName(const Uuid& segmentID, std::string_view text);

// Whether the narration command speaks this segment's line: it is kept, has text, and has no
// audio of that text yet (pending, stale, or ready without a file name). Dropped segments never
// get audio.
bool needsNarrationAudio(const Segment& segment);

}  // namespace brisklet
