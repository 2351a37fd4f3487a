#include "app/ProjectLookup.h"

#include <QString>

namespace brisklet {

const Project& findProject(const AppState& state, std::string_view idOrPrefix) {
  const std::string wanted =
      QString::fromUtf8(idOrPrefix.data(), static_cast<qsizetype>(idOrPrefix.size()))
          .toUpper()
          .toStdString();
  const std::string quoted = "\u201C" + std::string(idOrPrefix) + "\u201D";
  if (wanted.empty()) throw ProjectLookupError("No project id was given.");

  const Project* match = nullptr;
  int matches = 0;
  for (const Project& project : state.projects()) {
    if (!project.id.text().starts_with(wanted)) continue;
    match = &project;
    ++matches;
  }
  if (matches == 0) throw ProjectLookupError("No project has the id " + quoted + ".");
  if (matches > 1)
    throw ProjectLookupError(quoted + " matches " + std::to_string(matches) +
                             " projects; give more of the id.");
  return *match;
}

}  // namespace brisklet
