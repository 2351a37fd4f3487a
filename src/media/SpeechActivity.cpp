#include "media/SpeechActivity.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "media/SpeechEqualizer.h"
#include "media/platform/PcmReader.h"
#include "platform/Cancellation.h"
#include "platform/Concurrently.h"

namespace brisklet::SpeechActivity {
namespace {

constexpr size_t kStepSamples = static_cast<size_t>(kSampleRate * kStepSec);
// Mains hum (50/60 Hz and its first harmonics) and handling rumble lie below the band that
// carries the voice, hiss mostly above it; fourth-order cuts keep them out of the gate. A word's
// soft edges (an "s", an "f") lie above the voice band, so they are looked for there too.
constexpr double kVoiceBandFloorHz = 200;
constexpr double kVoiceBandCeilingHz = 4000;
// The floor is the quiet end (this share) of the steps within this many seconds either side: a
// talker pauses often enough for the room to show through, and a moment's drop-out (the start of
// a file, a glitch) is too short to pass for it.
constexpr double kQuietShare = 0.05;
constexpr size_t kFloorReachSeconds = 10;
// A syllable's core stands this far above the floor; a span reaches out while the sound stays
// this far above it.
constexpr double kCoreAboveFloorDB = 6;
constexpr double kReachAboveFloorDB = 3;
// Silence shorter than this inside speech is a stop consonant or a catch of breath, not a pause.
constexpr double kShortestGapSec = 0.12;
// A core shorter than this is a click or a knock.
constexpr double kShortestCoreSec = 0.04;
// Sound this near a voice the detector hears belongs to the words: an "s" it does not count,
// the breath a word ends in. Further away, a breath, a knock or a gust is no speech.
constexpr double kVoiceNearSec = 0.1;
// The sound is read in at most this many pieces side by side, none shorter than this.
constexpr size_t kMostPieces = 4;
constexpr double kShortestPieceSec = 60;
// No floor lies below this: digital silence is not a room.
constexpr double kLowestFloorDB = -90;

// What is known of each 10 ms step: its level in dB of full scale in the voice band and in the
// hiss band above it, and whether WebRTC's voice detector hears a voice in it.
struct Levels {
  std::vector<double> voice;
  std::vector<double> hiss;
  std::vector<bool> voiced;
};

// WebRTC's voice activity detector (a model of speech and noise spectra, tuned to phone calls):
// it tells a voice from a breath, a knock or a gust, which a level alone cannot.
class VoiceDetector {
 public:
  VoiceDetector() : processing_(webrtc::AudioProcessing::Create()) {
    processing_->voice_detection()->Enable(true);
    processing_->voice_detection()->set_likelihood(webrtc::VoiceDetection::kModerateLikelihood);
  }

  // Whether the 10 ms of `step` hold a voice (the detector rewrites the samples it is given).
  bool hears(std::array<float, kStepSamples>& step) {
    float* channels[] = {step.data()};
    const webrtc::StreamConfig mono(kSampleRate, 1);
    return processing_->ProcessStream(channels, mono, mono, channels) ==
               webrtc::AudioProcessing::kNoError &&
           processing_->voice_detection()->stream_has_voice();
  }

 private:
  std::unique_ptr<webrtc::AudioProcessing> processing_;
};

// Levels measured as the sound comes: an hour of it is a million numbers, never the sound itself.
class LevelMeter {
 public:
  void add(std::span<const float> samples) {
    for (const float sample : samples) {
      const double aboveHum = humCut_[1].process(humCut_[0].process(sample));
      const double voice = hissCut_[1].process(hissCut_[0].process(aboveHum));
      const double hiss = hissBand_[1].process(hissBand_[0].process(sample));
      voiceSum_ += voice * voice;
      hissSum_ += hiss * hiss;
      step_[count_] = sample;
      if (++count_ == kStepSamples) closeStep();
    }
  }
  Levels finish() {
    if (count_ > 0) closeStep();
    return std::move(levels_);
  }

 private:
  void closeStep() {
    levels_.voice.push_back(10 * std::log10(voiceSum_ / count_ + 1e-12));
    levels_.hiss.push_back(10 * std::log10(hissSum_ / count_ + 1e-12));
    std::fill(step_.begin() + count_, step_.end(), 0.0f);
    levels_.voiced.push_back(detector_.hears(step_));
    voiceSum_ = hissSum_ = 0;
    count_ = 0;
  }

