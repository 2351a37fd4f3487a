#include "ui/TransportBar.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <memory>

#include "app/AppState.h"
#include "app/PlayerController.h"
#include "platform/TimeText.h"
#include "ui/Card.h"
#include "ui/Labels.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

constexpr double kUntouchedGainPercent = 100.5;

// A symbol button, named for screen readers, with a longer help in its tooltip.
QToolButton* plainButton(const QString& symbol, const QString& name, const QString& help,
                         QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setAccessibleName(name);
  button->setAutoRaise(true);
  button->setIcon(symbolIcon(symbol, primaryColor(), 16));
  button->setToolTip(help);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

// A popover's surface: a raised panel that closes when the user clicks elsewhere.
class Popover : public QFrame {
 public:
  explicit Popover(QWidget* parent) : QFrame(parent, Qt::Popup) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_TranslucentBackground);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    paintPanel(painter, rect(), 10);
  }
};

QSlider* stepSlider(int minimum, int maximum, int value, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setRange(minimum / 5, maximum / 5);
  slider->setValue(static_cast<int>(std::lround(value / 5.0)));
  slider->setPageStep(1);
  return slider;
}

// A menu under `button` titled `title` with one checkable entry per case, each labelled and
// symbolled as the model names it; choosing one calls `pick` with it.
template <typename Choice, std::size_t count, typename Pick>
void addPicker(QToolButton& button, const QString& title, const std::array<Choice, count>& cases,
               Pick pick) {
  auto* menu = new QMenu(&button);
  menu->addSection(title);
  auto* group = new QActionGroup(menu);
  for (const Choice choice : cases) {
    QAction* action =
        menu->addAction(symbolIcon(QString::fromUtf8(symbolName(choice).data()), primaryColor()),
                        QString::fromUtf8(label(choice).data()));
    action->setCheckable(true);
    action->setData(static_cast<int>(choice));
    group->addAction(action);
    QObject::connect(action, &QAction::triggered, &button, [pick, choice] { pick(choice); });
  }
  button.setMenu(menu);
}

// A caption under a setting of a popover, wrapped to its width.
void addHint(QVBoxLayout& column, const char* text, QWidget* surface) {
  QLabel* hint = styledLabel(text, TextStyle::caption, true, surface);
  hint->setWordWrap(true);
  column.addWidget(hint);
}

// Checks the entry of `current` in the menu addPicker made.
template <typename Choice>
void checkPicked(QToolButton& button, Choice current) {
  for (QAction* action : button.menu()->actions())
    if (action->isCheckable())
      action->setChecked(action->data().toInt() == static_cast<int>(current));
}

// Widgets whose own keys are the ones the playhead would take.
bool takesKeysItself(const QWidget* widget) {
  return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget) ||
         qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
         qobject_cast<const QAbstractSlider*>(widget) ||
         qobject_cast<const QAbstractItemView*>(widget) || qobject_cast<const QComboBox*>(widget);
}

}  // namespace

