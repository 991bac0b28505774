#include "transcribe/transcribeform.h"

#include "base/errors.h"
#include "base/settings.h"
#include "base/textcodec.h"
#include "transcribe/publishertranscriptcommand.h"
#include "transcribe/transcribehost.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kKey = QStringLiteral("OpenAIKey");
const QString kServer = QStringLiteral("OpenAIServer");
const QString kModel = QStringLiteral("OpenAIModel");
const QString kLanguage = QStringLiteral("OpenAILanguage");
const QString kApiKeysPage = QStringLiteral("https://platform.openai.com/api-keys");

} // namespace

TFormTranscribe::TFormTranscribe(IniDocument &settings, UserDialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("FormTranscribe"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Transcribe"));
    buildWindow();
    FormCreate();
    m_runner = new TranscriptionRunner(this);
    connect(m_runner, &TranscriptionRunner::status, StatusBar1, &QLabel::setText);
    connect(m_runner, &TranscriptionRunner::finished, this, [this](const TranscriptionOutcome &outcome) {
        runCommand(m_dialogs, this, [&] { transcriptionEnded(outcome); });
    });
}

TFormTranscribe::~TFormTranscribe()
{
    if (m_runner->isRunning()) {
        m_runner->cancel();
        m_runner->wait();
        QApplication::restoreOverrideCursor();
    }
}

void TFormTranscribe::closeEvent(QCloseEvent *event)
{
    // The work ends with the window; its thread is gone within a second.
    if (m_runner->isRunning()) {
        m_runner->cancel();
        m_runner->wait();
    }
    QWidget::closeEvent(event);
}

void TFormTranscribe::buildWindow()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    PageControl1 = new QTabWidget(this);
    TabSheet1 = new QWidget(PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto *grid = new QGridLayout(TabSheet1);
    Edit9 = new QLineEdit(TabSheet1);
    Edit9->setObjectName(QStringLiteral("Edit9"));
    Button4 = new QPushButton(QStringLiteral("Get API Key"), TabSheet1);
    Button4->setObjectName(QStringLiteral("Button4"));
    Edit10 = new QLineEdit(TabSheet1);
    Edit10->setObjectName(QStringLiteral("Edit10"));
    ComboBox1 = new QComboBox(TabSheet1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->addItems(kTranscriptionModels);
    Edit11 = new QLineEdit(TabSheet1);
    Edit11->setObjectName(QStringLiteral("Edit11"));
    Edit11->setPlaceholderText(QStringLiteral("found out by the service, e.g. en, de, tr"));
    auto addRow = [grid](int row, const QString &caption, QWidget *field) {
        auto *label = new QLabel(caption, field->parentWidget());
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };
    addRow(0, QStringLiteral("API Key:"), Edit9);
    grid->addWidget(Button4, 0, 2);
    addRow(1, QStringLiteral("Server:"), Edit10);
    addRow(2, QStringLiteral("Model:"), ComboBox1);
    addRow(3, QStringLiteral("Language:"), Edit11);
    PageControl1->addTab(TabSheet1, QStringLiteral("OpenAI Settings"));
    column->addWidget(PageControl1);

    Panel1 = new QWidget(this);
    auto *fileRow = new QHBoxLayout(Panel1);
    fileRow->setContentsMargins(6, 0, 6, 0);
    Edit7 = new QLineEdit(Panel1);
    Edit7->setObjectName(QStringLiteral("Edit7"));
    auto *fileLabel = new QLabel(QStringLiteral("File:"), Panel1);
    fileLabel->setBuddy(Edit7);
    Button1 = new QPushButton(QStringLiteral("Browse..."), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(Edit7, 1);
    fileRow->addWidget(Button1);
    column->addWidget(Panel1);

    Panel2 = new QWidget(this);
    auto *buttons = new QHBoxLayout(Panel2);
    buttons->setContentsMargins(6, 0, 6, 0);
    Button2 = new QPushButton(QStringLiteral("Transcribe"), Panel2);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button5 = new QPushButton(QStringLiteral("Cancel"), Panel2);
    Button5->setObjectName(QStringLiteral("Button5"));
    Button5->setShortcut(QKeySequence(Qt::Key_Escape));
    Button5->hide();
    ButtonPublisher = new QPushButton(QStringLiteral("Publisher Transcript"), Panel2);
    ButtonPublisher->setObjectName(QStringLiteral("ButtonPublisher"));
    ButtonPublisher->setEnabled(false);
    Button3 = new QToolButton(Panel2);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setText(QStringLiteral("Save"));
    Button3->setPopupMode(QToolButton::MenuButtonPopup);
    PopupMenu1 = new QMenu(Button3);
    SaveAs1 = PopupMenu1->addAction(QStringLiteral("Save As..."));
    SaveAs1->setObjectName(QStringLiteral("SaveAs1"));
    Button3->setMenu(PopupMenu1);
    buttons->addWidget(Button2);
    buttons->addWidget(Button5);
    buttons->addWidget(ButtonPublisher);
    buttons->addWidget(Button3);
    buttons->addStretch(1);
    column->addWidget(Panel2);

    MemoOpenAI = new QPlainTextEdit(this);
    MemoOpenAI->setObjectName(QStringLiteral("MemoOpenAI"));
    MemoOpenAI->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab goes on to the next control rather than into the text.
    MemoOpenAI->setTabChangesFocus(true);
    MemoOpenAI->setBackgroundRole(QPalette::Button);
    QPalette face = MemoOpenAI->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    MemoOpenAI->setPalette(face);
    MemoOpenAI->setContextMenuPolicy(Qt::CustomContextMenu);
    PopupMenu2 = new QMenu(MemoOpenAI);
    Copy1 = PopupMenu2->addAction(QStringLiteral("Copy"));
    Copy1->setObjectName(QStringLiteral("Copy1"));
    SelectAll1 = PopupMenu2->addAction(QStringLiteral("Select All"));
    SelectAll1->setObjectName(QStringLiteral("SelectAll1"));
    column->addWidget(MemoOpenAI, 1);

    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    // It shows addresses and messages as written, never as markup.
    StatusBar1->setTextFormat(Qt::PlainText);
    StatusBar1->setFrameShape(QFrame::StyledPanel);
    column->addWidget(StatusBar1);

    setTabOrder(Edit9, Button4);
    setTabOrder(Button4, Edit10);
    setTabOrder(Edit10, ComboBox1);
    setTabOrder(ComboBox1, Edit11);
    setTabOrder(Edit11, Edit7);
    setTabOrder(Edit7, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button5);
    setTabOrder(Button5, ButtonPublisher);
    setTabOrder(ButtonPublisher, Button3);
    setTabOrder(Button3, MemoOpenAI);

    resize(635, 517);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto on = [this](auto *sender, auto signal, void (TFormTranscribe::*handler)()) {
        connect(sender, signal, this, [this, handler] { guarded(handler); });
    };
    on(Edit9, &QLineEdit::textChanged, &TFormTranscribe::Edit9Change);
    on(Edit7, &QLineEdit::textChanged, &TFormTranscribe::Edit9Change);
    on(Edit10, &QLineEdit::textEdited, &TFormTranscribe::serverChanged);
    on(ComboBox1, &QComboBox::currentTextChanged, &TFormTranscribe::modelChanged);
    on(Edit11, &QLineEdit::textEdited, &TFormTranscribe::languageChanged);
    on(Button5, &QPushButton::clicked, &TFormTranscribe::Button5Click);
    on(Button4, &QPushButton::clicked, &TFormTranscribe::Button4Click);
    on(Button1, &QPushButton::clicked, &TFormTranscribe::Button1Click);
    on(Button2, &QPushButton::clicked, &TFormTranscribe::Button2Click);
    on(Button3, &QToolButton::clicked, &TFormTranscribe::Button3Click);
    on(ButtonPublisher, &QPushButton::clicked, &TFormTranscribe::ButtonPublisherClick);
    on(SaveAs1, &QAction::triggered, &TFormTranscribe::SaveAs1Click);
    on(Copy1, &QAction::triggered, &TFormTranscribe::Copy1Click);
    on(SelectAll1, &QAction::triggered, &TFormTranscribe::SelectAll1Click);
    connect(MemoOpenAI, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu2->popup(MemoOpenAI->viewport()->mapToGlobal(pos)); });
}

void TFormTranscribe::guarded(void (TFormTranscribe::*handler)())
{
    runCommand(m_dialogs, this, [this, handler] { (this->*handler)(); });
}

void TFormTranscribe::FormCreate()
{
    const QSignalBlocker keyQuiet(Edit9);
    const QSignalBlocker serverQuiet(Edit10);
    const QSignalBlocker modelQuiet(ComboBox1);
    const QSignalBlocker languageQuiet(Edit11);
    Edit9->setText(m_settings.value(kSection, kKey));
    Edit11->setText(m_settings.value(kSection, kLanguage));
    Edit10->setText(m_settings.value(kSection, kServer, QString::fromLatin1(kDefaultTranscriptionServer)));
    ComboBox1->setCurrentText(m_settings.value(kSection, kModel, kTranscriptionModels.first()));
}

void TFormTranscribe::Edit9Change()
{
    m_settings.setValue(kSection, kKey, Edit9->text());
    m_settings.save();
}

// The server and the model are written only once the user has changed them,
// so that the file of a user who never does keeps just the key.
void TFormTranscribe::serverChanged()
{
    m_settings.setValue(kSection, kServer, Edit10->text());
    m_settings.save();
}

void TFormTranscribe::modelChanged()
{
    m_settings.setValue(kSection, kModel, ComboBox1->currentText());
    m_settings.save();
}

void TFormTranscribe::languageChanged()
{
    m_settings.setValue(kSection, kLanguage, Edit11->text());
    m_settings.save();
}

void TFormTranscribe::Button4Click()
{
    openOrSay(m_dialogs, this, QUrl(kApiKeysPage));
}

void TFormTranscribe::Button1Click()
{
    if (const auto file = m_dialogs.chooseFile(this, UserDialogs::FileMode::Open,
                                                QStringLiteral("MP3 File (*.mp3);;Any File (*)"), QStringLiteral("mp3")))
        Edit7->setText(*file);
}

void TFormTranscribe::Button2Click()
{
    ConvertUsingOpenAI();
}

void TFormTranscribe::Button3Click()
{
    const QFileInfo audio(Edit7->text());
    if (audio.exists() && !audio.isDir()) {
        const QString target = transcriptPathOf(Edit7->text());
        writeFileAtomically(target, transcriptFileBytes(MemoOpenAI->toPlainText()));
        StatusBar1->setText(QLatin1String("Saved: ") + target);
    }
    m_dialogs.beep();
}

void TFormTranscribe::SaveAs1Click()
{
    if (const auto file = m_dialogs.chooseFile(this, UserDialogs::FileMode::Save,
                                                QStringLiteral("Text File (*.txt);;Any File (*)"), QStringLiteral("txt")))
        writeFileAtomically(*file, transcriptFileBytes(MemoOpenAI->toPlainText()));
}

void TFormTranscribe::Copy1Click()
{
    const QString selected = MemoOpenAI->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (!selected.isEmpty())
        m_dialogs.setClipboardText(selected);
}

void TFormTranscribe::SelectAll1Click()
{
    MemoOpenAI->selectAll();
}

void TFormTranscribe::ButtonPublisherClick()
{
    showPublisherTranscript(*this, m_dialogs);
}

void TFormTranscribe::setPublisherTranscripts(const TranscriptLinks &links, const QString &feedLanguage)
{
    m_publisherTranscripts = links;
    m_feedLanguage = feedLanguage;
    ButtonPublisher->setEnabled(!links.isEmpty());
}

TranscriptionService TFormTranscribe::service() const
{
    TranscriptionService s;
    s.server = Edit10->text().trimmed();
    s.model = ComboBox1->currentText().trimmed();
    s.language = Edit11->text().trimmed();
    s.connectTimeoutMs = connectTimeoutMs;
    s.replyTimeoutMs = replyTimeoutMs;
    return s;
}

QString TFormTranscribe::statusText() const
{
    return StatusBar1->text();
}

bool TFormTranscribe::busy() const
{
    return m_runner->isRunning();
}

void TFormTranscribe::setWorking(bool working)
{
    // While the work runs, Cancel is the one control that takes input.
    for (QWidget *w : {static_cast<QWidget *>(PageControl1), Panel1, static_cast<QWidget *>(Button2),
                       static_cast<QWidget *>(Button3), static_cast<QWidget *>(MemoOpenAI)})
        w->setEnabled(!working);
    ButtonPublisher->setEnabled(!working && !m_publisherTranscripts.isEmpty());
    Button5->setVisible(working);
    Button5->setEnabled(working);
    if (working)
        Button5->setFocus();
}

void TFormTranscribe::finishWaiting(const QString &status, const QString &text)
{
    StatusBar1->setText(status);
    MemoOpenAI->setPlainText(text);
    QApplication::restoreOverrideCursor();
    setWorking(false);
}

void TFormTranscribe::ConvertUsingOpenAI()
{
    if (busy())
        return;
    const TranscriptionService chosen = service();
    // A server of the user's own may need no key; OpenAI's always does.
    if (trimControls(Edit9->text()).isEmpty() && chosen.isDefaultServer()) {
        Edit9->setFocus();
        m_dialogs.message(this, QStringLiteral("Please enter your credentials for OpenAI API."),
                          QStringLiteral("CREDENTIALS"), UserDialogs::Icon::Information);
        return;
    }
    const QString badKey = keyProblem(Edit9->text());
    if (!badKey.isEmpty()) {
        Edit9->setFocus();
        m_dialogs.message(this, badKey, QStringLiteral("CREDENTIALS"), UserDialogs::Icon::Warning);
        return;
    }
    const QString path = Edit7->text();
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        m_dialogs.message(this, QStringLiteral("File not found!"), QStringLiteral("WARNING"), UserDialogs::Icon::Warning);
        return;
    }
    {
        QFile readable(path);
        if (!readable.open(QIODevice::ReadOnly)) {
            m_dialogs.message(this, QStringLiteral("File read error!"), QStringLiteral("WARNING"),
                              UserDialogs::Icon::Warning);
            return;
        }
    }
    if (FileSizeOf(path) >= kLargeTranscriptionFileBytes
        && m_dialogs.ask(this, QStringLiteral("The file size exceeds 26,214,400 bytes!\r\rWould you still like to try it?"),
                         QStringLiteral("Confirmation"), UserDialogs::Icon::Question,
                         QMessageBox::Yes | QMessageBox::No, {QStringLiteral("Yes"), QStringLiteral("No")})
               == QMessageBox::No)
        return;

    TranscriptionJob job;
    job.service = chosen;
    job.key = Edit9->text();
    job.path = path;
    job.limits = limits ? *limits : limitsOf(chosen);
    job.workRoot = workRoot;

    m_textBefore = MemoOpenAI->toPlainText();
    MemoOpenAI->clear();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    StatusBar1->setText(QStringLiteral("Please wait..."));
    setWorking(true);
    m_runner->start(job);
}

void TFormTranscribe::Button5Click()
{
    if (!busy())
        return;
    m_runner->cancel();
    StatusBar1->setText(QStringLiteral("Cancelling..."));
}

void TFormTranscribe::transcriptionEnded(const TranscriptionOutcome &outcome)
{
    using End = TranscriptionOutcome::End;
    if (outcome.end == End::Cancelled) {
        finishWaiting(QStringLiteral("Cancelled"), m_textBefore);
        return;
    }
    const QString text = trimControls(outcome.text);
    if (outcome.end == End::Done) {
        if (text.isEmpty()) {
            finishWaiting(QString(), QString());
            m_dialogs.message(this, QStringLiteral("Invalid server response!"), QStringLiteral("WARNING"),
                              UserDialogs::Icon::Warning);
            return;
        }
        m_dialogs.beep();
        finishWaiting(QStringLiteral("Finished"), text);
        return;
    }
    // A failure keeps the text of the pieces done before it.
    const bool split = outcome.failedPart > 0 && outcome.parts > 1;
    const QString where = split ? QStringLiteral("Part %1 of %2").arg(outcome.failedPart).arg(outcome.parts) : QString();
    if (!text.isEmpty()) {
        finishWaiting(QStringLiteral("Stopped at part %1 of %2").arg(outcome.failedPart).arg(outcome.parts), text);
        m_dialogs.message(this, where + QLatin1String(": ") + outcome.error, QStringLiteral("ERROR"),
                          UserDialogs::Icon::Error);
        return;
    }
    finishWaiting(QString(), QString());
    m_dialogs.message(this, split ? where + QLatin1String(": ") + outcome.error : outcome.error, QStringLiteral("ERROR"),
                      UserDialogs::Icon::Error);
    if (outcome.requestFailed)
        m_dialogs.message(this, QStringLiteral("Invalid server response!"), QStringLiteral("WARNING"),
                          UserDialogs::Icon::Warning);
}

void openTranscribeWindow(TranscribeHost &host)
{
    QWidget *parent = host.transcribeParent();
    auto *window = new TFormTranscribe(host.settings(), host.dialogs(), parent);
    // While a batch runs the window opens empty, without a word.
    if (!host.downloadsRunning()) {
        const TranscribeHost::SelectedEpisode episode = host.selectedEpisode();
        if (!episode.selected || trimControls(episode.url).isEmpty()) {
            host.dialogs().message(parent, QStringLiteral("No file selected!"), QStringLiteral("Warning"),
                                   UserDialogs::Icon::Warning);
        } else {
            // The publisher's transcript needs no download.
            window->setPublisherTranscripts(episode.transcripts, episode.feedLanguage);
            const QString &path = episode.filePath;
            if (!QFileInfo::exists(path)) {
                host.dialogs().message(parent, QStringLiteral("File is not downloaded!"), QStringLiteral("Warning"),
                                       UserDialogs::Icon::Warning);
            } else {
                window->Edit7->setText(path);
                const QString transcript = transcriptPathOf(path);
                if (QFileInfo::exists(transcript)) {
                    QFile file(transcript);
                    if (!file.open(QIODevice::ReadOnly)) {
                        delete window;
                        throw AppError(file.errorString());
                    }
                    window->MemoOpenAI->setPlainText(decodeText(file.readAll()));
                }
            }
        }
    }
    window->show();
}
