#pragma once

#include "base/userdialogs.h"
#include "feeds/episode.h"
#include "transcribe/transcription.h"
#include "transcribe/transcriptionjob.h"

#include <optional>

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
//
// A transcription runs on a thread of its own: the window shows where it is in
// its status panel and takes one input meanwhile, "Cancel"; every other
// control is disabled, so a click or a key press on it is dropped. Closing the
// window cancels the work.
class TFormTranscribe : public QWidget
{
    Q_OBJECT
public:
    TFormTranscribe(IniDocument &settings, UserDialogs &dialogs, QWidget *parent = nullptr);
    ~TFormTranscribe() override;

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
    // Starts one transcription of the file in Edit7.
    void ConvertUsingOpenAI();
    // "Cancel": stops the transcription that runs.
    void Button5Click();
    // Whether a transcription runs.
    bool busy() const;

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
    QLineEdit *Edit11 = nullptr;     // the language; empty: the service finds it out
    QWidget *Panel1 = nullptr;
    QLineEdit *Edit7 = nullptr;      // the audio file
    QPushButton *Button1 = nullptr;  // "Browse..."
    QWidget *Panel2 = nullptr;
    QPushButton *Button2 = nullptr;  // "Transcribe"
    QPushButton *ButtonPublisher = nullptr;  // "Publisher Transcript"
    QPushButton *Button5 = nullptr;  // "Cancel", shown while a transcription runs
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
    // What the service takes, when not the limits it is known by (tests give
    // small ones), and where the prepared audio is kept meanwhile.
    std::optional<TranscriptionLimits> limits;
    QString workRoot = defaultWorkRoot();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void serverChanged();
    void modelChanged();
    void languageChanged();
    void setWorking(bool working);
    void transcriptionEnded(const TranscriptionOutcome &outcome);
    // Runs a handler under the application-wide error handler.
    void guarded(void (TFormTranscribe::*handler)());
    void finishWaiting(const QString &status, const QString &text);

    IniDocument &m_settings;
    UserDialogs &m_dialogs;
    TranscriptLinks m_publisherTranscripts;
    QString m_feedLanguage;
    TranscriptionRunner *m_runner = nullptr;
    QString m_textBefore;  // the transcript area as it was, for a cancel
};

// The Transcribe command of the main window: a new Transcribe window with the
// downloaded file of the first selected episode and its transcript, if any.
void openTranscribeWindow(TranscribeHost &host);
