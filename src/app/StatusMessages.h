#pragma once

namespace brisklet {

// The status line after an analysis that had no Anthropic key to work with.
inline constexpr const char* kOnDeviceOnlyNotice =
    "Analyzed on-device only. Add your Anthropic API key in Settings to get scene understanding "
    "and narration scripts.";

}  // namespace brisklet
