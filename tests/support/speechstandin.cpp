#include "speechstandin.h"

#include "multipart.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <stdexcept>

namespace speech {

namespace {

void check(int rc, const char *what)
{
    if (rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

// The speech at sample n of a recording at rate.
float speechAt(qint64 n, int rate)
{
    const double t = double(n) / rate;
    const int word = int(std::floor(t / kSlotSeconds));
    const double within = t - word * kSlotSeconds;
    if (within >= kWordSeconds)
        return 0.0f;
    const double pitch = kFirstPitchHz + word * kPitchStepHz;
    // Soft edges, so that no click spills into the silence.
    const double edge = std::min({1.0, within / 0.01, (kWordSeconds - within) / 0.01});
    return float(0.5 * edge * std::sin(2 * M_PI * pitch * within));
}

const char *encoderFor(const QString &suffix)
{
    if (suffix == QLatin1String("mp3"))
        return "libmp3lame";
    if (suffix == QLatin1String("m4a"))
        return "aac";
    if (suffix == QLatin1String("opus"))
        return "libopus";
    if (suffix == QLatin1String("ogg"))
        return avcodec_find_encoder_by_name("libvorbis") ? "libvorbis" : "libopus";
    if (suffix == QLatin1String("wav"))
        return "pcm_s16le";
    if (suffix == QLatin1String("flac"))
        return "flac";
    throw std::runtime_error("no encoder for this kind of file");
}

} // namespace

void writeRecording(const QString &path, double seconds, int bitRate, int channels)
{
    const QByteArray name = QFile::encodeName(path);
    const QString suffix = QFileInfo(path).suffix().toLower();
    AVFormatContext *out = nullptr;
    check(avformat_alloc_output_context2(&out, nullptr, nullptr, name.constData()), "muxer");
    const AVCodec *codec = avcodec_find_encoder_by_name(encoderFor(suffix));
    if (!codec)
        throw std::runtime_error("encoder missing");
    AVCodecContext *enc = avcodec_alloc_context3(codec);
    int rate = 44100;
    if (codec->supported_samplerates) {
        rate = codec->supported_samplerates[0];
        for (const int *r = codec->supported_samplerates; *r; ++r) {
            if (*r == 44100 || *r == 48000)
                rate = *r;
        }
    }
    enc->sample_rate = rate;
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&enc->ch_layout, channels);
    enc->bit_rate = bitRate;
    enc->time_base = AVRational{1, rate};
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(enc, codec, nullptr), "encoder");
    AVStream *stream = avformat_new_stream(out, nullptr);
    check(avcodec_parameters_from_context(stream->codecpar, enc), "stream");
    stream->time_base = enc->time_base;
    check(avio_open(&out->pb, name.constData(), AVIO_FLAG_WRITE), "open");
    check(avformat_write_header(out, nullptr), "header");

    SwrContext *swr = nullptr;
    AVChannelLayout mono;
    av_channel_layout_default(&mono, 1);
    check(swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, rate, &mono, AV_SAMPLE_FMT_FLT, rate, 0, nullptr),
          "resampler");
    check(swr_init(swr), "resampler");

    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    const qint64 total = qint64(seconds * rate);
    AVFrame *frame = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    std::vector<float> pcm(static_cast<size_t>(frameSize), 0.0f);
    auto drain = [&] {
        while (avcodec_receive_packet(enc, packet) == 0) {
            av_packet_rescale_ts(packet, enc->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(out, packet), "write");
        }
    };
    for (qint64 n = 0; n < total; n += frameSize) {
        const int count = int(std::min<qint64>(frameSize, total - n));
        for (int i = 0; i < count; ++i)
            pcm[size_t(i)] = speechAt(n + i, rate);
        av_frame_unref(frame);
        frame->nb_samples = (enc->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)
                             && !(codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME))
            ? frameSize
            : count;
        if (count < frame->nb_samples)
            std::fill(pcm.begin() + count, pcm.end(), 0.0f);
        frame->format = enc->sample_fmt;
        frame->sample_rate = rate;
        av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
        check(av_frame_get_buffer(frame, 0), "frame");
        const uint8_t *in = reinterpret_cast<const uint8_t *>(pcm.data());
        check(swr_convert(swr, frame->data, frame->nb_samples, &in, frame->nb_samples), "convert");
        frame->pts = n;
        check(avcodec_send_frame(enc, frame), "encode");
        drain();
    }
    avcodec_send_frame(enc, nullptr);
    drain();
    check(av_write_trailer(out), "trailer");
    avio_closep(&out->pb);
    av_packet_free(&packet);
    av_frame_free(&frame);
    swr_free(&swr);
    avcodec_free_context(&enc);
    avformat_free_context(out);
}

std::vector<float> decodeMono16k(const QString &path)
{
    std::vector<float> samples;
    const QByteArray name = QFile::encodeName(path);
    AVFormatContext *in = nullptr;
    check(avformat_open_input(&in, name.constData(), nullptr, nullptr), "open");
    check(avformat_find_stream_info(in, nullptr), "probe");
    const int index = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    check(index, "no audio");
    const AVCodec *codec = avcodec_find_decoder(in->streams[index]->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    check(avcodec_parameters_to_context(dec, in->streams[index]->codecpar), "decoder");
    check(avcodec_open2(dec, codec, nullptr), "decoder");
    SwrContext *swr = nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto take = [&](const AVFrame *f) {
        if (!swr) {
            AVChannelLayout mono, layout;
            av_channel_layout_default(&mono, 1);
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&layout, f->ch_layout.nb_channels);
            else
                av_channel_layout_copy(&layout, &f->ch_layout);
            check(swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_FLT, 16000, &layout, AVSampleFormat(f->format),
                                      f->sample_rate, 0, nullptr), "resampler");
            check(swr_init(swr), "resampler");
        }
        const int room = swr_get_out_samples(swr, f ? f->nb_samples : 0);
        if (room <= 0)
            return;
        const size_t at = samples.size();
        samples.resize(at + size_t(room));
        uint8_t *outData = reinterpret_cast<uint8_t *>(samples.data() + at);
        const int got = swr_convert(swr, &outData, room, f ? const_cast<const uint8_t **>(f->extended_data) : nullptr,
                                    f ? f->nb_samples : 0);
        samples.resize(at + size_t(std::max(got, 0)));
    };
    auto drain = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            take(frame);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(in, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(dec, packet) >= 0)
            drain();
        av_packet_unref(packet);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    if (swr) {
        take(nullptr);
        swr_free(&swr);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avformat_close_input(&in);
    return samples;
}

