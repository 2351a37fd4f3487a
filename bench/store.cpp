// Times the project store at the size a heavy user reaches: loadAll over 300 projects whose plans
// have 200 segments each, and one edit of such a project (lock, read, decode, change, encode,
// write). Prints medians and their ratio to the targets (≤ 300 ms and ≤ 5 ms), with anchors
// measured in the same run: parsing and encoding the same JSON with nlohmann::json alone, the
// floor any store built on it can reach, and a plain atomic write of the record without the
// lock and the read, as saves were made before edits became read-modify-writes.
//
//   build/bench/bench_store [folder]   (default: a fresh folder below /tmp, removed afterwards)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/ModelJson.h"
#include "model/ProjectStore.h"
#include "platform/AtomicFile.h"

namespace {

using namespace brisklet;
using Clock = std::chrono::steady_clock;

constexpr int kProjects = 300;
constexpr int kSegments = 200;
constexpr int kRounds = 15;

Project heavyProject(int index) {
  Project project = makeProject("Project " + std::to_string(index), ByteString(120, 'b'), 1800.0);
  project.createdAt -= std::chrono::hours(index);
  EditPlan plan;
  plan.runningSummary = std::string(600, 's');
  plan.editorSuggestions = std::vector<std::string>(5, std::string(120, 'n'));
  plan.planRevision = 12;
  for (int s = 0; s < kSegments; ++s) {
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = 9.0 * s;
    segment.endSec = 9.0 * (s + 1);
    segment.keep = s % 3 != 0;
    segment.quality = QualityScores{0.8123, 0.912, 0.733, 0.25, 0.7134, false};
    // Typical lengths of the model's answers: a sentence of description, a short reason, a
    // line of narration.
    segment.sceneDescription = std::string(110, 'd');
    segment.activity = "walking the harbour";
    segment.keepReason = std::string(70, 'r');
    segment.narration =
        NarrationClip{.text = std::string(100, 't'),
                      .userEditedText = false,
                      .audioFileName = "narration_" + segment.id.text() + "_ab12cd34.mp3",
                      .startOffsetSec = 0.5,
                      .durationSec = 4.25,
                      .status = NarrationStatus::ready};
    plan.segments.push_back(std::move(segment));
  }
  project.editPlan = std::move(plan);
  return project;
}

double medianMs(const std::function<void()>& work, int rounds) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : "/tmp/brisklet-bench-store-XXXXXX";
  const bool temporary = argc <= 1;
  if (temporary && ::mkdtemp(folder.data()) == nullptr) return 1;
  const ProjectStore store(std::filesystem::path(folder) / "Projects");

  std::vector<std::string> records;
  std::optional<Project> sample;
  for (int index = 0; index < kProjects; ++index) {
    const Project project = heavyProject(index);
    store.save(project);
    records.push_back(encodeProjectRecord(project));
    if (!sample) sample = project;
  }
  std::size_t totalBytes = 0;
  for (const std::string& record : records) totalBytes += record.size();

  const double loadAllMs = medianMs([&] { (void)store.loadAll(); }, kRounds);
  std::size_t parsedKeys = 0;  // keeps the parse from being optimised away
  const double parseAnchorMs = medianMs(
      [&] {
        for (const std::string& record : records)
          parsedKeys += nlohmann::json::parse(record).size();
      },
      kRounds);
  int edits = 0;
  const double saveMs = medianMs(
      [&] {
        store.modify(sample->id, [&](Project& project) {
          project.name = "Edit " + std::to_string(++edits);
          return true;
        });
      },
      101);
  const double encodeAnchorMs = medianMs([&] { (void)nlohmann::json(*sample).dump(2); }, 101);
  const double plainWriteMs = medianMs(
      [&] {
        writeFileAtomically(store.projectDirectory(sample->id) / "project.json",
                            encodeProjectRecord(*sample));
      },
      101);

  std::printf("records: %d projects x %d segments, %.1f MB of JSON (%zu keys parsed)\n", kProjects,
              kSegments, totalBytes / 1e6, parsedKeys);
  std::printf(
      "loadAll  median %8.2f ms   target 300 ms (%.2fx of target)   anchor parse-only %.2f ms "
      "(%.2fx)\n",
      loadAllMs, loadAllMs / 300.0, parseAnchorMs, loadAllMs / parseAnchorMs);
  std::printf(
      "edit     median %8.3f ms   target   5 ms (%.2fx of target)   anchor encode-only %.3f ms "
      "(%.2fx)   anchor unlocked write %.3f ms (%.2fx)\n",
      saveMs, saveMs / 5.0, encodeAnchorMs, saveMs / encodeAnchorMs, plainWriteMs,
      saveMs / plainWriteMs);

  if (temporary) std::filesystem::remove_all(folder);
  return 0;
}
