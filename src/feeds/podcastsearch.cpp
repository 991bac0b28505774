#include "feeds/podcastsearch.h"

#include "base/errors.h"
#include "net/httpexchange.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

const char kDefaultPodcastSearch[] = "https://itunes.apple.com/search?media=podcast&entity=podcast&limit=50&term=";

namespace {

const QString kNotUnderstood = QStringLiteral("The directory's reply is not understood.");

bool isBlank(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 32)
            return false;
    }
    return true;
}

} // namespace

QString podcastSearchUrl(const QString &address, const QString &words)
{
    return address + QString::fromLatin1(QUrl::toPercentEncoding(words.simplified()));
}

QList<PodcastFound> parsePodcastSearch(const QByteArray &reply)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw AppError(kNotUnderstood);
    const QJsonValue results = document.object().value(QLatin1String("results"));
    if (!results.isArray())
        throw AppError(kNotUnderstood);
    QList<PodcastFound> found;
    for (const QJsonValue &value : results.toArray()) {
        const QJsonObject result = value.toObject();
        PodcastFound podcast;
        podcast.feedUrl = result.value(QLatin1String("feedUrl")).toString();
        if (isBlank(podcast.feedUrl))
            continue;
        podcast.title = result.value(QLatin1String("collectionName")).toString();
        podcast.author = result.value(QLatin1String("artistName")).toString();
        const QJsonValue count = result.value(QLatin1String("trackCount"));
        podcast.episodes = count.isDouble() ? count.toInt(-1) : -1;
        found.append(podcast);
    }
    return found;
}

QList<PodcastFound> searchPodcasts(const QString &url, const std::atomic<bool> *cancel)
{
    ExchangeOptions options;
    options.headers = {{"Accept", "application/json"}};
    options.redirects = RedirectRule::Browser;
    options.maxRedirects = 5;
    options.tls = TlsCheck::Verify;
    options.inactivityTimeoutMs = kSearchInactivityTimeoutMs;
    options.totalTimeoutMs = kSearchTotalTimeoutMs;
    options.maxBodyBytes = kMaxSearchReplyBytes;
    options.tooLargeMessage = QStringLiteral("The directory's reply is too large.");
    options.cancel = cancel;
    const ExchangeResult result = runExchange(QUrl(url), options);
    if (!result.isSuccess())
        throw AppError(result.statusLine());
    return parsePodcastSearch(result.body);
}

PodcastSearchThread::PodcastSearchThread(QString url, QObject *parent) : QThread(parent), m_url(std::move(url)) {}

PodcastSearchThread::~PodcastSearchThread()
{
    cancel();
    wait();
}

void PodcastSearchThread::run()
{
    try {
        m_results = searchPodcasts(m_url, &m_cancel);
    } catch (const AppError &e) {
        m_error = e.message();
    } catch (const std::exception &e) {
        m_error = QString::fromLocal8Bit(e.what());
    }
}
