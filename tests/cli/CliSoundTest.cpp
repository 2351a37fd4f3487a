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

}  // namespace
}  // namespace brisklet
