#include <QApplication>

#include "app/AppState.h"
#include "app/TerminationSignals.h"
#include "ui/ProjectListWindow.h"
#include "ui/Theme.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Brisklet");
  QApplication::setOrganizationName("Kettlewick");
  brisklet::applyTheme(application, brisklet::desktopColorScheme());

  // Loads every stored project before the first window shows.
  brisklet::AppState state;
  // A logout or Ctrl-C in the terminal that started us: running commands stop and remove what
  // they had begun writing before the window goes.
  const brisklet::TerminationSignals interruption([&](int) {
    state.cancelRunningCommands();
    QApplication::quit();
  });
  brisklet::ProjectListWindow window(state);
  window.show();
  return application.exec();
}
