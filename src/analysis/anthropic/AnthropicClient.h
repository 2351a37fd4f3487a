#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace brisklet {

// An answer of the Messages API that is not a usable completion, or the model declining.
// what() is the sentence users see: "Claude API error (401): invalid x-api-key".
class AnthropicAPIError : public std::runtime_error {
 public:
  AnthropicAPIError(int statusCode, std::string message);
  int statusCode() const { return statusCode_; }
  const std::string& message() const { return message_; }

 private:
  int statusCode_;
  std::string message_;
};

// The one gateway to the language model: a request to the Messages API, retried on transport
// failures, 429 and 5xx, at most three attempts.
class AnthropicClient {
 public:
  struct Completion {
    std::string text;  // the answer's text blocks, joined
    std::optional<std::string> stopReason;
  };

  // What waiting between attempts is made of; tests put in their own.
  struct Pauses {
    // Waits `duration` on a monotonic clock; throws Cancelled when `stop` is requested meanwhile.
    std::function<void(std::chrono::duration<double> duration, const std::stop_token& stop)> wait;
    // A uniformly random extra wait in [0, 0.5] seconds.
    std::function<double()> jitter;
  };
  static Pauses realPauses();

  inline static const char* const kDefaultBaseAddress = "https://api.anthropic.com";

  // The base address comes from BRISKLET_ANTHROPIC_BASE_URL, else the public API.
  AnthropicClient(std::string apiKey, std::string model, Pauses pauses = realPauses());

  // `system` and `messages` are lists of Messages API objects; with `outputSchema` the answer is
  // constrained to that JSON schema. Throws AnthropicAPIError, HttpTransportError,
  // JsonSyntaxError (an answer that is not JSON, after three attempts) or Cancelled.
  Completion complete(const nlohmann::json& system, const nlohmann::json& messages,
                      const std::optional<nlohmann::json>& outputSchema, int maxTokens,
                      const std::stop_token& stop) const;

  const std::string& model() const { return model_; }

 private:
  std::string apiKey_;
  std::string model_;
  std::string baseAddress_;
  Pauses pauses_;
};

}  // namespace brisklet
