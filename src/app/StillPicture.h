#pragma once

#include <filesystem>

#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// Writes the picture the preview shows of `project` at `timeSec` as a PNG file: on the output
// axis, or with `onSourceAxis` on the source axis, where a dropped moment shows the next kept
// one. At or past the end, the edit's last picture. Without a plan, the source plays whole.
// Throws a sentence for the status line: a refused destination (as an export refuses one), a
// source moment in a removed pause of a kept segment, a source that cannot be read, a file that
// cannot be written.
void writeStill(const Project& project, const ProjectStore& store, double timeSec,
                bool onSourceAxis, const std::filesystem::path& destination);

}  // namespace brisklet
