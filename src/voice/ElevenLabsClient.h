#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "model/Uuid.h"

namespace brisklet {

// An answer of the ElevenLabs API that is not what was asked for. what() is the sentence users
// see: "ElevenLabs error (401): Invalid API key".
class ElevenLabsAPIError : public std::runtime_error {
 public:
  ElevenLabsAPIError(int statusCode, std::string message);
  int statusCode() const { return statusCode_; }
  const std::string& message() const { return message_; }

 private:
  int statusCode_;
  std::string message_;
};

// A voice id that cannot be one (it goes into a URL path): only letters, digits, "_" and "-".
bool isValidVoiceID(const std::string& voiceID);

// The one gateway to the speech service: the account's voices, a new cloned voice from a
// recorded sample, a line of text spoken as MP3. Holds the key; any thread may use it.
class ElevenLabsClient {
 public:
  struct VoiceInfo {
    std::string id;
    std::string name;
    std::string category;  // "premade" when the service gives none
    bool operator==(const VoiceInfo&) const = default;
  };

  // What the client needs from its surroundings; tests put in their own.
  struct Surroundings {
    // Waits between attempts; throws Cancelled when `stop` is requested meanwhile.
    std::function<void(std::chrono::duration<double>, const std::stop_token&)> wait;
    // The identity in each upload's multipart boundary.
    std::function<Uuid()> newUuid;
  };
  static Surroundings realSurroundings();

  inline static const char* const kDefaultBaseAddress = "https://api.elevenlabs.io";

  // The base address comes from BRISKLET_ELEVENLABS_BASE_URL, else the public API.
  explicit ElevenLabsClient(std::string apiKey, Surroundings surroundings = realSurroundings());

  // The account's voices in the service's order. Throws ElevenLabsAPIError, HttpTransportError,
  // JsonSyntaxError, Cancelled.
  std::vector<VoiceInfo> listVoices(const std::stop_token& stop = {}) const;
  // A new instant clone named `name` from the WAV at `sample`; its voice id. A request that may
  // have reached the service is not repeated (it could make a second clone), except after 429
  // and 503. Throws as listVoices, and FileError when the sample cannot be read.
  std::string createVoice(const std::string& name, const std::filesystem::path& sample,
                          const std::stop_token& stop = {}) const;
  // `text` spoken by `voiceID`, as MP3 bytes. Throws as listVoices, and ElevenLabsAPIError (0)
  // for a voice id that cannot be one, before anything is sent.
  std::string textToSpeech(const std::string& voiceID, const std::string& text,
                           const std::stop_token& stop = {}) const;

 private:
  std::string apiKey_;
  std::string baseAddress_;
  Surroundings surroundings_;
};

}  // namespace brisklet
