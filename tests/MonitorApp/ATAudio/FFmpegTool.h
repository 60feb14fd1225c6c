#pragma once

// The ffmpeg and ffprobe programs as an independent maker and judge of AAC, MP4 and M4A files.

#include <stdio.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace quenbril::test {

/// Whether both programs run here; tests of the MPEG-4 files skip without them.
inline bool ffmpegToolsAvailable() {
    static const bool available =
        std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0;
    return available;
}

inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

/// Encodes `expression` (an aevalsrc expression of t, channels separated by '|') as AAC for
/// `seconds` at `rate` into `path`, whose extension picks the container: ".aac" ADTS, ".mp4"
/// MP4, ".m4a" M4A. `extra` goes before the output (tags, for instance). True on success.
inline bool encodeWithFFmpeg(const std::string& path, const std::string& expression, int rate,
                             double seconds, const std::string& extra = "") {
    const std::string command = "ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + expression +
                                ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
                                "' -c:a aac " + extra + " '" + path + "' 2>&1";
    return commandOutput(command).empty() && std::system(("test -s '" + path + "'").c_str()) == 0;
}

/// What ffprobe says of the first audio stream and the container, as "key" -> "value": the
/// stream's codec_name, sample_rate, channels, channel_layout, duration and nb_read_packets
/// (counted), and the container's format_name.
inline std::map<std::string, std::string> probeWithFFprobe(const std::string& path) {
    const std::string output = commandOutput(
        "ffprobe -v error -select_streams a:0 -count_packets -show_entries "
        "stream=codec_name,sample_rate,channels,channel_layout,duration,nb_read_packets:"
        "format=format_name "
        "-of default=noprint_wrappers=1 '" +
        path + "'");
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

}  // namespace quenbril::test
