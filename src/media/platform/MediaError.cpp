#include "media/platform/MediaError.h"

extern "C" {
#include <libavutil/error.h>
}

#include "platform/FileNames.h"

namespace brisklet {

MediaError writeError(const std::filesystem::path& file, const std::string& reason) {
  return MediaError("Brisklet could not write " + quotedFileName(file) + ": " + reason + ".");
}

MediaError readError(const std::filesystem::path& file, const std::string& reason) {
  return MediaError("The file " + quotedFileName(file) + " could not be read: " + reason + ".",
                    reason);
}

std::string describeAVError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) != 0) return "unknown media error";
  return text;
}

}  // namespace brisklet
