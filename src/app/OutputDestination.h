#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// Why a movie of `project` must not be written to `destination`, or none when it may. Checked
// before anything is touched, since writing there would destroy what the user keeps: a folder,
// a file this project is made of (its source, music, enhanced sound or narration, compared as
// files, whatever the spelling or link that names them), anything inside Brisklet's data
// folder (another project's record, a merged source), or a name players would not open as a
// movie (.mp4, .m4v, .mov). A sentence such as "“src.mp4” is this project's source video."
std::optional<std::string> destinationRefusal(const std::filesystem::path& destination,
                                              const Project& project, const ProjectStore& store);

}  // namespace brisklet
