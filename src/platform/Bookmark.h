#pragma once

#include <filesystem>
#include <stdexcept>

#include "platform/Base64.h"

namespace brisklet {

// Why a bookmark could not be made or resolved; what() is a sentence naming the file.
class BookmarkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bookmark is an opaque reference to a file or folder the user chose, kept in records across
// launches. Its bytes are a small versioned JSON record of the absolute path and the device and
// inode the path had when it was made; callers never look inside.
//
// Throws BookmarkError when `location` does not exist. `movingTo`, when given, is where the file
// is about to be renamed to (keeping its inode): the bookmark names that place.
ByteString makeBookmark(const std::filesystem::path& location,
                        const std::filesystem::path& movingTo = {});

// The location a bookmark refers to. Throws BookmarkError when the bytes are not a bookmark or
// the file is gone. A file replaced in place (same path, new inode, as editors save) still
// resolves: the path is what the user chose.
std::filesystem::path resolveBookmark(const ByteString& bookmark);

}  // namespace brisklet
