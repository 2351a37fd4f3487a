#pragma once

#include <QWidget>

#include "model/Uuid.h"

class QLabel;
class QScrollArea;
class QSlider;

namespace brisklet {

class AppState;
class PlayerController;
class TimelineTracks;

// The editing surface of a project: a header with the playhead's time, how much is kept and the
// zoom, then the labelled tracks in a horizontal scroll area, all in a sunken well. The zoom
// fits the video to the width once, when the timeline is first laid out. The wheel scrolls the
// tracks, Ctrl with the wheel zooms around the pointer; a zoom keeps the playhead in view, and
// the view follows the playhead while it plays.
class TimelineView : public QWidget {
  Q_OBJECT

 public:
  TimelineView(AppState& state, PlayerController* player, const Uuid& projectID,
               QWidget* parent = nullptr);

  TimelineTracks& tracks() const { return *tracks_; }
  QSlider& zoomSlider() const { return *zoom_; }
  QScrollArea& scrollArea() const { return *scroll_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showTimes();
  void setZoom(double pixelsPerSecond);
  // Zooms with the moment at `viewportX` (in the scroll area's view) staying where it is.
  void zoomAround(double pixelsPerSecond, int viewportX);
  // Scrolls, when the playhead is out of sight, to show it near the left.
  void bringPlayheadIntoView();

  AppState& state_;
  PlayerController* player_;
  const Uuid projectID_;
  bool didAutoFit_ = false;
  QLabel* time_;
  QLabel* keeping_;
  QSlider* zoom_;
  QScrollArea* scroll_;
  TimelineTracks* tracks_;
};

}  // namespace brisklet
