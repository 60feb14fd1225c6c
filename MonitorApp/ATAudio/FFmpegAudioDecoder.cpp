extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "MonitorApp/ATAudio/AudioFileDecoder.h"
#include "MonitorApp/ATAudio/FFmpegLibrary.h"

namespace quenbril {

namespace {

// Bounds on what a file may claim: a damaged header must not turn into arithmetic overflow or
// an allocation of its choosing. 2^40 frames is months of audio at any usual rate.
constexpr int64_t kMaxFrames = int64_t{1} << 40;
constexpr int kMaxChannels = 64;
constexpr int kMaxSampleRate = 1 << 20;
constexpr int kMaxFrameSize = 1 << 16;
// Decoding errors in a row after which the rest of the stream is taken as unreadable.
constexpr int kMaxErrorsInARow = 64;

struct FormatCloser {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct CodecFreer {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ResamplerFreer {
    void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};

std::string metadataName(const std::string& key) {
    static const std::map<std::string, std::string> names{
        {"comment", "comments"}, {"date", "year"}, {"track", "track number"}};
    const auto found = names.find(key);
    return found == names.end() ? key : found->second;
}

/// Reads the first audio stream of an AAC, MP4 or M4A file. The decoder's output goes through
/// libswresample to interleaved float32 at the rate and channel count the file announced.
/// Positions come from the stream's timestamps, so a seek lands on its frame exactly: the
/// demuxer goes back to a packet early enough for the decoder to settle, and what is decoded
/// before the frame is dropped.
class FFmpegAudioDecoder final : public AudioFileDecoder {
  public:
    FFmpegAudioDecoder() = default;
    ~FFmpegAudioDecoder() override { av_channel_layout_uninit(&resamplerInput_); }
    FFmpegAudioDecoder(const FFmpegAudioDecoder&) = delete;
    FFmpegAudioDecoder& operator=(const FFmpegAudioDecoder&) = delete;

    bool open(const std::string& path, const std::string& typeName, std::string* reason);
    uint32_t read(float* interleaved, uint32_t frames) override;
    bool seek(int64_t frame) override;

  private:
    int64_t framesOf(int64_t timestamp) const;
    int64_t timestampOf(int64_t frame) const;
    int64_t countFrames();
    bool decodeFrame();
    bool convertFrame();
    bool prepareResampler();

