#pragma once

#include <stop_token>
#include <vector>

#include "media/platform/Asset.h"

namespace brisklet::WaveformExtractor {

// The loudness envelope the timeline draws: one value in 0…1 per 1/samplesPerSecond of source
// time, 3 × the RMS of 8 kHz mono audio in that window, capped at 1. The last, partial window
// counts too. A file without sound gives an empty list. The audio is decoded once and never
// stored. Throws MediaError when the sound cannot be opened for reading; Cancelled on `stop`.
std::vector<float> rmsEnvelope(const Asset& asset, double samplesPerSecond,
                               std::stop_token stop = {});

}  // namespace brisklet::WaveformExtractor
