#pragma once

#include <string>

namespace brisklet {

// The progress of the running long command.
struct PipelineProgress {
  // The line shown to the user, e.g. "Starting analysis…".
  std::string stageName;
  // 0…1; negative while the amount of work cannot be told (an indeterminate indicator).
  double fraction = -1.0;

  bool operator==(const PipelineProgress&) const = default;
};

}  // namespace brisklet
