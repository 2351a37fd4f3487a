#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace brisklet {

// The frame of the exported movie. Projects store the raw value.
enum class AspectRatio { original, wide, vertical, square, portrait };

inline constexpr std::array<AspectRatio, 5> kAllAspectRatios = {
    AspectRatio::original, AspectRatio::wide, AspectRatio::vertical, AspectRatio::square,
    AspectRatio::portrait};

// "original", "16:9", "9:16", "1:1", "4:5"
std::string_view rawValue(AspectRatio aspectRatio);
// Label in the output picker, e.g. "16:9 · YouTube".
std::string_view label(AspectRatio aspectRatio);
// Name of the icon shown beside the label.
std::string_view symbolName(AspectRatio aspectRatio);
// The case whose raw value is `raw`, if any.
std::optional<AspectRatio> aspectRatioFromRaw(std::string_view raw);
// What a stored raw value means: missing or unrecognised text is the original frame.
AspectRatio aspectRatioFromStored(const std::optional<std::string_view>& raw);

// How kept segments meet in the output.
enum class TransitionStyle { none, dipToBlack };

inline constexpr std::array<TransitionStyle, 2> kAllTransitionStyles = {
    TransitionStyle::none, TransitionStyle::dipToBlack};

// "none", "dipToBlack"
std::string_view rawValue(TransitionStyle style);
std::string_view label(TransitionStyle style);
std::string_view symbolName(TransitionStyle style);
std::optional<TransitionStyle> transitionStyleFromRaw(std::string_view raw);
// Only the exact text "dipToBlack" selects the dip; anything else, or nothing, is hard cuts.
TransitionStyle transitionStyleFromStored(const std::optional<std::string_view>& raw);

// How loud an export is made: an integrated loudness the platforms play at, or the mix as it is.
enum class LoudnessTarget { streaming, podcast, broadcast, off };

inline constexpr std::array<LoudnessTarget, 4> kAllLoudnessTargets = {
    LoudnessTarget::streaming, LoudnessTarget::podcast, LoudnessTarget::broadcast,
    LoudnessTarget::off};

// "-14", "-16", "-23", "off"
std::string_view rawValue(LoudnessTarget target);
// "Streaming (−14 LUFS)", "Podcast (−16 LUFS)", "Broadcast (−23 LUFS)", "Off"
std::string_view label(LoudnessTarget target);
// The integrated loudness in LUFS; none when off.
std::optional<double> targetLufs(LoudnessTarget target);
std::optional<LoudnessTarget> loudnessTargetFromRaw(std::string_view raw);
// Missing or unrecognised text is the streaming target.
LoudnessTarget loudnessTargetFromStored(const std::optional<std::string_view>& raw);

}  // namespace brisklet
