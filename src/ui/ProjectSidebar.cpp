#include "ui/ProjectSidebar.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "app/AppState.h"
#include "platform/TimeText.h"
#include "ui/Labels.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

constexpr QSize kThumbnailSize(44, 28);
constexpr int kThumbnailRetryMilliseconds = 1500;
// What is left of the sidebar's width for a card's name.
constexpr int kNameWidth = ProjectSidebar::kWidth - 2 * 14 - 8 - 10 - 44 - 10;

// The picture the timeline kept of the project's earliest second, cropped to the card's frame;
// none until the timeline has made one.
QPixmap firstThumbnail(const std::filesystem::path& projectFolder) {
  const QDir thumbs(QString::fromStdString((projectFolder / "thumbs").string()));
  long earliest = -1;
  for (const QString& name : thumbs.entryList({"t_*.jpg"}, QDir::Files)) {
    bool isNumber = false;
    const long second = name.mid(2, name.size() - 6).toLong(&isNumber);
    if (isNumber && second >= 0 && (earliest < 0 || second < earliest)) earliest = second;
  }
  if (earliest < 0) return {};
  const QImage image(thumbs.filePath(QString("t_%1.jpg").arg(earliest)));
  if (image.isNull()) return {};
  return QPixmap::fromImage(
      image.scaled(kThumbnailSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
          .copy(QRect(QPoint(0, 0), kThumbnailSize)));
}

QLabel* thumbnailLabel(const Project& project, const QPixmap& thumbnail, bool selected,
                       QWidget* parent) {
  if (thumbnail.isNull()) {
    QLabel* symbol = symbolLabel(project.editPlan ? "sparkles.rectangle.stack" : "film", 18,
                                 selected ? NeuTheme::accentInk() : secondaryColor(), parent);
    symbol->setObjectName(project.editPlan ? "symbol-sparkles.rectangle.stack" : "symbol-film");
    symbol->setFixedSize(kThumbnailSize);
    symbol->setAlignment(Qt::AlignCenter);
    return symbol;
  }
  QPixmap rounded(thumbnail.size());
  rounded.fill(Qt::transparent);
  QPainter painter(&rounded);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath clip;
  clip.addRoundedRect(QRectF(rounded.rect()), 4, 4);
  painter.setClipPath(clip);
  painter.drawPixmap(0, 0, thumbnail);
  painter.end();
  auto* label = new QLabel(parent);
  label->setObjectName("thumbnail");
  label->setPixmap(rounded);
  label->setFixedSize(kThumbnailSize);
  return label;
}

}  // namespace

ProjectCard::ProjectCard(AppState& state, const Project& project, bool selected,
                         const QPixmap& thumbnail, QWidget* parent)
    : QWidget(parent), state_(state), project_(project), selected_(selected) {
  setObjectName("projectCard");
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(QString::fromStdString(project.name));
  setAccessibleDescription(QString::fromStdString(formatMinutesSeconds(project.videoDurationSec)));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(8, 7, 10, 7);
  row->setSpacing(10);
  row->addWidget(thumbnailLabel(project, thumbnail, selected, this));
  auto* text = new QVBoxLayout;
  text->setSpacing(2);
  const QFont nameFont =
      styledFont(TextStyle::body, false, selected ? QFont::DemiBold : QFont::Normal);
  // One line: a long name ends in an ellipsis, and the tooltip holds all of it.
  name_ = new QLabel(QFontMetrics(nameFont).elidedText(QString::fromStdString(project.name),
                                                       Qt::ElideRight, kNameWidth),
                     this);
  name_->setObjectName("projectName");
  name_->setFont(nameFont);
  name_->setMinimumWidth(0);
  name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  QLabel* duration =
      styledLabel(QString::fromStdString(formatMinutesSeconds(project.videoDurationSec)),
                  TextStyle::smallCaption, true, this, true);
  duration->setObjectName("projectDuration");
  text->addWidget(name_);
  text->addWidget(duration);
  row->addLayout(text, 1);
  setToolTip(QString::fromStdString(project.name));
}

