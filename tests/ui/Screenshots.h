#pragma once

#include <QWidget>
#include <filesystem>
#include <string>

namespace brisklet::testing {

// Saves what `widget` shows under build/screenshots/, for a person to look at.
inline void saveScreenshot(QWidget& widget, const std::string& name) {
  std::filesystem::create_directories(BRISKLET_SCREENSHOT_DIR);
  widget.grab().save(QString::fromStdString(std::string(BRISKLET_SCREENSHOT_DIR) + "/" + name));
}

}  // namespace brisklet::testing
