#include "ui/TimelineTracks.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QtConcurrent/QtConcurrent>
#include <cmath>

#include "app/AppState.h"
#include "app/PlayerController.h"
#include "platform/TimeText.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

using namespace timeline;

constexpr double kHandleHitWidth = 12;
// A picture the source could not give is asked for this many times in all, this far apart.
constexpr int kThumbnailAttempts = 3;
constexpr int kThumbnailRetryMs = 400;

QRectF rectOf(const TrackBox& box) { return {box.left, box.top, box.width, box.height}; }

// What the pointer would do where it is, as its tooltip says it.
QString helpOf(const TrackHit& hit) {
  switch (hit.part) {
    case TrackHit::Part::badge:
      return hit.segment->keep ? "Included in export \u2014 click to drop"
                               : "Dropped \u2014 click to keep";
    case TrackHit::Part::edge:
      return "Drag to trim";
    case TrackHit::Part::pause: {
      const SourceSpan& pause = hit.segment->removedPauses[hit.pause];
      return QString("Pause removed by Tighten (%1 s) \u2014 click to put it back")
          .arg(pause.durationSec(), 0, 'f', 1);
    }
    default:
      return {};
  }
}

QFont pixelFont(int pixels, bool monospaced = false, QFont::Weight weight = QFont::Normal) {
  QFont font = monospaced ? QFont("monospace") : QFont();
  if (monospaced) font.setStyleHint(QFont::Monospace);
  font.setPixelSize(pixels);
  font.setWeight(weight);
  return font;
}

// A track's rounded background, drawn only across what is exposed (and a little beyond, so the
// rounding of a cut-off end stays out of sight): a canvas may be 100 000 px wide.
void paintTrackBackground(QPainter& painter, double top, double height, double width,
                          const QRectF& exposed) {
  const double left = std::max(0.0, exposed.left() - 10);
  const double right = std::min(width, exposed.right() + 10);
  if (right <= left) return;
  painter.save();
  painter.setClipRect(exposed);
  painter.setPen(Qt::NoPen);
  painter.setBrush(withOpacity(primaryColor(), 0.04));
  painter.drawRoundedRect(QRectF(left, top, right - left, height), 5, 5);
  painter.restore();
}

QImage imageOf(const cv::Mat& bgr) {
  return QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step),
                QImage::Format_BGR888)
      .copy();
}

}  // namespace

TimelineTracks::TimelineTracks(AppState& state, PlayerController* player, const Uuid& projectID,
                               QWidget* parent)
    : QWidget(parent), state_(state), player_(player), projectID_(projectID) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  connect(&state_, &AppState::projectsChanged, this, [this] {
    updateSize();
    update();
  });
  connect(&state_, &AppState::selectedSegmentIDChanged, this, qOverload<>(&QWidget::update));
  if (player_) {
    playheadSec_ = player_->currentSourceTime();
    connect(player_, &PlayerController::timeChanged, this, &TimelineTracks::updatePlayhead);
  }
  connect(&thumbnailFetch_, &QFutureWatcher<std::optional<cv::Mat>>::finished, this, [this] {
    const std::optional<cv::Mat> picture = thumbnailFetch_.result();
    if (picture && !picture->empty()) {
      thumbnails_[fetchingSecond_] = imageOf(*picture);
      updateVideoRow();
    } else if (++thumbnailFailures_[fetchingSecond_] < kThumbnailAttempts) {
      // A decoder busy with an export or a file on a waking disk: ask again a little later.
      thumbnailsAsked_.erase(fetchingSecond_);
      QTimer::singleShot(kThumbnailRetryMs, this, [this] { updateVideoRow(); });
    }
    fetchingSecond_ = -1;
    fetchNextThumbnail();
  });
  updateSize();
}

void TimelineTracks::updateVideoRow() {
  update(QRect(0, static_cast<int>(kVideoTop), width(), static_cast<int>(kVideoHeight)));
}

const Project* TimelineTracks::project() const { return state_.project(projectID_); }

double TimelineTracks::durationSec() const {
  const Project* shown = project();
  return shown ? usableDuration(shown->videoDurationSec) : 0;
}

std::vector<Segment> TimelineTracks::blocks() const {
  const Project* shown = project();
  if (shown == nullptr) return {};
  return blocksOf(shown->editPlan, shown->videoDurationSec);
}

