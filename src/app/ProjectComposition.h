#pragma once

#include "media/CompositionBuilder.h"
#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// What the preview, the export and the captions build from: the project's own files (narration
// folder, enhanced sound and music when present) and settings (framing, transition, bed volume).
CompositionBuilder::Inputs compositionInputs(const Project& project, const ProjectStore& store);

}  // namespace brisklet
