#include "analysis/anthropic/AnthropicClient.h"

#include <cmath>
#include <cstdlib>
#include <random>

#include "platform/Cancellation.h"
#include "platform/HttpClient.h"
#include "platform/JsonReader.h"

namespace brisklet {
namespace {

constexpr int kAttempts = 3;
constexpr const char* kApiVersion = "2023-06-01";

bool isRetriedStatus(long status) { return status == 429 || status >= 500; }

// "retry-after" as a decimal number of seconds; none when absent or not a number.
std::optional<double> retryAfterSec(const HttpResponse& response) {
  const auto header = response.headers.find("retry-after");
  if (header == response.headers.end() || header->second.empty()) return std::nullopt;
  char* end = nullptr;
  const double seconds = std::strtod(header->second.c_str(), &end);
  if (end != header->second.c_str() + header->second.size() || !std::isfinite(seconds) ||
      seconds < 0)
    return std::nullopt;
  return seconds;
}

std::string errorMessage(const HttpResponse& response) {
  try {
    const JsonDocument document = JsonDocument::parse(response.body);
    if (document.root().isObject())
      if (const auto error = document.root().find("error"); error && error->isObject())
        if (const auto message = error->find("message"); message && message->isString())
          return std::string(message->string());
  } catch (const JsonSyntaxError&) {
    // Not JSON: the status says it all.
  }
  return "HTTP " + std::to_string(response.status);
}

AnthropicClient::Completion parseCompletion(const std::string& body) {
  const JsonDocument document = JsonDocument::parse(body);
  const JsonValue root = document.root();
  if (!root.isObject()) throw AnthropicAPIError(200, "Unparseable response body");
  AnthropicClient::Completion completion;
  if (const auto stopReason = root.find("stop_reason"); stopReason && stopReason->isString())
    completion.stopReason = std::string(stopReason->string());
  if (const auto content = root.find("content"); content && content->isArray()) {
    for (const JsonValue block : *content) {
      if (!block.isObject()) continue;
      const auto type = block.find("type");
      const auto text = block.find("text");
      if (type && type->isString() && type->string() == "text" && text && text->isString())
        completion.text += text->string();
    }
  }
  return completion;
}

}  // namespace

AnthropicAPIError::AnthropicAPIError(int statusCode, std::string message)
    : std::runtime_error("Claude API error (" + std::to_string(statusCode) + "): " + message),
      statusCode_(statusCode),
      message_(std::move(message)) {}

AnthropicClient::Pauses AnthropicClient::realPauses() {
  return {.wait = waitUnlessStopped,
          .jitter =
              [] {
                thread_local std::mt19937 generator{std::random_device{}()};
                return std::uniform_real_distribution<double>(0.0, 0.5)(generator);
              }};
}

AnthropicClient::AnthropicClient(std::string apiKey, std::string model, Pauses pauses)
    : apiKey_(std::move(apiKey)), model_(std::move(model)), pauses_(std::move(pauses)) {
  const char* configured = std::getenv("BRISKLET_ANTHROPIC_BASE_URL");
  baseAddress_ = configured != nullptr && *configured != '\0' ? configured : kDefaultBaseAddress;
  while (baseAddress_.ends_with('/')) baseAddress_.pop_back();
}

AnthropicClient::Completion AnthropicClient::complete(
    const nlohmann::json& system, const nlohmann::json& messages,
    const std::optional<nlohmann::json>& outputSchema, int maxTokens,
    const std::stop_token& stop) const {
  nlohmann::json body = {
      {"model", model_}, {"max_tokens", maxTokens}, {"system", system}, {"messages", messages}};
  if (outputSchema)
    body["output_config"] = {{"format", {{"type", "json_schema"}, {"schema", *outputSchema}}}};
  HttpRequest request;
  request.url = baseAddress_ + "/v1/messages";
  request.headers = {{"content-type", "application/json"},
                     {"x-api-key", apiKey_},
                     {"anthropic-version", kApiVersion}};
  request.body = body.dump();  // throws on text that is not UTF-8, before anything is sent

  AnthropicAPIError lastError(0, "No attempts made");
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const auto backOff = std::chrono::duration<double>(std::pow(2.0, attempt));
    HttpResponse response;
    try {
      response = sendHttpRequest(request, stop);
      if (response.status == 200) return parseCompletion(response.body);
    } catch (const AnthropicAPIError&) {
      throw;
    } catch (const Cancelled&) {
      throw;
    } catch (const std::exception&) {
      if (attempt == kAttempts) throw;
      pauses_.wait(backOff, stop);
      continue;
    }
    lastError = AnthropicAPIError(static_cast<int>(response.status), errorMessage(response));
    if (!isRetriedStatus(response.status) || attempt == kAttempts) throw lastError;
    const std::optional<double> retryAfter = retryAfterSec(response);
    pauses_.wait(retryAfter ? std::chrono::duration<double>(*retryAfter)
                            : backOff + std::chrono::duration<double>(pauses_.jitter()),
                 stop);
  }
  throw lastError;
}

}  // namespace brisklet
