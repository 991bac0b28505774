#pragma once

#include <QList>
#include <QString>

class QObject;
class QWidget;
class TDownloader;
class UserDialogs;

// What a batch of downloads needs of the window that shows the episode list.
// Every call is made on the window's thread: the worker hands each one over
// and waits for it.
class DownloadHost
{
public:
    virtual ~DownloadHost() = default;

    // The object in the window's thread that the worker's steps are run by,
    // and the parent of its boxes.
    virtual QWidget *downloadWindow() = 0;
    virtual UserDialogs &dialogs() = 0;

    // The five update steps of a batch. A row step's row is -1 when the list
    // the row was in has been replaced since the row began: then no row's
    // Status changes (the status text is still cleared).
    virtual void batchStarted() = 0;
    virtual void rowDownloading(int row) = 0;
    virtual void rowDownloaded(int row) = 0;
    virtual void rowFailed(int row) = 0;
    virtual void batchEnded() = 0;

    // What the worker reads when it reaches a row. The list's generation
    // changes whenever its rows are replaced (another feed retrieved, say).
    virtual quint64 episodeListGeneration() const = 0;
    virtual int episodeRowCount() const = 0;
    virtual bool isEpisodeRowSelected(int row) const = 0;
    virtual QString episodeUrl(int row) const = 0;
    virtual QString downloadLocationText() const = 0;
    // The row's plain target path, from its title and the download location.
    virtual QString DosyaAdiNeOlmali(int row) const = 0;

    // Notices of the transfer under way, posted without waiting.
    virtual void DownloadProgress(qint64 count, qint64 length, bool chunked) = 0;
    virtual void DownloadRedirect() = 0;

    // The start routine's view: the episode rows selected, top to bottom;
    // whether the Download button is enabled; the batch running, if any; and
    // the end of a batch (error is what ended it early, or empty).
    virtual QList<int> selectedEpisodeRows() const = 0;
    virtual bool downloadButtonEnabled() const = 0;
    virtual TDownloader *downloader() const = 0;
    virtual void setDownloader(TDownloader *worker) = 0;
    virtual void MyThreadTerminate(const QString &error) = 0;
};
