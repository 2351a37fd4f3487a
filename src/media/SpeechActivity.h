#pragma once

#include <span>
#include <stop_token>
#include <vector>

#include "media/platform/Asset.h"

namespace brisklet::SpeechActivity {

// Speech is looked for in 10 ms steps of 16 kHz mono sound.
inline constexpr int kSampleRate = 16000;
inline constexpr double kStepSec = 0.01;

// A stretch of source time in which someone speaks, half-open [startSec, endSec).
struct SpeechSpan {
  double startSec = 0;
  double endSec = 0;
  bool operator==(const SpeechSpan&) const = default;
};

// Where `samples` (mono, kSampleRate, full scale ±1) hold speech, in time order, on a 10 ms grid.
// A level gate tuned to the sound's own noise floor, which it follows as the room changes: the
// voice band (above the hum of mains and rumble) stands clear of the floor at a syllable's core,
// which WebRTC's voice detector must hear as voice (a breath, a knock or a gust is none); each
// span then reaches out to where the sound sinks back into the floor near the voice, so soft
// onsets and word endings stay inside it. Gaps inside a word (a stop consonant) do not split it.
std::vector<SpeechSpan> speechIn(std::span<const float> samples);

// The speech of `asset`'s sound; none for a file without sound. Throws MediaError when the sound
// cannot be read; Cancelled on `stop`.
std::vector<SpeechSpan> speechOf(const Asset& asset, std::stop_token stop = {});

}  // namespace brisklet::SpeechActivity
