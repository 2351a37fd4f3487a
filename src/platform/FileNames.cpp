#include "platform/FileNames.h"

#include <algorithm>
#include <cctype>

namespace brisklet {

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // A backslash is legal on Linux but never in a name we write; refusing it keeps records
  // written elsewhere from smuggling in a path.
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string quotedFileName(const std::filesystem::path& file) {
  return "\u201C" + file.filename().string() + "\u201D";
}

std::string lowercaseExtension(const std::filesystem::path& file) {
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char letter) { return static_cast<char>(std::tolower(letter)); });
  return extension;
}

}  // namespace brisklet
