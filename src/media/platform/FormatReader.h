#pragma once

#include <filesystem>

#include "media/platform/FFmpegHandles.h"

namespace brisklet::ffmpeg {

// Opens `file` for demuxing and reads its stream parameters. Throws MediaError with a sentence
// naming the file.
FormatContext openFormat(const std::filesystem::path& file);

// A decoder for stream `streamIndex`, using FFmpeg's own threads. Throws MediaError.
CodecContext openDecoder(AVFormatContext& format, int streamIndex, const std::filesystem::path& file);

}  // namespace brisklet::ffmpeg
