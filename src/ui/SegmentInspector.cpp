#include "ui/SegmentInspector.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "app/AppState.h"
#include "model/RecordLimits.h"
#include "platform/TimeText.h"
#include "ui/Card.h"
#include "ui/Labels.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

const char* const kHint = "Click a segment in the timeline to inspect it.";

QString formatted(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

struct StatusLook {
  const char* text;
  const char* symbol;
  QColor colour;
};

StatusLook statusLook(NarrationStatus status) {
  switch (status) {
    case NarrationStatus::ready:
      return {"Audio ready", "checkmark.circle", statusGreen()};
    case NarrationStatus::stale:
      return {"Text changed \u2014 regenerate audio", "exclamationmark.triangle", statusOrange()};
    case NarrationStatus::pendingAudio:
      break;
  }
  return {"Audio not generated yet", "waveform.slash", secondaryColor()};
}

// "Sharpness ▬▬▬▬ 82": label 80 wide, gauge, value 26 wide.
QWidget* scoreRow(const QString& label, double score, bool emphasised, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* name = styledLabel(label, TextStyle::caption, false, row);
  if (emphasised) name->setFont(styledFont(TextStyle::caption, false, QFont::Bold));
  name->setFixedWidth(80);
  auto* value =
      styledLabel(formatted("%.0f", score * 100), TextStyle::smallCaption, true, row, true);
  value->setFixedWidth(26);
  value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  layout->addWidget(name);
  layout->addWidget(new ScoreGauge(score, row), 1);
  layout->addWidget(value);
  return row;
}

}  // namespace

SegmentInspector::SegmentInspector(AppState& state, const Uuid& projectID, QWidget* parent)
    : QScrollArea(parent), state_(state), projectID_(projectID) {
  setMinimumWidth(260);
  setWidgetResizable(true);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tab goes to the controls inside; the column itself is no stop.
  setFocusPolicy(Qt::NoFocus);
  connect(&state_, &AppState::selectedSegmentIDChanged, this, &SegmentInspector::showSelection);
  connect(&state_, &AppState::projectsChanged, this, &SegmentInspector::refresh);
  showSelection();
}

const Segment* SegmentInspector::selectedSegment() const {
  const Project* project = state_.project(projectID_);
  const std::optional<Uuid>& selected = state_.selectedSegmentID();
  if (project == nullptr || !project->editPlan || !selected) return nullptr;
  return project->editPlan->segment(*selected);
}

void SegmentInspector::showSelection() {
  const Segment* segment = selectedSegment();
  shownID_ = segment ? std::optional(segment->id) : std::nullopt;
  typing_ = EditGesture::fresh("narration", true);
  keep_ = centre_ = nullptr;
  cropCaption_ = nullptr;
  time_ = nullptr;
  editor_ = nullptr;
  status_ = statusSymbol_ = offset_ = nullptr;
  narrationRow_ = nullptr;
  QWidget* page = segment ? segmentPage(*segment) : notesOrHintPage();
  page->setAutoFillBackground(false);
  setWidget(page);
  refresh();
}

