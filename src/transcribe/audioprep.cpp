#include "transcribe/audioprep.h"

#include "base/errors.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// The last stretch of a piece in which its cut is sought, and the short window
// whose loudness is compared; in frames of 36 ms.
constexpr double kCutStretchSeconds = 30;
constexpr double kCutStretchShare = 0.2;
constexpr int kQuietWindowFrames = 5;

QString avMessage(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

AppError unreadable(const QString &why)
{
    return AppError(QStringLiteral("The audio of this file cannot be read (%1).").arg(why));
}

struct InputCloser
{
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecCloser
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct SwrCloser
{
    void operator()(SwrContext *c) const { swr_free(&c); }
};
struct FifoCloser
{
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
struct FrameCloser
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketCloser
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Frame = std::unique_ptr<AVFrame, FrameCloser>;
using Packet = std::unique_ptr<AVPacket, PacketCloser>;

Input openInput(const QString &path)
{
    // The program keeps no log: the libraries' notes on damaged input are
    // not printed.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    Q_UNUSED(quiet);
    AVFormatContext *raw = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int rc = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
    if (rc < 0)
        throw unreadable(avMessage(rc));
    Input input(raw);
    rc = avformat_find_stream_info(input.get(), nullptr);
    if (rc < 0)
        throw unreadable(avMessage(rc));
    return input;
}

int audioStreamOf(AVFormatContext *input)
{
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        throw unreadable(QStringLiteral("it holds no audio"));
    return index;
}

// Decoded audio in, mono 16 kHz MP3 frames out to the file.
class Preparer
{
public:
    Preparer(QFile &out, PreparedAudio &audio) : m_out(out), m_audio(audio) {}

    void openEncoder()
    {
        const AVCodec *codec = avcodec_find_encoder_by_name("libmp3lame");
        if (!codec)
            throw AppError(QStringLiteral("The MP3 encoder (libmp3lame) is missing from the FFmpeg libraries."));
        m_encoder.reset(avcodec_alloc_context3(codec));
        if (!m_encoder)
            throw AppError(QStringLiteral("Out of memory"));
        AVCodecContext *e = m_encoder.get();
        e->sample_rate = kPreparedSampleRate;
        e->bit_rate = kPreparedBitRate;
        e->sample_fmt = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_default(&e->ch_layout, 1);
        av_opt_set_int(e->priv_data, "reservoir", 0, 0);
        const int rc = avcodec_open2(e, codec, nullptr);
        if (rc < 0)
            throw AppError(QStringLiteral("The MP3 encoder cannot be started (%1).").arg(avMessage(rc)));
        m_audio.frameSamples = e->frame_size;
        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLT, 1, e->frame_size * 4));
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_fifo || !m_frame || !m_packet)
            throw AppError(QStringLiteral("Out of memory"));
    }

    // Resamples one decoded frame into the queue of samples for the encoder.
    void take(const AVFrame *decoded)
    {
        if (!m_swr || decoded->sample_rate != m_inRate || decoded->format != m_inFormat
            || av_channel_layout_compare(&decoded->ch_layout, &m_inLayout) != 0)
            startResampler(decoded);
        const int room = int(swr_get_out_samples(m_swr.get(), decoded->nb_samples));
        if (room <= 0)
            return;
        ensureBuffer(room);
        float *out = m_buffer.data();
        const int got = swr_convert(m_swr.get(), reinterpret_cast<uint8_t **>(&out), room,
                                    const_cast<const uint8_t **>(decoded->extended_data), decoded->nb_samples);
        if (got < 0)
            throw unreadable(avMessage(got));
        queue(got);
    }

    void finish()
    {
        if (m_swr) {
            const int room = int(swr_get_out_samples(m_swr.get(), 0));
            if (room > 0) {
                ensureBuffer(room);
                float *out = m_buffer.data();
                const int got = swr_convert(m_swr.get(), reinterpret_cast<uint8_t **>(&out), room, nullptr, 0);
                if (got > 0)
                    queue(got);
            }
        }
        const int frameSize = m_encoder->frame_size;
        const int left = av_audio_fifo_size(m_fifo.get());
        if (left > 0) {
            // The last frame is filled up with silence.
            std::vector<float> silence(size_t(frameSize - left), 0.0f);
            void *data = silence.data();
            av_audio_fifo_write(m_fifo.get(), &data, frameSize - left);
            encodeQueued();
        }
        send(nullptr);
    }

    qint64 samplesIn() const { return m_samplesIn; }

private:
    void startResampler(const AVFrame *decoded)
    {
        av_channel_layout_uninit(&m_inLayout);
        if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&m_inLayout, decoded->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&m_inLayout, &decoded->ch_layout);
        m_inRate = decoded->sample_rate;
        m_inFormat = decoded->format;
        SwrContext *raw = nullptr;
        AVChannelLayout mono;
        av_channel_layout_default(&mono, 1);
        int rc = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, kPreparedSampleRate, &m_inLayout,
                                     AVSampleFormat(m_inFormat), m_inRate, 0, nullptr);
        m_swr.reset(raw);
        if (rc >= 0)
            rc = swr_init(raw);
        if (rc < 0)
            throw unreadable(avMessage(rc));
        // A layout compared later must match the frame's own, not the default
        // put in its place.
        if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_copy(&m_inLayout, &decoded->ch_layout);
    }

    void ensureBuffer(int samples)
    {
        if (m_buffer.size() < size_t(samples))
            m_buffer.resize(size_t(samples));
    }

    void queue(int samples)
    {
        if (samples <= 0)
            return;
        void *data = m_buffer.data();
        if (av_audio_fifo_write(m_fifo.get(), &data, samples) < samples)
            throw AppError(QStringLiteral("Out of memory"));
        encodeQueued();
    }

    void encodeQueued()
    {
        const int frameSize = m_encoder->frame_size;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize) {
            av_frame_unref(m_frame.get());
            m_frame->nb_samples = frameSize;
            m_frame->format = AV_SAMPLE_FMT_FLTP;
            m_frame->sample_rate = kPreparedSampleRate;
            av_channel_layout_default(&m_frame->ch_layout, 1);
            if (av_frame_get_buffer(m_frame.get(), 0) < 0)
                throw AppError(QStringLiteral("Out of memory"));
            void *data = m_frame->data[0];
            av_audio_fifo_read(m_fifo.get(), &data, frameSize);
            const float *samples = reinterpret_cast<const float *>(m_frame->data[0]);
            double sum = 0;
            for (int i = 0; i < frameSize; ++i)
                sum += double(samples[i]) * samples[i];
            m_loudness.push_back(float(sum / frameSize));
            m_frame->pts = m_samplesIn;
            m_samplesIn += frameSize;
            send(m_frame.get());
        }
    }

    void send(const AVFrame *frame)
    {
        int rc = avcodec_send_frame(m_encoder.get(), frame);
        if (rc < 0)
            throw AppError(QStringLiteral("The MP3 encoder failed (%1).").arg(avMessage(rc)));
        for (;;) {
            rc = avcodec_receive_packet(m_encoder.get(), m_packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0)
                throw AppError(QStringLiteral("The MP3 encoder failed (%1).").arg(avMessage(rc)));
            write(*m_packet);
            av_packet_unref(m_packet.get());
        }
    }

    void write(const AVPacket &packet)
    {
        if (m_out.write(reinterpret_cast<const char *>(packet.data), packet.size) != packet.size)
            throw AppError(QStringLiteral("The prepared audio cannot be written: %1").arg(m_out.errorString()));
        PreparedFrame frame;
        frame.offset = m_written;
        frame.bytes = packet.size;
        // The samples a frame carries start at its time stamp, which the
        // encoder's delay puts before the first sample fed to it; the frame is
        // as loud as the louder of the two blocks it overlaps.
        const int size = m_encoder->frame_size;
        const qint64 start = packet.pts == AV_NOPTS_VALUE
            ? qint64(m_audio.frames.size()) * size - m_encoder->initial_padding
            : packet.pts;
        const qint64 block = start >= 0 ? start / size : -1;
        float loud = 0;
        for (qint64 b : {block, block + 1}) {
            if (b >= 0 && b < qint64(m_loudness.size()))
                loud = std::max(loud, m_loudness[size_t(b)]);
        }
        frame.loudness = loud;
        m_audio.frames.push_back(frame);
        m_written += packet.size;
    }

    QFile &m_out;
    PreparedAudio &m_audio;
    Codec m_encoder;
    std::unique_ptr<SwrContext, SwrCloser> m_swr;
    std::unique_ptr<AVAudioFifo, FifoCloser> m_fifo;
    Frame m_frame;
    Packet m_packet;
    AVChannelLayout m_inLayout{};
    int m_inRate = 0;
    int m_inFormat = -1;
    std::vector<float> m_buffer;
    // The loudness of every block of frame_size samples fed to the encoder.
    std::vector<float> m_loudness;
    qint64 m_samplesIn = 0;
    qint64 m_written = 0;
};

} // namespace

