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

}  // namespace brisklet
