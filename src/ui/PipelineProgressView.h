#pragma once

#include <QWidget>

#include "model/PipelineProgress.h"

class QLabel;
class QProgressBar;

namespace brisklet {

// The panel shown over the window while a long command runs: its stage, a bar, which runs
// without end while the amount is not known, and "Cancel".
class PipelineProgressView : public QWidget {
  Q_OBJECT

 public:
  explicit PipelineProgressView(QWidget* parent = nullptr);
  void setProgress(const PipelineProgress& progress);

 signals:
  void cancelRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* stage_;
  QProgressBar* bar_;
};

}  // namespace brisklet
