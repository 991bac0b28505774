#include "downloads/downloader.h"

#include "app/errors.h"
#include "app/main.h"
#include "app/textcodec.h"
#include "downloads/episodefile.h"
#include "downloads/filenaming.h"
#include "feeds/episodemodel.h"
#include "net/webget.h"

#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

TDownloader::TDownloader(TAppForm *form) : m_form(form)
{
}

void TDownloader::run()
{
    DownloadNow();
}

// Runs the step on the window thread and waits until it is done.
template <typename Step> void TDownloader::onWindow(Step &&step)
{
    QMetaObject::invokeMethod(m_form, std::forward<Step>(step), Qt::BlockingQueuedConnection);
}

void TDownloader::DownloadNow()
{
    // Start step.
    onWindow([this] {
        m_form->BitBtn1->setText(QStringLiteral("DOWNLOADING..."));
        m_form->BitBtn1->setEnabled(false);
        m_form->ProgressBar1->setValue(0);
        m_form->ProgressBar1->show();
    });
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
    if (m_cancel)
        return;  // the window is going away
    // End step.
    onWindow([this] {
        m_form->dialogs().beep();
        m_form->Taskbar1.setProgressState(TaskbarProgress::State::None);
        m_form->ProgressBar1->hide();
        m_form->BitBtn1->setText(QStringLiteral("Download"));
        m_form->BitBtn1->setEnabled(true);
    });
}

TDownloader::RowAtIndex TDownloader::readRow()
{
    RowAtIndex row;
    onWindow([this, &row] {
        const EpisodeRows &rows = m_form->episodeModel()->rows();
        if (m_index >= rows.size())
            return;
        row.exists = true;
        row.selected = m_form->ListView1->selectionModel()->isRowSelected(int(m_index), QModelIndex());
        if (!row.selected)
            return;
        row.url = rows[m_index].url;
        row.folder = m_form->Edit1->text();
        row.plainPath = m_form->DosyaAdiNeOlmali(int(m_index));
    });
    return row;
}

void TDownloader::downloadRow(const RowAtIndex &row)
{
    // Failures here end the batch before the row begins.
    if (row.folder.isEmpty())
        throw AppError(QStringLiteral("Unable to create directory"));
    QDir().mkpath(row.folder);  // when it cannot be made, the write below fails and tells why
    const QString target = UniqueFileName(row.plainPath);

    setRowStatus(QStringLiteral("Downloading..."), false);

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
        QMetaObject::invokeMethod(m_form, [form = m_form, count, length, chunked] {
            form->DownloadProgress(count, length, chunked);
        }, Qt::QueuedConnection);
    };
    transfer.onRedirect = [this](const QString &, int) {
        QMetaObject::invokeMethod(m_form, [form = m_form] { form->DownloadRedirect(); }, Qt::QueuedConnection);
    };

    QString failure;
    try {
        transfer.download(row.url, target);
    } catch (const AppError &e) {
        failure = e.message();
    }
    if (m_cancel)
        return;
    if (failure.isNull()) {
        setRowStatus(QStringLiteral("Downloaded"), true);
        return;
    }
    setRowStatus(QStringLiteral("Download Failed"), true);
    onWindow([this, &row, &failure] {
        m_form->dialogs().message(m_form, QLatin1String("Download Error on URL: ") + row.url + QLatin1String("\r\r") + failure,
                                  QStringLiteral("ERROR"), UserDialogs::Icon::Error);
    });
}

void TDownloader::setRowStatus(const QString &status, bool clearStatusBar)
{
    onWindow([this, &status, clearStatusBar] {
        if (clearStatusBar)
            m_form->setStatusText(QString());
        // The list may have been replaced or shortened meanwhile: a row that
        // is gone gets nothing.
        m_form->episodeModel()->setStatus(int(m_index), status);
    });
}

void startDownloads(TAppForm &form)
{
    // A batch runs from the moment its worker exists, before its first step
    // has disabled the button.
    if (!form.BitBtn1->isEnabled() || form.downloader()) {
        form.dialogs().beep();
        return;
    }
    const QList<int> selected = form.selectedEpisodeRows();
    const EpisodeRows &rows = form.episodeModel()->rows();
    if (selected.isEmpty() || trimControls(rows.value(selected.first()).url).isEmpty()) {
        form.dialogs().message(&form, QStringLiteral("No file selected!"), QStringLiteral("Warning"),
                               UserDialogs::Icon::Warning);
        return;
    }
    auto *worker = new TDownloader(&form);
    form.setDownloader(worker);
    QObject::connect(worker, &QThread::finished, &form, [&form, worker] {
        form.setDownloader(nullptr);
        worker->deleteLater();
        form.MyThreadTerminate(worker->error());
    });
    worker->start();
}

void stopDownloads(TAppForm &form)
{
    TDownloader *worker = form.downloader();
    if (!worker)
        return;
    QObject::disconnect(worker, &QThread::finished, &form, nullptr);
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
    form.setDownloader(nullptr);
    delete worker;
}