void TimelineTracks::setPixelsPerSecond(double pixelsPerSecond) {
  if (!std::isfinite(pixelsPerSecond)) return;
  pixelsPerSecond_ = std::clamp(pixelsPerSecond, kMinimumPixelsPerSecond, kMaximumPixelsPerSecond);
  updateSize();
  update();
}

void TimelineTracks::setWaveform(std::vector<float> waveform) {
  waveform_ = std::move(waveform);
  update();
}

void TimelineTracks::setThumbnailSource(ThumbnailSource source) {
  thumbnailSource_ = std::move(source);
  update();
}

void TimelineTracks::updateSize() {
  setFixedSize(static_cast<int>(std::ceil(contentWidth(durationSec(), pixelsPerSecond_))),
               static_cast<int>(kTracksHeight));
}

void TimelineTracks::updatePlayhead() {
  const double was = playheadSec_;
  playheadSec_ = player_->currentSourceTime();
  for (const double at : {was, playheadSec_}) {
    const int x = static_cast<int>(at * pixelsPerSecond_);
    update(QRect(x - 8, 0, 16, height()));
  }
}

QRectF TimelineTracks::blockRect(const Segment& segment) const {
  return rectOf(blockBox(segment, pixelsPerSecond_));
}

QRectF TimelineTracks::badgeRect(const Segment& segment) const {
  const auto badge = badgeBox(segment, pixelsPerSecond_);
  return badge ? rectOf(*badge) : QRectF();
}

QRectF TimelineTracks::bubbleRect(const Segment& segment) const {
  const auto bubble = bubbleBox(segment, pixelsPerSecond_);
  return bubble ? rectOf(*bubble) : QRectF();
}

double TimelineTracks::sourceTimeAt(double x) const {
  return std::max(std::min(x / pixelsPerSecond_, durationSec()), 0.0);
}

TrackHit TimelineTracks::hitAt(QPointF point) const {
  return timeline::hitAt(blocks(), pixelsPerSecond_, point.x(), point.y());
}

void TimelineTracks::seekAndSelect(double x) {
  const double at = sourceTimeAt(x);
  if (const std::optional<Segment> target = segmentAt(blocks(), at))
    state_.setSelectedSegmentID(target->id);
  if (player_) player_->seek(at);
}

void TimelineTracks::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPointF point = event->position();
  const TrackHit hit = hitAt(point);
  switch (hit.part) {
    case TrackHit::Part::badge:
      state_.makeEdit(projectID_, SetKeep{hit.segment->id, !hit.segment->keep});
      return;
    case TrackHit::Part::edge:
      trimDrag_ = TrimDrag{*hit.segment, hit.edge, point.x(), std::nullopt};
      return;
    case TrackHit::Part::bubble:
      state_.setSelectedSegmentID(hit.segment->id);
      return;
    case TrackHit::Part::pause: {
      // One pause put back, one step of undo.
      std::vector<SourceSpan> kept = hit.segment->removedPauses;
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(hit.pause));
      state_.makeEdit(projectID_, SetRemovedPauses{{{hit.segment->id, std::move(kept)}}});
      return;
    }
    default:
      seeking_ = true;
      seekAndSelect(point.x());
  }
}

void TimelineTracks::mouseMoveEvent(QMouseEvent* event) {
  const QPointF point = event->position();
  if (trimDrag_) {
    // The drag shows as it moves and is stored once, at release.
    const Project* shown = project();
    const TrimDrag& drag = *trimDrag_;
    const double edgeSec = drag.edge == TrimEdge::leading ? drag.base.startSec : drag.base.endSec;
    const double wanted = edgeSec + (point.x() - drag.pressX) / pixelsPerSecond_;
    if (shown == nullptr) return;
    if (auto span = draggedSpan(*shown, drag.base, drag.edge, wanted)) {
      trimDrag_->shown = *span;
      state_.showEdit(projectID_, *span);
    }
    return;
  }
  if (seeking_) {
    seekAndSelect(point.x());
    return;
  }
  const TrackHit hit = hitAt(point);
  setCursor(hit.part == TrackHit::Part::edge ? Qt::SizeHorCursor : Qt::ArrowCursor);
  setToolTip(helpOf(hit));
  const bool onBlock = hit.part == TrackHit::Part::badge || hit.part == TrackHit::Part::edge ||
                       hit.part == TrackHit::Part::pause || hit.part == TrackHit::Part::block;
  const std::optional<Uuid> hovered = onBlock ? std::optional(hit.segment->id) : std::nullopt;
  if (hovered != hovered_) {
    hovered_ = hovered;
    updateVideoRow();
  }
}

