#pragma once

#include <ostream>
#include <string>

#include "model/PipelineProgress.h"

namespace brisklet::cli {

// Progress on stderr: a redrawn bar with the stage name on a terminal; otherwise one line per
// stage change or per 10 % step ("Detecting scenes… 40%"), so logs stay short.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& stream, bool isTerminal);
  ProgressPrinter(const ProgressPrinter&) = delete;
  ProgressPrinter& operator=(const ProgressPrinter&) = delete;
  // Ends a bar still on screen.
  ~ProgressPrinter();

  void report(const PipelineProgress& progress);

 private:
  std::ostream& stream_;
  bool isTerminal_;
  std::string stage_;
  int step_ = -1;  // last printed tenth, or the last drawn percent on a terminal
  bool barShown_ = false;
};

}  // namespace brisklet::cli