TransportBar::TransportBar(AppState& state, PlayerController& player, const Uuid& projectID,
                           QWidget* parent)
    : QWidget(parent), state_(state), player_(player), projectID_(projectID) {
  chooseMusicFile_ = [this]() -> std::optional<std::filesystem::path> {
    const QString file =
        QFileDialog::getOpenFileName(this, "Choose a royalty-free music track", {},
                                     "Audio (*.mp3 *.m4a *.aac *.wav *.aif *.aiff *.flac *.ogg)");
    if (file.isEmpty()) return std::nullopt;
    return std::filesystem::path(file.toStdString());
  };
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(14, 8, 14, 8);
  row->setSpacing(14);
  auto* previous = plainButton("backward.end.fill", "Previous scene", "Previous scene", this);
  previous->setObjectName("previousScene");
  connect(previous, &QToolButton::clicked, this, [this] { player_.skipSegment(false); });
  play_ = new NeuButton("", 17, true, this);
  play_->setObjectName("playPause");
  play_->setFixedSize(34, 34);
  play_->setToolTip("Play / pause (Space)");
  play_->setAccessibleName("Play or pause");
  connect(play_, &NeuButton::clicked, this, [this] { player_.togglePlay(); });
  auto* next = plainButton("forward.end.fill", "Next scene", "Next scene", this);
  next->setObjectName("nextScene");
  connect(next, &QToolButton::clicked, this, [this] { player_.skipSegment(true); });
  position_ = styledLabel("", TextStyle::callout, true, this, true);
  position_->setObjectName("position");
  row->addWidget(previous);
  row->addWidget(play_);
  row->addWidget(next);
  row->addWidget(position_);
  row->addStretch();

  audio_ = plainButton("speaker.wave.2", "Audio enhancement",
                       "Audio enhancement: crystal-clear voice and volume boost", this);
  audio_->setObjectName("audioButton");
  audio_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  connect(audio_, &QToolButton::clicked, this, &TransportBar::openAudioPopover);
  music_ = plainButton("music.note", "Background music",
                       "Background music \u2014 AI-picked for the vlog's mood", this);
  music_->setObjectName("musicButton");
  connect(music_, &QToolButton::clicked, this, &TransportBar::openMusicPopover);

  transition_ = plainButton("scissors", "Transitions", "Transitions between scenes", this);
  transition_->setObjectName("transitionMenu");
  transition_->setPopupMode(QToolButton::InstantPopup);
  addPicker(*transition_, "Transitions", kAllTransitionStyles,
            [this](TransitionStyle style) { state_.setTransition(style, projectID_); });

  aspect_ = plainButton("arrow.up.left.and.arrow.down.right", "Aspect ratio",
                        "Reframe for YouTube, Reels, or square feeds", this);
  aspect_->setObjectName("aspectMenu");
  aspect_->setPopupMode(QToolButton::InstantPopup);
  aspect_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  addPicker(*aspect_, "Aspect ratio", kAllAspectRatios,
            [this](AspectRatio ratio) { state_.setAspectRatio(ratio, projectID_); });
  for (QToolButton* button : {audio_, music_, transition_, aspect_}) row->addWidget(button);

  connect(&player_, &PlayerController::timeChanged, this, &TransportBar::showPosition);
  connect(&player_, &PlayerController::keptDurationChanged, this, &TransportBar::showPosition);
  connect(&player_, &PlayerController::isPlayingChanged, this, &TransportBar::showPosition);
  connect(&state_, &AppState::projectsChanged, this, &TransportBar::showSettings);
  qApp->installEventFilter(this);
  showPosition();
  showSettings();
}

bool TransportBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !isVisible())
    return QWidget::eventFilter(watched, event);
  // The keys go to what has the focus when it takes them itself: text (Space types a space, the
  // arrows move the cursor), sliders, lists, pickers. Elsewhere in this project's view they move
  // the playhead.
  QWidget* focus = QApplication::focusWidget();
  QWidget* target = qobject_cast<QWidget*>(watched);
  if (target == nullptr || target->window() != window() || takesKeysItself(focus) ||
      takesKeysItself(target))
    return QWidget::eventFilter(watched, event);
  const auto& key = *static_cast<QKeyEvent*>(event);
  // Space plays and pauses from anywhere in the window; the other keys are this view's.
  const bool inThisView =
      focus == nullptr || focus == parentWidget() || parentWidget()->isAncestorOf(focus);
  if (key.key() != Qt::Key_Space && !inThisView) return QWidget::eventFilter(watched, event);
  // A button or switch reached with Tab presses with Space, as everywhere.
  if (key.key() == Qt::Key_Space &&
      (qobject_cast<QAbstractButton*>(focus) || qobject_cast<ToggleSwitch*>(focus)))
    return QWidget::eventFilter(watched, event);
  if (!moveByKey(key)) return QWidget::eventFilter(watched, event);
  return true;
}

