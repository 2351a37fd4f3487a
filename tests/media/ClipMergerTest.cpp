#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/ClipMerger.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;

// A clip the camera stamped with `recordedAt` (ISO 8601), or with nothing.
std::filesystem::path stampedClip(const std::filesystem::path& file,
                                  const std::string& recordedAt) {
  std::vector<std::string> arguments{"-f", "lavfi", "-i", "color=s=64x48:d=0.5"};
  if (!recordedAt.empty()) {
    arguments.push_back("-metadata");
    arguments.push_back("creation_time=" + recordedAt);
  }
  arguments.push_back(file.string());
  testing::runFfmpeg(arguments);
  return file;
}

TEST(ClipMerger, ClipsAreOrderedByWhenTheCameraRecordedThem) {
  testing::TemporaryFolder folder;
  // Copied off the camera in the wrong order: the file times say nothing about shooting.
  const auto late = stampedClip(folder / "c.mov", "2024-05-01T10:02:00.000000Z");
  const auto early = stampedClip(folder / "a.mov", "2024-05-01T10:00:00.000000Z");
  const auto middle = stampedClip(folder / "b.mov", "2024-05-01T10:01:00Z");
  const auto alsoEarly = stampedClip(folder / "d.mov", "2024-05-01T10:00:00Z");
  EXPECT_THAT(ClipMerger::sortedByCreationDate({late, early, middle, alsoEarly}),
              ElementsAre(early, alsoEarly, middle, late));
  EXPECT_THAT(ClipMerger::sortedByCreationDate({late, alsoEarly, early}),
              ElementsAre(alsoEarly, early, late))
      << "equal times keep the given order";
}

TEST(ClipMerger, WithoutARecordingTimeTheFileSystemsBirthTimeOrTheDistantPast) {
  testing::TemporaryFolder folder;
  const auto stamped = stampedClip(folder / "stamped.mov", "2030-01-01T00:00:00Z");
  const auto unstamped = stampedClip(folder / "unstamped.mov", "");
  testing::writeText(folder / "noise.mov", "no movie");
  const auto missing = folder / "missing.mov";

  const auto unstampedTime = ClipMerger::shootingTime(unstamped);
  const auto birth = ClipMerger::shootingTime(folder / "noise.mov");
  EXPECT_EQ(ClipMerger::shootingTime(stamped), parseIso8601("2030-01-01T00:00:00Z"));
  EXPECT_FALSE(ClipMerger::shootingTime(missing));
  if (!birth || !unstampedTime) GTEST_SKIP() << "this file system keeps no birth times";
  EXPECT_THAT(ClipMerger::sortedByCreationDate({stamped, folder / "noise.mov", missing}),
              ElementsAre(missing, folder / "noise.mov", stamped));
}

}  // namespace
}  // namespace brisklet
