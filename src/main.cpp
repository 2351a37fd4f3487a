#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <vector>

#include "app/AppState.h"
#include "app/TerminationSignals.h"
#include "ui/MainWindow.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Brisklet");
  QApplication::setApplicationVersion(BRISKLET_VERSION);
  QApplication::setOrganizationName("Kettlewick");
  QApplication::setDesktopFileName("com.kettlewick.Brisklet");
  QApplication::setWindowIcon(brisklet::applicationIcon());
  brisklet::applyTheme(application, brisklet::desktopColorScheme());

  // Loads every stored project before the first window shows.
  brisklet::AppState state;
  // A logout or Ctrl-C in the terminal that started us: running commands stop and remove what
  // they had begun writing before the window goes.
  const brisklet::TerminationSignals interruption([&](int) {
    state.cancelRunningCommands();
    QApplication::quit();
  });
  brisklet::MainWindow window(state);
  state.setFolderChooser(
      [&window](const std::string& prompt) -> std::optional<std::filesystem::path> {
        const QString folder =
            QFileDialog::getExistingDirectory(&window, QString::fromStdString(prompt));
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
      });
  window.show();

  // Videos opened with Brisklet from the file manager (`brisklet FILE…`) are imported together,
  // as if dropped.
  std::vector<std::filesystem::path> files;
  for (const QString& argument : QApplication::arguments().mid(1))
    files.emplace_back(argument.toStdString());
  if (!files.empty())
    QTimer::singleShot(0, &state, [&state, files] { auto import = state.importVideos(files); });
  return application.exec();
}