bool TransportBar::moveByKey(const QKeyEvent& key) {
  const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
  const bool shift = modifiers == Qt::ShiftModifier;
  if (modifiers != Qt::NoModifier && !shift) return false;
  const double frame = player_.frameDurationSec();
  const int framesPerSecond = frame > 0 ? static_cast<int>(std::lround(1.0 / frame)) : 0;
  switch (key.key()) {
    case Qt::Key_Space:
      if (shift || key.isAutoRepeat()) return false;
      player_.togglePlay();
      return true;
    case Qt::Key_K:
      player_.pause();
      return true;
    case Qt::Key_J:
    case Qt::Key_L:
      if (shift || key.isAutoRepeat()) return false;
      player_.shuttle(key.key() == Qt::Key_L ? 1 : -1);
      return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
      player_.stepFrames((key.key() == Qt::Key_Left ? -1 : 1) * (shift ? framesPerSecond : 1));
      return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
      if (shift) return false;
      player_.jumpToBoundary(key.key() == Qt::Key_Down);
      return true;
    case Qt::Key_Home:
    case Qt::Key_End:
      if (shift) return false;
      player_.jumpToEnd(key.key() == Qt::Key_End);
      return true;
    default:
      return false;
  }
}

void TransportBar::showPosition() {
  position_->setText(QString::fromStdString(formatMinutesSeconds(player_.currentKeptTime()) +
                                            " / " + formatMinutesSeconds(player_.keptDuration())));
  play_->setSymbol(player_.isPlaying() ? "pause.fill" : "play.fill");
}

void TransportBar::showSettings() {
  const Project* project = state_.project(projectID_);
  if (project == nullptr) return;
  const QColor accent = NeuTheme::accentInk();
  const bool enhanced = project->denoisedAudioFileName.has_value();
  audio_->setIcon(symbolIcon(enhanced ? "speaker.wave.3.fill" : "speaker.wave.2",
                             enhanced ? accent : primaryColor()));
  const bool boosted =
      project->audioGainPercent && *project->audioGainPercent > kUntouchedGainPercent;
  audio_->setText(boosted ? QString::number(static_cast<int>(*project->audioGainPercent)) + "%"
                          : QString());
  audio_->setFont(styledFont(TextStyle::caption));
  const bool hasMusic = project->musicFileName.has_value();
  music_->setIcon(
      symbolIcon(hasMusic ? "music.note.list" : "music.note", hasMusic ? accent : primaryColor()));

  const TransitionStyle transition = transitionStyleFromStored(project->transitionStyleRaw);
  const bool dips = transition == TransitionStyle::dipToBlack;
  transition_->setIcon(
      symbolIcon(dips ? "circle.lefthalf.filled" : "scissors", dips ? accent : primaryColor()));
  checkPicked(*transition_, transition);

  const AspectRatio aspect = aspectRatioFromStored(project->aspectRatioRaw);
  const bool reframed = aspect != AspectRatio::original;
  aspect_->setIcon(symbolIcon(reframed ? QString::fromUtf8(symbolName(aspect).data())
                                       : "arrow.up.left.and.arrow.down.right",
                              reframed ? accent : primaryColor()));
  aspect_->setText(reframed ? QString::fromUtf8(rawValue(aspect).data()) : "Aspect");
  QPalette palette = aspect_->palette();
  palette.setColor(QPalette::ButtonText, reframed ? accent : primaryColor());
  aspect_->setPalette(palette);
  checkPicked(*aspect_, aspect);
}

QWidget* TransportBar::popover(int width) {
  auto* surface = new Popover(this);
  surface->setFixedWidth(width);
  auto* column = new QVBoxLayout(surface);
  column->setContentsMargins(16, 16, 16, 16);
  column->setSpacing(14);
  return surface;
}

