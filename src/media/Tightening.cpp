#include "media/Tightening.h"

#include <algorithm>
#include <optional>

namespace brisklet::Tightening {

std::vector<SourceSpan> pausesToRemove(const Segment& segment,
                                       const std::vector<SpeechActivity::SpeechSpan>& speech,
                                       const Settings& settings) {
  const double longestKept =
      settings.shortestPauseSec + settings.marginBeforeSpeechSec + settings.marginAfterSpeechSec;
  std::vector<SourceSpan> pauses;
  std::optional<double> lastWordsEnd;
  for (const SpeechActivity::SpeechSpan& words : speech) {
    if (words.endSec <= segment.startSec) continue;
    if (words.startSec >= segment.endSec) break;
    if (lastWordsEnd && words.startSec - *lastWordsEnd > longestKept)
      pauses.push_back({*lastWordsEnd + settings.marginAfterSpeechSec,
                        words.startSec - settings.marginBeforeSpeechSec});
    lastWordsEnd = std::max(lastWordsEnd.value_or(words.endSec), words.endSec);
  }
  return pauses;
}

}  // namespace brisklet::Tightening
