#include "model/OutputSettings.h"

namespace brisklet {
namespace {

struct AspectRatioText {
  std::string_view raw, label, symbol;
};

AspectRatioText textOf(AspectRatio aspectRatio) {
  switch (aspectRatio) {
    case AspectRatio::original:
      return {"original", "Original", "arrow.up.left.and.arrow.down.right"};
    case AspectRatio::wide:
      return {"16:9", "16:9 · YouTube", "rectangle.ratio.16.to.9"};
    case AspectRatio::vertical:
      return {"9:16", "9:16 · Reels / Shorts", "rectangle.ratio.9.to.16"};
    case AspectRatio::square:
      return {"1:1", "1:1 · Square", "square"};
    case AspectRatio::portrait:
      return {"4:5", "4:5 · Feed", "rectangle.portrait"};
  }
  return {"original", "Original", "arrow.up.left.and.arrow.down.right"};
}

}  // namespace

std::string_view rawValue(AspectRatio aspectRatio) { return textOf(aspectRatio).raw; }
std::string_view label(AspectRatio aspectRatio) { return textOf(aspectRatio).label; }
std::string_view symbolName(AspectRatio aspectRatio) { return textOf(aspectRatio).symbol; }

std::optional<AspectRatio> aspectRatioFromRaw(std::string_view raw) {
  for (AspectRatio candidate : kAllAspectRatios)
    if (rawValue(candidate) == raw) return candidate;
  return std::nullopt;
}

AspectRatio aspectRatioFromStored(const std::optional<std::string_view>& raw) {
  return raw ? aspectRatioFromRaw(*raw).value_or(AspectRatio::original) : AspectRatio::original;
}

std::string_view rawValue(TransitionStyle style) {
  return style == TransitionStyle::dipToBlack ? "dipToBlack" : "none";
}

std::string_view label(TransitionStyle style) {
  return style == TransitionStyle::dipToBlack ? "Dip to black" : "Hard cuts";
}

std::string_view symbolName(TransitionStyle style) {
  return style == TransitionStyle::dipToBlack ? "circle.lefthalf.filled" : "scissors";
}

std::optional<TransitionStyle> transitionStyleFromRaw(std::string_view raw) {
  for (TransitionStyle candidate : kAllTransitionStyles)
    if (rawValue(candidate) == raw) return candidate;
  return std::nullopt;
}

TransitionStyle transitionStyleFromStored(const std::optional<std::string_view>& raw) {
  return raw && *raw == "dipToBlack" ? TransitionStyle::dipToBlack : TransitionStyle::none;
}

namespace {

struct LoudnessText {
  std::string_view raw, label;
  std::optional<double> lufs;
};

LoudnessText textOf(LoudnessTarget target) {
  switch (target) {
    case LoudnessTarget::streaming:
      return {"-14", "Streaming (\u221214 LUFS)", -14.0};
    case LoudnessTarget::podcast:
      return {"-16", "Podcast (\u221216 LUFS)", -16.0};
    case LoudnessTarget::broadcast:
      return {"-23", "Broadcast (\u221223 LUFS)", -23.0};
    case LoudnessTarget::off:
      return {"off", "Off", std::nullopt};
  }
  return {"-14", "Streaming (\u221214 LUFS)", -14.0};
}

}  // namespace

std::string_view rawValue(LoudnessTarget target) { return textOf(target).raw; }
std::string_view label(LoudnessTarget target) { return textOf(target).label; }
std::optional<double> targetLufs(LoudnessTarget target) { return textOf(target).lufs; }

std::optional<LoudnessTarget> loudnessTargetFromRaw(std::string_view raw) {
  for (LoudnessTarget candidate : kAllLoudnessTargets)
    if (rawValue(candidate) == raw) return candidate;
  return std::nullopt;
}

LoudnessTarget loudnessTargetFromStored(const std::optional<std::string_view>& raw) {
  return raw ? loudnessTargetFromRaw(*raw).value_or(LoudnessTarget::streaming)
             : LoudnessTarget::streaming;
}

}  // namespace brisklet
