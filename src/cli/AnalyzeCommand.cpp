#include <qcoro/qcorotask.h>

#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "analysis/AnalysisPipeline.h"
#include "app/ProjectLookup.h"
#include "app/StatusMessages.h"
#include "cli/CliCommand.h"
#include "cli/ProgressPrinter.h"
#include "model/AppSettings.h"
#include "model/ModelJson.h"
#include "platform/TimeText.h"

namespace brisklet::cli {
namespace {

void printPlan(const EditPlan& plan, std::ostream& out) {
  out << plan.segments.size() << (plan.segments.size() == 1 ? " scene" : " scenes") << ", "
      << formatMinutesSeconds(plan.keptDurationSec()) << " kept\n";
  for (size_t index = 0; index < plan.segments.size(); ++index) {
    const Segment& segment = plan.segments[index];
    out << std::setw(4) << index << "  " << formatMinutesSeconds(segment.startSec) << "–"
        << formatMinutesSeconds(segment.endSec) << "  " << (segment.keep ? "keep" : "cut ");
    if (segment.quality)
      out << "  quality " << std::lround(segment.quality->composite * 100) << ", sharpness "
          << std::lround(segment.quality->blur * 100);
    if (segment.keepReason) out << "  " << *segment.keepReason;
    out << "\n";
  }
}

// A file: the pipeline alone, no project made; the plan on stdout.
int analyzeFile(Context& context, const std::filesystem::path& file, bool asJson) {
  const std::optional<std::string> key = context.state.serviceKey(KeychainStore::Key::anthropic);
  EditPlan plan;
  try {
    ProgressPrinter printer(context.err, context.errIsTerminal);
    plan = AnalysisPipeline::run(
        file, key, AppSettings::claudeModel(),
        [&](const PipelineProgress& progress) { printer.report(progress); }, {});
  } catch (const std::exception& error) {
    throw CommandFailed(error.what());  // as the app shows it: the bare description
  }
  if (asJson)
    context.out << nlohmann::json(plan).dump(2) << "\n";
  else
    printPlan(plan, context.out);
  if (!key) context.err << kOnDeviceOnlyNotice << "\n";
  return kSuccess;
}

// A project: the app's analyse command; the new plan revision on stdout.
int analyzeProject(Context& context, const std::string& idOrPrefix) {
  AppState& state = context.state;
  const Uuid id = findProject(state, idOrPrefix).id;
  const CommandOutcome outcome = runForOutcome(context, [&] { return state.startAnalysis(id); });
  const Project* project = state.project(id);
  if (project == nullptr || !project->editPlan) throw CommandFailed("The project is gone.");
  context.out << project->editPlan->planRevision << "\n";
  if (outcome.said) context.err << *outcome.said << "\n";
  return kSuccess;
}

}  // namespace

Command analyzeCommand() {
  return {"analyze", "analyze FILE|ID [--json]",
          "analyses a video file (no project is made) or re-analyses a project",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--json"});
            if (parsed.positional.size() != 1)
              throw UsageError("analyze takes one file or project id");
            const std::string& target = parsed.positional[0];
            std::error_code error;
            if (std::filesystem::exists(target, error))
              return analyzeFile(context, target, parsed.has("--json"));
            // Project ids hold neither dots nor slashes; a name with them is a missing file.
            if (target.find_first_of("./") != std::string::npos)
              throw CommandFailed("The file \u201C" + target + "\u201D does not exist.");
            return analyzeProject(context, target);
          }};
}

}  // namespace brisklet::cli
