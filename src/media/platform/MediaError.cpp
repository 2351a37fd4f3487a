#include "media/platform/MediaError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace brisklet {

std::string describeAVError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) != 0) return "unknown media error";
  return text;
}

}  // namespace brisklet
