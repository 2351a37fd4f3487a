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
// fits the video to the width once, when the timeline is first laid out.
class TimelineView : public QWidget {
  Q_OBJECT

 public:
  TimelineView(AppState& state, PlayerController* player, const Uuid& projectID,
               QWidget* parent = nullptr);

  TimelineTracks& tracks() const { return *tracks_; }
  QSlider& zoomSlider() const { return *zoom_; }
  QScrollArea& scrollArea() const { return *scroll_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showTimes();
  void setZoom(double pixelsPerSecond);

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
