#pragma once

#include <QLabel>
#include <QString>

namespace brisklet {

// Text sizes, in pixels: body 13, callout 12, caption 11, small caption 10, headline 15.
enum class TextStyle { body, callout, caption, smallCaption, headline };

// A label in one of the text styles, in the secondary colour when `secondary`, monospaced when
// asked.
QLabel* styledLabel(const QString& text, TextStyle style, bool secondary, QWidget* parent,
                    bool monospaced = false);
QFont styledFont(TextStyle style, bool monospaced = false, QFont::Weight weight = QFont::Normal);
// A label showing a symbol `size` px high in `tint`.
QLabel* symbolLabel(const QString& symbol, int size, const QColor& tint, QWidget* parent);
void setLabelColor(QLabel& label, const QColor& colour);

}  // namespace brisklet
