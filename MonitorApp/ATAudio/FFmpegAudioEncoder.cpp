extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "MonitorApp/ATAudio/AudioFileEncoder.h"
#include "MonitorApp/ATAudio/FFmpegLibrary.h"

namespace quenbril {

namespace {

/// Bits per sample of each channel. FFmpeg's encoder keeps a sine 60 dB above its noise with
/// this at 44.1, 48 and 96 kHz, mono or stereo; at 2.5 bits some of those fall below 40 dB.
constexpr int64_t kBitsPerSample = 4;

bool takesRate(const AVCodec* encoder, int rate) {
    if (!encoder->supported_samplerates) return true;
    for (const int* r = encoder->supported_samplerates; *r; ++r) {
        if (*r == rate) return true;
    }
    return false;
}

/// The layout `channels` channels are recorded in: one without a low-frequency channel, which
/// the encoder would cut to its low band. Channel c of the recording stays channel c of the file
/// (the layouts are in their native order, as the reader gives them back). From six channels on
/// the file describes its layout itself. False past eight channels, which the encoder has no
/// layout for.
bool layoutFor(uint32_t channels, AVChannelLayout* layout) {
    static constexpr uint64_t masks[] = {
        AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
        AV_CH_LAYOUT_4POINT0, AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_HEXAGONAL,
        AV_CH_LAYOUT_7POINT0, AV_CH_LAYOUT_OCTAGONAL,
    };
    if (channels < 1 || channels > std::size(masks)) return false;
    return av_channel_layout_from_mask(layout, masks[channels - 1]) == 0;
}

/// AAC in an M4A file ("ipod", the MP4 brand for audio), by FFmpeg's native encoder. Frames
/// are gathered into the encoder's frame size; the muxer writes the encoder's priming as an
/// edit, so readers get exactly the frames written.
class AACFileEncoder final : public AudioFileEncoder {
  public:
    AACFileEncoder() = default;
    ~AACFileEncoder() override;
    AACFileEncoder(const AACFileEncoder&) = delete;
    AACFileEncoder& operator=(const AACFileEncoder&) = delete;

    bool open(const std::string& path, uint32_t channels, double sampleRate, std::string* reason);
    bool write(const float* interleaved, uint32_t frames, std::string* reason) override;
    bool finish(std::string* reason) override;

