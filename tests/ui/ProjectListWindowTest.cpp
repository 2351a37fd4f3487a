#include <gtest/gtest.h>

#include <QLabel>
#include <QStackedWidget>
#include <QTreeWidget>

#include "app/AppState.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"
#include "ui/ProjectListWindow.h"
#include "ui/Screenshots.h"

namespace brisklet {
namespace {

using testing::saveScreenshot;

TEST(ProjectListWindow, ListsTheStoredProjectsWithNameAndDurationNewestFirst) {
  testing::TemporaryFolder folder;
  ProjectStore store(folder / "Projects");
  Project older = testing::sampleProject("Harbour walk", "2025-03-01T10:00:00Z");
  older.videoDurationSec = 754.4;
  Project newer = testing::sampleProject("Mountain day", "2025-03-05T10:00:00Z");
  newer.videoDurationSec = 59.6;
  store.save(older);
  store.save(newer);
  AppState state(store);

  ProjectListWindow window(state);
  window.resize(1100, 700);
  window.show();
  auto* list = window.findChild<QTreeWidget*>("projectList");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "Mountain day");
  EXPECT_EQ(list->topLevelItem(0)->text(1), "1:00");
  EXPECT_EQ(list->topLevelItem(1)->text(0), "Harbour walk");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "12:34");
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0)) << "the newest is selected";
  EXPECT_EQ(window.minimumSize(), QSize(1100, 700));
  saveScreenshot(window, "project-list.png");

  list->setCurrentItem(list->topLevelItem(1));
  EXPECT_EQ(state.selectedProjectID(), older.id);

  state.deleteProject(older);
  state.deleteProject(newer);
  auto* pages = window.findChild<QStackedWidget*>();
  ASSERT_NE(pages, nullptr);
  EXPECT_EQ(pages->currentWidget(), window.findChild<QLabel*>("emptyMessage"));
  saveScreenshot(window, "project-list-empty.png");
}

}  // namespace
}  // namespace brisklet
