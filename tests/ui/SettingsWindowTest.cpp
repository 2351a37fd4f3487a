#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "app/AppState.h"
#include "model/AppSettings.h"
#include "model/KeychainStore.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"
#include "ui/Screenshots.h"
#include "ui/SettingsWindow.h"
#include "ui/Theme.h"
#include "voice/VoiceSampleRecorder.h"

namespace brisklet {
namespace {

// This suite runs inside a private D-Bus session with an unlocked GNOME Keyring
// (tests/support/with-secret-service.sh): the keys typed below go to a real Secret Service.
class SettingsWindowTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  AppState state{store};

  void SetUp() override {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
    state.keyRing().setTimings({.typingPause = std::chrono::milliseconds(50)});
    KeychainStore::remove(KeychainStore::Key::anthropic);
    KeychainStore::remove(KeychainStore::Key::elevenLabs);
    std::filesystem::remove_all(AppSettings::file().parent_path());
  }

  std::unique_ptr<SettingsWindow> open(ColorScheme scheme = ColorScheme::dark) {
    applyTheme(*qApp, scheme);
    auto window = std::make_unique<SettingsWindow>(state);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // The keys are read off the window's thread; the fields open once they are.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state.keyRing().isLoading(); }, 5000));
    QCoreApplication::processEvents();
    return window;
  }
  // Waits for the key to reach the keyring, stored once typing paused.
  static bool storedAs(KeychainStore::Key key, const std::optional<std::string>& value) {
    return QTest::qWaitFor([&] { return KeychainStore::get(key) == value; }, 5000);
  }
  static QString caption(QWidget& in, const char* name) {
    return in.findChild<QWidget*>(name)->findChild<QLabel*>("caption")->text();
  }
};

TEST_F(SettingsWindowTest, KeysAreStoredAsTypedAndAnEmptyFieldDeletesThem) {
  auto window = open();
  EXPECT_EQ(window->size(), QSize(520, 420));
  auto* anthropic = window->findChild<QLineEdit*>("anthropicKey");
  ASSERT_NE(anthropic, nullptr);
  EXPECT_TRUE(anthropic->text().isEmpty()) << "a fresh installation has no key";
  EXPECT_EQ(anthropic->echoMode(), QLineEdit::Password);
  EXPECT_EQ(caption(*window, "keyStorage"),
            "Keys are stored in your desktop keyring (Secret Service), never in project files.");

  QSignalSpy saved(&state.keyRing(), &KeyRing::saved);
  QTest::keyClicks(anthropic, "sk-ant-123");
  EXPECT_TRUE(storedAs(KeychainStore::Key::anthropic, "sk-ant-123"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 5000));
  EXPECT_EQ(saved.count(), 1) << "stored once typing paused, not once per keystroke";
  testing::saveScreenshot(*window, "settings-keys-dark.png");
  anthropic->selectAll();
  QTest::keyClick(anthropic, Qt::Key_Backspace);
  EXPECT_TRUE(storedAs(KeychainStore::Key::anthropic, std::nullopt)) << "cleared means deleted";

  // A pasted key loses the line break copied with it; one with a break inside is refused.
  auto* elevenLabs = window->findChild<QLineEdit*>("elevenLabsKey");
  elevenLabs->setFocus();
  elevenLabs->insert("el-key-7\n");
  EXPECT_TRUE(storedAs(KeychainStore::Key::elevenLabs, "el-key-7"));
  elevenLabs->insert("\r\nX-Injected: yes");
  QTest::qWait(200);
  EXPECT_EQ(KeychainStore::get(KeychainStore::Key::elevenLabs), "el-key-7");
  auto* problem = window->findChild<QLabel*>("elevenLabsKeyProblem");
  EXPECT_TRUE(problem->isVisible());
  // The keyring's answer for the clean key may come only now, on a loaded machine.
  emit state.keyRing().saved(KeychainStore::Key::elevenLabs, QString());
  EXPECT_TRUE(problem->isVisible()) << "an earlier key's answer leaves the refusal in view";
  EXPECT_TRUE(problem->text().startsWith("This key has a line break or another control character"));
  testing::saveScreenshot(*window, "settings-key-problem-dark.png");

  // Keys typed here are read by the next command through the same state.
  EXPECT_EQ(state.serviceKey(KeychainStore::Key::elevenLabs), "el-key-7");
  window.reset();
  EXPECT_EQ(open()->findChild<QLineEdit*>("elevenLabsKey")->text(), "el-key-7")
      << "filled from the store when the window is made again";
}

TEST_F(SettingsWindowTest, TheModelIsStoredAtOnce) {
  auto window = open(ColorScheme::light);
  window->tabs().setCurrentIndex(1);
  auto* sonnet = window->findChild<QRadioButton*>("claude-sonnet-5");
  auto* fable = window->findChild<QRadioButton*>("claude-fable-5");
  EXPECT_TRUE(sonnet->isChecked());
  EXPECT_EQ(sonnet->text(), "Claude Sonnet 5 \u2014 fast && affordable")
      << "an ampersand, not a shortcut";
  testing::saveScreenshot(*window, "settings-ai-light.png");
  QTest::mouseClick(fable, Qt::LeftButton, {}, QPoint(8, fable->height() / 2));
  EXPECT_EQ(AppSettings::claudeModel(), "claude-fable-5");
}

TEST_F(SettingsWindowTest, TheVoiceTabListsTheAccountsVoicesAndSaysWhatIsMissing) {
  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    auto window = open(scheme);
    window->tabs().setCurrentIndex(2);
    EXPECT_EQ(window->findChild<QLabel*>("voiceCaption")->text(),
              "Add your ElevenLabs API key first (API Keys tab).");
    EXPECT_FALSE(window->findChild<QWidget*>("recordButton")->isEnabled()) << "no consent yet";
    EXPECT_FALSE(window->findChild<QWidget*>("cloneButton")->isEnabled());
    EXPECT_TRUE(window->findChild<QWidget*>("cloneNeedsKey")->isVisible());
    testing::saveScreenshot(*window, scheme == ColorScheme::dark
                                         ? "settings-voice-nokey-dark.png"
                                         : "settings-voice-nokey-light.png");
  }

