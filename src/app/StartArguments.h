#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brisklet {

// What `brisklet` was started with, once Qt has taken its own options (-platform, …).
struct StartArguments {
  // The videos to import together, as if dropped: paths as given (their bytes kept, a name
  // need not be UTF-8), or local file:// addresses as a file manager passes them.
  std::vector<std::filesystem::path> files;
  // Printed on stdout instead of starting: the help or the version.
  std::optional<std::string> reply;
  // A call that is wrong: said on stderr with the help, exit code 2.
  std::optional<std::string> usageError;
};

inline constexpr const char* kStartUsage =
    "usage: brisklet [FILE | file://ADDRESS]...\n"
    "\n"
    "Opens Brisklet. Videos given are imported together, in shooting order, as if dropped.\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "  --             what follows are files, even names that begin with -\n";

// The file:// address of an absolute path, its bytes percent-encoded: what the arguments above
// read back as the same path, whatever the bytes of its name.
std::string fileAddress(const std::filesystem::path& absolutePath);

// `arguments` without the program's name.
StartArguments parseStartArguments(std::span<const std::string> arguments,
                                   const std::string& version);

}  // namespace brisklet
