#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/CliFixture.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;

class CliSoundTest : public CliTest {
 protected:
  testing::FakeService model{"BRISKLET_ANTHROPIC_BASE_URL"};
  QProcessEnvironment withKey = [] {
    QProcessEnvironment environment;
    environment.insert("ANTHROPIC_API_KEY", "sk-test");
    return environment;
  }();
  QString id;

  void SetUp() override {
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=96x54:r=30:d=6", "-f", "lavfi", "-i",
                        "sine=f=300:d=6", "-pix_fmt", "yuv420p", (home / "walk.mp4").string()});
    Project project = makeProject("Walk", makeBookmark(home / "walk.mp4"), 6.0);
    project.editPlan = EditPlan{.segments = {testing::segment(0, 3), testing::segment(3, 6)}};
    for (Segment& segment : project.editPlan->segments) segment.sceneDescription = "A street.";
    store.save(project);
    id = QString::fromStdString(project.id.text());
  }

  Project now() { return store.loadAll().front(); }
};

TEST_F(CliSoundTest, EnhanceMusicAndShortDoWhatTheWindowDoes) {
  const CliRun enhanced = cli({"enhance", id, "--crystal-clear", "--gain", "150"});
  ASSERT_EQ(enhanced.exitCode, 0) << enhanced.err;
  EXPECT_EQ(enhanced.out, "");
  EXPECT_THAT(enhanced.err, HasSubstr("Making the audio crystal clear\u2026"));
  EXPECT_EQ(now().denoisedAudioFileName, "enhanced_cc_g150.m4a");

  std::filesystem::create_directories(home / "Tracks");
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=2", (home / "Tracks" / "Theme.MP3").string()});
  const CliRun forgotten = cli({"music", id, "--auto"}, withKey);
  EXPECT_EQ(forgotten.exitCode, 2);
  EXPECT_THAT(forgotten.err, HasSubstr("choose one with --folder DIR"));
  model.enqueue(testing::modelAnswer(R"({"file_name":"Theme.MP3","why":"calm"})"));
  const CliRun picked =
      cli({"music", id, "--auto", "--folder", QString::fromStdString((home / "Tracks").string())},
          withKey);
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  EXPECT_EQ(picked.out, "Theme.MP3\n");
  EXPECT_EQ(now().musicFileName, ProjectStore::musicBedName(home / "Tracks" / "Theme.MP3"));

  model.enqueue(
      testing::modelAnswer(R"({"clips":[{"scene_index":0,"start_offset_sec":0.5,"duration_sec":2},)"
                           R"({"scene_index":1,"start_offset_sec":0,"duration_sec":1.5}]})"));
  const CliRun made =
      cli({"short", id, "-o", QString::fromStdString((home / "Walk Short").string())}, withKey);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, (home / "Walk Short.mp4").string() + "\n");
  EXPECT_TRUE(std::filesystem::exists(home / "Walk Short.mp4"));

  const CliRun refused =
      cli({"short", id, "-o", QString::fromStdString((home / "walk.mp4").string())}, withKey);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err,
            "Short creation failed: \u201Cwalk.mp4\u201D is this project's source video.\n");
  EXPECT_EQ(cli({"enhance", id, "--gain", "loud"}).exitCode, 2);
  EXPECT_EQ(cli({"music", id}).exitCode, 2);
}

TEST_F(CliSoundTest, LoudnessIsAnOutputSettingTheExportLogsAsMeasured) {
  EXPECT_EQ(loudnessTarget(now()), LoudnessTarget::streaming) << "the default";
  const QString movie = QString::fromStdString((home / "walk-edit.mp4").string());
  const CliRun streaming = cli({"export", id, "-o", movie});
  ASSERT_EQ(streaming.exitCode, 0) << streaming.err;
  EXPECT_THAT(streaming.err, ::testing::ContainsRegex(
                                 "loudness -[0-9.]+ LUFS measured, -14.0 LUFS written, true peak "
                                 "-[0-9.]+ dBTP"));
  ASSERT_EQ(cli({"set", id, "loudness", "-23"}).exitCode, 0);
  EXPECT_EQ(now().loudnessRaw, "-23");
  EXPECT_THAT(cli({"export", id, "-o", movie}).err, HasSubstr("-23.0 LUFS written"));
  EXPECT_NEAR(testing::ffmpegLoudness(home / "walk-edit.mp4").integratedLufs, -23, 0.5);
  ASSERT_EQ(cli({"set", id, "loudness", "off"}).exitCode, 0);
  EXPECT_EQ(loudnessTarget(now()), LoudnessTarget::off);
  const CliRun off = cli({"export", id, "-o", movie});
  EXPECT_THAT(off.err, ::testing::Not(HasSubstr("measured")));
  const CliRun wrong = cli({"set", id, "loudness", "-20"});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_THAT(wrong.err, HasSubstr("loudness is one of -14, -16, -23, off"));
  EXPECT_EQ(loudnessTarget(now()), LoudnessTarget::off);
}

TEST_F(CliSoundTest, OnlyMusicThatPlaysIsOfferedAndEdgeCasesSaySo) {
  const auto tracks = home / "Tracks";
  std::filesystem::create_directories(tracks);
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=2", (tracks / "Theme.mp3").string()});
  testing::writeText(tracks / "Broken.mp3", std::string(5000, '\x33'));
  testing::writeText(tracks / "Empty.wav", "");
  model.enqueue(testing::modelAnswer(R"({"file_name":"Theme.mp3","why":"calm"})"));
  const CliRun picked =
      cli({"music", id, "--auto", "--folder", QString::fromStdString(tracks.string() + "/")}, withKey);
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  EXPECT_EQ(picked.out, "Theme.mp3\n");
  EXPECT_THAT(picked.err, HasSubstr("Skipped 2 files that did not play as sound."));
  ASSERT_EQ(model.requests().size(), 1u);
  EXPECT_THAT(model.requests()[0].body, ::testing::Not(HasSubstr("Broken.mp3")));
  EXPECT_THAT(model.requests()[0].body, ::testing::Not(HasSubstr("Empty.wav")));

  std::filesystem::remove(tracks / "Theme.mp3");
  const CliRun none = cli({"music", id, "--auto"}, withKey);
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_THAT(none.err, HasSubstr("None of the audio files in Tracks plays as sound."));
  const auto quiet = home / "Quiet";
  std::filesystem::create_directories(quiet);
  const CliRun empty =
      cli({"music", id, "--auto", "--folder", QString::fromStdString(quiet.string() + "/")}, withKey);
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_THAT(empty.err, HasSubstr("No audio files found in Quiet."));
  EXPECT_EQ(model.requests().size(), 1u);

  const auto srt = home / "walk.srt";
  const CliRun captions = cli({"captions", id, "-o", QString::fromStdString(srt.string())});
  EXPECT_EQ(captions.exitCode, 1);
  EXPECT_THAT(captions.err, HasSubstr("No narration line of the edit has audio to caption."));
  EXPECT_FALSE(std::filesystem::exists(srt));
}

}  // namespace
}  // namespace brisklet
