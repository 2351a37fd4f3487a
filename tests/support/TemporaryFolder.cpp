#include "support/TemporaryFolder.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace brisklet::testing {

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brisklet-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder");
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void isolateHomeFolders() {
  static TemporaryFolder home;
  std::filesystem::create_directories(home / "data");
  std::filesystem::create_directories(home / "config");
  ::setenv("HOME", home.path().c_str(), 1);
  ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
}

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

void writeText(const std::filesystem::path& file, std::string_view content) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << content;
  if (!stream) throw std::runtime_error("cannot write " + file.string());
}

FileSizeLimit::FileSizeLimit(unsigned long bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  previousSoftLimit_ = limit.rlim_cur;
  previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = previousSoftLimit_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, previousHandler_);
}

}  // namespace brisklet::testing
