#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/SceneAnalysis.h"

namespace brisklet::SceneAnalysisSchema {

// One scene of the model's answer, as it was written (the offset not yet clamped).
using SceneDTO = SceneAnalysis;

// The model's answer to one batch.
struct BatchResponse {
  std::vector<SceneDTO> scenes;
  std::string runningSummary;
};

// The output schema every batch request carries; built once.
const nlohmann::json& json();

// Strict: every key must be there with its type (unknown keys are ignored). Throws
// JsonSyntaxError for text that is not JSON and JsonFieldError for an answer that does not fit.
BatchResponse decode(std::string_view answer);

// The plan builder's record: the offset clamped to 0…600 s, the rest as written.
SceneAnalysis sceneAnalysis(const SceneDTO& scene);

}  // namespace brisklet::SceneAnalysisSchema
