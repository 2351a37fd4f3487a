#include "app/OutputDestination.h"

#include <algorithm>
#include <vector>

#include "app/AppState.h"
#include "platform/FileNames.h"
#include "platform/Paths.h"

namespace brisklet {
namespace {

bool inside(const std::filesystem::path& file, const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::weakly_canonical(file, error);
  if (error) return false;
  const std::filesystem::path realFolder = std::filesystem::weakly_canonical(folder, error);
  if (error) return false;
  const auto [end, unused] =
      std::mismatch(realFolder.begin(), realFolder.end(), real.begin(), real.end());
  return end == realFolder.end();
}

bool nameFits(const std::filesystem::path& file, OutputKind kind) {
  const std::string extension = lowercaseExtension(file);
  if (kind == OutputKind::captions) return extension == ".srt";
  if (kind == OutputKind::picture) return extension == ".png";
  if (kind == OutputKind::sound) return extension == ".wav";
  return extension == ".mp4" || extension == ".m4v" || extension == ".mov";
}

// The files the export reads, each with what it is to the project.
std::vector<std::pair<std::filesystem::path, std::string>> inputsOf(const Project& project,
                                                                    const ProjectStore& store) {
  std::vector<std::pair<std::filesystem::path, std::string>> inputs;
  try {
    inputs.emplace_back(store.resolveVideoURL(project), "this project's source video");
  } catch (const std::exception&) {
    // No source to protect; the export itself will say it is missing.
  }
  if (const auto music = store.musicLocation(project))
    inputs.emplace_back(*music, "this project's music");
  if (const auto clean = store.cleanAudioLocation(project))
    inputs.emplace_back(*clean, "this project's enhanced sound");
  if (project.editPlan)
    for (const Segment& segment : project.editPlan->segments)
      if (segment.narration)
        if (const auto line = store.narrationAudioLocation(project, *segment.narration))
          inputs.emplace_back(*line, "one of this project's narration clips");
  return inputs;
}

using Inputs = std::vector<std::pair<std::filesystem::path, std::string>>;

std::optional<std::string> refusal(const std::filesystem::path& destination, const Inputs& inputs,
                                   const ProjectStore& store, OutputKind kind) {
  const std::string name = quotedFileName(destination);
  std::error_code error;
  if (std::filesystem::is_directory(destination, error)) return name + " is a folder.";
  for (const auto& [input, role] : inputs)
    if (std::filesystem::equivalent(destination, input, error)) return name + " is " + role + ".";
  if (inside(destination, applicationDataFolder()) || inside(destination, store.root()))
    return name + " is inside Brisklet's own data folder.";
  if (!nameFits(destination, kind)) {
    switch (kind) {
      case OutputKind::movie:
        return name + " is not a movie name: it must end in .mp4, .m4v or .mov.";
      case OutputKind::captions:
        return name + " is not a captions name: it must end in .srt.";
      case OutputKind::picture:
        return name + " is not a picture name: it must end in .png.";
      case OutputKind::sound:
        return name + " is not a sound name: it must end in .wav.";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> destinationRefusal(const std::filesystem::path& destination,
                                              const Project& project, const ProjectStore& store,
                                              OutputKind kind) {
  return refusal(destination, inputsOf(project, store), store, kind);
}

std::optional<std::string> destinationRefusal(const std::filesystem::path& destination,
                                              const ProjectStore& store, OutputKind kind) {
  return refusal(destination, {}, store, kind);
}

std::filesystem::path withMovieExtension(const std::filesystem::path& destination) {
  std::error_code error;
  if (!destination.has_extension() && destination.has_filename() &&
      !std::filesystem::is_directory(destination, error))
    return std::filesystem::path(destination) += ".mp4";
  return destination;
}

ProjectToWrite projectToWrite(AppState& state, const Uuid& projectID,
                              const std::filesystem::path& destination, OutputKind kind) {
  const Project* found = state.project(projectID);
  if (found == nullptr || !found->editPlan)
    return {std::nullopt, CommandOutcome::failed("The project has not been analysed yet.")};
  if (const std::optional<std::string> refusal =
          destinationRefusal(destination, *found, state.store(), kind))
    return {
        std::nullopt,
        state.tell(CommandOutcome::failed(
            (kind == OutputKind::movie ? "Export refused: " : "Captions refused: ") + *refusal))};
  return {*found, {}};
}

std::optional<CommandOutcome> claimDestination(AppState& state,
                                               const std::filesystem::path& destination,
                                               const Uuid& projectID,
                                               const std::string& refusalPrefix) {
  if (state.claimOutput(destination, projectID)) return std::nullopt;
  return state.tell(
      CommandOutcome::failed(refusalPrefix + quotedFileName(destination) +
                             " is being written by another export; wait for it to finish."));
}

}  // namespace brisklet
