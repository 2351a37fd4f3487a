#include "ui/ImportDropView.h"

#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>
#include <array>

#include "app/AppState.h"
#include "ui/DialogFolder.h"
#include "ui/Labels.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

constexpr std::array<const char*, 6> kVideoExtensions = {"mov", "mp4", "m4v", "mpg", "mpeg", "avi"};
constexpr int kSymbolSize = 56;

}  // namespace

std::vector<std::filesystem::path> acceptedVideoFiles(const QList<QUrl>& urls) {
  std::vector<std::filesystem::path> files;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
    for (const char* extension : kVideoExtensions)
      if (suffix == QLatin1String(extension)) {
        files.emplace_back(url.toLocalFile().toStdString());
        break;
      }
  }
  return files;
}

QString videoNameFilter() {
  QStringList patterns;
  for (const char* extension : kVideoExtensions) {
    patterns << QString("*.%1").arg(extension) << QString("*.%1").arg(QString(extension).toUpper());
  }
  return "Movies (" + patterns.join(' ') + ")";
}

std::vector<std::filesystem::path> chooseVideosWithDialog(QWidget* parent, const QString& message) {
  const QStringList chosen =
      QFileDialog::getOpenFileNames(parent, message.isEmpty() ? QString("Choose Videos") : message,
                                    dialogFolder(), videoNameFilter());
  QList<QUrl> urls;
  for (const QString& file : chosen) urls << QUrl::fromLocalFile(file);
  return acceptedVideoFiles(urls);
}

ImportDropView::ImportDropView(AppState& state, VideoChooser chooseVideos, QWidget* parent)
    : QWidget(parent), state_(state) {
  setObjectName("importDropView");
  setAcceptDrops(true);
  auto* outer = new QVBoxLayout(this);
  // 28 from the window, 36 inside the panel, 40 inside the dashed border.
  outer->setContentsMargins(28 + 36 + 40, 28 + 36 + 40, 28 + 36 + 40, 28 + 36 + 40);
  outer->addStretch(1);
  auto* column = new QVBoxLayout;
  column->setSpacing(16);
  symbol_ = symbolLabel("film.stack", kSymbolSize, secondaryColor(), this);
  column->addWidget(symbol_, 0, Qt::AlignHCenter);
  QLabel* title = styledLabel("Drop your clips here", TextStyle::headline, false, this);
  QFont titleFont = styledFont(TextStyle::headline, false, QFont::Medium);
  titleFont.setPixelSize(22);
  title->setFont(titleFont);
  column->addWidget(title, 0, Qt::AlignHCenter);
  QLabel* explanation = styledLabel(
      "One video or many \u2014 multiple clips get merged in shooting order.\nBrisklet finds the "
      "best moments, trims the rest,\nand narrates it in your own voice.",
      TextStyle::body, true, this);
  explanation->setAlignment(Qt::AlignCenter);
  column->addWidget(explanation, 0, Qt::AlignHCenter);
  auto* choose = new NeuButton("Choose Videos\u2026", 6, true, this);
  choose->setObjectName("chooseVideos");
  column->addWidget(choose, 0, Qt::AlignHCenter);
  outer->addLayout(column);
  outer->addStretch(1);
  connect(choose, &NeuButton::clicked, this, [this, chooseVideos = std::move(chooseVideos)] {
    const std::vector<std::filesystem::path> files = chooseVideos(QString());
    if (!files.empty()) auto task = state_.importVideos(files);
  });
}

void ImportDropView::setTargeted(bool targeted) {
  if (isTargeted_ == targeted) return;
  isTargeted_ = targeted;
  symbol_->setPixmap(symbolPixmap("film.stack", kSymbolSize,
                                  targeted ? NeuTheme::accentInk() : secondaryColor(),
                                  devicePixelRatioF()));
  update();
}

void ImportDropView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF panel = QRectF(rect()).adjusted(28, 28, -28, -28);
  paintPanel(painter, panel, 24);
  QPen dashes(isTargeted_ ? NeuTheme::accentInk() : withOpacity(secondaryColor(), 0.25), 2);
  dashes.setDashPattern({5, 5});  // in pen widths: 10 px dashes, 10 px gaps
  painter.setPen(dashes);
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(panel.adjusted(36, 36, -36, -36), 24, 24);
}

void ImportDropView::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  event->acceptProposedAction();
  setTargeted(true);
}

void ImportDropView::dragLeaveEvent(QDragLeaveEvent*) { setTargeted(false); }

void ImportDropView::dropEvent(QDropEvent* event) {
  setTargeted(false);
  if (!event->mimeData()->hasUrls()) return;
  event->acceptProposedAction();
  // Other kinds of files are left out without a word; with none left nothing is imported.
  auto task = state_.importVideos(acceptedVideoFiles(event->mimeData()->urls()));
}

}  // namespace brisklet