  private:
    /// Makes the file and writes its header; `empty` for a file that gets no packets.
    bool startFile(bool empty, std::string* reason);
    bool encode(bool last, std::string* reason);
    bool writePackets(std::string* reason);

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::string path_;
    uint32_t channels_ = 0;
    int64_t packetsWritten_ = 0;
    int filled_ = 0;
    int64_t nextTimestamp_ = 0;
    bool finished_ = false;
};

AACFileEncoder::~AACFileEncoder() {
    // Unfinished, the file lacks its index; the recorder throws it away.
    if (format_ && format_->pb) avio_closep(&format_->pb);
    avformat_free_context(format_);
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

bool AACFileEncoder::open(const std::string& path, uint32_t channels, double sampleRate,
                          std::string* reason) {
    quietFFmpegLog();
    const AVCodec* encoder = avcodec_find_encoder_by_name("aac");
    if (!encoder) {
        *reason = "this FFmpeg has no AAC encoder";
        return false;
    }
    const bool whole =
        sampleRate >= 1.0 && sampleRate <= 1e6 && std::floor(sampleRate) == sampleRate;
    const int rate = whole ? static_cast<int>(sampleRate) : 0;
    if (!whole || !takesRate(encoder, rate)) {
        char text[96];
        std::snprintf(text, sizeof text, "AAC cannot be recorded at %g Hz", sampleRate);
        *reason = text;
        return false;
    }
    AVChannelLayout layout{};
    if (!layoutFor(channels, &layout)) {
        *reason = "AAC cannot be recorded with " + std::to_string(channels) + " channels";
        return false;
    }
    const AVOutputFormat* container = av_guess_format("ipod", nullptr, nullptr);
    if (!container) {
        av_channel_layout_uninit(&layout);
        *reason = "this FFmpeg cannot write M4A files";
        return false;
    }
    path_ = path;
    channels_ = channels;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    codec_ = avcodec_alloc_context3(encoder);
    if (!frame_ || !packet_ || !codec_) {
        av_channel_layout_uninit(&layout);
        *reason = ffmpegErrorText(AVERROR(ENOMEM));
        return false;
    }
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->sample_rate = rate;
    av_channel_layout_copy(&codec_->ch_layout, &layout);
    av_channel_layout_uninit(&layout);
    codec_->bit_rate = kBitsPerSample * rate * channels;
    codec_->time_base = AVRational{1, rate};
    codec_->thread_count = 1;
    if (container->flags & AVFMT_GLOBALHEADER) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(codec_, encoder, nullptr);
    if (result < 0) {
        *reason = "the AAC encoder refused: " + ffmpegErrorText(result);
        return false;
    }
    if (!startFile(false, reason)) return false;
    frame_->nb_samples = codec_->frame_size;
    frame_->format = codec_->sample_fmt;
    frame_->sample_rate = rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0 ||
        (result = av_frame_get_buffer(frame_, 0)) < 0) {
        *reason = ffmpegErrorText(result < 0 ? result : AVERROR(ENOMEM));
        return false;
    }
    return true;
}

bool AACFileEncoder::startFile(bool empty, std::string* reason) {
    int result = avformat_alloc_output_context2(&format_, nullptr, "ipod", path_.c_str());
    if (result < 0) {
        *reason = ffmpegErrorText(result);
        return false;
    }
    stream_ = avformat_new_stream(format_, nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, codec_) < 0) {
        *reason = ffmpegErrorText(AVERROR(ENOMEM));
        return false;
    }
    stream_->time_base = codec_->time_base;
    const std::string url = "file:" + path_;
    // The edit that hides the encoder's priming is timed in the movie's time scale: at the
    // sample rate it keeps every frame.
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", codec_->sample_rate, 0);
    // The muxer leaves a track without samples out of the index it writes at the end; an index
    // written first, as a fragmented file begins, holds it.
    if (empty) av_dict_set(&options, "movflags", "empty_moov", 0);
    if ((result = avio_open(&format_->pb, url.c_str(), AVIO_FLAG_WRITE)) >= 0)
        result = avformat_write_header(format_, &options);
    av_dict_free(&options);
    if (result < 0) {
        *reason = ffmpegErrorText(result);
        return false;
    }
    return true;
}

bool AACFileEncoder::write(const float* interleaved, uint32_t frames, std::string* reason) {
    if (finished_) return false;
    while (frames > 0) {
        // The encoder may still hold the frame's buffers from the last send.
        if (filled_ == 0 && av_frame_make_writable(frame_) < 0) {
            *reason = ffmpegErrorText(AVERROR(ENOMEM));
            return false;
        }
        const auto count =
            static_cast<uint32_t>(std::min<int64_t>(frames, codec_->frame_size - filled_));
        for (uint32_t c = 0; c < channels_; ++c) {
            float* channel = reinterpret_cast<float*>(frame_->extended_data[c]) + filled_;
            for (uint32_t i = 0; i < count; ++i) channel[i] = interleaved[i * channels_ + c];
        }
        filled_ += static_cast<int>(count);
        interleaved += size_t{count} * channels_;
        frames -= count;
        if (filled_ == codec_->frame_size && !encode(false, reason)) return false;
    }
    return true;
}

bool AACFileEncoder::encode(bool last, std::string* reason) {
    int result = 0;
    if (filled_ > 0) {
        // The encoder takes a short last frame.
        frame_->nb_samples = filled_;
        frame_->pts = nextTimestamp_;
        nextTimestamp_ += filled_;
        filled_ = 0;
        result = avcodec_send_frame(codec_, frame_);
        frame_->nb_samples = codec_->frame_size;
    }
    if (result >= 0 && last) result = avcodec_send_frame(codec_, nullptr);
    if (result < 0) {
        *reason = ffmpegErrorText(result);
        return false;
    }
    return writePackets(reason);
}

bool AACFileEncoder::writePackets(std::string* reason) {
    for (;;) {
        int result = avcodec_receive_packet(codec_, packet_);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result >= 0) {
            av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            result = av_interleaved_write_frame(format_, packet_);
            if (result >= 0) ++packetsWritten_;
        }
        if (result < 0) {
            *reason = ffmpegErrorText(result);
            return false;
        }
    }
}

bool AACFileEncoder::finish(std::string* reason) {
    if (finished_) return true;
    finished_ = true;
    bool done = encode(true, reason);
    if (done && packetsWritten_ == 0) {
        // Not a frame: the file is made again as an audio track without samples.
        avio_closep(&format_->pb);
        avformat_free_context(format_);
        format_ = nullptr;
        if (!startFile(true, reason)) {
            *reason = "an empty M4A file could not be written: " + *reason;
            done = false;
        }
    }
    if (done) {
        const int result = av_write_trailer(format_);
        if (result < 0) {
            *reason = ffmpegErrorText(result);
            done = false;
        }
    }
    if (format_ && avio_closep(&format_->pb) < 0 && done) {
        *reason = "the file could not be completed";
        done = false;
    }
    return done;
}

}  // namespace

std::unique_ptr<AudioFileEncoder> openAACFileEncoder(const std::string& path, uint32_t channels,
                                                     double sampleRate, std::string* reason) {
    auto encoder = std::make_unique<AACFileEncoder>();
    if (!encoder->open(path, channels, sampleRate, reason)) return nullptr;
    return encoder;
}

}  // namespace quenbril
