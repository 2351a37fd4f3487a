#include "ui/PipelineProgressView.h"

#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

#include "ui/Labels.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

constexpr int kSteps = 1000;

}  // namespace

PipelineProgressView::PipelineProgressView(QWidget* parent) : QWidget(parent) {
  setFixedWidth(360);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(26, 26, 26, 26);
  column->setSpacing(12);
  stage_ = styledLabel({}, TextStyle::headline, false, this);
  stage_->setObjectName("progressStage");
  stage_->setWordWrap(true);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("progressBar");
  bar_->setTextVisible(false);
  bar_->setFixedHeight(6);
  QPalette palette = bar_->palette();
  palette.setColor(QPalette::Highlight, NeuTheme::accentColor());
  bar_->setPalette(palette);
  column->addWidget(stage_);
  column->addWidget(bar_);
  auto* cancel = new NeuButton("Cancel", 6, false, this);
  cancel->setObjectName("cancelCommand");
  cancel->setToolTip("Stop this work; what it had begun writing is removed");
  connect(cancel, &NeuButton::clicked, this, &PipelineProgressView::cancelRequested);
  column->addWidget(cancel, 0, Qt::AlignRight);
}

void PipelineProgressView::setProgress(const PipelineProgress& progress) {
  stage_->setText(QString::fromStdString(progress.line()));
  if (progress.fraction >= 0 && std::isfinite(progress.fraction)) {
    bar_->setRange(0, kSteps);
    bar_->setValue(static_cast<int>(std::lround(std::min(progress.fraction, 1.0) * kSteps)));
  } else {
    bar_->setRange(0, 0);  // runs without end
  }
  adjustSize();
}

void PipelineProgressView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  paintPanel(painter, QRectF(rect()), 18);
}

}  // namespace brisklet
