#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/EditPlan.h"
#include "model/Project.h"
#include "ui/TimelineGeometry.h"

namespace brisklet {

class AppState;
class PlayerController;

// The timeline's canvas: ruler, video track of segment blocks, waveform, narration bubbles and
// the playhead, on the source time axis, painted only where exposed. A click or drag seeks and
// selects; a block's badge keeps or drops it; its edges trim it (one undo step per drag); a
// bubble selects its segment.
class TimelineTracks : public QWidget {
  Q_OBJECT

 public:
  // Gives the picture of a source moment, from any thread; none when there is none.
  using ThumbnailSource = std::function<std::optional<cv::Mat>(double sourceSec)>;

  TimelineTracks(AppState& state, PlayerController* player, const Uuid& projectID,
                 QWidget* parent = nullptr);

  double pixelsPerSecond() const { return pixelsPerSecond_; }
  void setPixelsPerSecond(double pixelsPerSecond);
  // The source's loudness, values 0…1 spread evenly over the video.
  void setWaveform(std::vector<float> waveform);
  void setThumbnailSource(ThumbnailSource source);
  // How many pictures were asked of the source so far.
  int thumbnailRequests() const { return thumbnailRequests_; }

  // Where things are, for the view around it and for tests.
  QRectF blockRect(const Segment& segment) const;
  QRectF badgeRect(const Segment& segment) const;
  QRectF bubbleRect(const Segment& segment) const;
  std::vector<Segment> blocks() const;
  double durationSec() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct TrimDrag {
    Segment base;
    TrimEdge edge;
    double pressX = 0;
    // The span the drag shows now; stored at release.
    std::optional<SetSpan> shown;
  };

  const Project* project() const;
  double sourceTimeAt(double x) const;
  timeline::TrackHit hitAt(QPointF point) const;
  void seekAndSelect(double x);
  void updateSize();
  void updatePlayhead();

  void paintRuler(QPainter& painter, const QRectF& exposed) const;
  void paintBlocks(QPainter& painter, const QRectF& exposed, const std::vector<Segment>& blocks);
  void paintWaveform(QPainter& painter, const QRectF& exposed,
                     const std::vector<Segment>& blocks) const;
  void paintNarration(QPainter& painter, const QRectF& exposed,
                      const std::vector<Segment>& blocks) const;
  void paintPlayhead(QPainter& painter) const;

  // The block's pictures as far as they have come; asks for the missing ones.
  std::vector<const QImage*> thumbnailsOf(const Segment& segment, double width);
  void requestThumbnail(long second);
  void fetchNextThumbnail();
  void updateVideoRow();

  AppState& state_;
  PlayerController* player_;
  const Uuid projectID_;
  double pixelsPerSecond_ = timeline::kInitialPixelsPerSecond;
  std::vector<float> waveform_;
  double playheadSec_ = 0;

  ThumbnailSource thumbnailSource_;
  std::map<long, QImage> thumbnails_;
  std::set<long> thumbnailsAsked_;
  std::map<long, int> thumbnailFailures_;
  std::deque<long> thumbnailQueue_;
  QFutureWatcher<std::optional<cv::Mat>> thumbnailFetch_;
  long fetchingSecond_ = -1;
  int thumbnailRequests_ = 0;

  std::optional<TrimDrag> trimDrag_;
  bool seeking_ = false;
  std::optional<Uuid> hovered_;
};

}  // namespace brisklet
