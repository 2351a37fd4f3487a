#pragma once

#include <qcoro/qcorotask.h>

#include <QObject>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "voice/ElevenLabsClient.h"

namespace brisklet {

class AppState;

// The voices of the user's account in the order the settings list them: cloned voices first,
// then by name (plain comparison); equal names keep the service's order.
std::vector<ElevenLabsClient::VoiceInfo> sortedVoices(
    std::vector<ElevenLabsClient::VoiceInfo> voices);
// "Name  ·  category", as the voice picker shows a voice.
std::string voiceLabel(const ElevenLabsClient::VoiceInfo& voice);

// What the Voice settings show and do, without widgets: the account's voices, the chosen voice
// and the consent (both preferences), and making a clone of the user's voice from a recorded
// sample. The settings window binds to it; brisklet-cli drives it headless. Keys come through
// the app state, as for every command. Main thread only.
class VoiceSettings : public QObject {
  Q_OBJECT

 public:
  inline static const char* const kCloneName = "Brisklet \u2013 My Voice";

  explicit VoiceSettings(AppState& state, QObject* parent = nullptr);

  const std::vector<ElevenLabsClient::VoiceInfo>& accountVoices() const { return accountVoices_; }
  bool isCloning() const { return isCloning_; }
  const std::optional<std::string>& statusMessage() const { return statusMessage_; }
  bool consentGiven() const;
  // Both preferences are saved at once; a save that fails leaves the preference as it was, says
  // why in the status message and gives false.
  bool setConsentGiven(bool given);
  std::string voiceID() const;
  bool setVoiceID(const std::string& voiceID);
  // The id of the clone the last cloneVoice made, also when it could not be made the narration
  // voice (the status message then says why): the clone exists on the account either way.
  const std::optional<std::string>& clonedVoiceID() const { return clonedVoiceID_; }
  bool hasKey() const;
  // Whether a clone can be made from `sample`: consent given, the sample there, a key, no clone
  // under way.
  bool canClone(const std::filesystem::path& sample) const;

  // Replaces the account's voices with the service's list, sorted; without a key nothing
  // happens. A failure keeps the list and says "Could not load voices: …".
  QCoro::Task<> loadVoices();
  // Makes a new clone named "Brisklet – My Voice" from `sample`, makes it the narration voice
  // and loads the voices again. Nothing happens unless canClone; a failure goes to the status
  // message and leaves the chosen voice as it was.
  QCoro::Task<> cloneVoice(const std::filesystem::path& sample);

 signals:
  void accountVoicesChanged();
  void isCloningChanged();
  void statusMessageChanged();
  void voiceIDChanged();
  void consentGivenChanged();

 private:
  void setCloning(bool cloning);
  void setStatusMessage(const std::optional<std::string>& message);

  AppState& state_;
  std::vector<ElevenLabsClient::VoiceInfo> accountVoices_;
  bool isCloning_ = false;
  std::optional<std::string> statusMessage_;
  std::optional<std::string> clonedVoiceID_;
};

}  // namespace brisklet
