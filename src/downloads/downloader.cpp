#include "downloads/downloader.h"

#include "base/errors.h"
#include "base/textcodec.h"
#include "base/userdialogs.h"
#include "downloads/downloadhost.h"
#include "downloads/episodefile.h"
#include "downloads/filenaming.h"
#include "net/webget.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

TDownloader::TDownloader(DownloadHost *host) : m_host(host)
{
}

void TDownloader::run()
{
    DownloadNow();
}

// Runs the step on the window thread and waits until it is done.
template <typename Step> void TDownloader::onWindow(Step &&step)
{
    QMetaObject::invokeMethod(m_host->downloadWindow(), std::forward<Step>(step), Qt::BlockingQueuedConnection);
}

void TDownloader::DownloadNow()
{
    // Start step.
    onWindow([this] { m_host->batchStarted(); });
    try {
        for (m_index = 0; !m_cancel; ++m_index) {
            const RowAtIndex row = readRow();
            if (!row.exists)
                break;
            if (row.selected)
                downloadRow(row);
        }
    } catch (const AppError &e) {
        m_error = e.message();
    } catch (const std::exception &e) {
        m_error = exceptionMessage(e);
    }
    if (m_closing)
        return;  // the window is going away
    // End step.
    onWindow([this] { m_host->batchEnded(); });
}

TDownloader::RowAtIndex TDownloader::readRow()
{
    RowAtIndex row;
    onWindow([this, &row] {
        if (m_index >= m_host->episodeRowCount())
            return;
        row.exists = true;
        row.generation = m_host->episodeListGeneration();
        row.selected = m_host->isEpisodeRowSelected(int(m_index));
        if (!row.selected)
            return;
        row.url = m_host->episodeUrl(int(m_index));
        row.folder = m_host->downloadLocationText();
        row.plainPath = m_host->DosyaAdiNeOlmali(int(m_index));
    });
    return row;
}

int TDownloader::rowInList(const RowAtIndex &row) const
{
    return m_host->episodeListGeneration() == row.generation ? int(m_index) : -1;
}

void TDownloader::downloadRow(const RowAtIndex &row)
{
    // Failures here end the batch before the row begins.
    if (row.folder.isEmpty())
        throw AppError(QStringLiteral("Unable to create directory"));
    QDir().mkpath(row.folder);  // when it cannot be made, the write below fails and tells why
    const QString target = UniqueFileName(row.plainPath);

    onWindow([this, &row] { m_host->rowDownloading(rowInList(row)); });

    int shownPercent = -1;
    EpisodeFileTransfer transfer;
    transfer.cancel = &m_cancel;
    // The window hears of the progress only when the bar would move; posted
    // in order, without waiting.
    transfer.onProgress = [this, &shownPercent](qint64 count, qint64 length, bool chunked) {
        const int percent = progressPercent(count, length, chunked);
        if (percent < 0 || percent == shownPercent)
            return;
        shownPercent = percent;
        QMetaObject::invokeMethod(m_host->downloadWindow(), [host = m_host, count, length, chunked] {
            host->DownloadProgress(count, length, chunked);
        }, Qt::QueuedConnection);
    };
    transfer.onRedirect = [this](const QString &, int) {
        QMetaObject::invokeMethod(m_host->downloadWindow(), [host = m_host] { host->DownloadRedirect(); },
                                  Qt::QueuedConnection);
    };

    QString failure;
    try {
        transfer.download(row.url, target);
    } catch (const AppError &e) {
        failure = e.message();
    }
    if (m_closing)
        return;
    if (failure.isNull()) {
        onWindow([this, &row] { m_host->rowDownloaded(rowInList(row)); });
        return;
    }
    onWindow([this, &row] { m_host->rowFailed(rowInList(row)); });
    if (m_cancel)
        return;  // the user stopped it: no box
    onWindow([this, &row, &failure] {
        m_host->dialogs().message(m_host->downloadWindow(),
                                  QLatin1String("Download Error on URL: ") + row.url + QLatin1String("\r\r") + failure,
                                  QStringLiteral("ERROR"), UserDialogs::Icon::Error);
    });
}

void startDownloads(DownloadHost &host)
{
    // A batch runs from the moment its worker exists, before its first step
    // has disabled the button.
    if (!host.downloadButtonEnabled() || host.downloader()) {
        host.dialogs().beep();
        return;
    }
    const QList<int> selected = host.selectedEpisodeRows();
    if (selected.isEmpty() || trimControls(host.episodeUrl(selected.first())).isEmpty()) {
        host.dialogs().message(host.downloadWindow(), QStringLiteral("No file selected!"), QStringLiteral("Warning"),
                               UserDialogs::Icon::Warning);
        return;
    }
    auto *worker = new TDownloader(&host);
    host.setDownloader(worker);
    QObject::connect(worker, &QThread::finished, host.downloadWindow(), [&host, worker] {
        host.setDownloader(nullptr);
        worker->deleteLater();
        host.MyThreadTerminate(worker->error());
    });
    worker->start();
}

void cancelDownloads(DownloadHost &host)
{
    if (TDownloader *worker = host.downloader())
        worker->stop();
}

void stopDownloads(DownloadHost &host)
{
    TDownloader *worker = host.downloader();
    if (!worker)
        return;
    QObject::disconnect(worker, &QThread::finished, host.downloadWindow(), nullptr);
    worker->cancel();
    if (!worker->isFinished()) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, worker] {
            if (worker->isFinished())
                loop.quit();
        });
        poll.start(20);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    worker->wait();
    host.setDownloader(nullptr);
    delete worker;
}
