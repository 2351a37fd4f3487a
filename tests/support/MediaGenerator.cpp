#include "support/MediaGenerator.h"

#include <QProcess>
#include <QStringList>
#include <opencv2/core.hpp>
#include <stdexcept>

namespace brisklet::testing {

void runFfmpeg(const std::vector<std::string>& arguments) {
  QStringList list = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start("ffmpeg", list);
  if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0)
    throw std::runtime_error("ffmpeg " + list.join(' ').toStdString() +
                             " failed: " + process.readAll().toStdString());
}

std::filesystem::path makeClockVideo(const std::filesystem::path& file, double durationSec,
                                     int width, int height, int fps) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  runFfmpeg({"-f", "lavfi", "-i",
             "color=black:s=" + size + ":r=" + std::to_string(fps) +
                 ":d=" + std::to_string(durationSec) +
                 ",format=rgb24,geq=r='min(255,T*60)':g='min(255,T*60)':b='min(255,T*60)'",
             "-c:v", "libx264", "-preset", "ultrafast", "-g", std::to_string(fps), "-pix_fmt",
             "yuv420p", file.string()});
  return file;
}

double clockTimeOf(const cv::Mat& image) {
  const cv::Scalar mean = cv::mean(image);
  return (mean[0] + mean[1] + mean[2]) / 3.0 / 60.0;
}

std::filesystem::path sharedMedia(const std::string& name) {
  const std::filesystem::path folder = BRISKLET_SHARED_MEDIA_DIR;
  if (!std::filesystem::is_directory(folder)) return {};
  return folder / name;
}

}  // namespace brisklet::testing
