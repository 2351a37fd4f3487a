#include <algorithm>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "cli/CliCommand.h"
#include "model/RecordLimits.h"
#include "platform/TimeText.h"

namespace brisklet::cli {
namespace {

// A table column counts characters: UTF-8 continuation bytes take no column.
size_t displayWidth(std::string_view text) { return characterCount(text); }

std::string padded(std::string text, size_t width) {
  const size_t shown = displayWidth(text);
  if (shown < width) text.append(width - shown, ' ');
  return text;
}

// A name on one line of the table: a line break or tab in it would break the columns.
std::string oneLine(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F; }, ' ');
  return text;
}

size_t segmentCount(const Project& project) {
  return project.editPlan ? project.editPlan->segments.size() : 0;
}

double keptDurationSec(const Project& project) {
  return project.editPlan ? project.editPlan->keptDurationSec() : 0.0;
}

void printJson(const std::vector<Project>& projects, std::ostream& out) {
  nlohmann::json list = nlohmann::json::array();
  for (const Project& project : projects) {
    list.push_back({{"id", project.id.text()},
                    {"name", project.name},
                    {"createdAt", formatIso8601(project.createdAt)},
                    {"videoDurationSec", project.videoDurationSec},
                    {"analyzed", project.editPlan.has_value()},
                    {"segments", segmentCount(project)},
                    {"keptDurationSec", keptDurationSec(project)}});
  }
  out << list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

void printTable(const std::vector<Project>& projects, std::ostream& out) {
  size_t nameWidth = 4;
  for (const Project& project : projects)
    nameWidth = std::max(nameWidth, displayWidth(oneLine(project.name)));
  out << padded("ID", 36) << "  " << padded("NAME", nameWidth) << "  " << padded("CREATED", 20)
      << "  DURATION  SEGMENTS  KEPT\n";
  for (const Project& project : projects) {
    out << project.id.text() << "  " << padded(oneLine(project.name), nameWidth) << "  "
        << formatIso8601(project.createdAt) << "  " << std::setw(8)
        << formatMinutesSeconds(project.videoDurationSec) << "  " << std::setw(8)
        << (project.editPlan ? std::to_string(segmentCount(project)) : "-") << "  "
        << (project.editPlan ? formatMinutesSeconds(keptDurationSec(project)) : "-") << "\n";
  }
}

}  // namespace

Command listCommand() {
  return {"list", "list [--json]", "all projects, newest first",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--json"});
            if (!parsed.positional.empty()) throw UsageError("list takes no arguments");
            if (parsed.has("--json"))
              printJson(context.state.projects(), context.out);
            else
              printTable(context.state.projects(), context.out);
            // Not results (they have no name, date or plan to list), but never passed over.
            for (const auto& [folder, reason] : context.state.unreadableProjects())
              context.err << "Project " << folder << " is unreadable: " << reason << ".\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli
