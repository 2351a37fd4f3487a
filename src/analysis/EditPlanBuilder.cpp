#include "analysis/EditPlanBuilder.h"

#include <algorithm>

#include "model/RecordLimits.h"

namespace brisklet::EditPlanBuilder {
namespace {

// Boundary points closer than this to the previous one are the same point.
constexpr double kDuplicatePointSec = 0.01;

bool isTooBlurry(const QualityScores& quality) { return quality.blur < kBlurThreshold; }

}  // namespace

std::vector<Segment> buildSegments(const std::vector<double>& boundariesSec, double durationSec) {
  if (!(durationSec > 0)) return {};
  std::vector<double> points{0.0};
  for (const double cut : boundariesSec)
    if (cut > 0 && cut < durationSec) points.push_back(cut);
  points.push_back(durationSec);
  std::stable_sort(points.begin(), points.end());

  std::vector<double> distinct;
  for (const double point : points)
    if (distinct.empty() || point - distinct.back() > kDuplicatePointSec) distinct.push_back(point);

  std::vector<Segment> segments;
  for (size_t index = 1; index < distinct.size(); ++index) {
    const double start = distinct[index - 1];
    const double end = distinct[index];
    if (end - start < kMinimumSegmentSec && !segments.empty()) {
      segments.back().endSec = end;
      continue;
    }
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = start;
    segment.endSec = end;
    segments.push_back(std::move(segment));
  }
  if (segments.size() >= 2 && segments.front().durationSec() < kMinimumSegmentSec) {
    segments[1].startSec = segments.front().startSec;
    segments.erase(segments.begin());
  }
  return segments;
}

std::vector<Segment> applyQuality(const std::map<Uuid, QualityScores>& scores,
                                  std::vector<Segment> segments) {
  for (Segment& segment : segments) {
    const auto found = scores.find(segment.id);
    if (found == scores.end()) continue;
    const QualityScores& quality = found->second;
    segment.quality = quality;
    if (isTooBlurry(quality) || quality.composite < kCompositeThreshold) {
      segment.keep = false;
      segment.keepReason = isTooBlurry(quality) ? kTooBlurryReason : kLowQualityReason;
    }
  }
  return segments;
}

std::vector<Segment> applySceneAnalysis(const std::vector<SceneAnalysis>& analyses,
                                        std::vector<Segment> segments) {
  for (const SceneAnalysis& analysis : analyses) {
    if (analysis.sceneIndex < 0 || static_cast<size_t>(analysis.sceneIndex) >= segments.size())
      continue;
    Segment& segment = segments[static_cast<size_t>(analysis.sceneIndex)];
    segment.sceneDescription = analysis.description;
    segment.activity = analysis.activity;
    segment.keepReason = analysis.keepReason;
    if (!segment.userOverrodeKeep) {
      if (segment.quality && isTooBlurry(*segment.quality)) {
        segment.keep = false;
        segment.keepReason = kTooBlurryReason;
      } else {
        segment.keep = analysis.keep;
      }
    }
    if (analysis.narration.empty()) continue;
    if (segment.narration && segment.narration->userEditedText) {
      segment.narration->startOffsetSec = analysis.narrationStartOffsetSec;
    } else {
      NarrationClip clip;
      clip.text = storedNarrationText(analysis.narration);
      clip.startOffsetSec = std::max(0.0, analysis.narrationStartOffsetSec);
      clip.status = NarrationStatus::pendingAudio;
      segment.narration = std::move(clip);
    }
  }
  return segments;
}

}  // namespace brisklet::EditPlanBuilder
