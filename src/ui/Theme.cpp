#include "ui/Theme.h"

#include <QApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEasingCurve>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "ui/Symbols.h"

namespace brisklet {
namespace {

QColor rgb(double red, double green, double blue) { return QColor::fromRgbF(red, green, blue); }

// A rounded rectangle with a border of `width` drawn inside its edge.
void paintRounded(QPainter& painter, const QRectF& box, double radius, const QColor& fill,
                  const QColor& border) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(box, radius, radius);
  painter.setPen(QPen(border, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
  painter.restore();
}

constexpr int kLabelPixels = 13;

// The text colour of a scheme.
QColor primaryOf(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? QColor(236, 237, 241) : QColor(28, 29, 33);
}

QColor accentInkOf(ColorScheme scheme) {
  return scheme == ColorScheme::dark ? QColor(122, 156, 255) : QColor(40, 80, 215);
}

// The colour of the scheme in force: `dark` or `light`.
QColor ofScheme(QColor dark, QColor light) {
  return currentColorScheme() == ColorScheme::dark ? dark : light;
}

// Fusion, with the theme's focus ring wherever Qt's own widgets (tool buttons, sliders, tabs)
// ask for a focus frame: Fusion's is a thin line in a shade of the highlight.
class ThemeStyle : public QProxyStyle {
 public:
  ThemeStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_FrameFocusRect) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    // Tool buttons ask for it 3 px inside their edge: the ring goes round the whole button.
    const bool whole = widget != nullptr && widget->inherits("QToolButton");
    paintFocusRing(*painter, whole ? QRectF(widget->rect()) : QRectF(option->rect), 5);
  }
};

}  // namespace

QColor withOpacity(QColor colour, double opacity) {
  colour.setAlphaF(opacity);
  return colour;
}

QColor NeuTheme::accentColor() {
  static const QColor accent = rgb(0.33, 0.49, 1.0);
  return accent;
}

QColor NeuTheme::accentFill() { return QColor(48, 88, 224); }

QColor NeuTheme::accentInk() { return accentInkOf(currentColorScheme()); }

NeuTheme NeuTheme::of(ColorScheme scheme) {
  if (scheme == ColorScheme::light)
    return {rgb(0.96, 0.96, 0.96), Qt::white, withOpacity(Qt::black, 0.08), rgb(0.92, 0.92, 0.92),
            accentColor()};
  return {rgb(0.078, 0.082, 0.094), rgb(0.11, 0.116, 0.133), withOpacity(Qt::white, 0.07),
          rgb(0.055, 0.059, 0.07), accentColor()};
}

