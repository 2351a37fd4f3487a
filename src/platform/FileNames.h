#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brisklet {

// True when `name` can only name an entry directly inside a folder: not empty, not "." or "..",
// no path separator and no NUL. File names read from records are untrusted; one that fails this
// test is treated as absent so a record can never point outside its project folder.
bool isPlainFileName(std::string_view name);

// "“name.mp4”": a file's name in curly quotes, for sentences about it.
std::string quotedFileName(const std::filesystem::path& file);

// The extension of `file` in lower case, with its dot (".mp3"); empty when it has none.
std::string lowercaseExtension(const std::filesystem::path& file);

}  // namespace brisklet
