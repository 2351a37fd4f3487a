#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>

#include "analysis/AnalysisPipeline.h"
#include "app/StatusMessages.h"
#include "cli/CliCommand.h"
#include "cli/ProgressPrinter.h"
#include "model/AppSettings.h"
#include "model/KeychainStore.h"
#include "model/ModelJson.h"
#include "model/TimeText.h"

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

// ANTHROPIC_API_KEY for this run, else the stored key.
std::optional<std::string> anthropicKey() {
  if (const char* key = std::getenv("ANTHROPIC_API_KEY"); key != nullptr && *key != '\0')
    return std::string(key);
  std::optional<std::string> stored = KeychainStore::get(KeychainStore::Key::anthropic);
  if (stored && stored->empty()) return std::nullopt;
  return stored;
}

}  // namespace

Command analyzeCommand() {
  return {"analyze", "analyze FILE [--json]",
          "analyses a video without creating a project and prints the edit plan",
          [](Context& context, Arguments arguments) {
            const ParsedArguments parsed = parseArguments(arguments, {"--json"});
            if (parsed.positional.size() != 1) throw UsageError("analyze takes one file");
            const std::filesystem::path file = parsed.positional[0];
            const std::optional<std::string> key = anthropicKey();
            EditPlan plan;
            try {
              ProgressPrinter printer(context.err, context.errIsTerminal);
              plan = AnalysisPipeline::run(
                  file, key, AppSettings::claudeModel(),
                  [&](const PipelineProgress& progress) { printer.report(progress); }, {});
            } catch (const std::exception& error) {
              throw CommandFailed(error.what());  // as the app shows it: the bare description
            }
            if (parsed.has("--json"))
              context.out << nlohmann::json(plan).dump(2) << "\n";
            else
              printPlan(plan, context.out);
            if (!key) context.err << kOnDeviceOnlyNotice << "\n";
            return kSuccess;
          }};
}

}  // namespace brisklet::cli
