#include "media/ProjectSpeech.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "media/platform/Asset.h"
#include "platform/AtomicFile.h"

namespace brisklet {
namespace {

constexpr int kFormat = 1;

// The cache file of the sound in `sound`, named by the file, its size and its time.
std::filesystem::path cacheFile(const std::filesystem::path& folder,
                                const std::filesystem::path& sound) {
  std::error_code error;
  const auto size = std::filesystem::file_size(sound, error);
  const auto written = std::filesystem::last_write_time(sound, error);
  std::ostringstream key;
  key << std::hex
      << std::hash<std::string>{}(sound.string() + "|" + std::to_string(error ? 0 : size) + "|" +
                                  std::to_string(written.time_since_epoch().count()));
  return folder / ("speech-" + key.str() + ".json");
}

std::optional<std::vector<SpeechActivity::SpeechSpan>> cached(const std::filesystem::path& file) {
  try {
    const nlohmann::json stored = nlohmann::json::parse(readFile(file));
    if (stored.at("format").get<int>() != kFormat) return std::nullopt;
    std::vector<SpeechActivity::SpeechSpan> speech;
    for (const nlohmann::json& span : stored.at("speech"))
      speech.push_back({span.at(0).get<double>(), span.at(1).get<double>()});
    return speech;
  } catch (const std::exception&) {
    return std::nullopt;  // none yet, or damaged: found again
  }
}

void remember(const std::filesystem::path& file,
              const std::vector<SpeechActivity::SpeechSpan>& speech) {
  nlohmann::json spans = nlohmann::json::array();
  for (const SpeechActivity::SpeechSpan& span : speech)
    spans.push_back({span.startSec, span.endSec});
  try {
    writeFileAtomically(file, nlohmann::json{{"format", kFormat}, {"speech", spans}}.dump(), 0644,
                        Durability::cacheOnly);
  } catch (const std::exception&) {
    // An unwritable project folder only costs finding the speech again next time.
  }
}

}  // namespace

std::vector<SpeechActivity::SpeechSpan> projectSpeech(const Project& project,
                                                      const ProjectStore& store,
                                                      std::stop_token stop) {
  const std::filesystem::path sound =
      store.cleanAudioLocation(project).value_or(store.resolveVideoURL(project));
  const std::filesystem::path file = cacheFile(store.projectDirectory(project.id), sound);
  if (std::optional<std::vector<SpeechActivity::SpeechSpan>> known = cached(file)) return *known;
  const std::vector<SpeechActivity::SpeechSpan> speech =
      SpeechActivity::speechOf(Asset::open(sound), stop);
  remember(file, speech);
  return speech;
}

}  // namespace brisklet
