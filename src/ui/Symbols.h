#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QPainter;
class QRectF;

namespace brisklet {

// Our own icons, named by the symbol names the views use ("play.fill", "waveform", …), drawn
// from the SVGs in ui/icons in one colour.
QPixmap symbolPixmap(const QString& name, int size, const QColor& tint, qreal devicePixelRatio = 1);
QIcon symbolIcon(const QString& name, const QColor& tint, int size = 16);
// Brisklet's own icon: the installed theme's, else the copy built in.
QIcon applicationIcon();
// Draws the symbol into `box` (kept square, centred).
void paintSymbol(QPainter& painter, const QString& name, const QRectF& box, const QColor& tint);

}  // namespace brisklet
