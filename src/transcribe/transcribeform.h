#pragma once

#include "base/userdialogs.h"
#include "feeds/episode.h"
#include "transcribe/transcription.h"

#include <QWidget>

class IniDocument;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class TranscribeHost;

// The Transcribe window: the API key and the transcription server, the audio
// file, and the transcript, which can be edited and saved beside the audio.
// Freed when closed.
class TFormTranscribe : public QWidget
{
    Q_OBJECT
public:
    TFormTranscribe(IniDocument &settings, UserDialogs &dialogs, QWidget *parent = nullptr);

    void FormCreate();
    void Edit9Change();
    void Button4Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void SaveAs1Click();
    void Copy1Click();
    void SelectAll1Click();
    void ButtonPublisherClick();
    // One transcription of the file in Edit7.
    void ConvertUsingOpenAI();

    // The service as the settings page describes it.
    TranscriptionService service() const;
    QString statusText() const;

    // The publisher's transcripts of the episode the window was opened for;
    // "Publisher Transcript" is enabled when there is one.
    void setPublisherTranscripts(const TranscriptLinks &links, const QString &feedLanguage);
    const TranscriptLinks &publisherTranscripts() const { return m_publisherTranscripts; }
    const QString &feedLanguage() const { return m_feedLanguage; }

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QLineEdit *Edit9 = nullptr;      // the API key
    QPushButton *Button4 = nullptr;  // "Get API Key"
    QLineEdit *Edit10 = nullptr;     // the server
    QComboBox *ComboBox1 = nullptr;  // the model
    QWidget *Panel1 = nullptr;
    QLineEdit *Edit7 = nullptr;      // the audio file
    QPushButton *Button1 = nullptr;  // "Browse..."
    QWidget *Panel2 = nullptr;
    QPushButton *Button2 = nullptr;  // "Transcribe"
    QPushButton *ButtonPublisher = nullptr;  // "Publisher Transcript"
    QToolButton *Button3 = nullptr;  // "Save", with "Save As..." below it
    QMenu *PopupMenu1 = nullptr;
    QAction *SaveAs1 = nullptr;
    QPlainTextEdit *MemoOpenAI = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *Copy1 = nullptr;
    QAction *SelectAll1 = nullptr;
    QLabel *StatusBar1 = nullptr;

    // How long the service may take, for tests; the program keeps the
    // service's own figures.
    int connectTimeoutMs = kTranscriptionConnectTimeoutMs;
    int replyTimeoutMs = kTranscriptionReplyTimeoutMs;

private:
    void buildWindow();
    void serverChanged();
    void modelChanged();
    // Runs a handler under the application-wide error handler.
    void guarded(void (TFormTranscribe::*handler)());
    void finishWaiting(const QString &status, const QString &text);

    IniDocument &m_settings;
    UserDialogs &m_dialogs;
    TranscriptLinks m_publisherTranscripts;
    QString m_feedLanguage;
};

// The request of one transcription, with the "ERROR" box for a failure: the
// transcript, or an empty text after any failure. A file that cannot be
// opened is thrown to the caller.
QString TranscribeFile(UserDialogs &dialogs, QWidget *parent, const TranscriptionService &service,
                       const QString &key, const QString &path);

// The Transcribe command of the main window: a new Transcribe window with the
// downloaded file of the first selected episode and its transcript, if any.
void openTranscribeWindow(TranscribeHost &host);
