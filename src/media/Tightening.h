#pragma once

#include <vector>

#include "media/SpeechActivity.h"
#include "model/EditPlan.h"

namespace brisklet::Tightening {

// How tight "Tighten" cuts: a silence between two stretches of speech longer than the shortest
// pause and both margins goes, down to the margins (the air a listener needs around words).
struct Settings {
  double shortestPauseSec = 0.6;
  double marginBeforeSpeechSec = 0.15;
  double marginAfterSpeechSec = 0.20;
};

// The pauses to remove from `segment`, given the speech of its sound on the source timeline, in
// time order: the silences between two spans of speech that both lie in the segment. Silence
// before its first words and after its last is left: it is the shot's lead-in and lead-out, and
// a scene without speech is not dead air.
std::vector<SourceSpan> pausesToRemove(const Segment& segment,
                                       const std::vector<SpeechActivity::SpeechSpan>& speech,
                                       const Settings& settings);

}  // namespace brisklet::Tightening
