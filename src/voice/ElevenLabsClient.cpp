#include "voice/ElevenLabsClient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/AtomicFile.h"
#include "platform/Cancellation.h"
#include "platform/HttpClient.h"
#include "platform/JsonReader.h"
#include "platform/Utf8.h"

namespace brisklet {
namespace {

constexpr int kAttempts = 3;
constexpr const char* kModel = "eleven_multilingual_v2";
constexpr const char* kOutputFormat = "mp3_44100_128";
constexpr std::chrono::seconds kLongTimeout{300};
constexpr std::chrono::seconds kListTimeout{60};
constexpr size_t kErrorTextBytes = 300;

// Which failures an attempt may be repeated after.
enum class Repeatable {
  always,         // reading: transport failures, 429 and 5xx
  neverTwiceSent  // creating: only what certainly did not arrive, and 429 and 503
};

// The error text of an answer's body: detail.message, or detail when it is a string; for a body
// that is not JSON, its first 300 bytes when they are plain text (a web page of a proxy or an
// outage says nothing a person can read in a status line, so it is left out).
std::string errorText(const std::string& body) {
  try {
    const JsonDocument document = JsonDocument::parse(body);
    const JsonValue root = document.root();
    if (!root.isObject()) return {};
    const auto detail = root.find("detail");
    if (!detail) return {};
    if (detail->isString()) return std::string(detail->string());
    if (detail->isObject())
      if (const auto message = detail->find("message"); message && message->isString())
        return std::string(message->string());
    return {};
  } catch (const JsonSyntaxError&) {
    const std::string start = body.substr(0, kErrorTextBytes);
    const bool markup = start.find('<') != std::string::npos;
    return isValidUtf8(start) && !markup ? start : std::string();
  }
}

// The JSON of a 2xx answer; one that is not JSON is the service's error, not a reader's.
JsonDocument parseAnswer(const std::string& body) {
  try {
    return JsonDocument::parse(body);
  } catch (const JsonSyntaxError&) {
    throw ElevenLabsAPIError(200, "The answer was not the JSON the API sends.");
  }
}

}  // namespace

ElevenLabsAPIError::ElevenLabsAPIError(int statusCode, std::string message)
    : std::runtime_error("ElevenLabs error (" + std::to_string(statusCode) + "): " + message),
      statusCode_(statusCode),
      message_(std::move(message)) {}

bool isValidVoiceID(const std::string& voiceID) {
  return !voiceID.empty() && std::all_of(voiceID.begin(), voiceID.end(), [](char letter) {
    return (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
           (letter >= '0' && letter <= '9') || letter == '_' || letter == '-';
  });
}

ElevenLabsClient::Surroundings ElevenLabsClient::realSurroundings() {
  return {.wait = waitUnlessStopped, .newUuid = Uuid::random};
}

ElevenLabsClient::ElevenLabsClient(std::string apiKey, Surroundings surroundings)
    : apiKey_(std::move(apiKey)), surroundings_(std::move(surroundings)) {
  const char* configured = std::getenv("BRISKLET_ELEVENLABS_BASE_URL");
  baseAddress_ = configured != nullptr && *configured != '\0' ? configured : kDefaultBaseAddress;
  while (baseAddress_.ends_with('/')) baseAddress_.pop_back();
}

namespace {

// Sends `request` up to three times, waiting 1 s and then 2 s between attempts; returns the
// body of a 2xx answer. A cancellation ends at once.
std::string send(const HttpRequest& request, Repeatable repeatable,
                 const ElevenLabsClient::Surroundings& surroundings, const std::stop_token& stop) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const auto backOff = std::chrono::duration<double>(std::pow(2.0, attempt));
    const bool lastAttempt = attempt == kAttempts - 1;
    HttpResponse response;
    try {
      response = sendHttpRequest(request, stop);
    } catch (const HttpTransportError& failure) {
      if (lastAttempt || (repeatable == Repeatable::neverTwiceSent && failure.requestSent())) throw;
      surroundings.wait(backOff, stop);
      continue;
    }
    if (response.status >= 200 && response.status <= 299) return std::move(response.body);
    std::string message = errorText(response.body);
    if (message.empty()) message = "HTTP " + std::to_string(response.status);
    const ElevenLabsAPIError error(static_cast<int>(response.status), std::move(message));
    const bool retried = repeatable == Repeatable::always
                             ? response.status == 429 || response.status >= 500
                             : response.status == 429 || response.status == 503;
    if (!retried || lastAttempt) throw error;
    surroundings.wait(backOff, stop);
  }
  throw ElevenLabsAPIError(0, "No attempts made");
}

}  // namespace