void TimelineTracks::mouseReleaseEvent(QMouseEvent*) {
  if (trimDrag_ && trimDrag_->shown) state_.makeEdit(projectID_, *trimDrag_->shown);
  trimDrag_.reset();
  seeking_ = false;
}

void TimelineTracks::leaveEvent(QEvent*) {
  if (!hovered_) return;
  hovered_.reset();
  update();
}

void TimelineTracks::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF exposed = event->rect();
  const std::vector<Segment> shown = blocks();
  paintRuler(painter, exposed);
  paintBlocks(painter, exposed, shown);
  paintWaveform(painter, exposed, shown);
  paintNarration(painter, exposed, shown);
  paintPlayhead(painter);
}

void TimelineTracks::paintRuler(QPainter& painter, const QRectF& exposed) const {
  const RulerSpacing spacing = rulerSpacing(pixelsPerSecond_);
  const double duration = durationSec();
  const QColor ink = secondaryColor();
  painter.setFont(pixelFont(9, true));
  const double bottom = kRulerTop + kRulerHeight;
  // Only the ticks in sight, and the label that may reach into it from the left.
  const long first = std::max(0L, static_cast<long>((exposed.left() - 40) / pixelsPerSecond_) /
                                      spacing.tickSec * spacing.tickSec);
  for (long t = first; t <= duration && t * pixelsPerSecond_ <= exposed.right();
       t += spacing.tickSec) {
    const double x = t * pixelsPerSecond_;
    const bool major = t % spacing.labelSec == 0;
    painter.setPen(QPen(withOpacity(ink, ink.alphaF() * 0.55), 1));
    painter.drawLine(QPointF(x + 0.5, bottom), QPointF(x + 0.5, bottom - (major ? 8 : 4)));
    if (major) {
      painter.setPen(ink);
      painter.drawText(QPointF(x + 2, kRulerTop + 5 + 8),
                       QString::fromStdString(formatMinutesSeconds(t)));
    }
  }
}

