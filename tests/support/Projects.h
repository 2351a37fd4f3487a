#pragma once

#include <string>

#include "model/Project.h"

namespace brisklet::testing {

// A bare segment with a fresh id and nothing but its span and decision.
Segment segment(double startSec, double endSec, bool keep = true);

// A plan of `count` segments of 2.5 s each, every other one kept, some with scores, texts and
// narration, so encoders see every optional field.
EditPlan samplePlan(int count, std::int64_t revision = 1);

// A project created at `createdAt` (ISO 8601), with a sample plan of `segments` segments when
// `segments` is positive, and no plan otherwise.
Project sampleProject(const std::string& name, const std::string& createdAt, int segments = 0);

// The same with a chosen id (8-4-4-4-12 text), for tests of id prefixes.
Project sampleProjectWithId(const std::string& name, const std::string& createdAt,
                            const std::string& id);

Timestamp at(const std::string& iso8601);

// `segment` with its narration line set to `text` as the inspector sets it.
Segment narrated(const Segment& segment, const std::string& text);

}  // namespace brisklet::testing
