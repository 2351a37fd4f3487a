#pragma once

#include <QWidget>

class QVBoxLayout;

namespace brisklet {

// A raised panel with a title in small capitals over its content (the inspector's cards).
class Card : public QWidget {
  Q_OBJECT

 public:
  Card(const QString& title, QWidget* parent = nullptr);
  // Where the card's content goes, below the title, 8 px apart.
  QVBoxLayout& content() const { return *content_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QVBoxLayout* content_;
};

// A small on/off switch, painted: the accent when on.
class ToggleSwitch : public QWidget {
  Q_OBJECT

 public:
  explicit ToggleSwitch(const QString& label, QWidget* parent = nullptr);
  bool isChecked() const { return checked_; }
  // Sets the state without telling anyone.
  void setChecked(bool checked);
  QSize sizeHint() const override;

 signals:
  void toggled(bool checked);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void flip();

  QString label_;
  bool checked_ = false;
};

// A capacity bar over 0…1 in the colour of its score.
class ScoreGauge : public QWidget {
 public:
  explicit ScoreGauge(double score, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {120, 6}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double score_;
};

}  // namespace brisklet
