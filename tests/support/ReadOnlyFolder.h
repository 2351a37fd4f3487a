#pragma once

#include <filesystem>

namespace brisklet::testing {

// Makes `folder` and everything below it read-only for one scope, as a read-only data folder
// would be, for root too: as root, a read-only bind mount of the folder over itself; otherwise
// its folders lose their write permission. works() tells whether it could be done here (root
// without the right to mount cannot); tests skip when it could not.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(std::filesystem::path folder);
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  ~ReadOnlyFolder();

  bool works() const { return works_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  bool works_ = false;
};

// A file system of `kilobytes` mounted at `folder` for one scope, so writes there run out of
// space with ENOSPC as on a full disk. Needs root (tests skip otherwise: works() is false).
class SmallDisk {
 public:
  SmallDisk(std::filesystem::path folder, int kilobytes);
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  ~SmallDisk();

  bool works() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

}  // namespace brisklet::testing