void TimelineTracks::paintBlocks(QPainter& painter, const QRectF& exposed,
                                 const std::vector<Segment>& shown) {
  paintTrackBackground(painter, kVideoTop, kVideoHeight, width(), exposed);
  const std::optional<Uuid> selected = state_.selectedSegmentID();
  for (const Segment& segment : shown) {
    const QRectF block = blockRect(segment);
    if (!block.intersects(exposed.adjusted(-kHandleHitWidth, 0, kHandleHitWidth, 0))) continue;
    const bool isSelected = selected == segment.id;
    const bool isHovered = hovered_ == segment.id;
    QPainterPath shape;
    shape.addRoundedRect(block, 5, 5);
    painter.save();
    painter.setClipPath(shape);
    // Thumbnails side by side, a grey placeholder where one has not come yet.
    const std::vector<const QImage*> pictures = thumbnailsOf(segment, block.width());
    const double slot = block.width() / static_cast<double>(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      const QRectF cell(block.left() + slot * static_cast<double>(i), block.top(), slot,
                        block.height());
      if (!cell.intersects(exposed)) continue;
      if (pictures[i] == nullptr) {
        painter.fillRect(cell, QColor(128, 128, 128, 64));
        continue;
      }
      // Scaled to fill, the overflow cut off.
      const QSizeF size =
          QSizeF(pictures[i]->size()).scaled(cell.size(), Qt::KeepAspectRatioByExpanding);
      painter.save();
      painter.setClipRect(cell, Qt::IntersectClip);
      painter.drawImage(QRectF(cell.center().x() - size.width() / 2,
                               cell.center().y() - size.height() / 2, size.width(), size.height()),
                        *pictures[i]);
      painter.restore();
    }
    if (!segment.keep) painter.fillRect(block, QColor(0, 0, 0, 140));
    // Removed pauses stay in sight, hatched, so the user sees what went and can put it back.
    for (const TrackBox& pause : pauseBoxes(segment, pixelsPerSecond_)) {
      const QRectF hatched = rectOf(pause);
      if (hatched.isEmpty() || !hatched.intersects(exposed)) continue;
      painter.fillRect(hatched, QColor(0, 0, 0, 150));
      painter.fillRect(hatched, QBrush(QColor(255, 255, 255, 110), Qt::BDiagPattern));
      painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
      painter.drawLine(hatched.topLeft(), hatched.bottomLeft());
      painter.drawLine(hatched.topRight(), hatched.bottomRight());
    }
    painter.restore();

    // The border, inside the edge.
    const double borderWidth = isSelected ? 2.5 : 1;
    const QColor border = isSelected ? NeuTheme::accentColor()
                                     : withOpacity(segment.keep ? statusGreen() : statusRed(),
                                                   segment.keep ? 0.55 : 0.6);
    painter.setPen(QPen(border, borderWidth));
    painter.setBrush(Qt::NoBrush);
    const double inset = borderWidth / 2;
    painter.drawRoundedRect(block.adjusted(inset, inset, -inset, -inset), 5 - inset, 5 - inset);

    if (const auto shownBadge = badgeBox(segment, pixelsPerSecond_)) {
      // The keep badge on a white disc, a little larger under the pointer.
      const QRectF badge = rectOf(*shownBadge);
      const double scale = isHovered ? 1.15 : 1.0;
      const QRectF drawn(badge.center().x() - badge.width() * scale / 2,
                         badge.center().y() - badge.height() * scale / 2, badge.width() * scale,
                         badge.height() * scale);
      painter.setPen(Qt::NoPen);
      painter.setBrush(Qt::white);
      painter.drawEllipse(drawn.adjusted(2, 2, -2, -2));
      paintSymbol(painter, segment.keep ? "checkmark.circle.fill" : "xmark.circle.fill", drawn,
                  segment.keep ? statusGreen() : statusRed());
      if (block.width() > 80 && segment.quality) {
        const QFont font = pixelFont(8, true, QFont::Bold);
        const QString score = QString::number(std::lround(segment.quality->composite * 100));
        const double capsuleWidth = QFontMetricsF(font).horizontalAdvance(score) + 6;
        const QRectF capsule(badge.right() + 3, badge.top() + 2, capsuleWidth, 12);
        painter.setBrush(scoreColor(segment.quality->composite));
        painter.drawRoundedRect(capsule, 6, 6);
        painter.setPen(Qt::white);
        painter.setFont(font);
        painter.drawText(capsule, Qt::AlignCenter, score);
      }
    }
    if (isHovered || isSelected) {
      // The trim handles.
      painter.setPen(Qt::NoPen);
      painter.setBrush(withOpacity(NeuTheme::accentColor(), 0.9));
      const double barTop = block.top() + (kVideoHeight - 44) / 2;
      painter.drawRoundedRect(QRectF(block.left() + 2, barTop, 5, 44), 2, 2);
      painter.drawRoundedRect(QRectF(block.right() - 7, barTop, 5, 44), 2, 2);
    }
  }
}

void TimelineTracks::paintWaveform(QPainter& painter, const QRectF& exposed,
                                   const std::vector<Segment>& shown) const {
  paintTrackBackground(painter, kWaveformTop, kWaveformHeight, width(), exposed);
  const double duration = durationSec();
  if (waveform_.empty() || duration <= 0) return;
  const double samplesPerSec = static_cast<double>(waveform_.size()) / duration;
  const double middle = kWaveformTop + kWaveformHeight / 2;
  const double tallest = kWaveformHeight - 6;
  const QColor kept = withOpacity(NeuTheme::accentColor(), 0.75);
  QColor dropped = secondaryColor();
  dropped.setAlphaF(dropped.alphaF() * 0.25);
  const double right = std::min(exposed.right() + 2, static_cast<double>(width()));
  auto holder = shown.begin();
  for (double x = std::max(0.0, std::floor(exposed.left() / 2) * 2); x < right; x += 2) {
    const double at = x / pixelsPerSecond_;
    const auto index = std::min(static_cast<std::size_t>(at * samplesPerSec), waveform_.size() - 1);
    const double bar =
        std::max(tallest * std::clamp(static_cast<double>(waveform_[index]), 0.0, 1.0), 1.5);
    // Bars go left to right: the segment under the last one is the first place to look.
    if (holder == shown.end() || !(holder->startSec <= at && at < holder->endSec))
      holder = std::find_if(shown.begin(), shown.end(), [&](const Segment& segment) {
        return segment.startSec <= at && at < segment.endSec;
      });
    painter.fillRect(QRectF(x, middle - bar / 2, 1.2, bar),
                     holder != shown.end() && holder->keep ? kept : dropped);
  }
}