    std::unique_ptr<AVFormatContext, FormatCloser> format_;
    std::unique_ptr<AVCodecContext, CodecFreer> codec_;
    std::unique_ptr<AVPacket, PacketFreer> packet_{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame_{av_frame_alloc()};
    std::unique_ptr<SwrContext, ResamplerFreer> resampler_;
    AVChannelLayout resamplerInput_{};
    int resamplerFormat_ = -1;
    int resamplerRate_ = 0;

    int stream_ = -1;
    AVRational timeBase_{0, 1};
    int64_t startTimestamp_ = 0;
    /// Frames decoded and dropped before a seek's frame, so that the decoder has settled.
    int64_t preroll_ = 0;
    bool inputEnded_ = false;

    /// The frame the next read hands out.
    int64_t position_ = 0;
    /// Whether the frame of the decoder's next output is known, and which it is.
    bool located_ = false;
    int64_t nextDecoded_ = 0;
    /// The last decoded block, from frame `pendingStart_`, handed out from `pendingOffset_`.
    std::vector<float> pending_;
    int64_t pendingStart_ = 0;
    uint32_t pendingFrames_ = 0;
    uint32_t pendingOffset_ = 0;
};

bool FFmpegAudioDecoder::open(const std::string& path, const std::string& typeName,
                              std::string* reason) {
    quietFFmpegLog();
    const std::string cannot = "the " + typeName + " file cannot be read: ";
    if (!packet_ || !frame_) {
        *reason = cannot + ffmpegErrorText(AVERROR(ENOMEM));
        return false;
    }
    // The demuxer is chosen by the content already recognised, and only local files are
    // opened: a crafted file cannot lead FFmpeg to another demuxer or to the network.
    const AVInputFormat* input = av_find_input_format(typeName == "AAC" ? "aac" : "mov");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", "aac,mov", 0);
    AVFormatContext* format = nullptr;
    const std::string url = "file:" + path;
    int result = avformat_open_input(&format, url.c_str(), input, &options);
    av_dict_free(&options);
    if (result < 0) {
        *reason = cannot + ffmpegErrorText(result);
        return false;
    }
    format_.reset(format);
    if ((result = avformat_find_stream_info(format, nullptr)) < 0) {
        *reason = cannot + ffmpegErrorText(result);
        return false;
    }
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) {
        *reason = cannot + (stream_ < 0 ? "it holds no audio" : "no decoder for its audio");
        return false;
    }
    const AVStream* stream = format->streams[stream_];
    const AVCodecParameters* parameters = stream->codecpar;
    const int channels = parameters->ch_layout.nb_channels;
    const int rate = parameters->sample_rate;
    if (channels < 1 || channels > kMaxChannels || rate < 1 || rate > kMaxSampleRate ||
        stream->time_base.num <= 0 || stream->time_base.den <= 0) {
        *reason = cannot + "its audio has no usable channel count, rate or time base";
        return false;
    }
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), parameters) < 0) {
        *reason = cannot + ffmpegErrorText(AVERROR(ENOMEM));
        return false;
    }
    codec_->pkt_timebase = stream->time_base;
    codec_->thread_count = 1;
    if ((result = avcodec_open2(codec_.get(), decoder, nullptr)) < 0) {
        *reason = cannot + ffmpegErrorText(result);
        return false;
    }
    channels_ = static_cast<uint32_t>(channels);
    sampleRate_ = rate;
    timeBase_ = stream->time_base;
    startTimestamp_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int frameSize =
        parameters->frame_size > 0 ? std::min(parameters->frame_size, kMaxFrameSize) : 1024;
    preroll_ = 2 * int64_t{frameSize} + std::clamp(parameters->seek_preroll, 0, kMaxFrameSize);
    fileFormat_.mSampleRate = rate;
    if (parameters->codec_id == AV_CODEC_ID_AAC) {
        fileFormat_ = ATAudioUtilities::M4AFormatWithNumberOfChannels(channels_, rate);
    } else {
        ATAudioUtilities::setCanonicalAudioStreamBasicDescription(&fileFormat_, channels_, true);
    }
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(format->metadata, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        const std::string key = tag->key;
        // The file type's box, which FFmpeg lists among the tags, says nothing of the audio.
        if (key == "major_brand" || key == "minor_version" || key == "compatible_brands") continue;
        metadata_[metadataName(key)] = tag->value;
    }

