#pragma once

#include <string>

namespace brisklet {

// The progress of a running long command.
struct PipelineProgress {
  // The line shown to the user, e.g. "Starting analysis…".
  std::string stageName;
  // 0…1; negative while the amount of work cannot be told (an indeterminate indicator).
  double fraction = -1.0;
  // How many other commands run beside the one this is the progress of.
  int alsoRunning = 0;

  // The stage with the others counted: "Exporting… and 1 more".
  std::string line() const {
    if (alsoRunning <= 0) return stageName;
    return stageName + " and " + std::to_string(alsoRunning) + " more";
  }

  bool operator==(const PipelineProgress&) const = default;
};

}  // namespace brisklet
