#include "support/MediaGenerator.h"

#include <QProcess>
#include <QStringList>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <cstring>
#include <stdexcept>

namespace brisklet::testing {

void runCommand(const std::vector<std::string>& command) {
  QStringList list;
  for (const std::string& argument : command) list << QString::fromStdString(argument);
  const QString program = list.takeFirst();
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, list);
  if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0)
    throw std::runtime_error(program.toStdString() + " " + list.join(' ').toStdString() +
                             " failed: " + process.readAll().toStdString());
}

double ffprobeDurationSec(const std::filesystem::path& file) {
  QProcess process;
  process.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                            QString::fromStdString(file.string())});
  process.waitForFinished(30000);
  return process.readAllStandardOutput().trimmed().toDouble();
}

std::string commandOutput(const std::vector<std::string>& command) {
  QProcess process;
  QStringList arguments;
  for (auto argument = command.begin() + 1; argument != command.end(); ++argument)
    arguments << QString::fromStdString(*argument);
  process.start(QString::fromStdString(command.front()), arguments);
  process.waitForFinished(120000);
  return process.readAllStandardOutput().toStdString();
}

void runFfmpeg(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {"ffmpeg", "-hide_banner", "-loglevel",
                                      "error",  "-nostdin",     "-y"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  runCommand(command);
}

std::filesystem::path makeVoiceSample(const std::filesystem::path& file, double seconds) {
  runFfmpeg({"-f", "lavfi", "-i",
             "aevalsrc='0.3*sin(2*PI*180*t)*(0.6+0.4*sin(2*PI*4*t))':s=44100:d=" +
                 std::to_string(seconds),
             "-c:a", "pcm_s16le", file.string()});
  return file;
}

MeasuredLoudness ffmpegLoudness(const std::filesystem::path& movie) {
  QProcess process;
  process.start("ffmpeg", {"-hide_banner", "-nostats", "-nostdin", "-i",
                           QString::fromStdString(movie.string()), "-af", "ebur128=peak=true",
                           "-f", "null", "-"});
  process.waitForFinished(120000);
  const QString report = QString::fromUtf8(process.readAllStandardError());
  const qsizetype summary = report.lastIndexOf("Summary:");
  if (summary < 0) throw std::runtime_error("ffmpeg measured no loudness: " + report.toStdString());
  const QString tail = report.mid(summary);
  const auto valueAfter = [&](const QString& label) {
    const qsizetype at = tail.indexOf(label);
    if (at < 0) throw std::runtime_error("no " + label.toStdString() + " in " + tail.toStdString());
    return tail.mid(at + label.size()).trimmed().section(' ', 0, 0).toDouble();
  };
  return {valueAfter("I:"), valueAfter("Peak:")};
}

std::vector<float> ffmpegSound(const std::filesystem::path& movie) {
  QProcess process;
  process.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-i",
                           QString::fromStdString(movie.string()), "-f", "f32le", "-ac", "2",
                           "-ar", "48000", "-"});
  process.waitForFinished(120000);
  const QByteArray bytes = process.readAllStandardOutput();
  std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
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

std::filesystem::path makeNumberedVideo(const std::filesystem::path& file, double durationSec) {
  runFfmpeg({"-f", "lavfi", "-i",
             "color=black:s=72x128:r=30:d=" + std::to_string(durationSec) + "," + frameNumbering(),
             "-c:v", "libx264", "-g", "600", "-bf", "3", "-sc_threshold", "0", "-crf", "10",
             file.string()});
  return file;
}

std::filesystem::path makeHighDynamicRangeVideo(const std::filesystem::path& sdr,
                                                const std::string& transfer,
                                                const std::filesystem::path& file) {
  runFfmpeg({"-i", sdr.string(), "-vf",
             "zscale=tin=bt709:pin=bt709:min=bt709:rin=tv:t=" + transfer +
                 ":p=bt2020:m=bt2020nc:r=tv:npl=203,format=yuv420p10le",
             "-c:v", "libx265", "-x265-params",
             "log-level=error:colorprim=bt2020:transfer=" + transfer + ":colormatrix=bt2020nc",
             "-color_primaries", "bt2020", "-color_trc", transfer, "-colorspace", "bt2020nc",
             "-tag:v", "hvc1", "-an", file.string()});
  return file;
}

std::string frameNumbering() {
  return "format=gray,geq=lum='if(bitand(floor(N/pow(2,floor(Y*5/H)*2+floor(X*2/W))),1),235,16)',"
         "format=yuv420p";
}

int frameNumberOf(const cv::Mat& image) {
  cv::Mat grey = image;
  if (image.channels() == 3) cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  int number = 0;
  for (int bit = 0; bit < 10; ++bit) {
    const int x = static_cast<int>((bit % 2 + 0.5) / 2 * grey.cols);
    const int y = static_cast<int>((bit / 2 + 0.5) / 5 * grey.rows);
    if (grey.at<uchar>(y, x) > 128) number |= 1 << bit;
  }
  return number;
}

std::filesystem::path sharedMedia(const std::string& name) {
  const std::filesystem::path folder = BRISKLET_SHARED_MEDIA_DIR;
  if (!std::filesystem::is_directory(folder)) return {};
  return folder / name;
}

}  // namespace brisklet::testing
