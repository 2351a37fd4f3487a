#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

#include "app/AppState.h"
#include "app/VoiceSettings.h"
#include "ui/Card.h"
#include "ui/Labels.h"
#include "ui/SettingsForm.h"
#include "ui/SettingsWindow.h"
#include "ui/Theme.h"
#include "voice/VoiceSampleRecorder.h"

namespace brisklet {
namespace {

// The "Voice" tab: the narration voice, consent, the sample recording and the clone. It owns its
// recorder; the voices are loaded each time it is shown.
class VoiceSettingsTab : public QWidget {
 public:
  VoiceSettingsTab(AppState& state, QWidget* parent)
      : QWidget(parent),
        settings_(state, this),
        recorder_(VoiceSampleRecorder::defaultSamplePath(), this) {
    auto* form = settingsForm(this);
    form->setSpacing(8);

    form->addWidget(styledLabel("Narration voice", TextStyle::headline, false, this));
    auto* pickerRow = new QHBoxLayout;
    pickerLabel_ = styledLabel("Speak narration as", TextStyle::body, false, this);
    pickerRow->addWidget(pickerLabel_);
    picker_ = new QComboBox(this);
    picker_->setObjectName("voicePicker");
    picker_->setAccessibleName("Speak narration as");
    pickerLabel_->setBuddy(picker_);
    pickerRow->addWidget(picker_, 1);
    form->addLayout(pickerRow);
    voiceCaption_ = captionLabel({}, this);
    voiceCaption_->setObjectName("voiceCaption");
    voiceCaption_->setWordWrap(true);
    form->addWidget(voiceCaption_);

    form->addSpacing(8);
    consent_ = new ToggleSwitch("I confirm this is my own voice", this);
    consent_->setObjectName("consentSwitch");
    consent_->setChecked(settings_.consentGiven());
    form->addWidget(consent_, 0, Qt::AlignLeft);
    form->addWidget(
        captionLabel("and I consent to creating an AI clone of it for narration.", this));

    form->addSpacing(8);
    form->addWidget(styledLabel("1. Record a voice sample", TextStyle::headline, false, this));
    auto* recordRow = new QHBoxLayout;
    record_ = new NeuButton("Record", 6, false, this);
    record_->setObjectName("recordButton");
    recordRow->addWidget(record_);
    meter_ = new QProgressBar(this);
    meter_->setObjectName("levelMeter");
    meter_->setRange(0, 100);
    meter_->setTextVisible(false);
    meter_->setFixedSize(90, 6);
    QPalette red = meter_->palette();
    red.setColor(QPalette::Highlight, statusRed());
    meter_->setPalette(red);
    recordRow->addWidget(meter_);
    elapsed_ = styledLabel({}, TextStyle::caption, true, this, true);
    elapsed_->setObjectName("elapsed");
    recordRow->addWidget(elapsed_);
    recorded_ = captionWithSymbol("checkmark.circle", "Sample recorded", statusGreen(), this);
    recorded_->setObjectName("sampleRecorded");
    recordRow->addWidget(recorded_);
    recordRow->addStretch(1);
    form->addLayout(recordRow);
    form->addWidget(captionLabel(
        "Read anything aloud for about a minute in a quiet room \u2014 a book page works great.",
        this));
    denied_ = captionWithSymbol("exclamationmark.triangle", VoiceSampleRecorder::kUnavailableText,
                                statusOrange(), this);
    denied_->setObjectName("microphoneDenied");
    form->addWidget(denied_);
    // A recording that was not kept (no sound came, the disk was full) says why.
    notKept_ = captionWithSymbol("exclamationmark.triangle", {}, statusOrange(), this);
    notKept_->setObjectName("recordingNotKept");
    form->addWidget(notKept_);

    form->addSpacing(8);
    form->addWidget(styledLabel("2. Create your voice clone", TextStyle::headline, false, this));
    clone_ = new NeuButton("Create My Voice Clone", 6, true, this);
    clone_->setObjectName("cloneButton");
    clone_->setSymbol("person.wave.2");
    auto* cloneRow = new QHBoxLayout;
    cloneRow->addWidget(clone_);
    // Cloning takes a while on the service's side: a busy bar says it is under way.
    cloning_ = new QProgressBar(this);
    cloning_->setObjectName("cloningBusy");
    cloning_->setRange(0, 0);
    cloning_->setTextVisible(false);
    cloning_->setFixedSize(90, 6);
    cloneRow->addWidget(cloning_);
    cloneRow->addStretch(1);
    form->addLayout(cloneRow);
    form->addWidget(
        captionLabel("Creates a new cloned voice on your ElevenLabs account from the "
                     "sample above and selects it for narration.",
                     this));
    noKey_ = captionWithSymbol("key", "Add your ElevenLabs API key in the API Keys tab first.",
                               statusOrange(), this);
    noKey_->setObjectName("cloneNeedsKey");
    form->addWidget(noKey_);
    status_ = captionWithSymbol("exclamationmark.triangle", {}, statusOrange(), this);
    status_->setObjectName("voiceStatus");
    form->addWidget(status_);
    form->addStretch(1);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
      settings_.setVoiceID(picker_->itemData(index).toString().toStdString());
    });
    connect(consent_, &ToggleSwitch::toggled, this,
            [this](bool on) { settings_.setConsentGiven(on); });
    connect(record_, &NeuButton::clicked, &recorder_, &VoiceSampleRecorder::toggle);
    connect(clone_, &NeuButton::clicked, this,
            [this] { auto task = settings_.cloneVoice(recorder_.samplePath()); });
    for (auto signal : {&VoiceSettings::accountVoicesChanged, &VoiceSettings::voiceIDChanged})
      connect(&settings_, signal, this, &VoiceSettingsTab::showVoices);
    for (auto signal : {&VoiceSettings::accountVoicesChanged, &VoiceSettings::isCloningChanged,
                        &VoiceSettings::statusMessageChanged, &VoiceSettings::consentGivenChanged})
      connect(&settings_, signal, this, &VoiceSettingsTab::refresh);
    for (auto signal :
         {&VoiceSampleRecorder::isRecordingChanged, &VoiceSampleRecorder::elapsedSecChanged,
          &VoiceSampleRecorder::levelChanged, &VoiceSampleRecorder::permissionDeniedChanged})
      connect(&recorder_, signal, this, &VoiceSettingsTab::refresh);
    // The keys are read off the window's thread: the ElevenLabs key may arrive after this tab.
    connect(&state.keyRing(), &KeyRing::loaded, this, [this] {
      showVoices();
      refresh();
      if (isVisible()) auto task = settings_.loadVoices();
    });
    showVoices();
    refresh();
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QWidget::showEvent(event);
    showVoices();  // a key typed in the other tab meanwhile
    refresh();
    auto task = settings_.loadVoices();
  }

