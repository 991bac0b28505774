#include "transcribe/publishertranscriptcommand.h"

#include "base/errors.h"
#include "base/userdialogs.h"
#include "transcribe/publishertranscript.h"
#include "transcribe/transcribeform.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

void showPublisherTranscript(TFormTranscribe &form, UserDialogs &dialogs)
{
    const TranscriptLinks links = form.publisherTranscripts();
    const int chosen = chooseTranscript(links, form.feedLanguage(), QLocale::system().name());
    if (chosen < 0)
        return;
    const TranscriptLink link = links.at(chosen);

    const QString statusBefore = form.StatusBar1->text();
    form.ButtonPublisher->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    form.StatusBar1->setText(QStringLiteral("Please wait..."));
    QCoreApplication::processEvents();

    QString text;
    QString failure;
    // The window repaints during the fetch; it may be gone by its end.
    const QPointer<TFormTranscribe> window(&form);
    try {
        text = fetchPublisherTranscript(link);
    } catch (const std::exception &e) {
        failure = exceptionMessage(e);
    }
    QApplication::restoreOverrideCursor();
    if (!window)
        return;
    form.ButtonPublisher->setEnabled(true);
    if (!failure.isEmpty()) {
        form.StatusBar1->setText(statusBefore);
        QCoreApplication::processEvents();
        dialogs.message(&form, QStringLiteral("The publisher's transcript could not be loaded.\r\r") + failure
                                   + QStringLiteral("\r\r") + link.url,
                        QStringLiteral("ERROR"), UserDialogs::Icon::Error);
        return;
    }
    dialogs.beep();
    form.StatusBar1->setText(QStringLiteral("Publisher transcript"));
    form.MemoOpenAI->setPlainText(text);
    QCoreApplication::processEvents();
}
