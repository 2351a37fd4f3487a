#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Base64.h"

namespace brisklet::AppSettings {

// The user's preferences, in applicationConfigFolder()/defaults.json. Every read goes to the file,
// so a command sees what the settings window wrote a moment ago; a missing or damaged file, or a
// missing or mistyped key, reads as the default. Writes replace the file atomically and keep keys
// they do not know; a write that fails throws SettingsError, which the user sees. Keys never live
// here (see KeychainStore).

// A preference could not be saved: "Could not save your preferences: Read-only file system."
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDefaultClaudeModel = "claude-sonnet-5";

std::filesystem::path file();

// "claudeModel": the model sent with every Anthropic request.
std::string claudeModel();
void setClaudeModel(const std::string& model);

// "voiceID": the ElevenLabs voice for narration; empty when none is chosen.
std::string voiceID();
void setVoiceID(const std::string& voiceID);

// "voiceConsentGiven": the user confirmed the consent statement for cloning their voice.
bool voiceConsentGiven();
void setVoiceConsentGiven(bool given);

// "musicFolderBookmark" (base64): the user's music folder; none when never chosen.
std::optional<ByteString> musicFolderBookmark();
void setMusicFolderBookmark(const std::optional<ByteString>& bookmark);

}  // namespace brisklet::AppSettings
