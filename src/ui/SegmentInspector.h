#pragma once

#include <QScrollArea>
#include <optional>

#include "app/EditHistory.h"
#include "model/Uuid.h"

class QLabel;
class QPlainTextEdit;

namespace brisklet {

class AppState;
class ToggleSwitch;
struct Segment;

// The right-hand column: the selected segment's title, time, keep switch, scores, what happens in
// it and its narration, which the user edits here (one undo step per pause in typing); with no
// selection, the director's notes or a hint. Every edit goes to AppState::makeEdit.
class SegmentInspector : public QScrollArea {
  Q_OBJECT

 public:
  SegmentInspector(AppState& state, const Uuid& projectID, QWidget* parent = nullptr);

  // The narration editor of the segment shown; null when none is.
  QPlainTextEdit* narrationEditor() const { return editor_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const Segment* selectedSegment() const;
  // Builds the column anew for the selection.
  void showSelection();
  // Brings the column up to date with the stored segment, leaving the text being typed alone.
  void refresh();
  QWidget* segmentPage(const Segment& segment);
  QWidget* notesOrHintPage();
  void commitNarration();
  void stepOffset(double delta);

  AppState& state_;
  const Uuid projectID_;
  // The segment the column shows, taken when it was built: edits go to it and no other.
  std::optional<Uuid> shownID_;
  // The typing in the editor, one undo step per pause, its own in every showing of a segment.
  EditGesture typing_;
  ToggleSwitch* keep_ = nullptr;
  // Shown when the scene has a face to follow.
  ToggleSwitch* centre_ = nullptr;
  QLabel* cropCaption_ = nullptr;
  QLabel* time_ = nullptr;
  QPlainTextEdit* editor_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* statusSymbol_ = nullptr;
  QLabel* offset_ = nullptr;
  QWidget* narrationRow_ = nullptr;
};

}  // namespace brisklet
