#include "media/ClipMerger.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "media/platform/Asset.h"

namespace brisklet::ClipMerger {
namespace {

std::optional<Timestamp> birthTime(const std::filesystem::path& file) {
  struct statx status {};
  if (statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &status) != 0) return std::nullopt;
  if ((status.stx_mask & STATX_BTIME) == 0) return std::nullopt;  // the file system keeps none
  return Timestamp(std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::seconds(status.stx_btime.tv_sec) +
      std::chrono::nanoseconds(status.stx_btime.tv_nsec)));
}

}  // namespace

std::optional<Timestamp> shootingTime(const std::filesystem::path& clip) {
  try {
    const Asset asset = Asset::open(clip);
    if (asset.creationTimeText())
      if (const auto recorded = parseIso8601(*asset.creationTimeText())) return recorded;
  } catch (const std::exception&) {
    // Not a readable movie: the merge will say so; for ordering, the file system may know.
  }
  return birthTime(clip);
}

std::vector<std::filesystem::path> sortedByCreationDate(std::vector<std::filesystem::path> clips) {
  std::vector<std::pair<std::optional<Timestamp>, std::filesystem::path>> dated;
  for (std::filesystem::path& clip : clips) dated.emplace_back(shootingTime(clip), std::move(clip));
  // std::optional orders "none" before any time: the distant past.
  std::stable_sort(dated.begin(), dated.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::filesystem::path> sorted;
  for (auto& [time, clip] : dated) sorted.push_back(std::move(clip));
  return sorted;
}

}  // namespace brisklet::ClipMerger
