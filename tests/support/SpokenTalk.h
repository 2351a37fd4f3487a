#pragma once

#include <filesystem>
#include <vector>

#include "media/SpeechActivity.h"

namespace brisklet::testing {

// A talk of spoken sentences (two synthetic voices at one level) between 40 known pauses of
// 0.2 to 4 s, about three minutes, mono at SpeechActivity::kSampleRate.
struct Talk {
  std::vector<float> samples;
  std::vector<SpeechActivity::SpeechSpan> sentences;  // where each sentence's voice is
};
Talk builtTalk(const std::filesystem::path& scratch);

// Where a talk is recorded: white noise `snrDB` under its speech, and mains hum (50 Hz and two
// harmonics) above the noise when `hum`.
struct Room {
  const char* name;
  double snrDB;
  bool hum;
};

// A talk as recorded in a room, and where each sentence is heard: from its first to its last
// 10 ms step that stands above the room's noise in the voice band (200 Hz to 4 kHz) or above it
// (the "s" of a word), as a listener hears a fading word sink into the room.
struct Recording {
  std::vector<float> samples;
  std::vector<SpeechActivity::SpeechSpan> heard;
};
Recording inRoom(const Talk& talk, const Room& room);

// `recording` as the sound of a small grey movie (30 fps, AAC at 48 kHz), for the app to edit.
void writeMovie(const Recording& recording, const std::filesystem::path& movie,
                const std::filesystem::path& scratch);

}  // namespace brisklet::testing
