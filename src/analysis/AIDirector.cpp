#include "analysis/AIDirector.h"

#include <algorithm>
#include <cmath>

#include "platform/JsonFields.h"
#include "platform/NumberText.h"

namespace brisklet {

namespace AIDirector {

// The answer's clip as written.
struct ClipAnswer {
  std::int64_t sceneIndex = 0;
  double startOffsetSec = 0;
  double durationSec = 0;
};

void decode(const JsonValue& object, ClipAnswer& clip) {
  clip.sceneIndex = json_fields::required<std::int64_t>(object, "scene_index");
  clip.startOffsetSec = json_fields::required<double>(object, "start_offset_sec");
  clip.durationSec = json_fields::required<double>(object, "duration_sec");
}

}  // namespace AIDirector

template <>
std::vector<AIDirector::ClipAnswer> json_fields::read(const JsonValue& value, const char* key) {
  return readList<AIDirector::ClipAnswer>(value, key);
}

namespace AIDirector {
namespace {

using nlohmann::json;

// One request: a plain system prompt, the prompt as the one user message, a schema.
std::optional<std::string> ask(const AnthropicClient& client, const char* system,
                               const std::string& prompt, const json& schema, int maxTokens,
                               const std::stop_token& stop) {
  const auto completion = client.complete(json::array({{{"type", "text"}, {"text", system}}}),
                                          json::array({{{"role", "user"}, {"content", prompt}}}),
                                          schema, maxTokens, stop);
  if (completion.stopReason == "refusal") return std::nullopt;
  return completion.text;
}

json objectSchema(const char* required, json property) {
  return {{"type", "object"},
          {"additionalProperties", false},
          {"required", {required}},
          {"properties", {{required, std::move(property)}}}};
}

// The answer's top-level object, whose fields the caller reads before `document` goes.
JsonValue answerObject(const JsonDocument& document) {
  if (!document.root().isObject()) json_fields::wrongType("answer", "an object");
  return document.root();
}

}  // namespace

std::string sceneTable(const EditPlan& plan) {
  std::string table;
  for (size_t index = 0; index < plan.segments.size(); ++index) {
    const Segment& segment = plan.segments[index];
    if (index > 0) table += "\n";
    table += "Scene " + std::to_string(index) + " [" + fixedPoint(segment.startSec, 1) + "\u2013" +
             fixedPoint(segment.endSec, 1) + "s] keep=" + (segment.keep ? "yes" : "no") +
             " quality=" +
             (segment.quality ? fixedPoint(segment.quality->composite * 100, 0) : "\u2013") +
             " activity=" + segment.activity.value_or("?") + ": " +
             segment.sceneDescription.value_or("unanalyzed");
  }
  return table;
}

std::vector<std::string> editorNotes(const EditPlan& plan, const AnthropicClient& client,
                                     const std::stop_token& stop) {
  static const json schema =
      objectSchema("notes", {{"type", "array"},
                             {"items", {{"type", "string"}}},
                             {"description", "3-6 short, actionable editorial suggestions."}});
  const std::string prompt =
      "You are reviewing the scene list of a first-person vlog edit. Story so far: " +
      plan.runningSummary + "\n\n" + sceneTable(plan) +
      "\n\nGive 3-6 short, concrete editorial suggestions a vlogger can act on: better scene "
      "ordering (e.g. \"Scene 4's coffee shot would land better before the doorway in scene "
      "2\"), missing shots worth filming (\"you need a closing shot\"), pacing issues (too many "
      "similar scenes in a row), and anything hurting the story. Refer to scenes by their number "
      "and time.";
  const auto answer =
      ask(client, "You are a sharp, encouraging vlog editor.", prompt, schema, 4000, stop);
  if (!answer) return {};
  const JsonDocument document = JsonDocument::parse(*answer);
  return json_fields::required<std::vector<std::string>>(answerObject(document), "notes");
}

std::optional<std::string> pickMusic(const std::vector<std::string>& candidates,
                                     const EditPlan& plan, const AnthropicClient& client,
                                     const std::stop_token& stop) {
  static const json schema = {
      {"type", "object"},
      {"additionalProperties", false},
      {"required", {"file_name", "why"}},
      {"properties",
       {{"file_name",
         {{"type", "string"},
          {"description", "Exactly one file name from the list, or empty string if none fit."}}},
        {"why", {{"type", "string"}}}}}};
  std::string names;
  for (const std::string& candidate : candidates) names += (names.empty() ? "" : "\n") + candidate;
  const std::string prompt =
      "A vlog needs a background music bed. Vlog summary: " + plan.runningSummary +
      "\n\nScenes:\n" + sceneTable(plan) +
      "\n\nAvailable tracks (royalty-free, judged by file name only):\n" + names +
      "\n\nPick the single best-matching track for the vlog's mood and pace.";
  const auto answer =
      ask(client, "You are a music supervisor for vlogs.", prompt, schema, 1000, stop);
  if (!answer) return std::nullopt;
  const JsonDocument document = JsonDocument::parse(*answer);
  const std::string chosen =
      json_fields::required<std::string>(answerObject(document), "file_name");
  if (std::find(candidates.begin(), candidates.end(), chosen) == candidates.end())
    return std::nullopt;
  return chosen;
}

std::vector<HighlightClip> pickHighlights(const EditPlan& plan, double targetSec,
                                          const AnthropicClient& client,
                                          const std::stop_token& stop) {
  static const json schema = objectSchema(
      "clips",
      {{"type", "array"},
       {"items",
        {{"type", "object"},
         {"additionalProperties", false},
         {"required", {"scene_index", "start_offset_sec", "duration_sec"}},
         {"properties",
          {{"scene_index", {{"type", "integer"}}},
           {"start_offset_sec",
            {{"type", "number"}, {"description", "Seconds into the scene where the clip starts."}}},
           {"duration_sec", {{"type", "number"}}}}}}}});
  const std::string target =
      std::to_string(static_cast<long long>(std::clamp(std::trunc(targetSec), -1e15, 1e15)));
  const std::string prompt =
      "Build a " + target +
      "-second vertical Short from this vlog \u2014 the absolute best moments only, cut fast "
      "(clips of 2-6 seconds each), chronological order, totaling as close to " +
      target + " seconds as possible.\n\nVlog summary: " + plan.runningSummary + "\n\nScenes:\n" +
      sceneTable(plan);
  const auto answer =
      ask(client, "You edit viral vertical Shorts from vlog footage.", prompt, schema, 4000, stop);
  if (!answer) return {};
  const JsonDocument document = JsonDocument::parse(*answer);
  std::vector<HighlightClip> clips;
  for (const ClipAnswer& clip :
       json_fields::required<std::vector<ClipAnswer>>(answerObject(document), "clips")) {
    if (clip.sceneIndex < 0 || clip.sceneIndex >= static_cast<std::int64_t>(plan.segments.size()) ||
        !(clip.durationSec > 0.5))
      continue;
    clips.push_back({.sceneIndex = static_cast<int>(clip.sceneIndex),
                     .startOffsetSec = std::max(0.0, clip.startOffsetSec),
                     .durationSec = clip.durationSec});
  }
  return clips;
}

}  // namespace AIDirector
}  // namespace brisklet
