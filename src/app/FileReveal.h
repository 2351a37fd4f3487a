#pragma once

#include <filesystem>

namespace brisklet {

// Shows `file` selected in the desktop's file browser (the FileManager1 D-Bus service), or,
// where no browser offers that, opens its folder.
void revealInFileBrowser(const std::filesystem::path& file);

}  // namespace brisklet
