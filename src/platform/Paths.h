#pragma once

#include <filesystem>

namespace brisklet {

// Per-user folders after the XDG base directory rules: a variable that is unset, empty or not
// an absolute path falls back to the default below the home folder. Read on every call, so a
// change of the environment (tests do this) takes effect at once.

// $XDG_DATA_HOME or ~/.local/share
std::filesystem::path dataHome();
// $XDG_CONFIG_HOME or ~/.config
std::filesystem::path configHome();

// dataHome()/Brisklet: projects, the voice sample.
std::filesystem::path applicationDataFolder();
// configHome()/Brisklet: preferences and, without a Secret Service, the key file.
std::filesystem::path applicationConfigFolder();

}  // namespace brisklet
