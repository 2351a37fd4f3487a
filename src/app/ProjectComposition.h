#pragma once

#include "media/CompositionBuilder.h"
#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// What the preview, the export and the captions build from: the project's own files (narration
// folder, enhanced sound and music when present) and settings (framing, transition, bed volume).
CompositionBuilder::Inputs compositionInputs(const Project& project, const ProjectStore& store);

// What the preview plays: the project's edit with every picture laid out upright, or, without a
// plan, the whole source. Throws as the builder does, or when the source cannot be found.
CompositionResult previewComposition(const Project& project, const ProjectStore& store);

// What the preview is built from, as one text: the plan's revision (−1 without a plan), the
// enhanced sound's file, the framing, the transition, the music file and the bed volume in whole
// percent, joined with "|". A plan at revision 7 framed 9:16 and nothing else set gives
// "7||9:16|||25". When it changes, the preview is built again.
std::string settingsFingerprint(const Project& project);

}  // namespace brisklet
