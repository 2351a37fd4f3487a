#include "ui/Labels.h"

#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {

QFont styledFont(TextStyle style, bool monospaced, QFont::Weight weight) {
  QFont font = monospaced ? QFont("monospace") : QFont();
  if (monospaced) font.setStyleHint(QFont::Monospace);
  switch (style) {
    case TextStyle::body: font.setPixelSize(13); break;
    case TextStyle::callout: font.setPixelSize(12); break;
    case TextStyle::caption: font.setPixelSize(11); break;
    case TextStyle::smallCaption: font.setPixelSize(10); break;
    case TextStyle::headline:
      font.setPixelSize(15);
      weight = std::max(weight, QFont::DemiBold);
      break;
  }
  font.setWeight(weight);
  return font;
}

void setLabelColor(QLabel& label, const QColor& colour) {
  QPalette palette = label.palette();
  palette.setColor(QPalette::WindowText, colour);
  label.setPalette(palette);
}

QLabel* styledLabel(const QString& text, TextStyle style, bool secondary, QWidget* parent,
                    bool monospaced) {
  auto* label = new QLabel(text, parent);
  label->setFont(styledFont(style, monospaced));
  setLabelColor(*label, secondary ? secondaryColor() : primaryColor());
  return label;
}

QLabel* symbolLabel(const QString& symbol, int size, const QColor& tint, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(symbolPixmap(symbol, size, tint, parent ? parent->devicePixelRatioF() : 1.0));
  return label;
}

}  // namespace brisklet
