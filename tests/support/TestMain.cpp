#include <gtest/gtest.h>

#ifdef BRISKLET_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include "support/TemporaryFolder.h"

// Every test process gets a private home and a Qt application object (commands post progress
// to it; widget tests need the widget kind).
int main(int argc, char** argv) {
  brisklet::testing::isolateHomeFolders();
  TestApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
