#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/anthropic/AnthropicClient.h"
#include "model/EditPlan.h"

namespace brisklet::AIDirector {

// One clip of a Short.
struct HighlightClip {
  int sceneIndex = 0;         // position of the segment in the plan
  double startOffsetSec = 0;  // from the segment's start; never negative
  double durationSec = 0;     // more than 0.5

  bool operator==(const HighlightClip&) const = default;
};

// The plan as the model reads it, one line per segment:
// "Scene 3 [12.0–15.5s] keep=yes quality=73 activity=Brewing coffee: Pouring the first cup."
std::string sceneTable(const EditPlan& plan);

// "Director's notes": 3 to 6 editorial suggestions; empty when the model declines.
// Each call throws the client's errors, or JsonFieldError / JsonSyntaxError for an answer that
// does not decode.
std::vector<std::string> editorNotes(const EditPlan& plan, const AnthropicClient& client,
                                     const std::stop_token& stop);

// One of `candidates` (music file names) for the plan's mood; none when the model names nothing
// that is exactly one of them, or declines.
std::optional<std::string> pickMusic(const std::vector<std::string>& candidates,
                                     const EditPlan& plan, const AnthropicClient& client,
                                     const std::stop_token& stop);

// Clips for a vertical Short of about `targetSec` seconds, in the model's order; clips naming no
// segment or shorter than half a second are dropped. Empty when the model declines.
std::vector<HighlightClip> pickHighlights(const EditPlan& plan, double targetSec,
                                          const AnthropicClient& client,
                                          const std::stop_token& stop);

}  // namespace brisklet::AIDirector
