#pragma once

class QWidget;

namespace brisklet {

// Help ▸ Keyboard Shortcuts: every key the window answers to, in one list.
void showKeyboardShortcuts(QWidget* parent);

}  // namespace brisklet
