#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace brisklet {

// The column a settings tab lays its sections in.
QVBoxLayout* settingsForm(QWidget* tab);
// A caption in the secondary colour that wraps.
QLabel* captionLabel(const QString& text, QWidget* parent);
// A symbol and a wrapping caption in one colour, side by side.
QWidget* captionWithSymbol(const QString& symbol, const QString& text, const QColor& colour,
                           QWidget* parent);

}  // namespace brisklet