void TimelineTracks::paintNarration(QPainter& painter, const QRectF& exposed,
                                    const std::vector<Segment>& shown) const {
  paintTrackBackground(painter, kNarrationTop, kNarrationHeight, width(), exposed);
  painter.setFont(pixelFont(9));
  for (const Segment& segment : shown) {
    if (!segment.narration || segment.narration->text.empty()) continue;
    const QRectF bubble = bubbleRect(segment);
    if (!bubble.intersects(exposed)) continue;
    // A line with its sound is solid; one still waiting for it is a tint with an outline.
    const bool ready = segment.narration->status == NarrationStatus::ready;
    const QColor ink = ready ? QColor(Qt::white) : primaryColor();
    QPainterPath shape;
    shape.addRoundedRect(bubble, 5, 5);
    painter.save();
    painter.setClipPath(shape);
    painter.fillPath(shape,
                     ready ? NeuTheme::accentFill() : withOpacity(NeuTheme::accentColor(), 0.2));
    if (!ready) {
      painter.setPen(QPen(NeuTheme::accentInk(), 2));
      painter.setBrush(Qt::NoBrush);
      painter.drawPath(shape);
    }
    paintSymbol(painter, ready ? "waveform" : "waveform.slash",
                QRectF(bubble.left() + 5, bubble.center().y() - 4, 8, 8), ink);
    painter.setPen(ink);
    painter.drawText(bubble.adjusted(16, 0, -5, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     QString::fromStdString(segment.narration->text).simplified());
    painter.restore();
  }
}

void TimelineTracks::paintPlayhead(QPainter& painter) const {
  const double x = playheadSec_ * pixelsPerSecond_;
  painter.setPen(Qt::NoPen);
  painter.setBrush(NeuTheme::accentColor());
  const QPointF triangle[] = {{x - 5.5, 0}, {x + 5.5, 0}, {x, 7}};
  painter.drawPolygon(triangle, 3);
  painter.fillRect(QRectF(x - 1, 0, 2, kTracksHeight), NeuTheme::accentColor());
}

std::vector<const QImage*> TimelineTracks::thumbnailsOf(const Segment& segment, double width) {
  const int count = thumbnailCount(width);
  std::vector<const QImage*> pictures(static_cast<std::size_t>(count), nullptr);
  if (!thumbnailSource_) return pictures;
  const double length = segment.endSec - segment.startSec;
  for (int i = 0; i < count; ++i) {
    // The cache keeps one picture per whole second: ask for each second once.
    const long second = std::lround(segment.startSec + (i + 0.5) * length / count);
    const auto found = thumbnails_.find(second);
    if (found != thumbnails_.end())
      pictures[static_cast<std::size_t>(i)] = &found->second;
    else
      requestThumbnail(second);
  }
  return pictures;
}

void TimelineTracks::requestThumbnail(long second) {
  if (!thumbnailsAsked_.insert(second).second) return;
  thumbnailQueue_.push_back(second);
  fetchNextThumbnail();
}

void TimelineTracks::fetchNextThumbnail() {
  if (fetchingSecond_ >= 0) return;
  // Pictures of blocks scrolled far out of sight while they waited are not made; they are
  // asked for again when their blocks come back.
  const QRect inSight = visibleRegion().boundingRect();
  const double nearestX = inSight.left() - inSight.width();
  const double furthestX = inSight.right() + inSight.width();
  while (!thumbnailQueue_.empty()) {
    const long second = thumbnailQueue_.front();
    thumbnailQueue_.pop_front();
    const double x = static_cast<double>(second) * pixelsPerSecond_;
    if (x >= nearestX && x <= furthestX) {
      fetchingSecond_ = second;
      break;
    }
    thumbnailsAsked_.erase(second);
  }
  if (fetchingSecond_ < 0) return;
  ++thumbnailRequests_;
  thumbnailFetch_.setFuture(
      QtConcurrent::run([source = thumbnailSource_, second = fetchingSecond_] {
        return source(static_cast<double>(second));
      }));
}

}  // namespace brisklet
