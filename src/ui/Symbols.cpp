#include "ui/Symbols.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

// Resources of a static library are registered by hand, once, from outside any namespace.
static void registerSymbols() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(Symbols);
    return true;
  }();
  (void)registered;
}

namespace brisklet {

QPixmap symbolPixmap(const QString& name, int size, const QColor& tint, qreal devicePixelRatio) {
  const int pixels = static_cast<int>(std::ceil(size * devicePixelRatio));
  QPixmap pixmap(pixels, pixels);
  pixmap.fill(Qt::transparent);
  registerSymbols();
  QSvgRenderer renderer(":/symbols/" + name);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  // The drawing is black; its coverage takes the tint.
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(pixmap.rect(), tint);
  painter.end();
  pixmap.setDevicePixelRatio(devicePixelRatio);
  return pixmap;
}

QIcon symbolIcon(const QString& name, const QColor& tint, int size) {
  QIcon icon;
  for (const qreal ratio : {1.0, 2.0}) icon.addPixmap(symbolPixmap(name, size, tint, ratio));
  return icon;
}

void paintSymbol(QPainter& painter, const QString& name, const QRectF& box, const QColor& tint) {
  const double side = std::min(box.width(), box.height());
  const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const QPixmap pixmap = symbolPixmap(name, static_cast<int>(std::ceil(side)), tint, ratio);
  painter.drawPixmap(QPointF(box.center().x() - side / 2, box.center().y() - side / 2), pixmap);
}

QIcon applicationIcon() {
  registerSymbols();
  return QIcon::fromTheme("com.kettlewick.Brisklet", QIcon(":/symbols/app-icon"));
}

}  // namespace brisklet