  std::array<Biquad, 2> humCut_{Biquad::highPass(kVoiceBandFloorHz, kSampleRate),
                                Biquad::highPass(kVoiceBandFloorHz, kSampleRate)};
  std::array<Biquad, 2> hissCut_{Biquad::lowPass(kVoiceBandCeilingHz, kSampleRate),
                                 Biquad::lowPass(kVoiceBandCeilingHz, kSampleRate)};
  std::array<Biquad, 2> hissBand_{Biquad::highPass(kVoiceBandCeilingHz, kSampleRate),
                                  Biquad::highPass(kVoiceBandCeilingHz, kSampleRate)};
  double voiceSum_ = 0, hissSum_ = 0;
  std::array<float, kStepSamples> step_{};
  size_t count_ = 0;
  VoiceDetector detector_;
  Levels levels_;
};

// The noise floor under every step: the quiet end of the steps around it, counted in a
// histogram per second. Steps of digital silence (a file's padding, a muted stretch) say nothing
// of the room and are left out; where there is nothing else, the floor is the lowest.
std::vector<double> noiseFloors(const std::vector<double>& levels) {
  constexpr double kBinDB = 0.25;
  constexpr double kTopDB = 10;
  constexpr auto kBins = static_cast<size_t>((kTopDB - kLowestFloorDB) / kBinDB);
  const auto binOf = [&](double level) {
    return std::min(static_cast<size_t>((level - kLowestFloorDB) / kBinDB), kBins - 1);
  };
  const size_t perSecond = static_cast<size_t>(std::lround(1 / kStepSec));
  const size_t seconds = (levels.size() + perSecond - 1) / perSecond;
  std::vector<std::array<int, kBins>> secondCounts(seconds);
  for (size_t step = 0; step < levels.size(); ++step)
    if (levels[step] > kLowestFloorDB) ++secondCounts[step / perSecond][binOf(levels[step])];

  std::vector<double> floorOfSecond(seconds, kLowestFloorDB);
  std::array<int, kBins> window{};
  int inWindow = 0;
  const auto move = [&](size_t second, int sign) {
    for (size_t bin = 0; bin < kBins; ++bin) {
      window[bin] += sign * secondCounts[second][bin];
      inWindow += sign * secondCounts[second][bin];
    }
  };
  for (size_t second = 0; second < std::min(kFloorReachSeconds, seconds); ++second) move(second, 1);
  for (size_t second = 0; second < seconds; ++second) {
    if (second + kFloorReachSeconds < seconds) move(second + kFloorReachSeconds, 1);
    if (second > kFloorReachSeconds) move(second - kFloorReachSeconds - 1, -1);
    const auto quietCount = static_cast<int>(std::ceil(kQuietShare * inWindow));
    int seen = 0;
    for (size_t bin = 0; bin < kBins && inWindow > 0; ++bin) {
      seen += window[bin];
      if (seen >= quietCount) {
        floorOfSecond[second] = kLowestFloorDB + (static_cast<double>(bin) + 0.5) * kBinDB;
        break;
      }
    }
  }
  std::vector<double> floors(levels.size());
  for (size_t step = 0; step < levels.size(); ++step)
    floors[step] = floorOfSecond[step / perSecond];
  return floors;
}

// The speech spans of the sound measured as `levels`, `durationSec` long.
std::vector<SpeechSpan> spansOf(const Levels& levels, double durationSec) {
  const std::vector<double> voiceFloors = noiseFloors(levels.voice);
  const std::vector<double> hissFloors = noiseFloors(levels.hiss);
  const size_t count = levels.voice.size();
  // A core is judged on three steps together, which the room's own flicker never lifts that far.
  const auto core = [&](size_t step) {
    double sum = 0;
    int steps = 0;
    for (size_t at = step > 0 ? step - 1 : 0; at < std::min(step + 2, count); ++at, ++steps)
      sum += levels.voice[at] - voiceFloors[at];
    return sum / steps > kCoreAboveFloorDB;
  };
  // Steps from which a voice is heard within kVoiceNearSec.
  std::vector<bool> nearVoice(count, false);
  const auto near = static_cast<size_t>(std::lround(kVoiceNearSec / kStepSec));
  for (size_t step = 0; step < count; ++step)
    if (levels.voiced[step])
      std::fill(nearVoice.begin() + static_cast<std::ptrdiff_t>(step > near ? step - near : 0),
                nearVoice.begin() + static_cast<std::ptrdiff_t>(std::min(step + near + 1, count)),
                true);
  const auto heard = [&](size_t step) {
    return nearVoice[step] && (levels.voice[step] > voiceFloors[step] + kReachAboveFloorDB ||
                               levels.hiss[step] > hissFloors[step] + kReachAboveFloorDB);
  };
  const auto steps = [](double seconds) {
    return static_cast<size_t>(std::lround(seconds / kStepSec));
  };
  // Where the sound heard around a core ends, across the short hush of a stop consonant (the
  // "s" after the "k" of "snacks"): a gap is crossed when the sound is heard again, two steps
  // running, within the shortest gap.
  const size_t longestHush = steps(kShortestGapSec);
  const auto heardTwice = [&](size_t step) { return heard(step) && heard(step + 1); };
  const auto reachOn = [&](size_t end) {
    while (end < count) {
      if (heard(end)) {
        ++end;
        continue;
      }
      size_t next = end;
      while (next + 1 < count && next - end < longestHush && !heardTwice(next)) ++next;
      if (next + 1 >= count || !heardTwice(next)) break;
      end = next;
    }
    return end;
  };
  const auto reachBack = [&](size_t start) {
    while (start > 0) {
      if (heard(start - 1)) {
        --start;
        continue;
      }
      size_t before = start - 1;  // the earliest step of the gap so far
      while (before >= 2 && start - before < longestHush && !heardTwice(before - 2)) --before;
      if (before < 2 || !heardTwice(before - 2)) break;
      start = before;
    }
    return start;
  };
  // Spans as step ranges: each core, reached out to both sides.
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t step = 0; step < count;) {
    if (!core(step)) {
      ++step;
      continue;
    }
    size_t coreEnd = step;
    while (coreEnd < count && core(coreEnd)) ++coreEnd;
    const bool voiced = std::any_of(levels.voiced.begin() + static_cast<std::ptrdiff_t>(step),
                                    levels.voiced.begin() + static_cast<std::ptrdiff_t>(coreEnd),
                                    [](bool each) { return each; });
    if (coreEnd - step >= steps(kShortestCoreSec) && voiced) {
      const size_t start = reachBack(step);
      const size_t end = reachOn(coreEnd);
      if (!spans.empty() && start <= spans.back().second + steps(kShortestGapSec))
        spans.back().second = std::max(spans.back().second, end);
      else
        spans.emplace_back(start, end);
      coreEnd = std::max(coreEnd, end);
    }
    step = coreEnd;
  }
  std::vector<SpeechSpan> speech;
  for (const auto& [start, end] : spans)
    speech.push_back({static_cast<double>(start) * kStepSec,
                      std::min(static_cast<double>(end) * kStepSec, durationSec)});
  return speech;
}

}  // namespace

