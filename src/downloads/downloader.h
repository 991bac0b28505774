#pragma once

#include <QString>
#include <QThread>

#include <atomic>

class DownloadHost;

// A batch of episode downloads: the worker thread and the steps it has the
// window thread make. One per batch; it frees itself when its end handler
// has run.
//
// The worker reads the list, each row's selection and URL and the download
// location when it reaches the row, and makes every change of the window, by
// handing the step to the window thread and waiting until it is done. Rows
// are taken from top to bottom, one transfer at a time.
class TDownloader : public QThread
{
    Q_OBJECT
public:
    explicit TDownloader(DownloadHost *host);

    // The worker's body.
    void DownloadNow();

    // Ends the batch as soon as it can, for a window that goes away: the
    // transfer under way is abandoned (its temporary file removed), no further
    // row is begun and no further step is run. Any thread.
    void cancel()
    {
        m_closing = true;
        m_cancel = true;
    }

    // The user's stop: the transfer under way ends within a tenth of a second
    // (its temporary file removed, its row "Download Failed", no error box),
    // no further row is begun, and the batch ends with its end step. Any
    // thread.
    void stop() { m_cancel = true; }

    // The message of an error that ended the batch before its last row; empty
    // when it ran to the end. Read once the thread has finished.
    QString error() const { return m_error; }

protected:
    void run() override;

private:
    struct RowAtIndex
    {
        bool exists = false;
        bool selected = false;
        QString url;
        QString folder;
        QString plainPath;
        quint64 generation = 0;  // of the list the row was read from
    };

    template <typename Step> void onWindow(Step &&step);
    RowAtIndex readRow();
    // The row's number for a row step: -1 when the list has been replaced
    // since the row was read. Window thread.
    int rowInList(const RowAtIndex &row) const;
    void downloadRow(const RowAtIndex &row);

    DownloadHost *m_host = nullptr;
    std::atomic<bool> m_cancel{false};   // the transfer and the batch end
    std::atomic<bool> m_closing{false};  // ... and the window goes away
    QString m_error;
    qint64 m_index = 0;  // the row being worked on; the window-side steps read it
};

// The start routine of the Download command, on the window thread: a beep
// while a batch runs; "No file selected!" when no row with a URL is selected;
// otherwise a new batch.
void startDownloads(DownloadHost &host);

// The "Cancel Downloads" command: asks a running batch to stop (see
// TDownloader::stop); nothing when none runs.
void cancelDownloads(DownloadHost &host);

// Stops a running batch and waits until its thread has ended, letting the
// window thread carry out the steps the worker is waiting for meanwhile.
void stopDownloads(DownloadHost &host);
