#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "analysis/anthropic/AnthropicClient.h"
#include "support/FakeService.h"

namespace brisklet::testing {

// A Messages API answer whose one text block is `text`.
inline ScriptedResponse modelAnswer(const std::string& text,
                                    const std::string& stopReason = "end_turn") {
  return {.body = nlohmann::json{{"content", {{{"type", "text"}, {"text", text}}}},
                                 {"stop_reason", stopReason}}
                      .dump()};
}

// An answer without content that stopped for `stopReason` ("refusal", "max_tokens").
inline ScriptedResponse modelStopped(const std::string& stopReason) {
  return {
      .body =
          nlohmann::json{{"content", nlohmann::json::array()}, {"stop_reason", stopReason}}.dump()};
}

// The model's answer text for scenes 0…count-1, keeping each one and narrating the first.
// Answers for scenes a video does not have are left unused.
inline std::string sceneAnswers(int count) {
  nlohmann::json answer = {{"running_summary", "A test card, a wall, the bars."},
                           {"scenes", nlohmann::json::array()}};
  for (int index = 0; index < count; ++index)
    answer["scenes"].push_back({{"scene_index", index},
                                {"description", "Scene " + std::to_string(index)},
                                {"activity", "testing"},
                                {"keep", true},
                                {"keep_reason", "worth it"},
                                {"narration", index == 0 ? "Here we go." : ""},
                                {"narration_start_offset_sec", 0.5}});
  return answer.dump();
}

// Retries without waiting.
inline AnthropicClient::Pauses noPauses() {
  return {.wait = [](auto, const std::stop_token&) {}, .jitter = [] { return 0.0; }};
}

}  // namespace brisklet::testing