 private:
  // The picker, made again only when the voices or the choice change (not with every level the
  // meter shows), so an open list stays as it is.
  void showVoices() {
    const auto& voices = settings_.accountVoices();
    picker_->setVisible(!voices.empty());
    pickerLabel_->setVisible(!voices.empty());
    if (!voices.empty()) {
      picker_->clear();
      for (const auto& voice : voices)
        picker_->addItem(QString::fromStdString(voiceLabel(voice)),
                         QString::fromStdString(voice.id));
      picker_->setCurrentIndex(picker_->findData(QString::fromStdString(settings_.voiceID())));
      voiceCaption_->setText(
          "Every voice on your ElevenLabs account is listed \u2014 pick a cloned voice (yours or a "
          "teammate's) or any stock voice. To narrate in your own voice, record and clone one "
          "below.");
    } else {
      voiceCaption_->setText(settings_.hasKey()
                                 ? "Loading voices from your ElevenLabs account\u2026"
                                 : "Add your ElevenLabs API key first (API Keys tab).");
    }
  }

  void refresh() {
    const bool hasKey = settings_.hasKey();
    consent_->setChecked(settings_.consentGiven());

    const bool recording = recorder_.isRecording();
    const bool hasSample =
        QFileInfo::exists(QString::fromStdString(recorder_.samplePath().string()));
    record_->setText(recording ? "Stop" : hasSample ? "Re-record" : "Record");
    record_->setSymbol(recording ? "stop.circle.fill" : "mic.circle.fill");
    record_->setEnabled(settings_.consentGiven());
    meter_->setVisible(recording);
    meter_->setValue(static_cast<int>(std::lround(recorder_.level() * 100)));
    elapsed_->setVisible(recording);
    elapsed_->setText(QString::asprintf("%.0fs", recorder_.elapsedSec()));
    recorded_->setVisible(!recording && hasSample);
    denied_->setVisible(recorder_.permissionDenied());
    const std::optional<std::string>& failure = recorder_.failure();
    notKept_->setVisible(!recording && failure && !recorder_.permissionDenied());
    if (failure) notKept_->findChild<QLabel*>("caption")->setText(QString::fromStdString(*failure));

    clone_->setText(settings_.isCloning() ? "Cloning\u2026" : "Create My Voice Clone");
    cloning_->setVisible(settings_.isCloning());
    clone_->setEnabled(settings_.canClone(recorder_.samplePath()));
    noKey_->setVisible(!hasKey);
    status_->setVisible(settings_.statusMessage().has_value());
    if (const auto& message = settings_.statusMessage())
      status_->findChild<QLabel*>("caption")->setText(QString::fromStdString(*message));
  }

  VoiceSettings settings_;
  VoiceSampleRecorder recorder_;
  QLabel* pickerLabel_;
  QComboBox* picker_;
  QProgressBar* cloning_;
  QLabel* voiceCaption_;
  ToggleSwitch* consent_;
  NeuButton* record_;
  QProgressBar* meter_;
  QLabel* elapsed_;
  QWidget* recorded_;
  QWidget* denied_;
  QWidget* notKept_;
  NeuButton* clone_;
  QWidget* noKey_;
  QWidget* status_;
};

}  // namespace

QWidget* makeVoiceTab(AppState& state, QWidget* parent) {
  auto* scroll = new QScrollArea(parent);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidget(new VoiceSettingsTab(state, scroll));
  return scroll;
}

}  // namespace brisklet
