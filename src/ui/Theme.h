#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QVariantAnimation>

class QApplication;
class QPainter;
class QRectF;

namespace brisklet {

enum class ColorScheme { light, dark };

// The soft, low-contrast look: a window surface, raised panels, sunken wells and one accent.
// Sizes are logical pixels; fonts are set in pixels.
struct NeuTheme {
  QColor surface;    // the window behind everything
  QColor element;    // raised panels
  QColor highlight;  // the 1 px border of panels and plain buttons
  QColor shadow;     // sunken wells
  QColor accent;

  static QColor accentColor();
  // The accent behind white text, dark enough for it to read (4.5:1).
  static QColor accentFill();
  // The accent as text or a symbol on the scheme in force: lighter on dark, darker on light.
  static QColor accentInk();
  // The light column for the light scheme, the dark one for every other.
  static NeuTheme of(ColorScheme scheme);
};

// What the desktop prefers (the freedesktop settings portal); dark when it does not say.
ColorScheme desktopColorScheme();
// The scheme in force: the one the application's palette was made for.
ColorScheme currentColorScheme();
// Fusion, with a palette made of the theme's colours for `scheme`.
void applyTheme(QApplication& application, ColorScheme scheme);

// `colour` at `opacity` (0…1).
QColor withOpacity(QColor colour, double opacity);

// The text colours of the scheme in force: primary, and secondary (dimmer, still 4.5:1 on every
// surface of the scheme).
QColor primaryColor();
QColor secondaryColor();

// The status colours of the scheme in force: kept and good (green), middling (orange), dropped
// and poor (red), ideas (yellow). The light scheme's are darker, so that they read as text.
QColor statusGreen();
QColor statusOrange();
QColor statusRed();
QColor statusYellow();
// The colour of a score from 0 to 1: green from 0.6, orange from 0.35, red below.
QColor scoreColor(double score);

// A raised panel: `element` behind, a 1 px `highlight` border inside the edge.
void paintPanel(QPainter& painter, const QRectF& box, double cornerRadius);
// A sunken well: `shadow` behind, a 1 px border of black at 35 % inside the edge.
void paintWell(QPainter& painter, const QRectF& box, double cornerRadius);
// Where the keyboard is: a 2 px accent ring inside `box`, with a line of the surface inside it,
// drawn by every control that has the focus: the theme's own, and Qt's through the style.
void paintFocusRing(QPainter& painter, const QRectF& box, double cornerRadius);

// The theme's button: 13 px label (semibold when prominent), 12 × 6 padding; prominent ones are
// white on an accent gradient, plain ones primary on white at 8 % (16 % pressed). A press
// eases in over 0.08 s.
class NeuButton : public QAbstractButton {
  Q_OBJECT

 public:
  NeuButton(const QString& text, double cornerRadius, bool prominent, QWidget* parent = nullptr);
  // The symbol drawn before the text (or alone).
  void setSymbol(const QString& symbol);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double cornerRadius_;
  bool prominent_;
  QString symbol_;
  // 0 released … 1 pressed.
  double pressAmount_ = 0;
  QVariantAnimation pressAnimation_;
};

}  // namespace brisklet
