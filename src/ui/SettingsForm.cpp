#include "ui/SettingsForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Labels.h"

namespace brisklet {

QVBoxLayout* settingsForm(QWidget* tab) {
  auto* form = new QVBoxLayout(tab);
  form->setContentsMargins(20, 16, 20, 16);
  form->setSpacing(6);
  return form;
}

QLabel* captionLabel(const QString& text, QWidget* parent) {
  QLabel* label = styledLabel(text, TextStyle::caption, true, parent);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QWidget* captionWithSymbol(const QString& symbol, const QString& text, const QColor& colour,
                           QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  row->addWidget(symbolLabel(symbol, 14, colour, box), 0, Qt::AlignTop);
  QLabel* caption = styledLabel(text, TextStyle::caption, false, box);
  caption->setObjectName("caption");
  caption->setWordWrap(true);
  setLabelColor(*caption, colour);
  row->addWidget(caption, 1);
  return box;
}

}  // namespace brisklet