void ProjectCard::paintEvent(QPaintEvent*) {
  if (!selected_ && !hasFocus()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (selected_) {
    const QColor accent = NeuTheme::accentColor();
    painter.setBrush(withOpacity(accent, 0.16));
    painter.setPen(QPen(withOpacity(accent, 0.35), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  }
  if (hasFocus()) paintFocusRing(painter, QRectF(rect()), 6);
}

void ProjectCard::keyPressEvent(QKeyEvent* event) {
  // The list as every list works: the arrows move the selection, F2 renames.
  const std::vector<Project>& projects = state_.projects();
  const auto here = std::find_if(projects.begin(), projects.end(),
                                 [&](const Project& listed) { return listed.id == project_.id; });
  if (here == projects.end()) return QWidget::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Up:
      if (here != projects.begin()) state_.setSelectedProjectID(std::prev(here)->id);
      return;
    case Qt::Key_Down:
      if (std::next(here) != projects.end()) state_.setSelectedProjectID(std::next(here)->id);
      return;
    case Qt::Key_Home:
      state_.setSelectedProjectID(projects.front().id);
      return;
    case Qt::Key_End:
      state_.setSelectedProjectID(projects.back().id);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      state_.setSelectedProjectID(project_.id);
      return;
    case Qt::Key_F2:
      beginRename();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void ProjectCard::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && renameEditor_ == nullptr)
    state_.setSelectedProjectID(project_.id);
  QWidget::mousePressEvent(event);
}

void ProjectCard::mouseDoubleClickEvent(QMouseEvent*) { beginRename(); }

void ProjectCard::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* rename = menu.addAction(symbolIcon("pencil", primaryColor()), "Rename\u2026");
  QAction* remove = menu.addAction(symbolIcon("trash", statusRed()), "Delete Project");
  connect(rename, &QAction::triggered, this, &ProjectCard::beginRename);
  // The card goes with the project: the delete runs once the menu has closed.
  connect(remove, &QAction::triggered, &state_, [state = &state_, project = project_] {
    QTimer::singleShot(0, state, [state, project] { state->deleteProject(project); });
  });
  menu.exec(event->globalPos());
}

void ProjectCard::beginRename() {
  if (renameEditor_ != nullptr) return;
  renameEditor_ = new QLineEdit(QString::fromStdString(project_.name), this);
  renameEditor_->setObjectName("renameEditor");
  renameEditor_->setGeometry(name_->geometry().adjusted(-3, -3, 3, 3));
  renameEditor_->selectAll();
  renameEditor_->show();
  renameEditor_->setFocus();
  connect(renameEditor_, &QLineEdit::returnPressed, this, [this] { endRename(true); });
  connect(renameEditor_, &QLineEdit::editingFinished, this, [this] { endRename(true); });
  auto* cancel = new QAction(renameEditor_);
  cancel->setShortcut(Qt::Key_Escape);
  cancel->setShortcutContext(Qt::WidgetShortcut);
  renameEditor_->addAction(cancel);
  connect(cancel, &QAction::triggered, this, [this] { endRename(false); });
}

void ProjectCard::endRename(bool keep) {
  if (renameEditor_ == nullptr) return;
  QLineEdit* editor = std::exchange(renameEditor_, nullptr);
  const std::string typed = editor->text().toStdString();
  editor->hide();
  editor->deleteLater();
  // Renaming rebuilds the list, and this card with it: last thing done here.
  if (keep) state_.renameProject(project_.id, typed);
}

void ProjectSidebar::paintEvent(QPaintEvent*) {
  // A hairline between the list and the project.
  QPainter painter(this);
  painter.setPen(NeuTheme::of(currentColorScheme()).highlight);
  painter.drawLine(width() - 1, 0, width() - 1, height());
}

ProjectSidebar::ProjectSidebar(AppState& state, std::function<void()> importVideos, QWidget* parent)
    : QWidget(parent), state_(state) {
  setObjectName("sidebar");
  setFixedWidth(kWidth);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 1, 14);  // the hairline on the right stays uncovered
  column->setSpacing(0);

  QLabel* heading = styledLabel("PROJECTS", TextStyle::smallCaption, true, this);
  QFont font = styledFont(TextStyle::smallCaption, false, QFont::DemiBold);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
  heading->setFont(font);
  heading->setContentsMargins(20, 14, 20, 6);
  column->addWidget(heading);

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setFocusPolicy(Qt::NoFocus);  // the cards take the focus, one by one
  scroll->viewport()->setAutoFillBackground(false);
  auto* list = new QWidget(scroll);
  list->setAutoFillBackground(false);
  cards_ = new QVBoxLayout(list);
  cards_->setContentsMargins(14, 8, 14, 8);
  cards_->setSpacing(10);
  cards_->addStretch(1);
  scroll->setWidget(list);
  column->addWidget(scroll, 1);

  // A record that cannot be read is left where it is; the list says it is there, and why.
  for (const auto& [folder, reason] : state_.unreadableProjects()) {
    QLabel* unreadable =
        styledLabel(QString::fromStdString("Project " + folder.substr(0, 8) +
                                           "\u2026 cannot be read: " + reason + "."),
                    TextStyle::smallCaption, true, this);
    unreadable->setObjectName("unreadableProject");
    unreadable->setWordWrap(true);
    unreadable->setToolTip(QString::fromStdString(folder));
    unreadable->setContentsMargins(20, 4, 20, 8);
    column->addWidget(unreadable);
  }

  auto* import = new NeuButton("Import Video", 6, true, this);
  import->setObjectName("importVideo");
  import->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  import->setSymbol("plus");
  auto* importRow = new QHBoxLayout;
  importRow->setContentsMargins(14, 0, 14, 0);
  importRow->addWidget(import);
  column->addLayout(importRow);
  connect(import, &NeuButton::clicked, this, std::move(importVideos));

  thumbnailRetry_ = new QTimer(this);
  thumbnailRetry_->setInterval(kThumbnailRetryMilliseconds);
  connect(thumbnailRetry_, &QTimer::timeout, this, [this] {
    for (auto& [id, thumbnail] : thumbnails_)
      if (thumbnail.isNull()) thumbnail = firstThumbnail(state_.store().projectDirectory(id));
    showProjects();
  });
  connect(&state_, &AppState::projectsChanged, this, &ProjectSidebar::showProjects);
  connect(&state_, &AppState::selectedProjectIDChanged, this, &ProjectSidebar::showProjects);
  showProjects();
}

