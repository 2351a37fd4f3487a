#include "analysis/FaceFinder.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <optional>

#include "platform/Log.h"

namespace brisklet {
namespace {

const char* const kFrontalFaceModel =
    "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";
// Trained on faces turned to one side; the mirrored picture finds those turned to the other.
const char* const kProfileFaceModel = "/usr/share/opencv4/haarcascades/haarcascade_profileface.xml";
// The detector's own window: smaller faces are too few pixels in a sample to be told from
// texture (in a 320-px sample, a face a thirteenth of the picture wide).
constexpr int kSmallestFacePixels = 24;
// A face seen again within this long, and this near, is the same face.
constexpr double kLongestGapSec = 2.0;
constexpr double kFarthestStepWidths = 1.0;
// A face seen in fewer samples than this share (and than two) is a passer-by or a false find.
constexpr double kShortestShare = 1.0 / 3.0;

// The model at `path`, empty when it cannot be read.
cv::CascadeClassifier model(const char* path) {
  cv::CascadeClassifier classifier;
  try {
    classifier.load(path);
  } catch (const cv::Exception&) {
  }
  return classifier;
}

// Coarse steps between sizes, half the work of fine ones, with one neighbour fewer asked of a
// find to keep what the coarser steps miss.
std::vector<cv::Rect> detect(cv::CascadeClassifier& classifier, const cv::Mat& grey) {
  std::vector<cv::Rect> boxes;
  if (!classifier.empty())
    classifier.detectMultiScale(grey, boxes, 1.2, 3, 0, {kSmallestFacePixels, kSmallestFacePixels});
  return boxes;
}

}  // namespace

class FaceFinder::Detector {
 public:
  cv::CascadeClassifier frontal = model(kFrontalFaceModel);
  cv::CascadeClassifier profile = model(kProfileFaceModel);

  // A face turned away is looked for only just after one looked at the camera: a talker turning
  // to the side stays framed, and footage without a talker never pays for the second model.
  std::vector<cv::Rect> faces(const cv::Mat& grey, double timeSec) {
    std::vector<cv::Rect> boxes = detect(frontal, grey);
    if (!boxes.empty()) {
      lastFrontalSec = timeSec;
      return boxes;
    }
    if (!lastFrontalSec || timeSec <= *lastFrontalSec || timeSec - *lastFrontalSec > kLongestGapSec)
      return boxes;
    boxes = detect(profile, grey);
    cv::Mat mirrored;
    cv::flip(grey, mirrored, 1);
    for (const cv::Rect& box : detect(profile, mirrored))
      boxes.emplace_back(grey.cols - box.x - box.width, box.y, box.width, box.height);
    return boxes;
  }

 private:
  std::optional<double> lastFrontalSec;
};

FaceFinder::FaceFinder() : detector_(std::make_unique<Detector>()) {
  static std::once_flag told;
  if (!available())
    std::call_once(told, [] {
      logLine(std::string("FaceFinder: the face model ") + kFrontalFaceModel +
              " could not be read; crops stay centred");
    });
}

FaceFinder::~FaceFinder() = default;
FaceFinder::FaceFinder(FaceFinder&&) noexcept = default;
FaceFinder& FaceFinder::operator=(FaceFinder&&) noexcept = default;

bool FaceFinder::available() const { return !detector_->frontal.empty(); }

std::vector<FacePosition> FaceFinder::faces(const cv::Mat& picture, double timeSec) {
  std::vector<FacePosition> found;
  if (!available() || picture.empty()) return found;
  cv::Mat grey;
  cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
  cv::equalizeHist(grey, grey);
  const std::vector<cv::Rect> boxes = detector_->faces(grey, timeSec);
  const double width = grey.cols;
  const double height = grey.rows;
  for (const cv::Rect& box : boxes)
    found.push_back(
        {timeSec, box.x / width, box.y / height, box.width / width, box.height / height});
  return found;
}

namespace FaceFinding {

std::vector<FacePosition> mainFace(const std::vector<FacePosition>& detections,
                                   size_t sampleCount) {
  struct Track {
    std::vector<FacePosition> faces;
    double area = 0;
  };
  std::vector<Track> tracks;
  for (const FacePosition& face : detections) {
    Track* nearest = nullptr;
    double nearestDistance = INFINITY;
    for (Track& track : tracks) {
      const FacePosition& last = track.faces.back();
      if (last.timeSec >= face.timeSec || face.timeSec - last.timeSec > kLongestGapSec) continue;
      const double distance =
          std::hypot(face.centreX() - last.centreX(), face.centreY() - last.centreY());
      if (distance <= kFarthestStepWidths * std::max(face.width, last.width) &&
          distance < nearestDistance) {
        nearest = &track;
        nearestDistance = distance;
      }
    }
    if (nearest == nullptr) nearest = &tracks.emplace_back();
    nearest->faces.push_back(face);
    nearest->area += face.width * face.height;
  }
  const Track* best = nullptr;
  for (const Track& track : tracks)
    if (static_cast<double>(track.faces.size()) >=
            std::max(2.0, kShortestShare * static_cast<double>(sampleCount)) &&
        (best == nullptr || track.area > best->area))
      best = &track;
  return best != nullptr ? best->faces : std::vector<FacePosition>{};
}

}  // namespace FaceFinding
}  // namespace brisklet
