#include "app/StillPicture.h"

#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/Player.h"
#include "media/PlayheadRules.h"
#include "platform/OutputFile.h"

namespace brisklet {
namespace {

constexpr int kFullSize = 1 << 15;
// A still of a long source on a slow disk may take a while; a picture that never comes does not.
constexpr std::chrono::minutes kLongestWait{2};

// A source moment the edit does not show because a pause around it was removed: the picture the
// preview would show instead is another moment, so the still is refused, saying why.
void refuseRemovedMoment(const Project& project, double sourceSec) {
  if (!project.editPlan) return;
  for (const Segment& segment : project.editPlan->segments) {
    if (!segment.keep || sourceSec < segment.startSec || sourceSec >= segment.endSec) continue;
    for (const SourceSpan& pause : segment.removedPauses)
      if (sourceSec >= pause.startSec && sourceSec < pause.endSec) {
        char sentence[160];
        std::snprintf(sentence, sizeof sentence,
                      "Source time %.2f s is in a pause Tighten removed (%.2f\u2013%.2f s).",
                      sourceSec, pause.startSec, pause.endSec);
        throw std::runtime_error(sentence);
      }
  }
}

}  // namespace

void writeStill(const Project& project, const ProjectStore& store, double timeSec,
                bool onSourceAxis, const std::filesystem::path& destination) {
  if (const auto refusal = destinationRefusal(destination, project, store, OutputKind::picture))
    throw std::runtime_error(*refusal);
  if (onSourceAxis) refuseRemovedMoment(project, timeSec);
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
