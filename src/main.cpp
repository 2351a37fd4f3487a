#include <QApplication>

#include "app/AppState.h"
#include "ui/ProjectListWindow.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Brisklet");
  QApplication::setOrganizationName("Kettlewick");

  // Loads every stored project before the first window shows.
  brisklet::AppState state;
  brisklet::ProjectListWindow window(state);
  window.show();
  return application.exec();
}
