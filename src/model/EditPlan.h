#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Uuid.h"

namespace brisklet {

// Visual-quality scores of a scene, each 0…1 with higher better.
struct QualityScores {
  double blur = 0;
  double exposure = 0;
  double shake = 0;
  double aesthetics = 0;
  double composite = 0;
  bool isUtility = false;

  bool operator==(const QualityScores&) const = default;
};

enum class NarrationStatus { pendingAudio, ready, stale };

// "pendingAudio", "ready", "stale"
std::string_view rawValue(NarrationStatus status);
std::optional<NarrationStatus> narrationStatusFromRaw(std::string_view raw);

// One narration line attached to a segment.
struct NarrationClip {
  std::string text;
  bool userEditedText = false;
  // Plain file name inside the project's "narration" folder.
  std::optional<std::string> audioFileName{};
  // Seconds after the segment's startSec where the line starts.
  double startOffsetSec = 0;
  std::optional<double> durationSec{};
  NarrationStatus status = NarrationStatus::pendingAudio;
  // The words the audio file speaks while an edit of `text` waits to be spoken; none while
  // `text` is what the audio speaks (and in older records).
  std::optional<std::string> spokenText{};

  bool operator==(const NarrationClip&) const = default;
};

// The words heard when `clip`'s audio plays; none when they are not known.
std::optional<std::string> spokenWords(const NarrationClip& clip);

// Where the main face of a scene is at one moment: its box on the upright picture, each
// coordinate a share (0…1) of the picture's width or height.
struct FacePosition {
  double timeSec = 0;  // on the source timeline
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double centreX() const { return x + width / 2; }
  double centreY() const { return y + height / 2; }
  bool operator==(const FacePosition&) const = default;
};

// A stretch of source time, half-open [startSec, endSec).
struct SourceSpan {
  double startSec = 0;
  double endSec = 0;

  double durationSec() const { return endSec - startSec; }
  bool operator==(const SourceSpan&) const = default;
};

// One scene of the source, on the source timeline, half-open [startSec, endSec).
struct Segment {
  Uuid id;
  double startSec = 0;
  double endSec = 0;
  bool keep = true;
  bool userOverrodeKeep = false;
  std::optional<QualityScores> quality;
  std::optional<std::string> sceneDescription;
  std::optional<std::string> activity;
  std::optional<std::string> keepReason;
  std::optional<NarrationClip> narration;
  // The main face over the scene as the analysis saw it, in time order; a crop of the picture
  // follows it. Empty when no face persists (and in older records): the crop is centred.
  std::vector<FacePosition> facePath{};
  // The user's choice to crop the scene at the centre whatever its face path.
  bool centredCrop = false;
  // The pauses (dead air between sentences) left out of the edit, in time order, apart; a
  // tightening puts them inside the segment, and what a later trim leaves outside is not shown.
  // None in older records.
  std::vector<SourceSpan> removedPauses{};

  double durationSec() const { return endSec - startSec; }
  // What the edit shows of the segment: its span less its removed pauses, in time order.
  std::vector<SourceSpan> keptRuns() const;
  // The seconds of it the edit shows.
  double keptSec() const;
  bool operator==(const Segment&) const = default;
};

// The analysed edit of one source video.
struct EditPlan {
  std::vector<Segment> segments;  // in source order
  std::string runningSummary{};
  std::optional<std::vector<std::string>> editorSuggestions{};  // the director's notes
  // Counts the edits that change the output; observers rebuild the preview when it moves.
  std::int64_t planRevision = 0;

  // Sum of the kept segments' shown seconds (removed pauses left out); 0 when nothing is kept.
  double keptDurationSec() const;
  // The segment with `id`, or null.
  Segment* segment(const Uuid& id);
  const Segment* segment(const Uuid& id) const;

  bool operator==(const EditPlan&) const = default;
};

}  // namespace brisklet