AudioProbe probeAudio(const QString &path)
{
    AudioProbe probe;
    try {
        Input input = openInput(path);
        const int index = audioStreamOf(input.get());
        const AVStream *stream = input->streams[index];
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            probe.seconds = double(stream->duration) * av_q2d(stream->time_base);
        else if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
            probe.seconds = double(input->duration) / AV_TIME_BASE;
        if (!avcodec_find_decoder(stream->codecpar->codec_id))
            throw unreadable(QStringLiteral("no decoder for its kind of audio"));
        probe.ok = true;
    } catch (const AppError &e) {
        probe.error = e.message();
    }
    return probe;
}

PreparedAudio prepareAudio(const QString &inputPath, const QString &output, const std::atomic<bool> *cancel,
                           const std::function<void(int percent)> &onProgress)
{
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    Input input = openInput(inputPath);
    const int index = audioStreamOf(input.get());
    AVStream *stream = input->streams[index];
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (int(i) != index)
            input->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw unreadable(QStringLiteral("no decoder for its kind of audio"));
    Codec decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        throw AppError(QStringLiteral("Out of memory"));
    int rc = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (rc >= 0)
        rc = avcodec_open2(decoder.get(), codec, nullptr);
    if (rc < 0)
        throw unreadable(avMessage(rc));

    QFile out(output);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(QStringLiteral("The prepared audio cannot be written: %1").arg(out.errorString()));
    PreparedAudio audio;
    audio.path = output;
    Preparer preparer(out, audio);
    preparer.openEncoder();

    Packet packet(av_packet_alloc());
    Frame decoded(av_frame_alloc());
    if (!packet || !decoded)
        throw AppError(QStringLiteral("Out of memory"));
    const qint64 total = input->pb ? avio_size(input->pb) : -1;
    int shown = -1;
    qint64 framesDecoded = 0;
    auto drain = [&] {
        for (;;) {
            const int got = avcodec_receive_frame(decoder.get(), decoded.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return;
            if (got < 0)
                return;  // a damaged stretch is skipped
            ++framesDecoded;
            preparer.take(decoded.get());
            av_frame_unref(decoded.get());
        }
    };
    for (;;) {
        if (cancelled())
            throw AppError(QStringLiteral("Cancelled"));
        rc = av_read_frame(input.get(), packet.get());
        if (rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            if (rc == AVERROR(EAGAIN))
                continue;
            break;  // the rest of the file cannot be read: what came so far counts
        }
        if (packet->stream_index == index) {
            // A packet the decoder refuses is skipped like a damaged stretch.
            if (avcodec_send_packet(decoder.get(), packet.get()) >= 0)
                drain();
        }
        av_packet_unref(packet.get());
        if (onProgress && total > 0) {
            const int percent = int(std::clamp<qint64>(avio_tell(input->pb) * 100 / total, 0, 99));
            if (percent > shown) {
                shown = percent;
                onProgress(percent);
            }
        }
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    if (framesDecoded == 0)
        throw unreadable(QStringLiteral("no audio could be decoded"));
    preparer.finish();
    if (!out.flush())
        throw AppError(QStringLiteral("The prepared audio cannot be written: %1").arg(out.errorString()));
    if (onProgress)
        onProgress(100);
    return audio;
}

AudioPiece nextPiece(const PreparedAudio &audio, int first, qint64 maxBytes, double maxSeconds)
{
    const int count = int(audio.frames.size());
    AudioPiece piece;
    piece.first = qBound(0, first, count);
    const qint64 start = piece.first < count ? audio.frames[size_t(piece.first)].offset : audio.bytes();
    // The frames the limits allow, from the first on.
    int limit = count;
    if (maxSeconds > 0)
        limit = std::min<qint64>(limit, piece.first + qint64(std::floor(maxSeconds / audio.frameSeconds())));
    if (maxBytes >= 0) {
        // The first frame that would go over.
        const auto over = std::upper_bound(audio.frames.begin() + piece.first, audio.frames.end(), start + maxBytes,
                                           [](qint64 bound, const PreparedFrame &f) { return bound < f.offset + f.bytes; });
        limit = std::min(limit, int(over - audio.frames.begin()));
    }
    // Always one frame at least, so that the pieces advance.
    limit = std::max(limit, std::min(piece.first + 1, count));
    int end = limit;
    if (limit < count) {
        const int length = limit - piece.first;
        const int stretch = std::max(1, int(std::min(kCutStretchSeconds / audio.frameSeconds(), length * kCutStretchShare)));
        const int from = std::max(piece.first + 1, limit - stretch);
        // The quietest window of a few frames that ends at or before the
        // limit; of equally quiet ones the middle of their run, so a cut in a
        // silence falls in its middle.
        const int window = std::max(1, std::min(kQuietWindowFrames, limit - from));
        double best = -1;
        int bestAt = -1, runStart = -1;
        for (int at = from; at + window <= limit; ++at) {
            double sum = 0;
            for (int i = at; i < at + window; ++i)
                sum += audio.frames[size_t(i)].loudness;
            if (best < 0 || sum < best) {
                best = sum;
                bestAt = runStart = at;
            } else if (sum == best) {
                // Of equally quiet windows the last run is kept, so that the
                // piece is as long as it may be.
                if (bestAt != at - 1)
                    runStart = at;
                bestAt = at;
            }
        }
        if (bestAt >= 0)
            end = std::clamp((runStart + bestAt) / 2 + window / 2, piece.first + 1, limit);
    }
    piece.end = end;
    piece.offset = start;
    piece.bytes = end > piece.first ? audio.frames[size_t(end - 1)].offset + audio.frames[size_t(end - 1)].bytes - start : 0;
    piece.startSeconds = piece.first * audio.frameSeconds();
    piece.seconds = (end - piece.first) * audio.frameSeconds();
    return piece;
}

std::vector<AudioPiece> splitAudio(const PreparedAudio &audio, qint64 maxBytes, double maxSeconds)
{
    std::vector<AudioPiece> pieces;
    int first = 0;
    const int count = int(audio.frames.size());
    while (first < count) {
        pieces.push_back(nextPiece(audio, first, maxBytes, maxSeconds));
        first = pieces.back().end;
    }
    return pieces;
}

void writePiece(const PreparedAudio &audio, const AudioPiece &piece, const QString &path)
{
    QFile in(audio.path);
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(piece.offset))
        throw AppError(QStringLiteral("The prepared audio cannot be read: %1").arg(in.errorString()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(QStringLiteral("A piece of the audio cannot be written: %1").arg(out.errorString()));
    QByteArray buffer;
    for (qint64 left = piece.bytes; left > 0;) {
        buffer = in.read(std::min<qint64>(left, 1 << 20));
        if (buffer.isEmpty())
            throw AppError(QStringLiteral("The prepared audio cannot be read: it ended early"));
        if (out.write(buffer) != buffer.size())
            throw AppError(QStringLiteral("A piece of the audio cannot be written: %1").arg(out.errorString()));
        left -= buffer.size();
    }
    if (!out.flush())
        throw AppError(QStringLiteral("A piece of the audio cannot be written: %1").arg(out.errorString()));
}
