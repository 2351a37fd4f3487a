#pragma once

#include <QCoreApplication>
#include <QWidget>
#include <filesystem>
#include <string>

namespace brisklet::testing {

// Saves what `widget` shows under build/screenshots/, for a person to look at.
// Widgets added to a shown window appear once the posted events run, so those run first.
inline void saveScreenshot(QWidget& widget, const std::string& name) {
  QCoreApplication::processEvents();
  std::filesystem::create_directories(BRISKLET_SCREENSHOT_DIR);
  widget.grab().save(QString::fromStdString(std::string(BRISKLET_SCREENSHOT_DIR) + "/" + name));
}

}  // namespace brisklet::testing