QWidget* SegmentInspector::segmentPage(const Segment& segment) {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(14);

  auto* header = new QVBoxLayout;
  header->setSpacing(4);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(styledLabel(QString::fromStdString(segment.activity.value_or("Segment")),
                                  TextStyle::headline, false, page));
  titleRow->addStretch();
  keep_ = new ToggleSwitch("Keep", page);
  keep_->setObjectName("keepSwitch");
  connect(keep_, &ToggleSwitch::toggled, this, [this](bool keep) {
    const Segment* shown = selectedSegment();
    if (shown == nullptr || shown->id != shownID_) return;
    state_.makeEdit(projectID_, SetKeep{shown->id, keep});
  });
  titleRow->addWidget(keep_);
  header->addLayout(titleRow);
  time_ = styledLabel({}, TextStyle::caption, true, page);
  time_->setObjectName("segmentTime");
  header->addWidget(time_);
  column->addLayout(header);

  if (segment.quality) {
    auto* card = new Card("Visual quality", page);
    const QualityScores& scores = *segment.quality;
    card->content().addWidget(scoreRow("Sharpness", scores.blur, false, card));
    card->content().addWidget(scoreRow("Exposure", scores.exposure, false, card));
    card->content().addWidget(scoreRow("Stability", scores.shake, false, card));
    card->content().addWidget(scoreRow("Aesthetics", scores.aesthetics, false, card));
    auto* divider = new QFrame(card);
    divider->setFrameShape(QFrame::HLine);
    divider->setStyleSheet("color: rgba(128,128,128,60);");
    card->content().addWidget(divider);
    card->content().addWidget(scoreRow("Overall", scores.composite, true, card));
    column->addWidget(card);
  }

  if (segment.sceneDescription || segment.keepReason) {
    auto* card = new Card("What's happening", page);
    if (segment.sceneDescription) {
      auto* description = styledLabel(QString::fromStdString(*segment.sceneDescription),
                                      TextStyle::caption, false, card);
      description->setWordWrap(true);
      card->content().addWidget(description);
    }
    if (segment.keepReason) {
      auto* row = new QHBoxLayout;
      row->setSpacing(5);
      row->addWidget(
          symbolLabel(segment.keep ? "hand.thumbsup" : "scissors", 11, secondaryColor(), card));
      auto* reason =
          styledLabel(QString::fromStdString(*segment.keepReason), TextStyle::caption, true, card);
      reason->setWordWrap(true);
      row->addWidget(reason, 1);
      card->content().addLayout(row);
    }
    column->addWidget(card);
  }

  if (!segment.facePath.empty()) {
    auto* card = new Card("Crop", page);
    auto* row = new QHBoxLayout;
    cropCaption_ = styledLabel({}, TextStyle::caption, true, card);
    cropCaption_->setWordWrap(true);
    row->addWidget(cropCaption_, 1);
    centre_ = new ToggleSwitch("Centre", card);
    centre_->setObjectName("centreCropSwitch");
    centre_->setAccessibleName("Crop at the centre");
    connect(centre_, &ToggleSwitch::toggled, this, [this](bool centred) {
      const Segment* shown = selectedSegment();
      if (shown == nullptr || shown->id != shownID_) return;
      state_.makeEdit(projectID_, SetCentredCrop{shown->id, centred});
    });
    row->addWidget(centre_);
    card->content().addLayout(row);
    column->addWidget(card);
  }

  auto* narration = new Card("Narration", page);
  editor_ = new QPlainTextEdit(narration);
  editor_->setObjectName("narrationEditor");
  editor_->setAccessibleName("Narration");
  // Four lines; the card does not grow with the column.
  editor_->setFixedHeight(96);
  editor_->setFont(styledFont(TextStyle::body));
  editor_->setFrameShape(QFrame::NoFrame);
  editor_->viewport()->setAutoFillBackground(false);
  editor_->setPlaceholderText("Write what you would say over this scene\u2026");
  // Tab moves on to the next control, as everywhere else in the window.
  editor_->setTabChangesFocus(true);
  // Ctrl+Z here is the window's undo, whose steps are the stored lines: an undo of the editor's
  // own would store its text again as a new edit.
  editor_->setUndoRedoEnabled(false);
  editor_->installEventFilter(this);
  {
    const QSignalBlocker quiet(editor_);
    editor_->setPlainText(QString::fromStdString(segment.narration ? segment.narration->text : ""));
  }
  connect(editor_, &QPlainTextEdit::textChanged, this, &SegmentInspector::commitNarration);
  narration->content().addWidget(editor_);

  // The clip's state, then when it starts: one row would not fit the column.
  narrationRow_ = new QWidget(narration);
  auto* rows = new QVBoxLayout(narrationRow_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(4);
  auto* statusRow = new QHBoxLayout;
  statusRow->setSpacing(5);
  statusSymbol_ = new QLabel(narrationRow_);
  status_ = styledLabel("", TextStyle::caption, false, narrationRow_);
  status_->setObjectName("narrationStatus");
  statusRow->addWidget(statusSymbol_);
  statusRow->addWidget(status_, 1);
  rows->addLayout(statusRow);
  auto* offsetRow = new QHBoxLayout;
  offsetRow->setSpacing(2);
  offset_ = styledLabel("", TextStyle::caption, false, narrationRow_);
  offset_->setObjectName("narrationOffset");
  offsetRow->addWidget(offset_, 1);
  for (const auto& [text, delta] : {std::pair{"\u2212", -0.5}, {"+", 0.5}}) {
    auto* step = new QToolButton(narrationRow_);
    step->setText(text);
    step->setObjectName(delta < 0 ? "offsetDown" : "offsetUp");
    step->setAutoRaise(true);
    connect(step, &QToolButton::clicked, this, [this, delta = delta] { stepOffset(delta); });
    offsetRow->addWidget(step);
  }
  rows->addLayout(offsetRow);
  narration->content().addWidget(narrationRow_);
  column->addWidget(narration);
  column->addStretch();
  return page;
}

QWidget* SegmentInspector::notesOrHintPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(10);
  const Project* project = state_.project(projectID_);
  const bool hasNotes = project && project->editPlan && project->editPlan->editorSuggestions &&
                        !project->editPlan->editorSuggestions->empty();
  if (hasNotes) {
    auto* card = new Card("Director's notes", page);
    for (const std::string& note : *project->editPlan->editorSuggestions) {
      auto* row = new QHBoxLayout;
      row->setSpacing(8);
      auto* bulb = symbolLabel("lightbulb", 13, statusYellow(), card);
      bulb->setAlignment(Qt::AlignTop);
      row->addWidget(bulb);
      auto* text = styledLabel(QString::fromStdString(note), TextStyle::caption, false, card);
      text->setWordWrap(true);
      row->addWidget(text, 1);
      card->content().addLayout(row);
    }
    column->addWidget(card);
    column->addWidget(styledLabel(kHint, TextStyle::caption, true, page));
    column->addStretch();
    return page;
  }
  column->addStretch();
  auto* symbol = symbolLabel("rectangle.dashed", 36, secondaryColor(), page);
  symbol->setAlignment(Qt::AlignCenter);
  column->addWidget(symbol);
  auto* title = styledLabel("No segment selected", TextStyle::headline, true, page);
  title->setAlignment(Qt::AlignCenter);
  column->addWidget(title);
  auto* hint = styledLabel(kHint, TextStyle::caption, true, page);
  hint->setAlignment(Qt::AlignCenter);
  hint->setWordWrap(true);
  column->addWidget(hint);
  column->addStretch();
  return page;
}

