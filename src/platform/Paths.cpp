#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace brisklet {
namespace {

std::filesystem::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/";
}

std::filesystem::path xdgFolder(const char* variable, const char* defaultBelowHome) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
  return homeFolder() / defaultBelowHome;
}

}  // namespace

std::filesystem::path dataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

std::filesystem::path configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path applicationDataFolder() { return dataHome() / "Brisklet"; }

std::filesystem::path applicationConfigFolder() { return configHome() / "Brisklet"; }

}  // namespace brisklet