  testing::FakeService service("BRISKLET_ELEVENLABS_BASE_URL");
  service.enqueue({.body = R"({"voices":[{"voice_id":"z1","name":"Zed","category":"premade"},
                              {"voice_id":"a1","name":"Alice","category":"cloned"},
                              {"voice_id":"b1","name":"Bob","category":"premade"},
                              {"voice_id":"a2","name":"Amy","category":"cloned"}]})"});
  KeychainStore::set("el-key", KeychainStore::Key::elevenLabs);
  AppSettings::setVoiceID("b1");
  AppSettings::setVoiceConsentGiven(true);
  auto window = open();
  window->tabs().setCurrentIndex(2);
  auto* picker = window->findChild<QComboBox*>("voicePicker");
  ASSERT_TRUE(QTest::qWaitFor([&] { return picker->count() == 4; }, 5000));
  EXPECT_EQ(picker->itemText(0), "Alice  \u00b7  cloned");
  EXPECT_EQ(picker->itemText(3), "Zed  \u00b7  premade");
  EXPECT_EQ(picker->currentText(), "Bob  \u00b7  premade");
  EXPECT_TRUE(window->findChild<QWidget*>("recordButton")->isEnabled());
  EXPECT_FALSE(window->findChild<QWidget*>("cloneButton")->isEnabled()) << "no sample yet";
  EXPECT_FALSE(window->findChild<QWidget*>("cloneNeedsKey")->isVisible());
  picker->activated(picker->findText("Amy  \u00b7  cloned"));
  EXPECT_EQ(AppSettings::voiceID(), "a2");
  EXPECT_EQ(picker->accessibleName(), "Speak narration as");
  testing::saveScreenshot(*window, "settings-voice-dark.png");

  // Cloning: the service takes its time, and a busy bar says so until it answers.
  const std::filesystem::path sample = VoiceSampleRecorder::defaultSamplePath();
  std::filesystem::create_directories(sample.parent_path());
  testing::makeVoiceSample(sample);
  service.enqueue({.body = R"({"voices":[{"voice_id":"a2","name":"Amy","category":"cloned"}]})"});
  service.enqueue({.body = R"({"voice_id":"mine"})", .delayMilliseconds = 600});
  service.enqueue({.body = R"({"voices":[]})"});
  window.reset();
  window = open();
  window->tabs().setCurrentIndex(2);
  auto* clone = window->findChild<QWidget*>("cloneButton");
  ASSERT_TRUE(QTest::qWaitFor([&] { return clone->isEnabled(); }, 5000));
  auto* busy = window->findChild<QWidget*>("cloningBusy");
  EXPECT_FALSE(busy->isVisible());
  QTest::mouseClick(clone, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return busy->isVisible(); }, 2000));
  testing::saveScreenshot(*window, "settings-voice-cloning-dark.png");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !busy->isVisible(); }, 5000));
  EXPECT_EQ(AppSettings::voiceID(), "mine");
}

}  // namespace
}  // namespace brisklet
