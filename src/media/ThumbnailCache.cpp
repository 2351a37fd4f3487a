#include "media/ThumbnailCache.h"

#include <cmath>
#include <opencv2/imgcodecs.hpp>

#include "platform/AtomicFile.h"

namespace brisklet {
namespace {

constexpr int kMaximumSide = 240;
constexpr double kToleranceSec = 0.5;
constexpr int kJpegQuality = 70;

}  // namespace

ThumbnailCache::ThumbnailCache(const Uuid& projectID, const Asset& asset, const ProjectStore& store)
    : projectID_(projectID),
      asset_(asset),
      diskDirectory_(store.projectDirectory(projectID) / "thumbs") {}

std::optional<cv::Mat> ThumbnailCache::thumbnail(double timeSec) {
  if (!std::isfinite(timeSec) || std::fabs(timeSec) > 1e9) return std::nullopt;
  const long second = std::lround(timeSec);
  const std::lock_guard serving(serving_);

  if (const auto found = memory_.find(second); found != memory_.end()) return found->second;

  const std::filesystem::path file = diskDirectory_ / ("t_" + std::to_string(second) + ".jpg");
  try {
    const std::string bytes = readFile(file);
    cv::Mat stored = cv::imdecode(
        cv::Mat(1, static_cast<int>(bytes.size()), CV_8U, const_cast<char*>(bytes.data())),
        cv::IMREAD_COLOR);
    if (!stored.empty()) {
      memory_[second] = stored;
      return stored;
    }
  } catch (const std::exception&) {
    // No file, or an unreadable one: the picture is made again below.
  }

  std::optional<cv::Mat> made = generate(second);
  if (!made) return std::nullopt;
  memory_[second] = *made;
  std::vector<std::uint8_t> jpeg;
  try {
    // Only "thumbs" itself is made: a project folder deleted meanwhile stays deleted.
    std::error_code ignored;
    std::filesystem::create_directory(diskDirectory_, ignored);
    if (cv::imencode(".jpg", *made, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality}))
      writeFileAtomically(file,
                          std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()),
                          0644, Durability::cacheOnly);
  } catch (const std::exception&) {
    // An unwritable project folder only costs the picture being made again next time.
  }
  return made;
}

std::optional<cv::Mat> ThumbnailCache::generate(long second) {
  try {
    if (!generator_)
      generator_.emplace(asset_, ImageGeneratorSettings{.maximumWidth = kMaximumSide,
                                                        .maximumHeight = kMaximumSide,
                                                        .toleranceBeforeSec = kToleranceSec,
                                                        .toleranceAfterSec = kToleranceSec,
                                                        .appliesPreferredTrackTransform = true});
    return generator_->image(static_cast<double>(second));
  } catch (const std::exception&) {
    return std::nullopt;  // no picture there, or no video at all: the timeline shows none
  }
}

}  // namespace brisklet
