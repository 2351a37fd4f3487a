#include "ui/PreviewView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/PlayerController.h"

namespace brisklet {
namespace {

constexpr double kCornerRadius = 16;
// A window being dragged larger resizes the view many times a second; the pictures are laid out
// anew once it stops.
constexpr int kSettleMilliseconds = 150;

constexpr int kMinimumWidth = 320;
constexpr int kMinimumHeight = 240;

}  // namespace

PreviewView::PreviewView(PlayerController& player, QWidget* parent)
    : QWidget(parent), player_(player) {
  setObjectName("preview");
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  // Never smaller than a picture one can judge an edit by.
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  connect(&player_, &PlayerController::pictureChanged, this, qOverload<>(&QWidget::update));
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMilliseconds);
  connect(&settle_, &QTimer::timeout, this, [this] {
    const qreal scale = devicePixelRatioF();
    player_.setViewSize(static_cast<int>(width() * scale), static_cast<int>(height() * scale));
  });
}

void PreviewView::resizeEvent(QResizeEvent*) { settle_.start(); }

void PreviewView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    player_.togglePlay();
}

void PreviewView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath frame;
  frame.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
  painter.fillPath(frame, Qt::black);
  const cv::Mat& picture = player_.picture();
  if (picture.empty() || picture.type() != CV_8UC3) return;
  const QImage image(picture.data, picture.cols, picture.rows, static_cast<qsizetype>(picture.step),
                     QImage::Format_BGR888);
  QSizeF fitted = QSizeF(image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
  const QRectF box(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                   fitted);
  painter.setClipPath(frame);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(box, image);
}

}  // namespace brisklet
