#include <QApplication>
#include <QFileDialog>
#include <QThreadPool>
#include <QTimer>
#include <filesystem>
#include <vector>

#include "app/AppState.h"
#include "app/TerminationSignals.h"
#include "ui/MainWindow.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace {

constexpr int kLongestCleanUpMilliseconds = 1500;

}  // namespace

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
  brisklet::MainWindow window(state);
  // A logout or Ctrl-C in the terminal that started us: running commands stop and the window
  // goes without asking; the commands' workers remove what they had begun writing before the
  // process ends (below).
  const brisklet::TerminationSignals interruption([&](int) { window.closeWithoutAsking(); });
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
  const int status = application.exec();
  // Cancelled work ends within moments; a worker stuck in a system call does not hold the exit
  // for long, and what it leaves is swept at the next start.
  QThreadPool::globalInstance()->waitForDone(kLongestCleanUpMilliseconds);
  return status;
}
