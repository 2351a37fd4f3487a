#pragma once

#include <stop_token>
#include <vector>

#include "media/SpeechActivity.h"
#include "model/ProjectStore.h"

namespace brisklet {

// The speech of the sound `project`'s edit plays: the enhanced sound when there is one, else the
// source's. Found once per sound file and kept as "speech-<key>.json" in the project folder (the
// key names the file, its size and its time), so a second tightening, and the same sound after
// the enhancement is switched off and on again, reads it back at once. A cache file that cannot
// be read or written only costs finding it again. Throws what the source lookup and
// SpeechActivity::speechOf throw; Cancelled on `stop`.
std::vector<SpeechActivity::SpeechSpan> projectSpeech(const Project& project,
                                                      const ProjectStore& store,
                                                      std::stop_token stop = {});

}  // namespace brisklet
