#pragma once

#include <QString>
#include <filesystem>
#include <optional>

namespace brisklet {

// Where a file dialog opens: the videos folder when there is one, else `beside` (the folder of
// the project's source) when it is there, else the home folder; never the folder the program
// happened to be started in.
QString dialogFolder(const std::optional<std::filesystem::path>& beside = std::nullopt);

}  // namespace brisklet
