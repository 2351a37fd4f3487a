#include "ui/SettingsWindow.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "model/AppSettings.h"
#include "model/KeychainStore.h"
#include "ui/Labels.h"
#include "ui/SettingsForm.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

// One key: a masked field filled from the key ring once it has read the keyring, and stored
// when typing pauses once it is clean. Nothing here waits on the keyring.
void addKeyField(QVBoxLayout& form, QWidget* tab, KeyRing& keyRing, KeychainStore::Key key,
                 const QString& title, const QString& caption, const QString& console,
                 const char* name) {
  form.addWidget(styledLabel(title, TextStyle::body, false, tab));
  auto* field = new QLineEdit(tab);
  field->setObjectName(name);
  field->setAccessibleName(title);
  field->setEchoMode(QLineEdit::Password);
  form.addWidget(field);
  QLabel* problem = styledLabel({}, TextStyle::caption, false, tab);
  problem->setObjectName(QString(name) + "Problem");
  problem->setWordWrap(true);
  setLabelColor(*problem, statusOrange());
  problem->hide();
  form.addWidget(problem);
  QLabel* where =
      captionLabel(caption + QString("<a href=\"https://%1\">%1</a>").arg(console), tab);
  where->setTextFormat(Qt::RichText);
  where->setTextInteractionFlags(Qt::TextBrowserInteraction);
  where->setOpenExternalLinks(true);
  form.addWidget(where);

  const auto showStored = [&keyRing, key, field] {
    field->setEnabled(!keyRing.isLoading());
    field->setPlaceholderText(keyRing.isLoading() ? "Reading the keyring\u2026" : "Paste your key");
    if (!field->isModified()) field->setText(QString::fromStdString(keyRing.key(key).value_or("")));
  };
  showStored();
  QObject::connect(&keyRing, &KeyRing::loaded, field, showStored);
  QObject::connect(
      field, &QLineEdit::textEdited, tab, [&keyRing, key, problem](const QString& text) {
        const KeychainStore::TypedKey typed = KeychainStore::cleanTypedKey(text.toStdString());
        problem->setVisible(typed.problem.has_value());
        if (typed.problem) {
          problem->setText(QString::fromStdString(*typed.problem));
          return;  // the stored key stays as it was
        }
        keyRing.type(key, typed.key);
      });
  // A key that was not kept is never shown as stored. The answer comes after typing paused, so
  // the field may hold a refused text by then; its problem stays in view.
  QObject::connect(&keyRing, &KeyRing::saved, problem,
                   [key, problem, field](KeychainStore::Key savedKey, const QString& failure) {
                     if (savedKey != key) return;
                     if (KeychainStore::cleanTypedKey(field->text().toStdString()).problem) return;
                     problem->setVisible(!failure.isEmpty());
                     problem->setText("This key was not saved. " + failure);
                   });
}

}  // namespace

QWidget* makeKeysTab(KeyRing& keyRing, QWidget* parent) {
  auto* tab = new QWidget(parent);
  auto* form = settingsForm(tab);
  keyRing.load();
  addKeyField(*form, tab, keyRing, KeychainStore::Key::anthropic, "Anthropic API key",
              "Used to understand scenes and write narration. Get one at ",
              "console.anthropic.com/settings/keys", "anthropicKey");
  form->addSpacing(10);
  addKeyField(*form, tab, keyRing, KeychainStore::Key::elevenLabs, "ElevenLabs API key",
              "Used to clone your voice and speak the narration. Get one at ",
              "elevenlabs.io/app/settings/api-keys", "elevenLabsKey");
  form->addSpacing(14);
  QWidget* storage = captionWithSymbol("lock.shield", {}, secondaryColor(), tab);
  storage->setObjectName("keyStorage");
  const auto showStorage = [&keyRing, storage] {
    auto* text = storage->findChild<QLabel*>("caption");
    if (keyRing.loadProblem()) {
      text->setText(QString::fromStdString(*keyRing.loadProblem()));
      setLabelColor(*text, statusOrange());
    } else {
      text->setText(QString::fromStdString(keyRing.storageDescription()));
      setLabelColor(*text, secondaryColor());
    }
  };
  showStorage();
  QObject::connect(&keyRing, &KeyRing::loaded, storage, showStorage);
  form->addWidget(storage);
  form->addStretch(1);
  // Closing the window stores a key whose typing pause has not ended yet.
  QObject::connect(tab, &QObject::destroyed, &keyRing, [&keyRing] { keyRing.storeTypedNow(); });
  return tab;
}

QWidget* makeModelTab(AppState& state, QWidget* parent) {
  auto* tab = new QWidget(parent);
  auto* form = settingsForm(tab);
  form->addWidget(styledLabel("Scene analysis model", TextStyle::body, false, tab));
  auto* choices = new QButtonGroup(tab);
  const std::string stored = AppSettings::claudeModel();
  for (const auto& [text, identifier] :
       {std::pair{"Claude Sonnet 5 \u2014 fast & affordable", "claude-sonnet-5"},
        std::pair{"Claude Fable 5 \u2014 highest quality", "claude-fable-5"}}) {
    // "&" would underline the next letter as a shortcut.
    auto* choice = new QRadioButton(QString::fromUtf8(text).replace("&", "&&"), tab);
    choice->setObjectName(identifier);
    choice->setChecked(stored == identifier);
    choices->addButton(choice);
    form->addWidget(choice);
    QObject::connect(choice, &QRadioButton::toggled, tab,
                     [&state, id = std::string(identifier)](bool on) {
                       if (!on) return;
                       try {
                         AppSettings::setClaudeModel(id);
                       } catch (const AppSettings::SettingsError& error) {
                         state.setLastError(error.what());
                       }
                     });
  }
  form->addWidget(captionLabel(
      "A typical 10-minute vlog costs roughly $0.15\u20130.30 to analyze with Sonnet 5.", tab));

  form->addSpacing(18);
  form->addWidget(styledLabel("Music folder", TextStyle::body, false, tab));
  QLabel* folder = captionLabel({}, tab);
  folder->setObjectName("musicFolder");
  const auto showFolder = [folder] {
    const auto remembered = rememberedMusicFolder();
    folder->setText(remembered ? QString::fromStdString(remembered->string())
                               : "No folder chosen yet. Auto-pick asks for one the first time.");
  };
  showFolder();
  form->addWidget(folder);
  auto* choose = new NeuButton("Choose Folder\u2026", 6, false, tab);
  choose->setSymbol("folder");
  choose->setObjectName("chooseMusicFolder");
  QObject::connect(choose, &NeuButton::clicked, tab, [&state, showFolder] {
    if (state.chooseMusicFolder().succeeded()) showFolder();
  });
  form->addWidget(choose, 0, Qt::AlignLeft);
  form->addWidget(
      captionLabel("Royalty-free tracks in this folder are what \u201cAuto-pick\u201d "
                   "chooses from, by their file names.",
                   tab));
  form->addStretch(1);
  return tab;
}

SettingsWindow::SettingsWindow(AppState& state, QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle("Brisklet Settings");
  setObjectName("settingsWindow");
  setFixedSize(520, 420);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(10, 10, 10, 10);
  tabs_ = new QTabWidget(this);
  const QColor tint = primaryColor();
  tabs_->addTab(makeKeysTab(state.keyRing(), tabs_), symbolIcon("key", tint), "API Keys");
  tabs_->addTab(makeModelTab(state, tabs_), symbolIcon("sparkles", tint), "AI");
  tabs_->addTab(makeVoiceTab(state, tabs_), symbolIcon("waveform", tint), "Voice");
  column->addWidget(tabs_);
}

}  // namespace brisklet
