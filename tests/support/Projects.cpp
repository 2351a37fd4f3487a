#include "support/Projects.h"

#include <stdexcept>

#include "model/Edit.h"

namespace brisklet::testing {

Segment narrated(const Segment& segment, const std::string& text) {
  Project holder;
  holder.editPlan = EditPlan{};
  holder.editPlan->segments = {segment};
  applyEdit(SetNarrationText{segment.id, text}, holder);
  return holder.editPlan->segments.front();
}

Timestamp at(const std::string& iso8601) {
  const auto instant = parseIso8601(iso8601);
  if (!instant) throw std::invalid_argument("not a date: " + iso8601);
  return *instant;
}

Segment segment(double startSec, double endSec, bool keep) {
  Segment made;
  made.id = Uuid::random();
  made.startSec = startSec;
  made.endSec = endSec;
  made.keep = keep;
  return made;
}

EditPlan samplePlan(int count, std::int64_t revision) {
  EditPlan plan;
  plan.runningSummary = "I walked to the harbour and watched the boats come in.";
  plan.planRevision = revision;
  for (int index = 0; index < count; ++index) {
    Segment segment = testing::segment(2.5 * index, 2.5 * (index + 1), index % 2 == 0);
    if (index % 3 == 0) segment.quality = QualityScores{0.8, 0.9, 0.7, 0.25, 0.71, index % 6 == 0};
    if (index % 2 == 0) {
      segment.sceneDescription = "Boats in the harbour at dusk, scene " + std::to_string(index);
      segment.activity = "walking";
      segment.keepReason = "Establishes the place.";
      segment.narration = NarrationClip{.text = "Here's where the day began.",
                                        .userEditedText = false,
                                        .audioFileName = std::nullopt,
                                        .startOffsetSec = 0.5,
                                        .durationSec = std::nullopt,
                                        .status = NarrationStatus::pendingAudio};
    }
    plan.segments.push_back(std::move(segment));
  }
  return plan;
}

Project sampleProject(const std::string& name, const std::string& createdAt, int segments) {
  Project project = makeProject(name, ByteString{'b', 'm'}, 10.0 * std::max(segments, 1));
  project.createdAt = at(createdAt);
  if (segments > 0) project.editPlan = samplePlan(segments);
  return project;
}

Project sampleProjectWithId(const std::string& name, const std::string& createdAt,
                            const std::string& id) {
  Project project = sampleProject(name, createdAt);
  const auto parsed = Uuid::parse(id);
  if (!parsed) throw std::invalid_argument("not an id: " + id);
  project.id = *parsed;
  return project;
}

}  // namespace brisklet::testing
