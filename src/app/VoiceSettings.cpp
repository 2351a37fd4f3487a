#include "app/VoiceSettings.h"

#include <QPointer>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "model/AppSettings.h"
#include "platform/FileNames.h"
#include "platform/NumberText.h"

namespace brisklet {
namespace {

// A clone is made from the voice in the sample: this much of it, at least, must be sound.
constexpr double kShortestVoiceSec = 3;
// Stretches of 20 ms this loud (RMS, of full scale) or louder are sound, not silence.
constexpr double kSoundLevel = 0.003;  // about −50 dBFS
constexpr int kCheckRate = 16000;
constexpr std::size_t kStretchSamples = kCheckRate / 50;

// The sample decoded before anything is sent: one that does not play, or holds too little
// voice, would make a useless clone on the user's account.
void checkVoiceSample(const std::filesystem::path& sample) {
  const std::string name = quotedFileName(sample);
  std::size_t soundingStretches = 0;
  try {
    const std::optional<Asset> sound = openSoundFile(sample);
    if (!sound) throw MediaError("");
    const PcmFormat format{.sampleRate = kCheckRate, .channels = 1};
    std::vector<float> stretch;
    PcmReader(*sound, format).read([&](std::span<const std::uint8_t> block) {
      const auto* samples = reinterpret_cast<const float*>(block.data());
      for (std::size_t index = 0; index < block.size() / sizeof(float); ++index) {
        stretch.push_back(samples[index]);
        if (stretch.size() < kStretchSamples) continue;
        double energy = 0;
        for (const float sample : stretch) energy += static_cast<double>(sample) * sample;
        if (std::sqrt(energy / static_cast<double>(stretch.size())) >= kSoundLevel) ++soundingStretches;
        stretch.clear();
      }
    });
  } catch (const MediaError&) {
    throw std::runtime_error("The voice sample " + name +
                             " cannot be used: it does not play as sound. Record it again.");
  }
  const double soundSec = static_cast<double>(soundingStretches * kStretchSamples) / kCheckRate;
  if (soundSec < kShortestVoiceSec) {
    throw std::runtime_error("The voice sample " + name + " holds only " +
                             fixedPoint(soundSec, 1) +
                             " seconds of sound; a clone needs at least 3 seconds of your voice.");
  }
}

}  // namespace

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
      checkVoiceSample(sample);
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
