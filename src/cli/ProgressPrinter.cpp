#include "cli/ProgressPrinter.h"

#include <algorithm>
#include <cmath>

namespace brisklet::cli {
namespace {

constexpr int kBarWidth = 30;

}  // namespace

ProgressPrinter::ProgressPrinter(std::ostream& stream, bool isTerminal)
    : stream_(stream), isTerminal_(isTerminal) {}

ProgressPrinter::~ProgressPrinter() {
  if (barShown_) stream_ << "\n" << std::flush;
}

void ProgressPrinter::report(const PipelineProgress& progress) {
  const bool known = progress.fraction >= 0;
  const int percent =
      known ? static_cast<int>(std::floor(std::clamp(progress.fraction, 0.0, 1.0) * 100)) : -1;
  const bool newStage = progress.stageName != stage_;
  if (isTerminal_) {
    if (!newStage && percent == step_) return;
    const int filled = known ? percent * kBarWidth / 100 : 0;
    stream_ << "\r\x1b[2K[" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(kBarWidth - filled), '-') << "] "
            << progress.stageName;
    if (known) stream_ << " " << percent << "%";
    stream_ << std::flush;
    barShown_ = true;
    step_ = percent;
  } else {
    const int tenth = known ? percent / 10 : -1;
    if (!newStage && tenth == step_) return;
    stream_ << progress.stageName;
    if (known) stream_ << " " << tenth * 10 << "%";
    stream_ << "\n" << std::flush;
    step_ = tenth;
  }
  stage_ = progress.stageName;
}

}  // namespace brisklet::cli
