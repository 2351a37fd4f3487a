#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/Project.h"

namespace brisklet {

// A narration line holds at most this many characters (code points): a spoken line of a minute
// or two, and a caption a player can still lay out. Longer text is cut where it enters.
inline constexpr std::size_t kNarrationTextLimit = 2000;

// The number of characters (UTF-8 code points) of `text`.
std::size_t characterCount(std::string_view text);
// `text` cut after kNarrationTextLimit characters, never inside one.
std::string cappedNarrationText(std::string text);
// A narration line as it is stored wherever it enters (typed, set, the model's answer): control
// characters other than line breaks (a tab, an escape) become spaces, and it is capped.
std::string storedNarrationText(std::string text);

// `pauses` as a segment holds them: finite, of some length, in time order, overlapping ones
// joined. A trim leaves a segment's pauses be; what lies outside its span is not shown either way,
// and an undone trim finds them there again.
std::vector<SourceSpan> heldPauses(std::vector<SourceSpan> pauses);

// Records read from disk are untrusted (hand-edited, damaged, from another program): this brings
// `project` within what the rest of the program can work with, and says what it changed as one
// phrase for the log ("3 segments' times clamped, 1 segment without times dropped"), or empty.
//   - segment times that are not finite are refused (the segment is dropped); segments are put
//     in source order and kept within 0 … the video's length, each after the one before
//     (segments never overlap); a segment left empty by that is dropped;
//   - narration text is cut at kNarrationTextLimit; a narration offset or length that is not a
//     finite, non-negative number within the video's length is reset (0 s; unknown length);
//   - face boxes are kept within the picture and in time order (a box that is not all finite
//     numbers of some size is dropped), removed pauses are held (see heldPauses),
//   - quality scores are kept within 0 … 1, settings percentages that are not finite are unset.
std::string repairLoadedRecord(Project& project);

}  // namespace brisklet