std::vector<SpeechSpan> speechIn(std::span<const float> samples) {
  LevelMeter levels;
  levels.add(samples);
  return spansOf(levels.finish(), static_cast<double>(samples.size()) / kSampleRate);
}

std::vector<SpeechSpan> speechOf(const Asset& asset, std::stop_token stop) {
  if (asset.audioTracks().empty()) return {};
  // Decoding is most of the work: the sound is read in pieces side by side, each of whole steps,
  // so their levels join into the one grid.
  // A length the file cannot back (none, or absurd) leaves one piece read to its end.
  const double durationSec = asset.durationSec();
  const auto stepsInAll = std::isfinite(durationSec) && durationSec > 0 && durationSec < 1e7
                              ? static_cast<size_t>(std::ceil(durationSec / kStepSec))
                              : 0;
  const size_t pieces = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMostPieces);
  const std::vector<IndexRange> ranges =
      contiguousRanges(stepsInAll, pieces, static_cast<size_t>(kShortestPieceSec / kStepSec));
  std::vector<Levels> measured(std::max<size_t>(ranges.size(), 1));
  std::vector<size_t> sampleCounts(measured.size(), 0);
  runConcurrently(measured.size(), [&](size_t piece) {
    const bool last = piece + 1 >= measured.size();
    const size_t firstStep = ranges.empty() ? 0 : ranges[piece].begin;
    PcmReader reader(asset, PcmFormat{kSampleRate, 1, PcmSampleFormat::float32},
                     static_cast<double>(firstStep) * kStepSec);
    const size_t wanted = last ? SIZE_MAX : (ranges[piece].end - firstStep) * kStepSamples;
    LevelMeter levels;
    std::vector<float> block(kStepSamples * 400);
    while (sampleCounts[piece] < wanted) {
      throwIfCancelled(stop);
      const size_t room = std::min(block.size(), wanted - sampleCounts[piece]);
      const size_t got =
          reader.pull({reinterpret_cast<std::uint8_t*>(block.data()), room * sizeof(float)}) /
          sizeof(float);
      if (got == 0) break;
      levels.add({block.data(), got});
      sampleCounts[piece] += got;
    }
    measured[piece] = levels.finish();
  });
  Levels joined;
  size_t sampleCount = 0;
  for (size_t piece = 0; piece < measured.size(); ++piece) {
    joined.voice.insert(joined.voice.end(), measured[piece].voice.begin(),
                        measured[piece].voice.end());
    joined.hiss.insert(joined.hiss.end(), measured[piece].hiss.begin(), measured[piece].hiss.end());
    joined.voiced.insert(joined.voiced.end(), measured[piece].voiced.begin(),
                         measured[piece].voiced.end());
    sampleCount += sampleCounts[piece];
  }
  return spansOf(joined, static_cast<double>(sampleCount) / kSampleRate);
}

}  // namespace brisklet::SpeechActivity
