#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/CommandOutcome.h"
#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

class AppState;

enum class OutputKind { movie, captions, picture, sound };

// Why a movie (or captions) of `project` must not be written to `destination`, or none when it
// may. Checked before anything is touched, since writing there would destroy what the user
// keeps: a folder, a file this project is made of (its source, music, enhanced sound or
// narration, compared as files, whatever the spelling or link that names them), anything inside
// Brisklet's data folder (another project's record, a merged source), or a name players would
// not open as a movie (.mp4, .m4v, .mov), as captions (.srt), as a picture (.png) or as a
// sound (.wav). A sentence such as "“src.mp4” is this project's source video."
std::optional<std::string> destinationRefusal(const std::filesystem::path& destination,
                                              const Project& project, const ProjectStore& store,
                                              OutputKind kind);
// The same for an output that belongs to no project (a voice sample): a folder, anything inside
// Brisklet's data folder, or a name of another kind.
std::optional<std::string> destinationRefusal(const std::filesystem::path& destination,
                                              const ProjectStore& store, OutputKind kind);

// A movie's destination as it is written: a name without an extension gets ".mp4".
std::filesystem::path withMovieExtension(const std::filesystem::path& destination);

// The project `projectID` as it is now, to be written to `destination`, or why it is not: it is
// missing or has no plan (nothing is said), or the destination is refused, which the status line
// then tells ("Export refused: …", "Captions refused: …").
struct ProjectToWrite {
  std::optional<Project> project;
  CommandOutcome refusal;
};
ProjectToWrite projectToWrite(AppState& state, const Uuid& projectID,
                              const std::filesystem::path& destination, OutputKind kind);

// Claims `destination` for one export or Short of the project (AppState::claimOutput); when
// another one is writing it, the refusal, which the status line tells after `refusalPrefix`.
std::optional<CommandOutcome> claimDestination(AppState& state,
                                               const std::filesystem::path& destination,
                                               const Uuid& projectID,
                                               const std::string& refusalPrefix);

}  // namespace brisklet
