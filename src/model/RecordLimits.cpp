#include "model/RecordLimits.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace brisklet {
namespace {

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// "1 segment", "3 segments".
std::string counted(int count, const std::string& singular, const std::string& plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// Each count of what was repaired, with its phrase.
struct Repairs {
  int clamped = 0, dropped = 0, emptied = 0, reordered = 0, narrationCut = 0, narrationTimes = 0,
      other = 0;

  std::string phrase() const {
    std::vector<std::string> parts;
    if (clamped > 0)
      parts.push_back(counted(clamped, "segment's times", "segments' times") + " clamped");
    if (dropped > 0)
      parts.push_back(counted(dropped, "segment", "segments") + " without finite times dropped");
    if (reordered > 0) parts.push_back("segments put in source order");
    if (emptied > 0)
      parts.push_back(counted(emptied, "segment", "segments") + " left empty dropped");
    if (narrationCut > 0)
      parts.push_back(counted(narrationCut, "narration line", "narration lines") + " cut to " +
                      std::to_string(kNarrationTextLimit) + " characters");
    if (narrationTimes > 0)
      parts.push_back(counted(narrationTimes, "narration time", "narration times") + " reset");
    if (other > 0) parts.push_back(counted(other, "other value", "other values") + " reset");
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
    return joined;
  }
};

// A finite number within [0, limit], or none.
bool within(double value, double limit) {
  return std::isfinite(value) && value >= 0 && value <= limit;
}

void repairNarration(NarrationClip& clip, double limitSec, Repairs& repairs) {
  if (characterCount(clip.text) > kNarrationTextLimit) {
    clip.text = cappedNarrationText(std::move(clip.text));
    ++repairs.narrationCut;
  }
  if (!within(clip.startOffsetSec, limitSec)) {
    clip.startOffsetSec = 0;
    ++repairs.narrationTimes;
  }
  if (clip.durationSec && !within(*clip.durationSec, limitSec)) {
    clip.durationSec.reset();
    ++repairs.narrationTimes;
  }
}

void repairScores(QualityScores& scores, Repairs& repairs) {
  for (double* score :
       {&scores.blur, &scores.exposure, &scores.shake, &scores.aesthetics, &scores.composite}) {
    const double kept = std::isfinite(*score) ? std::clamp(*score, 0.0, 1.0) : 0.0;
    if (kept != *score) ++repairs.other;
    *score = kept;
  }
}

// Boxes within the picture, of some size, in time order; a point that is not all numbers goes.
void repairFacePath(std::vector<FacePosition>& path, Repairs& repairs) {
  const size_t before = path.size();
  std::erase_if(path, [](const FacePosition& face) {
    return !(std::isfinite(face.timeSec) && std::isfinite(face.x) && std::isfinite(face.y) &&
             std::isfinite(face.width) && std::isfinite(face.height) && face.width > 0 &&
             face.height > 0);
  });
  bool changed = path.size() != before;
  for (FacePosition& face : path) {
    FacePosition held = face;
    held.width = std::min(face.width, 1.0);
    held.height = std::min(face.height, 1.0);
    held.x = std::clamp(face.x, 0.0, 1 - held.width);
    held.y = std::clamp(face.y, 0.0, 1 - held.height);
    changed = changed || held != face;
    face = held;
  }
  const auto byTime = [](const FacePosition& a, const FacePosition& b) {
    return a.timeSec < b.timeSec;
  };
  if (!std::is_sorted(path.begin(), path.end(), byTime)) {
    std::stable_sort(path.begin(), path.end(), byTime);
    changed = true;
  }
  if (changed) ++repairs.other;
}

void unsetUnlessFinite(std::optional<double>& value, Repairs& repairs) {
  if (value && !std::isfinite(*value)) {
    value.reset();
    ++repairs.other;
  }
}

}  // namespace

std::vector<SourceSpan> heldPauses(std::vector<SourceSpan> pauses) {
  std::erase_if(pauses, [](const SourceSpan& pause) {
    return !(std::isfinite(pause.startSec) && std::isfinite(pause.endSec) &&
             pause.endSec > pause.startSec);
  });
  std::stable_sort(pauses.begin(), pauses.end(), [](const SourceSpan& a, const SourceSpan& b) {
    return a.startSec < b.startSec;
  });
  std::vector<SourceSpan> held;
  for (const SourceSpan& pause : pauses) {
    if (!held.empty() && pause.startSec <= held.back().endSec)
      held.back().endSec = std::max(held.back().endSec, pause.endSec);
    else
      held.push_back(pause);
  }
  return held;
}

std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char byte) { return !isContinuationByte(byte); }));
}

std::string cappedNarrationText(std::string text) {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (isContinuationByte(text[at])) continue;
    if (characters == kNarrationTextLimit) {
      text.resize(at);
      break;
    }
    ++characters;
  }
  return text;
}

std::string storedNarrationText(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char byte) {
        return (static_cast<unsigned char>(byte) < 0x20 && byte != '\n') || byte == 0x7F;
      },
      ' ');
  return cappedNarrationText(std::move(text));
}

std::string repairLoadedRecord(Project& project) {
  Repairs repairs;
  if (!within(project.videoDurationSec, std::numeric_limits<double>::max())) {
    project.videoDurationSec = 0;
    ++repairs.other;
  }
  // A length of 0 is not known (an old record): times are then only kept finite and in order.
  const double limitSec =
      project.videoDurationSec > 0 ? project.videoDurationSec : std::numeric_limits<double>::max();
  unsetUnlessFinite(project.musicVolumePercent, repairs);
  unsetUnlessFinite(project.audioGainPercent, repairs);
  if (!project.editPlan) return repairs.phrase();

  std::vector<Segment>& segments = project.editPlan->segments;
  std::erase_if(segments, [&](const Segment& segment) {
    const bool finite = std::isfinite(segment.startSec) && std::isfinite(segment.endSec);
    if (!finite) ++repairs.dropped;
    return !finite;
  });
  // Segments are in source order; a record that lists them otherwise is put in order.
  if (!std::is_sorted(segments.begin(), segments.end(),
                      [](const Segment& a, const Segment& b) { return a.startSec < b.startSec; })) {
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.startSec < b.startSec; });
    ++repairs.reordered;
  }
  double previousEndSec = 0;
  std::erase_if(segments, [&](Segment& segment) {
    const double startSec = std::clamp(segment.startSec, previousEndSec, limitSec);
    const double endSec = std::clamp(segment.endSec, startSec, limitSec);
    if (endSec <= startSec) {
      ++repairs.emptied;
      return true;
    }
    if (startSec != segment.startSec || endSec != segment.endSec) ++repairs.clamped;
    segment.startSec = startSec;
    segment.endSec = endSec;
    previousEndSec = endSec;
    if (segment.narration) repairNarration(*segment.narration, limitSec, repairs);
    if (segment.quality) repairScores(*segment.quality, repairs);
    repairFacePath(segment.facePath, repairs);
    if (std::vector<SourceSpan> pauses = heldPauses(segment.removedPauses);
        pauses != segment.removedPauses) {
      segment.removedPauses = std::move(pauses);
      ++repairs.other;
    }
    return false;
  });
  return repairs.phrase();
}

}  // namespace brisklet