void ProjectSidebar::showProjects() {
  // Edits come many a second (a trim drag, typing); the cards are made again only when what
  // they show changed.
  std::vector<CardFace> faces;
  bool thumbnailMissing = false;
  for (const Project& project : state_.projects()) {
    // Looked for once when the project first shows, then only by the retry (edits come many a
    // second; the folder is not listed for each).
    auto [entry, firstSight] = thumbnails_.try_emplace(project.id);
    QPixmap& thumbnail = entry->second;
    if (firstSight) thumbnail = firstThumbnail(state_.store().projectDirectory(project.id));
    thumbnailMissing |= thumbnail.isNull();
    faces.push_back({project.id, project.name, project.videoDurationSec,
                     project.editPlan.has_value(), state_.selectedProjectID() == project.id,
                     !thumbnail.isNull()});
  }
  if (thumbnailMissing && !thumbnailRetry_->isActive()) thumbnailRetry_->start();
  if (!thumbnailMissing) thumbnailRetry_->stop();
  if (faces == shownFaces_) return;
  shownFaces_ = faces;

  // The keyboard stays in the list as its cards are made again: on the selected one.
  QWidget* focus = QApplication::focusWidget();
  const bool listHadFocus = focus != nullptr && qobject_cast<ProjectCard*>(focus) != nullptr &&
                            cards_->parentWidget()->isAncestorOf(focus);
  while (cards_->count() > 1) {
    QLayoutItem* item = cards_->takeAt(0);
    item->widget()->hide();
    item->widget()->deleteLater();
    delete item;
  }
  int index = 0;
  for (const Project& project : state_.projects()) {
    const bool selected = state_.selectedProjectID() == project.id;
    auto* card =
        new ProjectCard(state_, project, selected, thumbnails_[project.id], cards_->parentWidget());
    cards_->insertWidget(index++, card);
    if (selected && listHadFocus) {
      card->show();  // a card the layout has not shown yet cannot take the focus
      card->setFocus(Qt::OtherFocusReason);
    }
  }
}

}  // namespace brisklet