std::vector<float> decodeMono16k(const QByteArray &bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("piece.mp3"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the piece");
    file.close();
    return decodeMono16k(path);
}

double startOf(const std::vector<float> &piece)
{
    constexpr int rate = 16000;
    size_t onset = 0;
    while (onset < piece.size() && std::abs(piece[onset]) < 0.05f)
        ++onset;
    if (onset >= piece.size())
        return -1;
    // The pitch over the half second after the word has begun, by its zero
    // crossings.
    const size_t from = onset + rate / 20, to = std::min(piece.size(), from + rate / 2);
    if (to <= from + 1)
        return -1;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if ((piece[i - 1] < 0) != (piece[i] < 0))
            ++crossings;
    }
    const double pitch = crossings / (2.0 * double(to - from) / rate);
    const int word = int(std::lround((pitch - kFirstPitchHz) / kPitchStepHz));
    return word * kSlotSeconds - double(onset) / rate;
}

SpeechStandIn::SpeechStandIn(qint64 requestLimit, double secondsLimit)
    : m_server(TestServer::Https), m_requestLimit(requestLimit), m_secondsLimit(secondsLimit)
{
    const QString path = QStringLiteral("/v1/audio/transcriptions");
    m_server.routeEarly(path, [this](const RecordedRequest &head) -> std::optional<Response> {
        const qint64 length = head.header("Content-Length").toLongLong();
        if (m_requestLimit < 0 || length <= m_requestLimit)
            return std::nullopt;
        QMutexLocker lock(&m_lock);
        ++m_refused;
        return Response::status(413, "Request Entity Too Large",
                                "{\"error\":{\"message\":\"Maximum content size limit (" + QByteArray::number(m_requestLimit)
                                    + ") exceeded (" + QByteArray::number(length)
                                    + " bytes read)\",\"type\":\"server_error\",\"param\":null,\"code\":null}}",
                                "application/json");
    });
    m_server.route(path, [this](const RecordedRequest &request) { return answer(request); });
}

SpeechStandIn::~SpeechStandIn() = default;

QString SpeechStandIn::server() const
{
    return m_server.urlString(QStringLiteral("/v1"));
}

QList<HeardPiece> SpeechStandIn::heard() const
{
    QMutexLocker lock(&m_lock);
    return m_heard;
}

int SpeechStandIn::refused() const
{
    QMutexLocker lock(&m_lock);
    return m_refused;
}

void SpeechStandIn::failAfter(int answered, int status, const QByteArray &body)
{
    QMutexLocker lock(&m_lock);
    m_failAfter = answered;
    m_failStatus = status;
    m_failBody = body;
}

Response SpeechStandIn::answer(const RecordedRequest &request)
{
    HeardPiece piece;
    piece.bodyBytes = request.body.size();
    for (const ReceivedPart &part : partsOf(request)) {
        if (part.name == "model")
            piece.model = part.data;
        else if (part.name == "language")
            piece.language = part.data;
        else if (part.name == "prompt") {
            piece.prompt = part.data;
            piece.hadPrompt = true;
        } else if (part.name == "file") {
            piece.file = part.data;
            piece.fileName = part.fileName;
        }
    }
    {
        QMutexLocker lock(&m_lock);
        if (m_failAfter >= 0 && m_heard.size() >= m_failAfter)
            return Response::status(m_failStatus, "Refused", m_failBody, "application/json");
    }
    std::vector<float> samples;
    try {
        samples = decodeMono16k(piece.file);
    } catch (const std::exception &) {
        return Response::status(400, "Bad Request",
                                "{\"error\":{\"message\":\"Invalid file format.\",\"type\":\"invalid_request_error\"}}",
                                "application/json");
    }
    piece.seconds = double(samples.size()) / 16000;
    piece.start = startOf(samples);
    if (m_secondsLimit > 0 && piece.seconds > m_secondsLimit) {
        QMutexLocker lock(&m_lock);
        ++m_refused;
        return Response::status(400, "Bad Request",
                                "{\"error\":{\"message\":\"audio duration " + QByteArray::number(piece.seconds)
                                    + " seconds is longer than " + QByteArray::number(m_secondsLimit)
                                    + " seconds which is the maximum for this model\",\"type\":"
                                      "\"invalid_request_error\",\"code\":\"audio_too_long\"}}",
                                "application/json");
    }
    piece.text = "Piece from " + QByteArray::number(piece.start, 'f', 1) + " s for "
        + QByteArray::number(piece.seconds, 'f', 1) + " s.";
    QJsonObject reply;
    reply.insert(QStringLiteral("text"), QString::fromUtf8(piece.text));
    {
        QMutexLocker lock(&m_lock);
        m_heard.append(piece);
    }
    return Response::ok(QJsonDocument(reply).toJson(QJsonDocument::Compact), "application/json");
}

} // namespace speech
