#include "export/encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>

#include "export/colour.h"
#include "export/faults.h"

struct VideoEncoder {
    AVFormatContext* format = nullptr;
    bool fileOpen = false;
    bool headerWritten = false;
    AVStream* videoStream = nullptr;
    AVCodecContext* video = nullptr;
    AVFrame* picture = nullptr;
    int64_t nextPicture = 0;
    AVStream* soundStream = nullptr;
    AVCodecContext* sound = nullptr;
    AVFrame* soundFrame = nullptr;  // samples gathered for the next AAC frame
    int soundFill = 0;              // sample frames in soundFrame so far
    int64_t nextSample = 0;         // pts of soundFrame's first sample
    AVPacket* packet = nullptr;
};

namespace {
// x264's speed against size: about as fast as drawing a frame on two cores, and the pictures
// (large flat areas, few moving parts) compress well even so.
constexpr const char* kVideoPreset = "superfast";
constexpr const char* kVideoQuality = "20";  // constant rate factor; lower is better
constexpr int64_t kSoundBitRate = 160000;

std::string avReason(const std::string& what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return what + ": " + text;
}

// An injected failure as FFmpeg would report it.
int injected() {
    return AVERROR(EIO);
}

// Moves every packet the encoder has ready into the file.
bool drainPackets(VideoEncoder* e, AVCodecContext* codec, AVStream* stream, std::string* error) {
    for (;;) {
        int status = avcodec_receive_packet(codec, e->packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return true;
        }
        if (status < 0) {
            *error = avReason("encoding failed", status);
            return false;
        }
        av_packet_rescale_ts(e->packet, codec->time_base, stream->time_base);
        e->packet->stream_index = stream->index;
        status = exportCallFails() ? injected() : av_interleaved_write_frame(e->format, e->packet);
        av_packet_unref(e->packet);
        if (status < 0) {
            *error = avReason("writing the video file failed", status);
            return false;
        }
    }
}

bool sendFrame(VideoEncoder* e, AVCodecContext* codec, AVStream* stream, AVFrame* frame,
               std::string* error) {
    int status = exportCallFails() ? injected() : avcodec_send_frame(codec, frame);
    if (status < 0) {
        *error = avReason("encoding failed", status);
        return false;
    }
    return drainPackets(e, codec, stream, error);
}

bool openVideo(VideoEncoder* e, const EncoderSettings& s, std::string* error) {
    const AVCodec* codec = exportCallFails() ? nullptr : avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        *error = "no H.264 encoder (libx264) is available in FFmpeg";
        return false;
    }
    if (exportCallFails() ||
        (e->videoStream = avformat_new_stream(e->format, nullptr)) == nullptr ||
        (e->video = avcodec_alloc_context3(codec)) == nullptr) {
        *error = "out of memory setting up the video encoder";
        return false;
    }
    AVCodecContext* c = e->video;
    c->width = s.width;
    c->height = s.height;
    c->time_base = AVRational{1, s.fps};
    c->framerate = AVRational{s.fps, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->gop_size = s.fps * 2;  // a key frame every two seconds keeps seeking quick
    if (e->format->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(c->priv_data, "preset", s.preset.empty() ? kVideoPreset : s.preset.c_str(), 0);
    av_opt_set(c->priv_data, "crf", kVideoQuality, 0);
    if (s.threads > 0) {
        c->thread_count = s.threads;
    }
    int status = exportCallFails() ? injected() : avcodec_open2(c, codec, nullptr);
    if (status < 0) {
        *error = avReason("the H.264 encoder would not start", status);
        return false;
    }
    e->videoStream->time_base = c->time_base;
    e->videoStream->avg_frame_rate = c->framerate;
    status = exportCallFails() ? injected()
                               : avcodec_parameters_from_context(e->videoStream->codecpar, c);
    if (status < 0) {
        *error = avReason("setting up the video stream failed", status);
        return false;
    }
    e->picture = av_frame_alloc();
    if (exportCallFails() || e->picture == nullptr) {
        *error = "out of memory for a video frame";
        return false;
    }
    e->picture->format = c->pix_fmt;
    e->picture->width = c->width;
    e->picture->height = c->height;
    status = exportCallFails() ? injected() : av_frame_get_buffer(e->picture, 0);
    if (status < 0) {
        *error = avReason("no memory for a video frame", status);
        return false;
    }
    return true;
}

bool openSound(VideoEncoder* e, const EncoderSettings& s, std::string* error) {
    const AVCodec* codec = exportCallFails() ? nullptr : avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        *error = "no AAC encoder is available in FFmpeg";
        return false;
    }
    if (exportCallFails() ||
        (e->soundStream = avformat_new_stream(e->format, nullptr)) == nullptr ||
        (e->sound = avcodec_alloc_context3(codec)) == nullptr) {
        *error = "out of memory setting up the sound encoder";
        return false;
    }
    AVCodecContext* c = e->sound;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = s.sampleRate;
    c->bit_rate = kSoundBitRate;
    c->time_base = AVRational{1, s.sampleRate};
    av_channel_layout_default(&c->ch_layout, 2);
    if (e->format->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int status = exportCallFails() ? injected() : avcodec_open2(c, codec, nullptr);
    if (status < 0) {
        *error = avReason("the AAC encoder would not start", status);
        return false;
    }
    e->soundStream->time_base = c->time_base;
    status = exportCallFails() ? injected()
                               : avcodec_parameters_from_context(e->soundStream->codecpar, c);
    if (status < 0) {
        *error = avReason("setting up the sound stream failed", status);
        return false;
    }
    e->soundFrame = av_frame_alloc();
    if (exportCallFails() || e->soundFrame == nullptr) {
        *error = "out of memory for a sound frame";
        return false;
    }
    e->soundFrame->format = c->sample_fmt;
    e->soundFrame->sample_rate = c->sample_rate;
    e->soundFrame->nb_samples = c->frame_size;
    av_channel_layout_copy(&e->soundFrame->ch_layout, &c->ch_layout);
    status = exportCallFails() ? injected() : av_frame_get_buffer(e->soundFrame, 0);
    if (status < 0) {
        *error = avReason("no memory for a sound frame", status);
        return false;
    }
    return true;
}

// Encodes the gathered samples (a full AAC frame, or the short last one).
bool flushSoundFrame(VideoEncoder* e, std::string* error) {
    if (e->soundFill == 0) {
        return true;
    }
    e->soundFrame->nb_samples = e->soundFill;
    e->soundFrame->pts = e->nextSample;
    e->nextSample += e->soundFill;
    e->soundFill = 0;
    bool sent = sendFrame(e, e->sound, e->soundStream, e->soundFrame, error);
    e->soundFrame->nb_samples = e->sound->frame_size;
    return sent;
}
}  // namespace

VideoEncoder* openEncoder(const EncoderSettings& s, std::string* error) {
    VideoEncoder* e = new VideoEncoder;
    av_log_set_level(AV_LOG_ERROR);
    int status = exportCallFails()
                     ? injected()
                     : avformat_alloc_output_context2(&e->format, nullptr, "mp4", s.path.c_str());
    if (status < 0 || e->format == nullptr) {
        *error = avReason("the MP4 writer would not start", status < 0 ? status : AVERROR(ENOMEM));
        closeEncoder(e);
        return nullptr;
    }
    e->packet = av_packet_alloc();
    if (e->packet == nullptr || !openVideo(e, s, error) ||
        (s.sampleRate > 0 && !openSound(e, s, error))) {
        if (e->packet == nullptr) {
            *error = "out of memory for a packet";
        }
        closeEncoder(e);
        return nullptr;
    }
    status = exportCallFails() ? AVERROR(EACCES)
                               : avio_open(&e->format->pb, s.path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        *error = avReason("cannot create the file", status);
        closeEncoder(e);
        return nullptr;
    }
    e->fileOpen = true;
    // The index goes to the front at the end, so the file plays while it downloads.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    status = exportCallFails() ? injected() : avformat_write_header(e->format, &options);
    av_dict_free(&options);
    if (status < 0) {
        *error = avReason("writing the video file failed", status);
        closeEncoder(e);
        return nullptr;
    }
    e->headerWritten = true;
    return e;
}

bool encodeFrame(VideoEncoder* e, const uint8_t* rgba, std::string* error, bool bottomUp) {
    int status = exportCallFails() ? injected() : av_frame_make_writable(e->picture);
    if (status < 0) {
        *error = avReason("no memory for a video frame", status);
        return false;
    }
    YuvPlanes planes;
    planes.y = e->picture->data[0];
    planes.u = e->picture->data[1];
    planes.v = e->picture->data[2];
    planes.yStride = e->picture->linesize[0];
    planes.uStride = e->picture->linesize[1];
    planes.vStride = e->picture->linesize[2];
    if (!rgbaToYuv420(rgba, e->video->width, e->video->height, bottomUp, planes)) {
        *error = "the colour converter refused a frame of " + std::to_string(e->video->width) +
                 "x" + std::to_string(e->video->height);
        return false;
    }
    e->picture->pts = e->nextPicture++;
    return sendFrame(e, e->video, e->videoStream, e->picture, error);
}

bool encodeSound(VideoEncoder* e, const float* stereo, size_t frames, std::string* error) {
    if (e->sound == nullptr) {
        return true;
    }
    size_t done = 0;
    while (done < frames) {
        if (e->soundFill == 0) {
            int status = exportCallFails() ? injected() : av_frame_make_writable(e->soundFrame);
            if (status < 0) {
                *error = avReason("no memory for a sound frame", status);
                return false;
            }
        }
        const size_t room = static_cast<size_t>(e->sound->frame_size - e->soundFill);
        const size_t take = std::min(room, frames - done);
        float* left = reinterpret_cast<float*>(e->soundFrame->data[0]) + e->soundFill;
        float* right = reinterpret_cast<float*>(e->soundFrame->data[1]) + e->soundFill;
        for (size_t i = 0; i < take; ++i) {
            left[i] = stereo[(done + i) * 2];
            right[i] = stereo[(done + i) * 2 + 1];
        }
        e->soundFill += static_cast<int>(take);
        done += take;
        if (e->soundFill == e->sound->frame_size && !flushSoundFrame(e, error)) {
            return false;
        }
    }
    return true;
}

bool finishEncoder(VideoEncoder* e, std::string* error) {
    if (!sendFrame(e, e->video, e->videoStream, nullptr, error)) {
        return false;
    }
    if (e->sound != nullptr &&
        (!flushSoundFrame(e, error) || !sendFrame(e, e->sound, e->soundStream, nullptr, error))) {
        return false;
    }
    int status = exportCallFails() ? injected() : av_write_trailer(e->format);
    e->headerWritten = false;
    if (status < 0) {
        *error = avReason("finishing the video file failed", status);
        return false;
    }
    e->fileOpen = false;
    status = exportCallFails() ? injected() : avio_closep(&e->format->pb);
    if (status < 0) {
        *error = avReason("closing the video file failed", status);
        return false;
    }
    return true;
}

void closeEncoder(VideoEncoder* e) {
    if (e == nullptr) {
        return;
    }
    if (e->format != nullptr && e->format->pb != nullptr) {
        avio_closep(&e->format->pb);
    }
    av_frame_free(&e->picture);
    av_frame_free(&e->soundFrame);
    avcodec_free_context(&e->video);
    avcodec_free_context(&e->sound);
    av_packet_free(&e->packet);
    avformat_free_context(e->format);
    delete e;
}
