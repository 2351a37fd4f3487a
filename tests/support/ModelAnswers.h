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

// Retries without waiting.
inline AnthropicClient::Pauses noPauses() {
  return {.wait = [](auto, const std::stop_token&) {}, .jitter = [] { return 0.0; }};
}

}  // namespace brisklet::testing