void TransportBar::openAudioPopover() {
  const Project* project = state_.project(projectID_);
  if (project == nullptr) return;
  const bool storedClear = project->audioCrystalClear.value_or(false);
  const double storedGain = project->audioGainPercent.value_or(100);
  QWidget* surface = popover(320);
  surface->setObjectName("audioPopover");
  auto* column = static_cast<QVBoxLayout*>(surface->layout());
  column->addWidget(styledLabel("Audio Enhancement", TextStyle::headline, false, surface));

  auto* clear = new ToggleSwitch("Crystal-clear voice", surface);
  clear->setObjectName("crystalClear");
  clear->setChecked(storedClear);
  column->addWidget(clear);
  addHint(*column, "Removes background noise and tunes the EQ for speech \u2014 all on-device.",
          surface);

  auto* boostRow = new QHBoxLayout;
  boostRow->addWidget(styledLabel("Volume boost", TextStyle::body, false, surface));
  boostRow->addStretch();
  auto* boostValue = styledLabel("", TextStyle::callout, true, surface, true);
  boostRow->addWidget(boostValue);
  column->addLayout(boostRow);
  QSlider* boost = stepSlider(100, 200, static_cast<int>(storedGain), surface);
  boost->setObjectName("volumeBoost");
  column->addWidget(boost);
  auto* ends = new QHBoxLayout;
  ends->addWidget(styledLabel("100%", TextStyle::smallCaption, true, surface));
  ends->addStretch();
  ends->addWidget(styledLabel("200%", TextStyle::smallCaption, true, surface));
  column->addLayout(ends);
  addHint(*column, "Boost is soft-limited, so even 200% won't clip or distort.", surface);

  // Loudness is an output setting like the frame: chosen, it holds at once.
  auto* loudnessRow = new QHBoxLayout;
  loudnessRow->addWidget(styledLabel("Loudness", TextStyle::body, false, surface));
  loudnessRow->addStretch();
  auto* loudness = new QComboBox(surface);
  loudness->setObjectName("loudness");
  for (const LoudnessTarget target : kAllLoudnessTargets)
    loudness->addItem(QString::fromUtf8(label(target).data()), static_cast<int>(target));
  loudness->setCurrentIndex(loudness->findData(static_cast<int>(loudnessTarget(*project))));
  loudnessRow->addWidget(loudness);
  column->addLayout(loudnessRow);
  addHint(*column,
          "Exports are measured and brought to this level, with peaks held under \u22121 dBTP.",
          surface);
  connect(loudness, &QComboBox::activated, this, [this, loudness] {
    const auto target = static_cast<LoudnessTarget>(loudness->currentData().toInt());
    state_.makeEdit(projectID_, SetLoudness{std::string(rawValue(target))});
  });

  auto* buttons = new QHBoxLayout;
  auto* reset = new NeuButton("Reset", 6, false, surface);
  auto* apply = new NeuButton("Apply", 6, true, surface);
  apply->setObjectName("applyAudio");
  buttons->addWidget(reset);
  buttons->addStretch();
  buttons->addWidget(apply);
  column->addLayout(buttons);

  // The slider moves on a 5 % grid; a stored gain off it (brisklet-cli's --gain 137) stands as
  // it is until the slider is moved, so opening the popover is not a change.
  auto moved = std::make_shared<bool>(false);
  const auto draftGain = [boost, moved, storedGain] {
    return *moved ? boost->value() * 5.0 : storedGain;
  };
  const auto showDraft = [=] {
    const double gain = draftGain();
    boostValue->setText(QString::number(static_cast<int>(gain)) + "%");
    setLabelColor(*boostValue, gain > 100 ? NeuTheme::accentInk() : secondaryColor());
    apply->setEnabled(clear->isChecked() != storedClear || std::fabs(gain - storedGain) >= 0.5);
  };
  connect(boost, &QSlider::valueChanged, surface, [moved, showDraft] {
    *moved = true;
    showDraft();
  });
  connect(clear, &ToggleSwitch::toggled, surface, showDraft);
  connect(reset, &NeuButton::clicked, surface, [=] {
    clear->setChecked(false);
    boost->setValue(20);
    *moved = true;
    showDraft();
  });
  connect(apply, &NeuButton::clicked, this, [this, surface, clear, draftGain] {
    const bool crystalClear = clear->isChecked();
    const double gain = draftGain();
    surface->close();
    state_.applyAudioSettings(projectID_, crystalClear, gain);
  });
  showDraft();
  audioPopover_ = surface;
  surface->adjustSize();
  surface->move(
      audio_->mapToGlobal(QPoint(audio_->width() - surface->width(), -surface->height() - 6)));
  surface->show();
}

