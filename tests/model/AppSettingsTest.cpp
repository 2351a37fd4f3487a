#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

class AppSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove_all(AppSettings::file().parent_path()); }
};

TEST_F(AppSettingsTest, NeverSetPreferencesReadAsTheirDefaults) {
  EXPECT_EQ(AppSettings::claudeModel(), "claude-sonnet-5");
  EXPECT_EQ(AppSettings::voiceID(), "");
  EXPECT_FALSE(AppSettings::voiceConsentGiven());
  EXPECT_FALSE(AppSettings::musicFolderBookmark().has_value());
  EXPECT_FALSE(std::filesystem::exists(AppSettings::file())) << "reading creates nothing";
}

TEST_F(AppSettingsTest, PreferencesPersistInTheDefaultsFile) {
  AppSettings::setClaudeModel("claude-opus-5");
  AppSettings::setVoiceID("voice-123");
  AppSettings::setVoiceConsentGiven(true);
  const ByteString bookmark = {0, 1, 2, 250, 255};
  AppSettings::setMusicFolderBookmark(bookmark);

  EXPECT_EQ(AppSettings::claudeModel(), "claude-opus-5");
  EXPECT_EQ(AppSettings::voiceID(), "voice-123");
  EXPECT_TRUE(AppSettings::voiceConsentGiven());
  EXPECT_EQ(AppSettings::musicFolderBookmark(), bookmark);

  const auto stored = nlohmann::json::parse(readFile(AppSettings::file()));
  EXPECT_EQ(stored["musicFolderBookmark"], "AAEC+v8=") << "bytes are stored as base64";
  EXPECT_EQ(stored["voiceConsentGiven"], true);

  AppSettings::setMusicFolderBookmark(std::nullopt);
  EXPECT_FALSE(AppSettings::musicFolderBookmark().has_value());
  EXPECT_FALSE(
      nlohmann::json::parse(readFile(AppSettings::file())).contains("musicFolderBookmark"));
}

TEST_F(AppSettingsTest, DamagedOrMistypedValuesReadAsDefaultsAndUnknownKeysSurvive) {
  std::filesystem::create_directories(AppSettings::file().parent_path());
  writeFileAtomically(AppSettings::file(), "{ this is not json");
  EXPECT_EQ(AppSettings::claudeModel(), "claude-sonnet-5");

  writeFileAtomically(AppSettings::file(),
                      R"({"claudeModel": 5, "voiceConsentGiven": "yes", "musicFolderBookmark": "%%",
                          "windowFrame": [1, 2, 3]})");
  EXPECT_EQ(AppSettings::claudeModel(), "claude-sonnet-5");
  EXPECT_FALSE(AppSettings::voiceConsentGiven());
  EXPECT_FALSE(AppSettings::musicFolderBookmark().has_value());

  AppSettings::setVoiceID("v");
  const auto stored = nlohmann::json::parse(readFile(AppSettings::file()));
  EXPECT_EQ(stored["windowFrame"], nlohmann::json::array({1, 2, 3})) << "a key we do not know";
  EXPECT_EQ(stored["voiceID"], "v");
}

TEST_F(AppSettingsTest, APreferenceThatCannotBeSavedThrowsTheReasonAndKeepsTheFile) {
  AppSettings::setVoiceID("v1");
  const std::string before = readFile(AppSettings::file());
  testing::ReadOnlyFolder readOnly(AppSettings::file().parent_path());
  if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";
  EXPECT_THROW(
      {
        try {
          AppSettings::setVoiceID("v2");
        } catch (const AppSettings::SettingsError& error) {
          EXPECT_THAT(error.what(),  // read-only as root, not writable otherwise
                      ::testing::AnyOf(
                          ::testing::StrEq("Could not save your preferences: Read-only file system."),
                          ::testing::StrEq("Could not save your preferences: Permission denied.")));
          throw;
        }
      },
      AppSettings::SettingsError);
  EXPECT_EQ(readFile(AppSettings::file()), before);
  EXPECT_EQ(AppSettings::voiceID(), "v1");
}

TEST_F(AppSettingsTest, APreferenceOnAFullDiskThrowsTheReason) {
  testing::SmallDisk disk(AppSettings::file().parent_path(), 16);
  if (!disk.works()) GTEST_SKIP() << "mounting a small disk needs root";
  testing::writeText(AppSettings::file().parent_path() / "filler", std::string(12 * 1024, 'x'));
  try {
    AppSettings::setMusicFolderBookmark(ByteString(8 * 1024, 'b'));
    FAIL() << "the write cannot fit";
  } catch (const AppSettings::SettingsError& error) {
    EXPECT_STREQ(error.what(), "Could not save your preferences: No space left on device.");
  }
  EXPECT_FALSE(AppSettings::musicFolderBookmark());
}

}  // namespace
}  // namespace brisklet
