#include "ui/Screenshots.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <cmath>
#include <filesystem>
#include <unordered_map>

namespace brisklet::testing {
namespace {

double luminance(QColor colour) {
  const auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
         0.0722 * linear(colour.blueF());
}

// The colour most of `area` has. Near colours count as one (a gentle gradient is one fill), and
// the answer is their mean.
QColor mostFrequent(const QImage& picture, QRect area) {
  struct Bucket {
    int count = 0;
    long red = 0, green = 0, blue = 0;
  };
  std::unordered_map<QRgb, Bucket> buckets;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb pixel = picture.pixel(x, y);
      Bucket& bucket = buckets[pixel & 0xe0e0e0];
      ++bucket.count;
      bucket.red += qRed(pixel);
      bucket.green += qGreen(pixel);
      bucket.blue += qBlue(pixel);
    }
  const auto most = std::max_element(buckets.begin(), buckets.end(), [](auto& a, auto& b) {
    return a.second.count < b.second.count;
  });
  if (most == buckets.end()) return {};
  const Bucket& fill = most->second;
  return QColor(static_cast<int>(fill.red / fill.count), static_cast<int>(fill.green / fill.count),
                static_cast<int>(fill.blue / fill.count));
}

std::string describe(const QWidget& widget) {
  std::string name = widget.metaObject()->className();
  if (!widget.objectName().isEmpty()) name += " \"" + widget.objectName().toStdString() + "\"";
  QString text;
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) text = label->text();
  if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) text = button->text();
  if (const auto* field = qobject_cast<const QLineEdit*>(&widget)) text = field->text();
  if (!text.isEmpty()) name += " '" + text.left(40).toStdString() + "'";
  return name;
}

// What of `widget` the picture of `shown` holds, in its coordinates.
QRect visibleArea(const QWidget& widget, QWidget& shown) {
  const QRect inside = widget.visibleRegion().boundingRect();
  if (inside.isEmpty()) return {};
  return QRect(widget.mapTo(&shown, inside.topLeft()), inside.size()) & shown.rect();
}

// What `widget` must reach: 4.5:1 for text, 3:1 for a symbol alone; nothing when it shows
// neither.
std::optional<double> minimumFor(const QWidget& widget) {
  QString text;
  bool symbol = false;
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    text = label->text().trimmed();
    symbol = !label->pixmap().isNull();
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
    text = button->text();
    symbol = !button->icon().isNull();
  } else if (const auto* field = qobject_cast<const QLineEdit*>(&widget)) {
    text = field->text();
  } else if (qobject_cast<const QComboBox*>(&widget) != nullptr) {
    return 4.5;
  }
  if (!text.isEmpty()) return 4.5;
  if (symbol) return 3.0;
  return std::nullopt;
}

// Whether `widget` is fading in or out: what it shows then is on its way, not what it shows.
bool fading(const QWidget& widget, const QWidget& shown) {
  for (const QWidget* at = &widget; at != nullptr && at != &shown; at = at->parentWidget())
    if (const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(at->graphicsEffect());
        effect != nullptr && effect->opacity() < 1)
      return true;
  return false;
}

// Whether something drawn later (an overlay, a popup's panel) covers the middle of `widget`.
bool covered(const QWidget& widget, QWidget& shown, QRect area) {
  const QWidget* top = shown.childAt(area.center());
  return top != nullptr && top != &widget && !widget.isAncestorOf(top);
}

// Where a radio button or check box draws its indicator, in its own coordinates.
std::optional<QRect> indicatorOf(const QWidget& widget) {
  const bool radio = qobject_cast<const QRadioButton*>(&widget) != nullptr;
  if (!radio && qobject_cast<const QCheckBox*>(&widget) == nullptr) return std::nullopt;
  QStyleOptionButton option;
  option.initFrom(&widget);
  return widget.style()->subElementRect(
      radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, &widget);
}

}  // namespace

double contrastRatio(QColor first, QColor second) {
  const double one = luminance(first);
  const double other = luminance(second);
  return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

double contrastIn(const QImage& picture, QRect area, QRect background) {
  area &= picture.rect();
  background = background.isEmpty() ? area : background & picture.rect();
  if (area.isEmpty()) return 21;
  const QColor behind = mostFrequent(picture, background);
  double highest = 1;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      highest = std::max(highest, contrastRatio(picture.pixelColor(x, y), behind));
  return highest;
}

std::vector<LowContrast> lowContrast(QWidget& shown) {
  const QImage picture = shown.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const double scale = picture.devicePixelRatio();
  const auto inPicture = [scale](QRect area) {
    return QRect((area.topLeft() * scale), area.size() * scale);
  };
  std::vector<LowContrast> found;
  const auto check = [&](const QWidget& widget, QRect area, QRect background, double minimum,
                         const char* what) {
    const double ratio = contrastIn(picture, inPicture(area), inPicture(background));
    if (ratio < minimum) found.push_back({describe(widget) + what, ratio, minimum});
  };
  for (QWidget* widget : shown.findChildren<QWidget*>()) {
    if (!widget->isVisible() || !widget->isEnabled()) continue;
    const QRect area = visibleArea(*widget, shown);
    if (area.isEmpty() || covered(*widget, shown, area) || fading(*widget, shown)) continue;
    if (const auto minimum = minimumFor(*widget)) check(*widget, area, {}, *minimum, "");
    const QPoint origin = widget->mapTo(&shown, QPoint());
    if (const auto indicator = indicatorOf(*widget)) {
      const QRect ring = indicator->translated(origin) & area;
      check(*widget, ring, ring.adjusted(-3, -3, 3, 3), 3, " (indicator)");
    }
    if (qobject_cast<const QLineEdit*>(widget) != nullptr &&
        qobject_cast<const QComboBox*>(widget->parentWidget()) == nullptr) {
      // The frame against what surrounds the field: its top edge and the strip above it.
      const QRect edge(area.left() + 4, area.top(), area.width() - 8, 2);
      check(*widget, edge, edge.translated(0, -3), 3, " (frame)");
    }
  }
  return found;
}

void saveScreenshot(QWidget& widget, const std::string& name) {
  QCoreApplication::processEvents();
  std::filesystem::create_directories(BRISKLET_SCREENSHOT_DIR);
  widget.grab().save(QString::fromStdString(std::string(BRISKLET_SCREENSHOT_DIR) + "/" + name));
  for (const LowContrast& low : lowContrast(widget))
    ADD_FAILURE() << name << ": " << low.where << " has contrast " << low.ratio << ":1, under "
                  << low.minimum << ":1";
}

}  // namespace brisklet::testing
