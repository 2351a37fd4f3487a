#pragma once

#include <string>

namespace brisklet {

// The model's reading of one scene, as the plan builder consumes it.
struct SceneAnalysis {
  // Position of the scene in the whole video's scene list, as the model echoed it.
  int sceneIndex = 0;
  std::string description;
  std::string activity;
  bool keep = true;
  std::string keepReason;
  // First-person narration; empty for none.
  std::string narration;
  double narrationStartOffsetSec = 0;

  bool operator==(const SceneAnalysis&) const = default;
};

}  // namespace brisklet