void TransportBar::openMusicPopover() {
  const Project* project = state_.project(projectID_);
  if (project == nullptr) return;
  QWidget* surface = popover(300);
  surface->setObjectName("musicPopover");
  auto* column = static_cast<QVBoxLayout*>(surface->layout());
  column->addWidget(styledLabel("Background Music", TextStyle::headline, false, surface));
  if (!project->musicFileName) {
    auto* autoPick = new NeuButton("Auto-pick for this vlog's mood", 6, true, surface);
    autoPick->setSymbol("sparkles");
    auto* choose = new NeuButton("Choose a track\u2026", 6, false, surface);
    choose->setSymbol("folder");
    choose->setObjectName("chooseTrack");
    auto* folder = new QToolButton(surface);
    folder->setText("Set music folder\u2026");
    folder->setAutoRaise(true);
    folder->setFont(styledFont(TextStyle::caption));
    column->addWidget(autoPick);
    column->addWidget(choose);
    column->addWidget(folder);
    addHint(
        *column,
        "Auto-pick chooses from your royalty-free music folder based on what happens in the vlog.",
        surface);
    connect(autoPick, &NeuButton::clicked, this, [this, surface] {
      surface->close();
      state_.autoPickMusic(projectID_);
    });
    connect(choose, &NeuButton::clicked, this, [this, surface] {
      surface->close();
      if (const auto file = chooseMusicFile_()) state_.setMusic(*file, projectID_);
    });
    connect(folder, &QToolButton::clicked, this, [this] { state_.chooseMusicFolder(); });
  } else {
    auto* name = new QHBoxLayout;
    name->addWidget(symbolLabel("music.note", 12, primaryColor(), surface));
    name->addWidget(styledLabel(QString::fromStdString(*project->musicFileName), TextStyle::callout,
                                false, surface),
                    1);
    column->addLayout(name);
    auto* remove = new QToolButton(surface);
    remove->setText("Remove Music");
    remove->setObjectName("removeMusic");
    remove->setAutoRaise(true);
    QPalette red = remove->palette();
    red.setColor(QPalette::ButtonText, statusRed());
    remove->setPalette(red);
    column->addWidget(remove);
    const double volume = project->musicVolumePercent.value_or(kDefaultMusicVolumePercent);
    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(styledLabel("Music volume", TextStyle::body, false, surface));
    volumeRow->addStretch();
    auto* volumeValue = styledLabel(QString::number(static_cast<int>(volume)) + "%",
                                    TextStyle::callout, true, surface, true);
    volumeValue->setObjectName("musicVolumeValue");
    volumeRow->addWidget(volumeValue);
    column->addLayout(volumeRow);
    QSlider* slider = stepSlider(5, 60, static_cast<int>(volume), surface);
    slider->setObjectName("musicVolume");
    column->addWidget(slider);
    addHint(*column, "Music automatically ducks under your narration.", surface);
    connect(remove, &QToolButton::clicked, this, [this, surface] {
      state_.setMusic(std::nullopt, projectID_);
      surface->close();
    });
    connect(slider, &QSlider::sliderPressed, this,
            [this] { volumeGesture_ = EditGesture::fresh("volume", true); });
    connect(slider, &QSlider::valueChanged, this, [this, volumeValue](int steps) {
      volumeValue->setText(QString::number(steps * 5) + "%");
      state_.setMusicVolume(steps * 5.0, projectID_, volumeGesture_);
    });
  }
  musicPopover_ = surface;
  surface->adjustSize();
  surface->move(
      music_->mapToGlobal(QPoint(music_->width() - surface->width(), -surface->height() - 6)));
  surface->show();
}

}  // namespace brisklet
