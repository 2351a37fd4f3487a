#include "support/ReadOnlyFolder.h"

#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace brisklet::testing {
namespace {

void setWritable(const std::filesystem::path& folder, bool writable) {
  const auto change = [&](const std::filesystem::path& each) {
    std::filesystem::permissions(each, std::filesystem::perms::owner_write,
                                 writable ? std::filesystem::perm_options::add
                                          : std::filesystem::perm_options::remove);
  };
  change(folder);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_directory()) change(entry.path());
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
  if (::geteuid() != 0) {
    setWritable(folder_, false);
    works_ = true;
    return;
  }
  if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
  mounted_ = true;
  works_ = ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                   nullptr) == 0;
}

ReadOnlyFolder::~ReadOnlyFolder() {
  if (mounted_)
    ::umount2(folder_.c_str(), MNT_DETACH);
  else if (works_)
    setWritable(folder_, true);
}

SmallDisk::SmallDisk(std::filesystem::path folder, int kilobytes) : folder_(std::move(folder)) {
  if (::geteuid() != 0) return;
  std::filesystem::create_directories(folder_);
  const std::string options = "size=" + std::to_string(kilobytes) + "k";
  mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace brisklet::testing
