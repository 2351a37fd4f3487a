#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/AppState.h"
#include "platform/Paths.h"
#include "support/StandInSecretService.h"
#include "support/TemporaryFolder.h"
#include "ui/Screenshots.h"
#include "ui/SettingsWindow.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

using namespace std::chrono_literals;
using testing::StandInSecretService;

// The settings window against a desktop keyring that misbehaves (this suite runs in a private
// session bus whose Secret Service is a stand-in): the window never waits on it.
class KeyringStallTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  AppState state{store};

  void SetUp() override {
    state.keyRing().setTimings({.typingPause = 150ms, .answerWait = 700ms});
    applyTheme(*qApp, ColorScheme::dark);
  }
  std::unique_ptr<SettingsWindow> open() {
    auto window = std::make_unique<SettingsWindow>(state);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }
  static QString storageCaption(QWidget& window) {
    return window.findChild<QWidget*>("keyStorage")->findChild<QLabel*>("caption")->text();
  }
  bool keyFileWritten() const {
    return std::filesystem::exists(applicationConfigFolder() / "secrets.json");
  }
};

// The longest time the event loop went without turning, watched every 10 ms.
class EventLoopWatch {
 public:
  EventLoopWatch() {
    sinceLastTurn_.start();
    ticks_.setInterval(10);
    QObject::connect(&ticks_, &QTimer::timeout,
                     [this] { longestGap_ = std::max(longestGap_, sinceLastTurn_.restart()); });
    ticks_.start();
  }
  qint64 longestGapMs() const { return longestGap_; }

 private:
  QTimer ticks_;
  QElapsedTimer sinceLastTurn_;
  qint64 longestGap_ = 0;
};

TEST_F(KeyringStallTest, AKeyringThatNeverAnswersNeitherFreezesTheWindowNorPassesForStored) {
  const StandInSecretService keyring(StandInSecretService::Behaviour::silent);
  auto window = open();
  // From the first keyring call on; showing the window is the test's own work, not a wait.
  const EventLoopWatch watch;
  auto* field = window->findChild<QLineEdit*>("anthropicKey");
  EXPECT_FALSE(field->isEnabled()) << "not typed into before the stored key is known";
  EXPECT_EQ(field->placeholderText(), "Reading the keyring\u2026");

  ASSERT_TRUE(QTest::qWaitFor([&] { return field->isEnabled(); }, 5000));
  EXPECT_TRUE(storageCaption(*window).startsWith("The desktop keyring did not answer"));
  QSignalSpy saved(&state.keyRing(), &KeyRing::saved);
  QTest::keyClicks(field, "sk-ant-123");
  auto* problem = window->findChild<QLabel*>("anthropicKeyProblem");
  ASSERT_TRUE(QTest::qWaitFor([&] { return problem->isVisible(); }, 5000));
  EXPECT_EQ(problem->text(),
            "This key was not saved. The desktop keyring did not answer in time. Unlock it "
            "(Passwords and Keys), then paste the key again.");
  EXPECT_EQ(saved.count(), 1) << "stored once when typing paused, not once per keystroke";
  EXPECT_LT(watch.longestGapMs(), 100) << "the window stopped answering";
  testing::saveScreenshot(*window, "settings-keyring-silent-dark.png");
  EXPECT_FALSE(keyFileWritten()) << "a keyring that does not answer is not a missing one";
  EXPECT_EQ(state.serviceKey(KeychainStore::Key::anthropic), "sk-ant-123")
      << "the typed key still serves this session";
}

TEST_F(KeyringStallTest, AKeyringThatRefusesSaysWhyUnderTheField) {
  const StandInSecretService keyring(StandInSecretService::Behaviour::refusing,
                                     "The login keyring is locked.");
  auto window = open();
  auto* field = window->findChild<QLineEdit*>("elevenLabsKey");
  ASSERT_TRUE(QTest::qWaitFor([&] { return field->isEnabled(); }, 5000));
  field->setFocus();
  field->insert("el-key-9\n");
  auto* problem = window->findChild<QLabel*>("elevenLabsKeyProblem");
  ASSERT_TRUE(QTest::qWaitFor([&] { return problem->isVisible(); }, 5000));
  EXPECT_EQ(problem->text(),
            "This key was not saved. The desktop keyring refused the key: The login keyring is "
            "locked.");
  EXPECT_FALSE(keyFileWritten()) << "a refusal never sends the key to the plain file";
  testing::saveScreenshot(*window, "settings-keyring-refused-dark.png");
}

}  // namespace
}  // namespace brisklet
