#pragma once

#include <map>
#include <vector>

#include "analysis/SceneAnalysis.h"
#include "model/EditPlan.h"

namespace brisklet::EditPlanBuilder {

// Segments shorter than this are merged into a neighbour.
inline constexpr double kMinimumSegmentSec = 1.5;
// Scenes scoring below these are cut.
inline constexpr double kCompositeThreshold = 0.35;
inline constexpr double kBlurThreshold = 0.15;

inline constexpr const char* kTooBlurryReason = "Too blurry to use";
inline constexpr const char* kLowQualityReason = "Low visual quality";

// Kept segments covering 0…durationSec without gaps, cut at the boundaries that lie inside the
// video; pieces shorter than the minimum join their neighbour. Empty when durationSec ≤ 0.
std::vector<Segment> buildSegments(const std::vector<double>& boundariesSec, double durationSec);

// Sets each segment's scores and cuts the unusable ones (blur first, then the composite).
std::vector<Segment> applyQuality(const std::map<Uuid, QualityScores>& scores,
                                  std::vector<Segment> segments);

// Writes the model's descriptions, decisions and narration into the segments it names. A blurred
// scene stays cut whatever the model says; a keep decision the user made stays; narration the
// user edited stays, only moved to the model's offset.
std::vector<Segment> applySceneAnalysis(const std::vector<SceneAnalysis>& analyses,
                                        std::vector<Segment> segments);

}  // namespace brisklet::EditPlanBuilder
