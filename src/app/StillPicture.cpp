#include "app/StillPicture.h"

#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/PlayheadRules.h"
#include "media/Player.h"
#include "platform/OutputFile.h"

namespace brisklet {
namespace {

constexpr int kFullSize = 1 << 15;
// A still of a long source on a slow disk may take a while; a picture that never comes does not.
constexpr std::chrono::minutes kLongestWait{2};

}  // namespace

void writeStill(const Project& project, const ProjectStore& store, double timeSec,
                bool onSourceAxis, const std::filesystem::path& destination) {
  if (const auto refusal = destinationRefusal(destination, project, store, OutputKind::picture))
    throw std::runtime_error(*refusal);
  auto result = std::make_shared<const CompositionResult>(previewComposition(project, store));
  // The preview's own seek, at full size.
  PlayerOptions fullSize;
  fullSize.viewBox = {kFullSize, kFullSize};
  Player player(fullSize);
  player.setItem(result, onSourceAxis ? seekTarget(result->mappings, timeSec) : timeSec);
  const std::optional<PlayerPicture> picture = player.awaitPicture(kLongestWait);
  if (!picture)
    throw std::runtime_error(player.problem().value_or("The edit has no picture to show."));
  std::vector<uchar> png;
  if (!cv::imencode(".png", picture->image, png))
    throw std::runtime_error("The picture could not be encoded.");
  OutputFile output(destination);
  writeInto({reinterpret_cast<const char*>(png.data()), png.size()}, output);
  output.commit();
}

}  // namespace brisklet
