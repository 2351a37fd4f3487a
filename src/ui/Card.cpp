#include "ui/Card.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/Labels.h"
#include "ui/Theme.h"

namespace brisklet {

Card::Card(const QString& title, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(8);
  auto* heading = styledLabel(title.toUpper(), TextStyle::smallCaption, true, this);
  heading->setFont(styledFont(TextStyle::smallCaption, false, QFont::DemiBold));
  layout->addWidget(heading);
  content_ = new QVBoxLayout;
  content_->setSpacing(6);
  layout->addLayout(content_);
}

void Card::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintPanel(painter, rect(), 12);
}

ToggleSwitch::ToggleSwitch(const QString& label, QWidget* parent) : QWidget(parent), label_(label) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(label);
  setFont(styledFont(TextStyle::caption));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ToggleSwitch::setChecked(bool checked) {
  checked_ = checked;
  update();
}

QSize ToggleSwitch::sizeHint() const {
  return {QFontMetrics(font()).horizontalAdvance(label_) + 6 + 26, 16};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int textWidth = QFontMetrics(font()).horizontalAdvance(label_);
  painter.setPen(primaryColor());
  painter.drawText(QRect(0, 0, textWidth, height()), Qt::AlignVCenter, label_);
  const QRectF track(textWidth + 6, (height() - 14) / 2.0, 26, 14);
  // Off still stands out from the panel (3:1), so the switch reads as a control.
  const QColor off = withOpacity(primaryColor(), 0.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(checked_ ? NeuTheme::accentColor() : off);
  painter.drawRoundedRect(track, 7, 7);
  painter.setBrush(Qt::white);
  const double knobX = checked_ ? track.right() - 13 : track.left() + 1;
  painter.drawEllipse(QRectF(knobX, track.top() + 1, 12, 12));
  if (hasFocus()) paintFocusRing(painter, track.adjusted(-2, -2, 2, 2), 9);
}

void ToggleSwitch::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  flip();
}

void ToggleSwitch::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space && event->key() != Qt::Key_Return &&
      event->key() != Qt::Key_Enter) {
    QWidget::keyPressEvent(event);
    return;
  }
  flip();
}

void ToggleSwitch::flip() {
  checked_ = !checked_;
  update();
  emit toggled(checked_);
}

ScoreGauge::ScoreGauge(double score, QWidget* parent) : QWidget(parent), score_(score) {
  setFixedHeight(6);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ScoreGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor track = primaryColor();
  track.setAlphaF(0.12);
  painter.setPen(Qt::NoPen);
  painter.setBrush(track);
  painter.drawRoundedRect(rect(), 3, 3);
  const double filled = std::clamp(score_, 0.0, 1.0) * width();
  painter.setBrush(scoreColor(score_));
  painter.drawRoundedRect(QRectF(0, 0, filled, height()), 3, 3);
}

}  // namespace brisklet
