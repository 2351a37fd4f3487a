#include "app/StillPicture.h"

#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

#include "app/OutputDestination.h"
#include "app/ProjectComposition.h"
#include "media/PlayheadRules.h"
#include "media/platform/PictureConverter.h"
#include "media/platform/Renderer.h"
#include "platform/OutputFile.h"

namespace brisklet {

void writeStill(const Project& project, const ProjectStore& store, double timeSec,
                bool onSourceAxis, const std::filesystem::path& destination) {
  if (const auto refusal = destinationRefusal(destination, project, store, OutputKind::picture))
    throw std::runtime_error(*refusal);
  const CompositionResult result = previewComposition(project, store);
  VideoRenderer renderer(result.composition, result.videoComposition);
  renderer.seek(onSourceAxis ? seekTarget(result.mappings, timeSec) : timeSec);
  const std::optional<RenderedPicture> picture = renderer.next();
  if (!picture) throw std::runtime_error("The edit has no picture to show.");
  PictureConverter convert;
  const cv::Mat image = convert(*picture->frame, {picture->frame->width, picture->frame->height});
  std::vector<uchar> png;
  if (!cv::imencode(".png", image, png)) throw std::runtime_error("The picture could not be encoded.");
  OutputFile output(destination);
  writeInto({reinterpret_cast<const char*>(png.data()), png.size()}, output);
  output.commit();
}

}  // namespace brisklet
