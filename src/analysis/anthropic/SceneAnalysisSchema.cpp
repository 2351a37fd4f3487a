#include "analysis/anthropic/SceneAnalysisSchema.h"

#include <algorithm>
#include <limits>

#include "platform/JsonFields.h"

namespace brisklet {

// One scene of the answer, as written; found by the field readers through its argument types.
void decode(const JsonValue& object, SceneAnalysis& scene) {
  using json_fields::required;
  const std::int64_t index = required<std::int64_t>(object, "scene_index");
  if (index < std::numeric_limits<int>::min() || index > std::numeric_limits<int>::max())
    json_fields::wrongType("scene_index", "a scene index");
  scene.sceneIndex = static_cast<int>(index);
  scene.description = required<std::string>(object, "description");
  scene.activity = required<std::string>(object, "activity");
  scene.keep = required<bool>(object, "keep");
  scene.keepReason = required<std::string>(object, "keep_reason");
  scene.narration = required<std::string>(object, "narration");
  scene.narrationStartOffsetSec = required<double>(object, "narration_start_offset_sec");
}

// Lists of scenes read through the scene's own decode.
template <>
std::vector<SceneAnalysisSchema::SceneDTO> json_fields::read(const JsonValue& value,
                                                             const char* key) {
  return readList<SceneAnalysisSchema::SceneDTO>(value, key);
}

namespace SceneAnalysisSchema {

const nlohmann::json& json() {
  static const nlohmann::json schema = [] {
    const auto property = [](const char* type, const char* description) {
      return nlohmann::json{{"type", type}, {"description", description}};
    };
    const nlohmann::json scene = {
        {"type", "object"},
        {"additionalProperties", false},
        {"required",
         {"scene_index", "description", "activity", "keep", "keep_reason", "narration",
          "narration_start_offset_sec"}},
        {"properties",
         {{"scene_index", property("integer", "Echo the scene index given in the prompt.")},
          {"description",
           property("string", "One or two sentences describing what is happening on screen.")},
          {"activity", property("string", "2-4 word activity label, e.g. 'Brewing coffee'.")},
          {"keep", property("boolean", "Whether this scene belongs in the final edit.")},
          {"keep_reason", property("string", "Short editor's rationale for keeping or cutting.")},
          {"narration",
           property("string",
                    "First-person vlog narration for this scene, or empty string for none.")},
          {"narration_start_offset_sec",
           property("number", "Seconds into the scene where narration should start.")}}}};
    return nlohmann::json{
        {"type", "object"},
        {"additionalProperties", false},
        {"required", {"scenes", "running_summary"}},
        {"properties",
         {{"running_summary",
           property("string",
                    "One-paragraph summary of the story so far, including these scenes. Carried "
                    "into the next batch for narrative continuity.")},
          {"scenes", {{"type", "array"}, {"items", scene}}}}}};
  }();
  return schema;
}

BatchResponse decode(std::string_view answer) {
  const JsonDocument document = JsonDocument::parse(answer);
  const JsonValue root = document.root();
  if (!root.isObject()) json_fields::wrongType("answer", "an object");
  BatchResponse response;
  response.scenes = json_fields::required<std::vector<SceneDTO>>(root, "scenes");
  response.runningSummary = json_fields::required<std::string>(root, "running_summary");
  return response;
}

SceneAnalysis sceneAnalysis(const SceneDTO& scene) {
  SceneAnalysis analysis = scene;
  analysis.narrationStartOffsetSec = std::clamp(scene.narrationStartOffsetSec, 0.0, 600.0);
  return analysis;
}

}  // namespace SceneAnalysisSchema

}  // namespace brisklet
