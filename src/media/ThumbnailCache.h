#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>

#include "media/platform/Asset.h"
#include "media/platform/ImageGenerator.h"
#include "model/ProjectStore.h"

namespace brisklet {

// The timeline's small pictures of one opened project, one per whole second of source time,
// kept in memory for the cache's life and as "thumbs/t_<second>.jpg" in the project folder so a
// reopened project shows them without decoding. Serves one request at a time from any thread.
class ThumbnailCache {
 public:
  // Creates no folder and reads nothing yet.
  ThumbnailCache(const Uuid& projectID, const Asset& asset,
                 const ProjectStore& store = ProjectStore::shared());

  // The picture for the whole second nearest `timeSec` (halves away from zero), at most 240 ×
  // 240, upright. None when the video has no picture there; never throws. A failure is not
  // remembered, so a later request tries again.
  std::optional<cv::Mat> thumbnail(double timeSec);

  const std::filesystem::path& diskDirectory() const { return diskDirectory_; }

 private:
  std::optional<cv::Mat> generate(long second);

  std::mutex serving_;
  const Uuid projectID_;
  const Asset asset_;
  const std::filesystem::path diskDirectory_;
  std::optional<ImageGenerator> generator_;  // made on first need
  std::map<long, cv::Mat> memory_;
};

}  // namespace brisklet
