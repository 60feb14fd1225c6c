#include "MonitorApp/ATAudio/AudioFileDecoder.h"

#include <cstring>
#include <fstream>

namespace quenbril {

namespace {

bool isADTSSync(const unsigned char* bytes) {
    // The MPEG sync word with layer bits 00, which MP3 never uses.
    return bytes[0] == 0xFF && (bytes[1] & 0xF6) == 0xF0;
}

/// The MPEG-4 family is recognised by its content, whatever the file's name: libsndfile reads
/// none of it, and would take an AAC stream behind an ID3 tag for MP3.
std::string mpeg4TypeByContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = in.gcount();
    if (got >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0) {
        if (std::memcmp(head + 8, "M4A ", 4) == 0 || std::memcmp(head + 8, "M4B ", 4) == 0)
            return "M4A";
        return "MP4";
    }
    if (got >= 4 && std::memcmp(head, "ADIF", 4) == 0) return "AAC";
    if (got >= 2 && isADTSSync(head)) return "AAC";
    if (got >= 10 && std::memcmp(head, "ID3", 3) == 0) {
        // The tag's size is four 7-bit bytes; the audio follows it.
        const std::streamoff size = (std::streamoff{head[6] & 0x7F} << 21) |
                                    ((head[7] & 0x7F) << 14) | ((head[8] & 0x7F) << 7) |
                                    (head[9] & 0x7F);
        unsigned char sync[2] = {};
        in.clear();
        in.seekg(10 + size);
        in.read(reinterpret_cast<char*>(sync), sizeof sync);
        if (in.gcount() == 2 && isADTSSync(sync)) return "AAC";
    }
    return {};
}

}  // namespace

std::unique_ptr<AudioFileDecoder> openAudioFileDecoder(const std::string& path,
                                                       std::string* reason) {
    if (const std::string type = mpeg4TypeByContent(path); !type.empty())
        return openFFmpegAudioDecoder(path, type, reason);
    return openSndFileDecoder(path, reason);
}

}  // namespace quenbril
