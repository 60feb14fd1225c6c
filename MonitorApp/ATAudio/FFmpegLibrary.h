#pragma once

#include <string>

namespace quenbril {

/// FFmpeg's own text for one of its error codes.
std::string ffmpegErrorText(int code);

/// Quietens FFmpeg's log for the whole process, once. The reader and the recorder report their
/// failures with FFmpeg's reasons; its running commentary on damaged input would only flood the
/// log.
void quietFFmpegLog();

}  // namespace quenbril
