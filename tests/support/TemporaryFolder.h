#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brisklet::testing {

// A fresh folder below the system's temporary folder, removed with everything in it at the end
// of the scope.
class TemporaryFolder {
 public:
  TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }

 private:
  std::filesystem::path path_;
};

// Points HOME, XDG_DATA_HOME and XDG_CONFIG_HOME at a private folder for the whole test
// process, so no test can touch the real home of whoever runs it. Called by the test mains.
void isolateHomeFolders();

// The names of the entries of `folder`, in listing order.
std::vector<std::string> entriesOf(const std::filesystem::path& folder);

// Writes `content` to `file`, creating its folder.
void writeText(const std::filesystem::path& file, std::string_view content);

}  // namespace brisklet::testing

namespace brisklet::testing {

// Makes every write past `bytes` in a file fail with EFBIG for one scope, as a full disk would,
// without needing one. SIGXFSZ is ignored meanwhile so the process survives the write.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long bytes);
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit();

 private:
  unsigned long previousSoftLimit_;
  void (*previousHandler_)(int);
};

}  // namespace brisklet::testing