    // A container that states its length is believed; a bare AAC stream states none (FFmpeg
    // would guess from the bit rate), so its packets are counted.
    if (format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE &&
        stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        totalFrames_ = std::clamp<int64_t>(framesOf(stream->duration), 0, kMaxFrames);
    } else {
        totalFrames_ = countFrames();
    }
    if (!seek(0)) {
        *reason = cannot + "it cannot be read from its start";
        return false;
    }
    // Audio that claims frames must give some: random bytes behind a valid header are refused
    // here, not met as silence later.
    if (totalFrames_ > 0 && !decodeFrame()) {
        *reason = cannot + "none of its audio can be decoded";
        return false;
    }
    return true;
}

int64_t FFmpegAudioDecoder::framesOf(int64_t timestamp) const {
    return av_rescale_q(timestamp, timeBase_, AVRational{1, static_cast<int>(sampleRate_)});
}

int64_t FFmpegAudioDecoder::timestampOf(int64_t frame) const {
    return av_rescale_q(frame, AVRational{1, static_cast<int>(sampleRate_)}, timeBase_);
}

int64_t FFmpegAudioDecoder::countFrames() {
    int64_t total = 0;
    while (total < kMaxFrames && av_read_frame(format_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index == stream_) {
            int64_t frames = packet_->duration > 0 ? framesOf(packet_->duration) : 0;
            size_t size = 0;
            // Priming and padding the encoder marked are not part of the audio.
            if (const uint8_t* skip =
                    av_packet_get_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
                skip && size >= 8) {
                frames -= int64_t{AV_RL32(skip)} + int64_t{AV_RL32(skip + 4)};
            }
            total += std::clamp<int64_t>(frames, 0, kMaxFrames);
        }
        av_packet_unref(packet_.get());
    }
    return std::min(total, kMaxFrames);
}

bool FFmpegAudioDecoder::seek(int64_t frame) {
    position_ = std::clamp<int64_t>(frame, 0, totalFrames_);
    pendingFrames_ = pendingOffset_ = 0;
    located_ = false;
    inputEnded_ = false;
    // A track without samples has nothing to seek in, and nothing to read.
    if (totalFrames_ == 0) return true;
    // Early enough that the frames before `frame` settle the decoder; a stream's first packet
    // may carry priming at a negative time, which this reaches too.
    const int64_t target = startTimestamp_ + timestampOf(position_ - preroll_);
    int result = avformat_seek_file(format_.get(), stream_, INT64_MIN, target, target, 0);
    if (result < 0)
        result = avformat_seek_file(format_.get(), stream_, INT64_MIN, INT64_MIN, target, 0);
    avcodec_flush_buffers(codec_.get());
    // The resampler keeps nothing worth having across a jump.
    resampler_.reset();
    return result >= 0;
}

uint32_t FFmpegAudioDecoder::read(float* interleaved, uint32_t frames) {
    readFailure_.clear();
    frames = static_cast<uint32_t>(std::clamp<int64_t>(totalFrames_ - position_, 0, frames));
    uint32_t done = 0;
    while (done < frames) {
        if (pendingOffset_ == pendingFrames_ && !decodeFrame()) break;
        // Frames before the position are what a seek decodes to settle the decoder.
        if (pendingStart_ + pendingOffset_ < position_) {
            pendingOffset_ =
                static_cast<uint32_t>(std::min<int64_t>(position_ - pendingStart_, pendingFrames_));
            continue;
        }
        const uint32_t count = std::min(frames - done, pendingFrames_ - pendingOffset_);
        std::copy_n(pending_.data() + size_t{pendingOffset_} * channels_, size_t{count} * channels_,
                    interleaved + size_t{done} * channels_);
        pendingOffset_ += count;
        done += count;
        position_ += count;
    }
    return done;
}

bool FFmpegAudioDecoder::decodeFrame() {
    int errorsInARow = 0;
    const auto undecodable = [this](int code) {
        readFailure_ = "the audio cannot be decoded past frame " + std::to_string(position_) +
                       ": " + ffmpegErrorText(code);
        return false;
    };
    for (;;) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received == 0) {
            errorsInARow = 0;
            const bool converted = convertFrame();
            av_frame_unref(frame_.get());
            if (converted) return true;
            if (!readFailure_.empty()) return false;
            continue;
        }
        if (received == AVERROR_EOF) return false;
        if (received != AVERROR(EAGAIN)) {
            // A damaged packet: the decoder dropped it; the next one may be whole.
            if (++errorsInARow > kMaxErrorsInARow) return undecodable(received);
            continue;
        }
        if (inputEnded_) return false;
        // Any failure of the demuxer is taken as the end of the stream: a bare stream cut
        // within a packet's header ends on an I/O error, with all its whole packets read.
        if (av_read_frame(format_.get(), packet_.get()) < 0) {
            inputEnded_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == stream_) {
            if (const int sent = avcodec_send_packet(codec_.get(), packet_.get());
                sent < 0 && ++errorsInARow > kMaxErrorsInARow) {
                av_packet_unref(packet_.get());
                return undecodable(sent);
            }
        }
        av_packet_unref(packet_.get());
    }
}

