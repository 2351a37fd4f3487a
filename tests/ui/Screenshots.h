#pragma once

#include <QColor>
#include <QRect>
#include <optional>
#include <string>
#include <vector>

class QImage;
class QWidget;

namespace brisklet::testing {

// Something drawn that a reader cannot tell from what is behind it.
struct LowContrast {
  std::string where;
  double ratio;
  double minimum;
};

// WCAG's contrast ratio of two opaque colours: 1 (same) … 21 (black on white).
double contrastRatio(QColor first, QColor second);
// The contrast of what is drawn in `area` of `picture` against its background: the most
// frequent colour of `background` (the area itself when empty) against the pixel that
// differs most from it. Anti-aliased edges never raise it, so it is at most the ink's own.
double contrastIn(const QImage& picture, QRect area, QRect background = {});

// Every visible, enabled text and symbol in `shown` under 4.5:1, and every text field's frame,
// radio button's and check box's indicator under 3:1, measured in the picture `shown` draws.
std::vector<LowContrast> lowContrast(QWidget& shown);

// Saves what `widget` shows under build/screenshots/, for a person to look at, and fails the
// test for anything on it that `lowContrast` finds. Widgets added to a shown window appear once
// the posted events run, so those run first.
void saveScreenshot(QWidget& widget, const std::string& name);

}  // namespace brisklet::testing
