#include "support/SpokenTalk.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <random>
#include <string>

#include "media/SpeechEqualizer.h"
#include "platform/AtomicFile.h"
#include "support/MediaGenerator.h"

namespace brisklet::testing {
namespace {

using SpeechActivity::kSampleRate;
using SpeechActivity::kStepSec;
using SpeechActivity::SpeechSpan;

constexpr double kVoiceFloorHz = 200;
constexpr double kVoiceCeilingHz = 4000;

// The power of each 10 ms step of `samples` through `filters`.
std::vector<double> stepPowers(const std::vector<float>& samples, std::vector<Biquad> filters) {
  const auto step = static_cast<size_t>(kSampleRate * kStepSec);
  std::vector<double> powers(samples.size() / step, 0.0);
  for (size_t at = 0; at < powers.size() * step; ++at) {
    double sample = samples[at];
    for (Biquad& filter : filters) sample = filter.process(sample);
    powers[at / step] += sample * sample / static_cast<double>(step);
  }
  return powers;
}

const char* const kSentences[] = {
    "Good morning, we are out early today.",
    "The plan is to walk along the river to the old bridge.",
    "I packed some coffee and a few snacks.",
    "Look at that light on the water.",
    "So this is the bridge I told you about.",
    "It was built more than two hundred years ago.",
    "Let me show you the view from the top.",
    "Okay, that was a lot of stairs.",
};

// 40 pauses from 0.2 to 4 s, mixed so that short and long ones alternate.
std::vector<double> pauses() {
  std::vector<double> lengths;
  for (int index = 0; index < 40; ++index)
    lengths.push_back(0.2 + 3.8 * ((index * 17) % 40) / 39.0);
  return lengths;
}

double rms(const std::vector<float>& samples) {
  double sum = 0;
  for (const float sample : samples) sum += static_cast<double>(sample) * sample;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

// `text` spoken by `speaker`, mono at the detector's rate, trimmed to where its voice is.
std::vector<float> spoken(const std::string& text, const std::string& speaker,
                          const std::filesystem::path& scratch) {
  const auto raw = scratch / "sentence.f32";
  testing::runFfmpeg({"-f", "lavfi", "-i", "flite=text='" + text + "':voice=" + speaker, "-ar",
                      std::to_string(kSampleRate), "-ac", "1", "-f", "f32le", raw.string()});
  const std::string bytes = readFile(raw);
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  // The synthesiser pads its voice with a faint hiss: the sentence is where the voice is heard,
  // the 10 ms steps within 30 dB of its loudest.
  constexpr size_t kStep = kSampleRate / 100;
  const size_t steps = samples.size() / kStep;
  std::vector<double> power(steps, 0.0);
  for (size_t step = 0; step < steps; ++step)
    for (size_t at = step * kStep; at < (step + 1) * kStep; ++at)
      power[step] += static_cast<double>(samples[at]) * samples[at] / kStep;
  const double heard = *std::max_element(power.begin(), power.end()) / 1000;
  size_t first = 0, end = steps;
  while (first < end && power[first] < heard) ++first;
  while (end > first && power[end - 1] < heard) --end;
  std::vector<float> voice(samples.begin() + static_cast<std::ptrdiff_t>(first * kStep),
                           samples.begin() + static_cast<std::ptrdiff_t>(end * kStep));
  // Both voices at one level, as one talker's sentences are.
  const auto gain = static_cast<float>(0.1 / rms(voice));
  for (float& sample : voice) sample *= gain;
  return voice;
}

}  // namespace

Talk builtTalk(const std::filesystem::path& scratch) {
  Talk talk;
  const std::vector<double> gaps = pauses();
  for (size_t index = 0; index <= gaps.size(); ++index) {
    const std::vector<float> sentence =
        spoken(kSentences[index % std::size(kSentences)], index % 2 == 0 ? "slt" : "rms", scratch);
    const double start = static_cast<double>(talk.samples.size()) / kSampleRate;
    talk.samples.insert(talk.samples.end(), sentence.begin(), sentence.end());
    talk.sentences.push_back({start, static_cast<double>(talk.samples.size()) / kSampleRate});
    if (index < gaps.size())
      talk.samples.resize(talk.samples.size() + static_cast<size_t>(gaps[index] * kSampleRate));
  }
  return talk;
}

Recording inRoom(const Talk& talk, const Room& room) {
  double speechPower = 0, speechCount = 0;
  for (const SpeechSpan& sentence : talk.sentences)
    for (auto at = static_cast<size_t>(sentence.startSec * kSampleRate);
         at < static_cast<size_t>(sentence.endSec * kSampleRate); ++at) {
      speechPower += static_cast<double>(talk.samples[at]) * talk.samples[at];
      ++speechCount;
    }
  const double noiseLevel = std::sqrt(speechPower / speechCount) * std::pow(10, -room.snrDB / 20);
  Recording recording;
  // White noise spreads its power evenly up to half the sample rate.
  const double noisePower = noiseLevel * noiseLevel;
  const double nyquistHz = kSampleRate / 2.0;
  const double voiceNoise = noisePower * (kVoiceCeilingHz - kVoiceFloorHz) / nyquistHz;
  const double hissNoise = noisePower * (nyquistHz - kVoiceCeilingHz) / nyquistHz;
  const std::vector<double> voice =
      stepPowers(talk.samples, {Biquad::highPass(kVoiceFloorHz, kSampleRate),
                                Biquad::lowPass(kVoiceCeilingHz, kSampleRate)});
  const std::vector<double> hiss =
      stepPowers(talk.samples, {Biquad::highPass(kVoiceCeilingHz, kSampleRate),
                                Biquad::highPass(kVoiceCeilingHz, kSampleRate)});
  for (const SpeechSpan& sentence : talk.sentences) {
    std::optional<double> heardFrom;
    double heardTo = 0;
    for (auto step = static_cast<size_t>(std::lround(sentence.startSec / kStepSec));
         step <
         std::min(voice.size(), static_cast<size_t>(std::lround(sentence.endSec / kStepSec)));
         ++step) {
      if (voice[step] <= voiceNoise && hiss[step] <= hissNoise) continue;
      if (!heardFrom) heardFrom = static_cast<double>(step) * kStepSec;
      heardTo = static_cast<double>(step + 1) * kStepSec;
    }
    recording.heard.push_back({heardFrom.value_or(sentence.startSec), heardTo});
  }
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, noiseLevel);
  recording.samples = talk.samples;
  for (size_t at = 0; at < recording.samples.size(); ++at) {
    double sample = recording.samples[at] + noise(random);
    if (room.hum)
      for (int harmonic = 1; harmonic <= 3; ++harmonic)
        sample += 2 * noiseLevel / harmonic *
                  std::sin(2 * std::numbers::pi * 50 * harmonic * at / kSampleRate);
    recording.samples[at] = static_cast<float>(sample);
  }
  return recording;
}

void writeMovie(const Recording& recording, const std::filesystem::path& movie,
                const std::filesystem::path& scratch) {
  const auto raw = scratch / "talk.f32";
  writeFileAtomically(raw,
                      std::string_view(reinterpret_cast<const char*>(recording.samples.data()),
                                       recording.samples.size() * sizeof(float)),
                      0644, Durability::cacheOnly);
  runFfmpeg({"-f",        "f32le", "-ar",     std::to_string(kSampleRate),
             "-ac",       "1",     "-i",      raw.string(),
             "-f",        "lavfi", "-i",      "color=gray:s=64x36:r=30",
             "-shortest", "-c:v",  "libx264", "-preset",
             "ultrafast", "-c:a",  "aac",     "-b:a",
             "192k",      "-ar",   "48000",   movie.string()});
}

}  // namespace brisklet::testing