bool SegmentInspector::eventFilter(QObject* watched, QEvent* event) {
  // Not taken by the editor, the undo and redo keys reach the window's actions.
  if (watched == editor_ && event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)) return true;
  }
  return QScrollArea::eventFilter(watched, event);
}

void SegmentInspector::refresh() {
  const Segment* segment = selectedSegment();
  if ((segment ? std::optional(segment->id) : std::nullopt) != shownID_) {
    showSelection();
    return;
  }
  if (segment == nullptr) return;
  keep_->setChecked(segment->keep);
  if (centre_ != nullptr) {
    centre_->setChecked(segment->centredCrop);
    cropCaption_->setText(segment->centredCrop
                              ? "Vertical and square crops take the middle of the picture."
                              : "Vertical and square crops follow the face in this scene.");
  }
  QString time = QString::fromStdString(formatMinutesSeconds(segment->startSec) + " \u2013 " +
                                        formatMinutesSeconds(segment->endSec) + "  \u00b7  ") +
                 formatted("%.1fs", segment->endSec - segment->startSec);
  // The time Tighten took out, which the timeline shows hatched.
  const double removedSec = segment->durationSec() - segment->keptSec();
  if (removedSec > 0) {
    const auto pauses = std::count_if(
        segment->removedPauses.begin(), segment->removedPauses.end(), [&](const SourceSpan& pause) {
          return pause.endSec > segment->startSec && pause.startSec < segment->endSec;
        });
    time += "  \u00b7  " + formatted("%.1fs", removedSec) + " in " + QString::number(pauses) +
            (pauses == 1 ? " pause" : " pauses") + " removed";
  }
  time_->setText(time);
  // The text being typed is what is stored, once cleaned; anything else (an undo, another
  // process) replaces it, even while the editor has the focus, so no keystroke stores it again.
  const std::string text = segment->narration ? segment->narration->text : "";
  if (storedNarrationText(editor_->toPlainText().toStdString()) != text) {
    const QSignalBlocker quiet(editor_);
    const int cursor = editor_->textCursor().position();
    editor_->setPlainText(QString::fromStdString(text));
    QTextCursor moved = editor_->textCursor();
    moved.setPosition(std::min(cursor, static_cast<int>(editor_->toPlainText().size())));
    editor_->setTextCursor(moved);
  }
  narrationRow_->setVisible(segment->narration.has_value());
  if (!segment->narration) return;
  const StatusLook look = statusLook(segment->narration->status);
  status_->setText(look.text);
  setLabelColor(*status_, look.colour);
  statusSymbol_->setPixmap(symbolPixmap(look.symbol, 11, look.colour, devicePixelRatioF()));
  offset_->setText("Starts " + formatted("%.1fs", segment->narration->startOffsetSec) +
                   " into segment");
}

void SegmentInspector::commitNarration() {
  const Segment* segment = selectedSegment();
  // Only the segment the editor was filled from takes its text.
  if (segment == nullptr || segment->id != shownID_) return;
  state_.makeEdit(projectID_, SetNarrationText{segment->id, editor_->toPlainText().toStdString()},
                  typing_);
}

void SegmentInspector::stepOffset(double delta) {
  const Segment* segment = selectedSegment();
  if (segment == nullptr || segment->id != shownID_ || !segment->narration) return;
  state_.makeEdit(projectID_,
                  SetNarrationOffset{segment->id, segment->narration->startOffsetSec + delta});
}

}  // namespace brisklet
