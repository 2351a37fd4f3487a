#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/SessionInstance.h"
#include "app/StartArguments.h"
#include "app/TerminationSignals.h"
#include "ui/MainWindow.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  if (const auto early = brisklet::parseStartArguments(argumentsOf(argc, argv), BRISKLET_VERSION);
      early.reply) {
    std::cout << *early.reply;
    return 0;
  }
  QApplication application(argc, argv);
  // Qt has taken its own options from argv; the rest are ours, as bytes (QString would turn a
  // name that is not UTF-8 into another).
  const brisklet::StartArguments start =
      brisklet::parseStartArguments(argumentsOf(argc, argv), BRISKLET_VERSION);
  if (start.usageError) {
    std::cerr << "brisklet: " << *start.usageError << "\n\n" << brisklet::kStartUsage;
    return 2;
  }
  // A second start hands its videos to the Brisklet already running in the session, and ends.
  brisklet::SessionInstance session(start.files);
  if (session.handedOver()) return 0;
  QApplication::setApplicationName("Brisklet");
  QApplication::setApplicationVersion(BRISKLET_VERSION);
  QApplication::setOrganizationName("Kettlewick");
  QApplication::setDesktopFileName("com.kettlewick.Brisklet");
  QApplication::setWindowIcon(brisklet::applicationIcon());
  brisklet::applyTheme(application, brisklet::desktopColorScheme());

  // Loads every stored project before the first window shows.
  brisklet::AppState state;
  // Beds only a closed window's undo could have brought back go.
  state.store().sweepUnnamedMusic(state.projects());
  state.keyRing().load();
  brisklet::MainWindow window(state);
  // A logout or Ctrl-C in the terminal that started us: running commands stop and the window
  // goes without asking; the commands' workers remove what they had begun writing before the
  // process ends (as the state goes).
  // The application ends with the window even when a command's last words opened a dialog.
  const brisklet::TerminationSignals interruption([&](int) {
    window.closeWithoutAsking();
    QCoreApplication::quit();
  });
  state.setFolderChooser(
      [&window](const std::string& prompt) -> std::optional<std::filesystem::path> {
        const QString folder =
            QFileDialog::getExistingDirectory(&window, QString::fromStdString(prompt));
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
      });
  window.show();
  session.setOpener([&state, &window](const std::vector<std::filesystem::path>& files) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.raise();
    window.activateWindow();
    if (!files.empty()) auto import = state.importVideos(files);
  });

  // Videos opened with Brisklet from the file manager (`brisklet FILE…`) are imported together,
  // as if dropped, once the keys are read: their analysis uses the Anthropic key.
  if (!start.files.empty())
    QObject::connect(
        &state.keyRing(), &brisklet::KeyRing::loaded, &state,
        [&state, files = start.files] { auto import = state.importVideos(files); },
        Qt::SingleShotConnection);
  return application.exec();
}