ColorScheme desktopColorScheme() {
  QDBusInterface portal("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        "org.freedesktop.portal.Settings");
  if (!portal.isValid()) return ColorScheme::dark;
  portal.setTimeout(300);
  const QDBusReply<QDBusVariant> reply =
      portal.call("Read", "org.freedesktop.appearance", "color-scheme");
  if (!reply.isValid()) return ColorScheme::dark;
  // The answer comes wrapped once more than the call says.
  QVariant value = reply.value().variant();
  if (value.canConvert<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
  // 1: prefers dark, 2: prefers light, 0: no preference.
  return value.toUInt() == 2 ? ColorScheme::light : ColorScheme::dark;
}

ColorScheme currentColorScheme() {
  return QApplication::palette().color(QPalette::Window).lightness() < 128 ? ColorScheme::dark
                                                                           : ColorScheme::light;
}

QColor primaryColor() { return primaryOf(currentColorScheme()); }

QColor secondaryColor() {
  return withOpacity(primaryColor(), currentColorScheme() == ColorScheme::dark ? 0.6 : 0.7);
}

QColor statusGreen() { return ofScheme(QColor(52, 199, 89), QColor(25, 120, 50)); }
QColor statusOrange() { return ofScheme(QColor(255, 149, 0), QColor(175, 72, 0)); }
QColor statusRed() { return ofScheme(QColor(255, 69, 58), QColor(200, 25, 30)); }
QColor statusYellow() { return ofScheme(QColor(255, 204, 0), QColor(150, 100, 0)); }

QColor scoreColor(double score) {
  if (score >= 0.6) return statusGreen();
  if (score >= 0.35) return statusOrange();
  return statusRed();
}

void applyTheme(QApplication& application, ColorScheme scheme) {
  application.setStyle(new ThemeStyle);
  const NeuTheme theme = NeuTheme::of(scheme);
  const bool dark = scheme == ColorScheme::dark;
  const QColor primary = primaryOf(scheme);
  QPalette palette;
  palette.setColor(QPalette::Window, theme.surface);
  palette.setColor(QPalette::WindowText, primary);
  palette.setColor(QPalette::Base, theme.shadow);
  palette.setColor(QPalette::AlternateBase, theme.element);
  palette.setColor(QPalette::Text, primary);
  palette.setColor(QPalette::Button, theme.element);
  palette.setColor(QPalette::ButtonText, primary);
  palette.setColor(QPalette::BrightText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, theme.element);
  palette.setColor(QPalette::ToolTipText, primary);
  palette.setColor(QPalette::PlaceholderText, withOpacity(primary, dark ? 0.6 : 0.7));
  palette.setColor(QPalette::Highlight, theme.accent);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Link, accentInkOf(scheme));
  palette.setColor(QPalette::Light, dark ? rgb(0.2, 0.21, 0.24) : Qt::white);
  palette.setColor(QPalette::Midlight, dark ? rgb(0.16, 0.17, 0.19) : rgb(0.9, 0.9, 0.9));
  palette.setColor(QPalette::Mid, dark ? rgb(0.13, 0.135, 0.15) : rgb(0.8, 0.8, 0.8));
  palette.setColor(QPalette::Dark, dark ? rgb(0.04, 0.04, 0.05) : rgb(0.6, 0.6, 0.6));
  palette.setColor(QPalette::Shadow, Qt::black);
  for (const QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, withOpacity(primary, 0.35));
  application.setPalette(palette);
  // Thin scroll bars in the theme's colours: Fusion's own are light grey troughs with arrows.
  // Text fields and radio buttons get a frame that stands out from the window (3:1); Fusion's is
  // a shade of it.
  const QString frame = withOpacity(primary, dark ? 0.45 : 0.55).name(QColor::HexArgb);
  const QString handle = withOpacity(primary, dark ? 0.22 : 0.28).name(QColor::HexArgb);
  const QString hovered = withOpacity(primary, dark ? 0.35 : 0.42).name(QColor::HexArgb);
  application.setStyleSheet(QString(R"(
    QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }
    QScrollBar:horizontal { background: transparent; height: 10px; margin: 0; }
    QScrollBar::handle { background: %1; border-radius: 3px; margin: 2px; }
    QScrollBar::handle:hover { background: %2; }
    QScrollBar::handle:vertical { min-height: 28px; }
    QScrollBar::handle:horizontal { min-width: 28px; }
    QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; }
    QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }
    QLineEdit, QPlainTextEdit { border: 1px solid %3; border-radius: 5px; padding: 3px 5px; }
    QLineEdit:focus, QPlainTextEdit:focus { border: 2px solid %4; padding: 2px 4px; }
    QRadioButton::indicator { width: 14px; height: 14px; border-radius: 8px; border: 1px solid %3; }
    QRadioButton::indicator:checked { width: 8px; height: 8px; border: 4px solid %4;
                                      background: white; }
  )")
                                .arg(handle, hovered, frame, theme.accent.name()));
  QFont font = application.font();
  font.setPixelSize(kLabelPixels);
  application.setFont(font);
}

void paintPanel(QPainter& painter, const QRectF& box, double cornerRadius) {
  const NeuTheme theme = NeuTheme::of(currentColorScheme());
  paintRounded(painter, box, cornerRadius, theme.element, theme.highlight);
}

