#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include "app/AppState.h"
#include "app/VoiceSettings.h"
#include "model/AppSettings.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;
using Voice = ElevenLabsClient::VoiceInfo;

constexpr const char* kVoices =
    R"({"voices":[{"voice_id":"z1","name":"Zed","category":"premade"},
                  {"voice_id":"a1","name":"Alice","category":"cloned"},
                  {"voice_id":"b1","name":"Bob","category":"premade"},
                  {"voice_id":"a2","name":"Amy","category":"cloned"}]})";

TEST(VoiceOrder, ClonedVoicesComeFirstThenByNameKeepingTheServicesOrderForEqualNames) {
  const std::vector<Voice> sorted =
      sortedVoices({{"z1", "Zed", "premade"}, {"a1", "Alice", "cloned"}, {"b1", "Bob", "premade"},
                    {"a2", "Amy", "cloned"}, {"b2", "Bob", "generated"}, {"x", "amy", "cloned"}});
  EXPECT_THAT(sorted, ElementsAre(Field(&Voice::id, "a1"), Field(&Voice::id, "a2"),
                                  Field(&Voice::id, "x"), Field(&Voice::id, "b1"),
                                  Field(&Voice::id, "b2"), Field(&Voice::id, "z1")));
  EXPECT_EQ(voiceLabel({"a1", "Alice", "cloned"}), "Alice  \u00B7  cloned");
}

class VoiceSettingsTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  AppState state{store};
  testing::FakeService service{"BRISKLET_ELEVENLABS_BASE_URL"};
  VoiceSettings settings{state};
  std::filesystem::path sample = folder / "voice_sample.wav";

  void SetUp() override {
    state.setKeySource([](KeychainStore::Key) { return std::string("el-key"); });
    testing::makeVoiceSample(sample);
  }
};

TEST_F(VoiceSettingsTest, ACloneBecomesTheNarrationVoiceAndIsListed) {
  AppSettings::setVoiceID("b1");
  EXPECT_FALSE(settings.canClone(sample)) << "no consent yet";
  settings.setConsentGiven(true);
  EXPECT_FALSE(settings.canClone(folder / "none.wav")) << "no sample";
  ASSERT_TRUE(settings.canClone(sample));

  service.enqueue({.status = 200, .body = R"({"voice_id":"new1"})"});
  service.enqueue({.status = 200, .body = kVoices});
  std::vector<bool> cloning;
  QObject::connect(&settings, &VoiceSettings::isCloningChanged,
                   [&] { cloning.push_back(settings.isCloning()); });
  QCoro::waitFor(settings.cloneVoice(sample));

  EXPECT_EQ(cloning, (std::vector{true, false}));
  EXPECT_EQ(settings.voiceID(), "new1");
  EXPECT_EQ(AppSettings::voiceID(), "new1") << "kept for the narration command";
  EXPECT_FALSE(settings.statusMessage());
  ASSERT_EQ(service.requests().size(), 2u);
  EXPECT_EQ(service.requests()[0].path, "/v1/voices/add");
  EXPECT_THAT(service.requests()[0].body, ::testing::StartsWith(VoiceSettings::kCloneName));
  EXPECT_EQ(service.requests()[1].path, "/v1/voices");
  EXPECT_THAT(settings.accountVoices(),
              ElementsAre(Field(&Voice::name, "Alice"), Field(&Voice::name, "Amy"),
                          Field(&Voice::name, "Bob"), Field(&Voice::name, "Zed")));

  state.setKeySource([](KeychainStore::Key) { return std::nullopt; });
  EXPECT_FALSE(settings.canClone(sample)) << "no key";
  QCoro::waitFor(settings.loadVoices());
  EXPECT_EQ(service.requests().size(), 2u) << "without a key nothing is asked";
}

TEST_F(VoiceSettingsTest, FailuresAreToldAndChangeNothingElse) {
  settings.setConsentGiven(true);
  settings.setVoiceID("b1");
  service.enqueue({.status = 200, .body = kVoices});
  QCoro::waitFor(settings.loadVoices());
  ASSERT_EQ(settings.accountVoices().size(), 4u);

  service.enqueue({.status = 401, .body = R"({"detail":{"message":"Invalid API key"}})"});
  QCoro::waitFor(settings.loadVoices());
  EXPECT_EQ(settings.statusMessage(), "Could not load voices: ElevenLabs error (401): Invalid API key");
  EXPECT_EQ(settings.accountVoices().size(), 4u) << "the list stays";

  service.enqueue({.status = 500, .body = "upstream trouble", .contentType = "text/plain"});
  QCoro::waitFor(settings.cloneVoice(sample));
  EXPECT_EQ(settings.statusMessage(), "ElevenLabs error (500): upstream trouble");
  EXPECT_EQ(settings.voiceID(), "b1");
  EXPECT_FALSE(settings.isCloning());
  EXPECT_EQ(service.requests().size(), 3u) << "a clone that may exist is not asked for twice";
}

TEST_F(VoiceSettingsTest, APreferenceThatCannotBeSavedIsToldAndNoCloneIsLost) {
  ASSERT_TRUE(settings.setConsentGiven(true));
  ASSERT_TRUE(settings.setVoiceID("b1"));
  testing::ReadOnlyFolder readOnly(AppSettings::file().parent_path());
  if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";

  EXPECT_FALSE(settings.setConsentGiven(false));
  EXPECT_TRUE(settings.consentGiven()) << "the stored consent stands";
  EXPECT_THAT(settings.statusMessage().value_or(""),
              ::testing::StartsWith("Could not save your preferences: "));

  service.enqueue({.status = 200, .body = R"({"voice_id":"new1"})"});
  service.enqueue({.status = 200, .body = kVoices});
  QCoro::waitFor(settings.cloneVoice(sample));
  EXPECT_EQ(settings.clonedVoiceID(), "new1") << "the clone exists on the account";
  EXPECT_EQ(settings.voiceID(), "b1");
  EXPECT_THAT(settings.statusMessage().value_or(""),
              ::testing::StartsWith("Your voice clone new1 was made, but could not be chosen for "
                                    "narration: Could not save your preferences: "));
  EXPECT_FALSE(settings.isCloning());
}

}  // namespace
}  // namespace brisklet
