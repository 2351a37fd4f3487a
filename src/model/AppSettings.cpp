#include "model/AppSettings.h"

#include <nlohmann/json.hpp>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

namespace brisklet::AppSettings {
namespace {

using json = nlohmann::json;

json readAll() {
  try {
    json settings = json::parse(readFile(file()));
    if (settings.is_object()) return settings;
  } catch (const std::exception&) {
    // A missing or damaged file means every preference is at its default.
  }
  return json::object();
}

void writeValue(const char* key, const json& value) {
  json settings = readAll();
  if (value.is_null())
    settings.erase(key);
  else
    settings[key] = value;
  try {
    createFolders(file().parent_path());
    writeFileAtomically(file(),
                        settings.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
  } catch (const FileError& failure) {
    std::string reason = failure.reason().empty() ? failure.what() : failure.reason();
    if (!reason.ends_with('.')) reason += '.';
    throw SettingsError("Could not save your preferences: " + reason);
  }
}

template <typename T>
std::optional<T> readValue(const char* key) {
  const json settings = readAll();
  const auto found = settings.find(key);
  if (found == settings.end()) return std::nullopt;
  if constexpr (std::is_same_v<T, bool>) {
    if (found->is_boolean()) return found->get<bool>();
  } else {
    if (found->is_string()) return found->get<std::string>();
  }
  return std::nullopt;
}

}  // namespace

std::filesystem::path file() { return applicationConfigFolder() / "defaults.json"; }

std::string claudeModel() {
  return readValue<std::string>("claudeModel").value_or(kDefaultClaudeModel);
}
void setClaudeModel(const std::string& model) { writeValue("claudeModel", model); }

std::string voiceID() { return readValue<std::string>("voiceID").value_or(""); }
void setVoiceID(const std::string& voiceID) { writeValue("voiceID", voiceID); }

bool voiceConsentGiven() { return readValue<bool>("voiceConsentGiven").value_or(false); }
void setVoiceConsentGiven(bool given) { writeValue("voiceConsentGiven", given); }

std::optional<ByteString> musicFolderBookmark() {
  const auto text = readValue<std::string>("musicFolderBookmark");
  return text ? decodeBase64(*text) : std::nullopt;
}
void setMusicFolderBookmark(const std::optional<ByteString>& bookmark) {
  writeValue("musicFolderBookmark", bookmark ? json(encodeBase64(*bookmark)) : json());
}

}  // namespace brisklet::AppSettings