void paintFocusRing(QPainter& painter, const QRectF& box, double cornerRadius) {
  painter.save();
  painter.setOpacity(1);
  painter.setBrush(Qt::NoBrush);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF ring = box.adjusted(1, 1, -1, -1);
  const double radius = std::max(0.0, std::min(cornerRadius, ring.height() / 2));
  // A line of the window's surface inside the ring keeps it apart from an accent fill.
  const QRectF gap = ring.adjusted(1.5, 1.5, -1.5, -1.5);
  const double gapRadius = std::max(0.0, radius - 1.5);
  painter.setPen(QPen(NeuTheme::of(currentColorScheme()).surface, 1));
  painter.drawRoundedRect(gap, gapRadius, gapRadius);
  painter.setPen(QPen(NeuTheme::accentColor(), 2));
  painter.drawRoundedRect(ring, radius, radius);
  painter.restore();
}

void paintWell(QPainter& painter, const QRectF& box, double cornerRadius) {
  const NeuTheme theme = NeuTheme::of(currentColorScheme());
  paintRounded(painter, box, cornerRadius, theme.shadow, withOpacity(Qt::black, 0.35));
}

NeuButton::NeuButton(const QString& text, double cornerRadius, bool prominent, QWidget* parent)
    : QAbstractButton(parent), cornerRadius_(cornerRadius), prominent_(prominent) {
  setText(text);
  setCursor(Qt::PointingHandCursor);
  // Reached with Tab and shown with a ring; a click does not move the focus away from the work.
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  QFont label = font();
  label.setPixelSize(kLabelPixels);
  label.setWeight(prominent ? QFont::DemiBold : QFont::Normal);
  setFont(label);
  pressAnimation_.setDuration(80);
  pressAnimation_.setEasingCurve(QEasingCurve::OutCubic);
  connect(&pressAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    pressAmount_ = value.toDouble();
    update();
  });
  const auto animateTo = [this](double target) {
    pressAnimation_.stop();
    pressAnimation_.setStartValue(pressAmount_);
    pressAnimation_.setEndValue(target);
    pressAnimation_.start();
  };
  connect(this, &QAbstractButton::pressed, this, [animateTo] { animateTo(1.0); });
  connect(this, &QAbstractButton::released, this, [animateTo] { animateTo(0.0); });
}

void NeuButton::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  updateGeometry();
  update();
}

QSize NeuButton::sizeHint() const {
  const QFontMetrics metrics(font());
  const int symbolWidth = symbol_.isEmpty() ? 0 : kLabelPixels + (text().isEmpty() ? 0 : 6);
  return {12 + symbolWidth + metrics.horizontalAdvance(text()) + 12,
          std::max(6 + metrics.height() + 6, static_cast<int>(2 * cornerRadius_))};
}

void NeuButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const NeuTheme theme = NeuTheme::of(currentColorScheme());
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const double radius = std::min(cornerRadius_, box.height() / 2);
  if (prominent_) painter.setOpacity(1.0 - 0.15 * pressAmount_);
  if (!isEnabled()) painter.setOpacity(0.45);
  QBrush fill;
  if (prominent_) {
    QLinearGradient gradient(box.topLeft(), box.bottomLeft());
    gradient.setColorAt(0, NeuTheme::accentFill().lighter(108));
    gradient.setColorAt(1, NeuTheme::accentFill());
    fill = gradient;
  } else {
    fill = withOpacity(Qt::white, 0.08 + 0.08 * pressAmount_);
  }
  painter.setPen(QPen(prominent_ ? withOpacity(Qt::white, 0.18) : theme.highlight, 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(box, radius, radius);

  const QColor ink = prominent_ ? QColor(Qt::white) : primaryColor();
  const QFontMetrics metrics(font());
  const double symbolWidth = symbol_.isEmpty() ? 0 : kLabelPixels + (text().isEmpty() ? 0 : 6);
  const double contentWidth = symbolWidth + metrics.horizontalAdvance(text());
  double x = (width() - contentWidth) / 2;
  if (!symbol_.isEmpty()) {
    paintSymbol(painter, symbol_,
                QRectF(x, (height() - kLabelPixels) / 2.0, kLabelPixels, kLabelPixels), ink);
    x += symbolWidth;
  }
  painter.setPen(ink);
  painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
  if (hasFocus()) paintFocusRing(painter, QRectF(rect()), radius);
}

}  // namespace brisklet
