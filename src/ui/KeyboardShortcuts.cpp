#include "ui/KeyboardShortcuts.h"

#include <QMessageBox>
#include <QString>
#include <utility>

namespace brisklet {
namespace {

// What a key does, grouped as a creator looks for them.
constexpr std::pair<const char*, const char*> kShortcuts[] = {
    {"Space", "Play or pause"},
    {"J / K / L", "Back / stop / forward (press again: faster)"},
    {"\u2190 / \u2192", "One frame back / forward"},
    {"Shift+\u2190 / Shift+\u2192", "One second back / forward"},
    {"\u2191 / \u2193", "Previous / next segment boundary"},
    {"Home / End", "Start / end of the edit"},
    {"Wheel over the timeline", "Scroll along the timeline"},
    {"Ctrl+Wheel", "Zoom the timeline around the pointer"},
    {"Escape", "Close a popover, or clear the selection"},
    {"Ctrl+Z / Ctrl+Shift+Z", "Undo / redo"},
    {"Ctrl+O", "Import a video"},
    {"Ctrl+,", "Settings"},
    {"Ctrl+?", "These shortcuts"},
    {"Ctrl+Q", "Quit"},
};

}  // namespace

void showKeyboardShortcuts(QWidget* parent) {
  QString rows;
  for (const auto& [keys, action] : kShortcuts)
    rows += QString("<tr><td style=\"padding-right:18px\"><b>%1</b></td><td>%2</td></tr>")
                .arg(QString::fromUtf8(keys).toHtmlEscaped(), QString::fromUtf8(action));
  auto* box =
      new QMessageBox(QMessageBox::NoIcon, "Keyboard Shortcuts",
                      "<table cellspacing=\"4\">" + rows + "</table>", QMessageBox::Close, parent);
  box->setObjectName("keyboardShortcuts");
  box->setTextFormat(Qt::RichText);
  // Wide enough that no action wraps onto a second line.
  box->setStyleSheet("QLabel { min-width: 460px; }");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace brisklet
