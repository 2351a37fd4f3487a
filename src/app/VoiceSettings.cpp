#include "app/VoiceSettings.h"

#include <QPointer>
#include <algorithm>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "model/AppSettings.h"

namespace brisklet {

std::vector<ElevenLabsClient::VoiceInfo> sortedVoices(
    std::vector<ElevenLabsClient::VoiceInfo> voices) {
  std::stable_sort(voices.begin(), voices.end(), [](const auto& a, const auto& b) {
    const bool aCloned = a.category == "cloned", bCloned = b.category == "cloned";
    if (aCloned != bCloned) return aCloned;
    return a.name < b.name;
  });
  return voices;
}

std::string voiceLabel(const ElevenLabsClient::VoiceInfo& voice) {
  return voice.name + "  \u00B7  " + voice.category;
}

VoiceSettings::VoiceSettings(AppState& state, QObject* parent) : QObject(parent), state_(state) {}

bool VoiceSettings::consentGiven() const { return AppSettings::voiceConsentGiven(); }

bool VoiceSettings::setConsentGiven(bool given) {
  if (given == consentGiven()) return true;
  try {
    AppSettings::setVoiceConsentGiven(given);
  } catch (const AppSettings::SettingsError& error) {
    setStatusMessage(error.what());
    emit consentGivenChanged();  // a switch that was flipped shows the stored value again
    return false;
  }
  emit consentGivenChanged();
  return true;
}

std::string VoiceSettings::voiceID() const { return AppSettings::voiceID(); }

bool VoiceSettings::setVoiceID(const std::string& voiceID) {
  if (voiceID == this->voiceID()) return true;
  try {
    AppSettings::setVoiceID(voiceID);
  } catch (const AppSettings::SettingsError& error) {
    setStatusMessage(error.what());
    emit voiceIDChanged();
    return false;
  }
  emit voiceIDChanged();
  return true;
}

bool VoiceSettings::hasKey() const {
  return state_.serviceKey(KeychainStore::Key::elevenLabs).has_value();
}

bool VoiceSettings::canClone(const std::filesystem::path& sample) const {
  std::error_code error;
  return consentGiven() && std::filesystem::is_regular_file(sample, error) && hasKey() &&
         !isCloning_;
}

QCoro::Task<> VoiceSettings::loadVoices() {
  const std::optional<std::string> key = state_.serviceKey(KeychainStore::Key::elevenLabs);
  if (!key) co_return;
  QPointer<VoiceSettings> guard(this);
  try {
    auto listing = runOnWorker([client = ElevenLabsClient(*key)] { return client.listVoices(); });
    std::vector<ElevenLabsClient::VoiceInfo> voices = co_await listing;
    if (!guard) co_return;
    accountVoices_ = sortedVoices(std::move(voices));
    emit accountVoicesChanged();
  } catch (const std::exception& error) {
    if (guard) setStatusMessage(std::string("Could not load voices: ") + error.what());
  }
}

QCoro::Task<> VoiceSettings::cloneVoice(const std::filesystem::path& sampleArgument) {
  const std::filesystem::path sample = sampleArgument;  // see runLongCommand on coroutine arguments
  if (!canClone(sample)) co_return;
  const std::string key = *state_.serviceKey(KeychainStore::Key::elevenLabs);
  QPointer<VoiceSettings> guard(this);
  setCloning(true);
  setStatusMessage(std::nullopt);
  clonedVoiceID_.reset();
  std::optional<std::string> failure;
  try {
    auto creating = runOnWorker([client = ElevenLabsClient(key), sample] {
      return client.createVoice(kCloneName, sample);
    });
    const std::string voice = co_await creating;
    if (!guard) co_return;
    clonedVoiceID_ = voice;
    if (!setVoiceID(voice))
      failure = "Your voice clone " + voice +
                " was made, but could not be chosen for narration: " + *statusMessage_;
    auto reloading = loadVoices();
    co_await reloading;
  } catch (const std::exception& error) {
    failure = error.what();
  }
  if (!guard) co_return;
  if (failure) setStatusMessage(failure);
  setCloning(false);
}

void VoiceSettings::setCloning(bool cloning) {
  if (isCloning_ == cloning) return;
  isCloning_ = cloning;
  emit isCloningChanged();
}

void VoiceSettings::setStatusMessage(const std::optional<std::string>& message) {
  if (statusMessage_ == message) return;
  statusMessage_ = message;
  emit statusMessageChanged();
}

}  // namespace brisklet