std::vector<ElevenLabsClient::VoiceInfo> ElevenLabsClient::listVoices(
    const std::stop_token& stop) const {
  HttpRequest request;
  request.method = "GET";
  request.url = baseAddress_ + "/v1/voices";
  request.headers = {{"xi-api-key", apiKey_}};
  request.timeout = kListTimeout;
  const std::string body = send(request, Repeatable::always, surroundings_, stop);
  const JsonDocument document = parseAnswer(body);
  std::vector<VoiceInfo> voices;
  const JsonValue root = document.root();
  if (!root.isObject()) return voices;
  const auto list = root.find("voices");
  if (!list || !list->isArray()) return voices;
  for (const JsonValue voice : *list) {
    if (!voice.isObject()) return {};  // not a list of objects: nothing to show
    const auto id = voice.find("voice_id");
    const auto name = voice.find("name");
    if (!id || !id->isString() || !name || !name->isString()) continue;
    const auto category = voice.find("category");
    voices.push_back({std::string(id->string()), std::string(name->string()),
                      category && category->isString() ? std::string(category->string())
                                                       : std::string("premade")});
  }
  return voices;
}

std::string ElevenLabsClient::createVoice(const std::string& name,
                                          const std::filesystem::path& sample,
                                          const std::stop_token& stop) const {
  const std::string sampleBytes = readFile(sample);
  const std::string boundary = "quorrel-" + surroundings_.newUuid().text();
  const auto field = [&](const std::string& fieldName, const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + fieldName +
           "\"\r\n\r\n" + value + "\r\n";
  };
  std::string body = field("name", name) + field("remove_background_noise", "true");
  body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"files\"; filename=\"" +
          sample.filename().string() + "\"\r\nContent-Type: audio/wav\r\n\r\n";
  body += sampleBytes;
  body += "\r\n--" + boundary + "--\r\n";

  HttpRequest request;
  request.url = baseAddress_ + "/v1/voices/add";
  request.headers = {{"xi-api-key", apiKey_},
                     {"Content-Type", "multipart/form-data; boundary=" + boundary}};
  request.body = std::move(body);
  request.timeout = kLongTimeout;
  const std::string answer = send(request, Repeatable::neverTwiceSent, surroundings_, stop);
  const JsonDocument document = parseAnswer(answer);
  if (document.root().isObject())
    if (const auto id = document.root().find("voice_id"); id && id->isString())
      return std::string(id->string());
  throw ElevenLabsAPIError(200, "No voice_id in response");
}

std::string ElevenLabsClient::textToSpeech(const std::string& voiceID, const std::string& text,
                                           const std::stop_token& stop) const {
  if (!isValidVoiceID(voiceID)) throw ElevenLabsAPIError(0, "The voice id is not a voice id.");
  HttpRequest request;
  request.url = baseAddress_ + "/v1/text-to-speech/" + voiceID + "?output_format=" + kOutputFormat;
  request.headers = {{"xi-api-key", apiKey_}, {"Content-Type", "application/json"}};
  request.body =
      nlohmann::json{{"text", text},
                     {"model_id", kModel},
                     {"voice_settings", {{"stability", 0.5}, {"similarity_boost", 0.75}}}}
          .dump();
  request.timeout = kLongTimeout;
  std::string audio = send(request, Repeatable::always, surroundings_, stop);
  // A gateway's page or an error object sent with 200 is no speech.
  if (const size_t first = audio.find_first_not_of(" \t\r\n");
      first != std::string::npos && (audio[first] == '<' || audio[first] == '{'))
    throw ElevenLabsAPIError(200, "The answer was not audio.");
  return audio;
}

}  // namespace brisklet
