#include <gtest/gtest.h>

#include "media/ThumbnailCache.h"
#include "support/MediaGenerator.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// Thumbnails accept any frame within half a second; the clock reads to ±0.04 s.
constexpr double kWithinTolerance = 0.54;

class ThumbnailCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::makeClockVideo(folder / "clip.mp4", 4.0, 480, 270, 30);
    asset.emplace(Asset::open(folder / "clip.mp4"));
    std::filesystem::create_directories(
        store.projectDirectory(projectID));  // as a stored project has
  }
  std::filesystem::path thumbFile(int second) const {
    return store.projectDirectory(projectID) / "thumbs" / ("t_" + std::to_string(second) + ".jpg");
  }
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  Uuid projectID = Uuid::random();
  std::optional<Asset> asset;
};

bool same(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

TEST_F(ThumbnailCacheTest, RequestsInTheSameWholeSecondShareOnePicture) {
  ThumbnailCache cache(projectID, *asset, store);
  EXPECT_FALSE(std::filesystem::exists(cache.diskDirectory())) << "creation touches nothing";
  const auto at44 = cache.thumbnail(4.4);
  const auto at36 = cache.thumbnail(3.6);
  const auto at45 = cache.thumbnail(2.5);
  ASSERT_TRUE(at44 && at36 && at45);
  EXPECT_TRUE(same(*at44, *at36));
  EXPECT_EQ(at44->size(), cv::Size(240, 135)) << "fits 240 × 240, keeps its shape";
  EXPECT_NEAR(testing::clockTimeOf(*at45), 3.0, kWithinTolerance)
      << "2.5 s rounds away from zero, to second 3";
  EXPECT_TRUE(std::filesystem::exists(thumbFile(4)));
  EXPECT_TRUE(std::filesystem::exists(thumbFile(3)));
  EXPECT_FALSE(std::filesystem::exists(thumbFile(2)));
}

TEST_F(ThumbnailCacheTest, AReopenedProjectReadsItsPicturesWithoutTheVideo) {
  {
    ThumbnailCache cache(projectID, *asset, store);
    ASSERT_TRUE(cache.thumbnail(1.0));
  }
  std::filesystem::remove(folder / "clip.mp4");
  ThumbnailCache reopened(projectID, *asset, store);
  const auto fromDisk = reopened.thumbnail(1.2);
  ASSERT_TRUE(fromDisk.has_value());
  EXPECT_NEAR(testing::clockTimeOf(*fromDisk), 1.0, kWithinTolerance);
  EXPECT_FALSE(reopened.thumbnail(2.0).has_value()) << "not on disk, and the video is gone";
}

TEST_F(ThumbnailCacheTest, AMissingPictureIsNotRememberedAndNothingIsWritten) {
  ThumbnailCache cache(projectID, *asset, store);
  EXPECT_FALSE(cache.thumbnail(30.0).has_value());
  EXPECT_FALSE(std::filesystem::exists(thumbFile(30)));
  EXPECT_FALSE(cache.thumbnail(std::nan("")).has_value());
  EXPECT_FALSE(cache.thumbnail(INFINITY).has_value());
  EXPECT_FALSE(cache.thumbnail(30.2).has_value()) << "asked again, still nothing";
  EXPECT_TRUE(cache.thumbnail(3.0).has_value()) << "the generator still serves other seconds";
}

TEST_F(ThumbnailCacheTest, AnUnwritableProjectFolderStillGetsPictures) {
  std::filesystem::remove(store.projectDirectory(projectID));
  testing::writeText(store.projectDirectory(projectID), "a file where the folder should be");
  ThumbnailCache cache(projectID, *asset, store);
  const auto picture = cache.thumbnail(2.0);
  ASSERT_TRUE(picture.has_value());
  EXPECT_NEAR(testing::clockTimeOf(*picture), 2.0, kWithinTolerance);
  EXPECT_TRUE(cache.thumbnail(2.2).has_value()) << "kept in memory";
}

TEST_F(ThumbnailCacheTest, AProjectDeletedWhileItsPicturesAreMadeStaysDeleted) {
  ThumbnailCache cache(projectID, *asset, store);
  ASSERT_TRUE(cache.thumbnail(1.0).has_value());
  std::filesystem::remove_all(store.projectDirectory(projectID));
  EXPECT_TRUE(cache.thumbnail(3.0).has_value());
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(projectID)));
}

}  // namespace
}  // namespace brisklet