bool FFmpegAudioDecoder::convertFrame() {
    if (frame_->nb_samples <= 0) return false;
    if (!prepareResampler()) {
        readFailure_ = "a block of " + std::to_string(frame_->ch_layout.nb_channels) +
                       " channels at " + std::to_string(frame_->sample_rate) +
                       " Hz cannot be converted to the " + std::to_string(channels_) +
                       " channels at " + std::to_string(static_cast<int>(sampleRate_)) +
                       " Hz the file announced";
        return false;
    }
    const int capacity = swr_get_out_samples(resampler_.get(), frame_->nb_samples);
    if (capacity <= 0) return false;
    if (pending_.size() < size_t(capacity) * channels_)
        pending_.resize(size_t(capacity) * channels_);
    uint8_t* out[] = {reinterpret_cast<uint8_t*>(pending_.data())};
    const int converted =
        swr_convert(resampler_.get(), out, capacity,
                    const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
    if (converted <= 0) return false;
    // After a seek the first block's timestamp says where decoding resumed; from there on the
    // blocks follow each other.
    if (!located_) {
        const int64_t timestamp = frame_->best_effort_timestamp;
        int64_t start = position_;
        if (timestamp != AV_NOPTS_VALUE && timestamp > INT64_MIN / 2 && timestamp < INT64_MAX / 2) {
            start =
                std::clamp<int64_t>(framesOf(timestamp - startTimestamp_), -kMaxFrames, kMaxFrames);
        }
        // A block that starts after the position (a hole in a damaged stream, or a seek that
        // could not go back far enough) is taken as the position.
        nextDecoded_ = std::min(start, position_);
        located_ = true;
    }
    pendingStart_ = nextDecoded_;
    pendingFrames_ = static_cast<uint32_t>(converted);
    pendingOffset_ = 0;
    nextDecoded_ += converted;
    return true;
}

bool FFmpegAudioDecoder::prepareResampler() {
    const int rate = frame_->sample_rate > 0 ? frame_->sample_rate : static_cast<int>(sampleRate_);
    if (resampler_ && frame_->format == resamplerFormat_ && rate == resamplerRate_ &&
        av_channel_layout_compare(&frame_->ch_layout, &resamplerInput_) == 0) {
        return true;
    }
    resampler_.reset();
    av_channel_layout_uninit(&resamplerInput_);
    const int channels = frame_->ch_layout.nb_channels;
    if (channels < 1 || channels > kMaxChannels ||
        av_channel_layout_copy(&resamplerInput_, &frame_->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout in{}, out{};
    // The same layout out as in when the counts agree: samples change type, never place.
    if (frame_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&in, channels);
    } else {
        av_channel_layout_copy(&in, &frame_->ch_layout);
    }
    if (channels == static_cast<int>(channels_)) {
        av_channel_layout_copy(&out, &in);
    } else {
        av_channel_layout_default(&out, static_cast<int>(channels_));
    }
    SwrContext* resampler = nullptr;
    const int result =
        swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_FLT, static_cast<int>(sampleRate_), &in,
                            static_cast<AVSampleFormat>(frame_->format), rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    resampler_.reset(resampler);
    if (result < 0 || swr_init(resampler) < 0) {
        resampler_.reset();
        return false;
    }
    resamplerFormat_ = frame_->format;
    resamplerRate_ = rate;
    return true;
}

}  // namespace

std::unique_ptr<AudioFileDecoder> openFFmpegAudioDecoder(const std::string& path,
                                                         const std::string& typeName,
                                                         std::string* reason) {
    auto decoder = std::make_unique<FFmpegAudioDecoder>();
    if (!decoder->open(path, typeName, reason)) return nullptr;
    return decoder;
}

}  // namespace quenbril
