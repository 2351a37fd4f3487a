#include "ui/ProjectListWindow.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QStackedWidget>
#include <QTreeWidget>

#include "app/AppState.h"
#include "platform/TimeText.h"

namespace brisklet {
namespace {

constexpr int kIdRole = Qt::UserRole;

QString localDate(const Timestamp& instant) {
  return QDateTime::fromMSecsSinceEpoch(instant.time_since_epoch().count())
      .toLocalTime()
      .toString("yyyy-MM-dd HH:mm");
}

}  // namespace

ProjectListWindow::ProjectListWindow(AppState& state, QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      pages_(new QStackedWidget(this)),
      emptyMessage_(new QLabel("No projects yet.", this)),
      list_(new QTreeWidget(this)) {
  setWindowTitle("Brisklet");
  setMinimumSize(1100, 700);

  list_->setColumnCount(3);
  list_->setHeaderLabels({"Name", "Duration", "Created"});
  list_->setRootIsDecorated(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->setObjectName("projectList");

  emptyMessage_->setAlignment(Qt::AlignCenter);
  emptyMessage_->setObjectName("emptyMessage");
  pages_->addWidget(emptyMessage_);
  pages_->addWidget(list_);
  setCentralWidget(pages_);

  connect(&state_, &AppState::projectsChanged, this, &ProjectListWindow::showProjects);
  connect(&state_, &AppState::selectedProjectIDChanged, this, &ProjectListWindow::showSelection);
  connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == nullptr) return;
    state_.setSelectedProjectID(Uuid::parse(item->data(0, kIdRole).toString().toStdString()));
  });

  showProjects();
}

void ProjectListWindow::showProjects() {
  const QSignalBlocker blocker(list_);
  list_->clear();
  for (const Project& project : state_.projects()) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdString(project.name));
    item->setText(1, QString::fromStdString(formatMinutesSeconds(project.videoDurationSec)));
    item->setText(2, localDate(project.createdAt));
    item->setData(0, kIdRole, QString::fromStdString(project.id.text()));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  pages_->setCurrentWidget(state_.projects().empty() ? static_cast<QWidget*>(emptyMessage_)
                                                     : list_);
  showSelection();
}

void ProjectListWindow::showSelection() {
  const QSignalBlocker blocker(list_);
  const auto& selected = state_.selectedProjectID();
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (selected && item->data(0, kIdRole).toString().toStdString() == selected->text()) {
      list_->setCurrentItem(item);
      return;
    }
  }
  list_->setCurrentItem(nullptr);
}

}  // namespace brisklet
