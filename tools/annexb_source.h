// Access units of an Annex B elementary-stream file, split by FFmpeg's parser.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "frame_source.h"

namespace recmux_tool {

// Whether text ends in suffix (lower case), in any case.
bool EndsWith(const std::string &text, const char *suffix);

// .h264/.264 or .hevc/.h265/.265, any case; nothing for other names.
std::optional<VideoCodec> CodecFromExtension(const std::string &path);

// Null (after saying why on stderr) when the file or the parser cannot be opened.
std::unique_ptr<FrameSource> OpenAnnexBFile(const std::string &path, VideoCodec codec);

}  // namespace recmux_tool
