#include "platform/Bookmark.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/FileNames.h"
#include "platform/Utf8.h"

namespace brisklet {
namespace {

constexpr int kBookmarkVersion = 1;

}  // namespace

ByteString makeBookmark(const std::filesystem::path& location,
                        const std::filesystem::path& movingTo) {
  const std::filesystem::path absolute = std::filesystem::absolute(location).lexically_normal();
  struct stat status {};
  if (::stat(absolute.c_str(), &status) != 0)
    throw BookmarkError("The file " + quotedFileName(absolute) +
                        " could not be opened: " + std::strerror(errno) + ".");
  const std::string path = movingTo.empty()
                               ? absolute.string()
                               : std::filesystem::absolute(movingTo).lexically_normal().string();
  nlohmann::json record = {
      {"version", kBookmarkVersion},
      {"path", path},
      {"device", static_cast<std::uint64_t>(status.st_dev)},
      {"inode", static_cast<std::uint64_t>(status.st_ino)},
  };
  // Linux names are bytes: one that is not UTF-8 ("caf\xFF.mp4") is kept exactly beside the
  // readable path, which JSON can hold only with the odd bytes replaced.
  if (!isValidUtf8(path)) record["pathBytes"] = encodeBase64(ByteString(path.begin(), path.end()));
  const std::string text = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return ByteString(text.begin(), text.end());
}

std::filesystem::path resolveBookmark(const ByteString& bookmark) {
  const nlohmann::json record = nlohmann::json::parse(bookmark.begin(), bookmark.end(), nullptr,
                                                      /*allow_exceptions=*/false);
  const bool wellFormed = record.is_object() && record.contains("version") &&
                          record["version"] == kBookmarkVersion && record.contains("path") &&
                          record["path"].is_string();
  if (!wellFormed) throw BookmarkError("The reference to the source file is damaged.");

  std::filesystem::path location = record["path"].get<std::string>();
  if (const auto bytes = record.find("pathBytes"); bytes != record.end() && bytes->is_string())
    if (const auto decoded = decodeBase64(bytes->get<std::string>()))
      location = std::string(decoded->begin(), decoded->end());
  if (!location.is_absolute()) throw BookmarkError("The reference to the source file is damaged.");
  struct stat status {};
  if (::stat(location.c_str(), &status) != 0)
    throw BookmarkError("The file " + quotedFileName(location) + " could not be found at " +
                        location.parent_path().string() + ". It may have been moved or deleted.");
  return location;
}

}  // namespace brisklet
