#pragma once

#include <vector>

#include "analysis/AIDirector.h"
#include "model/EditPlan.h"

namespace brisklet {

// The Short's own plan: the model's clips turned into kept segments of `plan`'s source, in the
// model's order. A clip starts at most half a second before its scene ends and ends with it at
// the latest; one that shows half a second or less is dropped. A scene's removed pauses stay
// removed in its clips. Clips stop at `targetSec` shown in all, the last one cut to fit.
EditPlan shortPlan(const EditPlan& plan, const std::vector<AIDirector::HighlightClip>& clips,
                   double targetSec);

}  // namespace brisklet
