#include "app/main.h"

#include "app/datafolder.h"
#include "app/programicon.h"
#include "base/errors.h"
#include "base/makerserver.h"
#include "base/textcodec.h"
#include "downloads/downloader.h"
#include "downloads/filenaming.h"
#include "feeds/displayrss.h"
#include "feeds/episodecommands.h"
#include "feeds/episodemodel.h"
#include "feeds/feedlistfile.h"
#include "feeds/feedlistmodel.h"
#include "feeds/finddialog.h"
#include "feeds/findpodcasts.h"
#include "feeds/opmlcommand.h"
#include "feeds/podcastdirectorycommand.h"
#include "feeds/rssparser.h"
#include "net/webget.h"
#include "platform/folders.h"
#include "services/about.h"
#include "services/feedback.h"
#include "services/servicesettings.h"
#if MORVANE_UPDATE_CHECK
#include "services/updatecheck.h"
#endif
#include "transcribe/transcribeform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kDownloadLocation = QStringLiteral("DownloadLocation");

QIcon image(const char *name)
{
    return QIcon(QStringLiteral(":/images/%1.png").arg(QLatin1String(name)));
}

QFont tahoma(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, int w, int h)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setFixedSize(w, h);
    return b;
}

QAction *action(QObject *parent, const char *name, const QString &caption, const char *imageName = nullptr)
{
    auto *a = new QAction(caption, parent);
    a->setObjectName(QLatin1String(name));
    if (imageName)
        a->setIcon(image(imageName));
    return a;
}

// The report-style list views: grid lines, whole-row extended selection,
// nothing editable, uniform rows so that big lists stay fast. The arrow keys
// move within a list; Tab and Shift+Tab leave it for the next control.
void setUpListView(QTableView *view)
{
    view->setTabKeyNavigation(false);
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->setIconSize(QSize(16, 16));
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

// The selected rows of a list view, top to bottom.
QList<int> selectedRows(const QTableView *view)
{
    QList<int> rows;
    for (const QModelIndex &index : view->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

AppEnvironment AppEnvironment::forThisProcess(UserDialogs &dialogs)
{
    AppEnvironment env;
    env.dialogs = &dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = QCoreApplication::applicationDirPath();
    env.configFolder = userConfigFolder();
    env.desktopFolder = GetSpecialFolder(CSIDL_DESKTOP);
#if MORVANE_UPDATE_CHECK
    env.serviceSettingsFile = ServiceSettings::nativeFileName();
#endif
    env.restartProgram = [] { QProcess::startDetached(QCoreApplication::applicationFilePath(), {}); };
    return env;
}

TAppForm::TAppForm(AppEnvironment env, QWidget *parent) : QMainWindow(parent), m_env(std::move(env))
{
    Q_ASSERT(m_env.dialogs);
    setObjectName(QStringLiteral("AppForm"));
    // The windows this one opens take the icon from it.
    setWindowIcon(programIcon());
    setFont(tahoma(11));
    m_feeds = new FeedListModel(this);
    m_episodes = new EpisodeModel(this);
    buildWindow();
    buildMenus();
    connectCommands();
    FormCreate();
    showWelcomeWhenEmpty();
    if (!hasMakerServer())
        disableMakerCommands();
#if MORVANE_UPDATE_CHECK
    else if (!m_env.serviceSettingsFile.isEmpty()) {
        m_updateCheck = new UpdateCheckController(m_identity, m_env.serviceSettingsFile, *m_env.dialogs, this);
        TimerChecker->start();
    }
#else
    // Built without the update check: nothing of it is shown.
    UpdateNotifications1->setVisible(false);
    UpdateNotificationsBar->setVisible(false);
#endif
}

TAppForm::~TAppForm()
{
    stopDownloads(*this);
}

void TAppForm::closeEvent(QCloseEvent *event)
{
    // A running batch ends with the window: its transfer is abandoned and no
    // partial file stays behind.
    stopDownloads(*this);
    QMainWindow::closeEvent(event);
}

void TAppForm::buildWindow()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Top button bar.
    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(36);
    auto *top = new QHBoxLayout(Panel1);
    top->setContentsMargins(3, 3, 3, 3);
    top->setSpacing(3);
    Button3 = button(Panel1, "Button3", QStringLiteral("Add RSS..."), 130, 30);
    Button3->setIcon(image("rss_32"));
    Button5 = button(Panel1, "Button5", QStringLiteral("Delete"), 75, 30);
    Button5->setIcon(image("arrow128"));
    Button5->setLayoutDirection(Qt::RightToLeft); // the arrow right of the caption
    top->addWidget(Button3);
    top->addWidget(Button5);
    top->addStretch(1);
    column->addWidget(Panel1);

    // Feed list and episode list, with the splitter between them.
    Splitter1 = new QSplitter(Qt::Vertical, central);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(5);
    Splitter1->setOpaqueResize(true);
    Splitter1->setChildrenCollapsible(false);

    PageControl1 = new QTabWidget(Splitter1);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new QWidget(PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    ListBox1 = new QTableView(TabSheet1);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    setUpListView(ListBox1);
    ListBox1->setModel(m_feeds);
    ListBox1->horizontalHeader()->hide();
    ListBox1->setAccessibleName(QStringLiteral("RSS Feeds"));
    ListBox1->horizontalHeader()->setStretchLastSection(true);
    // While the list is empty its place shows how to fill it.
    Panel4 = new QWidget(TabSheet1);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Label3 = new QLabel(QStringLiteral("Your podcast list is empty. Add a feed by its address, find one "
                                       "in the podcast directory, or bring your list from another podcast program."),
                        Panel4);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignCenter);
    Button6 = button(Panel4, "Button6", QStringLiteral("Add RSS..."), 130, 30);
    Button6->setIcon(image("rss_32"));
    Button7 = button(Panel4, "Button7", QStringLiteral("Find Podcasts..."), 130, 30);
    Button7->setIcon(image("search"));
    Button8 = button(Panel4, "Button8", QStringLiteral("Import OPML..."), 130, 30);
    auto *welcomeButtons = new QHBoxLayout;
    welcomeButtons->addStretch(1);
    welcomeButtons->addWidget(Button6);
    welcomeButtons->addWidget(Button7);
    welcomeButtons->addWidget(Button8);
    welcomeButtons->addStretch(1);
    auto *welcome = new QVBoxLayout(Panel4);
    welcome->addStretch(1);
    welcome->addWidget(Label3);
    welcome->addSpacing(6);
    welcome->addLayout(welcomeButtons);
    welcome->addStretch(1);

    auto *tab1 = new QVBoxLayout(TabSheet1);
    tab1->setContentsMargins(2, 2, 2, 2);
    m_feedPages = new QStackedLayout;
    m_feedPages->addWidget(ListBox1);
    m_feedPages->addWidget(Panel4);
    tab1->addLayout(m_feedPages);
    PageControl1->addTab(TabSheet1, QStringLiteral("RSS Feeds"));

    PageControl2 = new QTabWidget(Splitter1);
    PageControl2->setObjectName(QStringLiteral("PageControl2"));
    TabSheet2 = new QWidget(PageControl2);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    ListView1 = new QTableView(TabSheet2);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    setUpListView(ListView1);
    ListView1->setModel(m_episodes);
    ListView1->setColumnWidth(EpisodeModel::Title, 150);
    ListView1->setColumnWidth(EpisodeModel::Url, 150);
    ListView1->setColumnWidth(EpisodeModel::Date, 150);
    ListView1->setColumnWidth(EpisodeModel::Status, 100);
    ListView1->setAccessibleName(QStringLiteral("Downloadable Episodes"));
    auto *tab2 = new QVBoxLayout(TabSheet2);
    tab2->setContentsMargins(2, 2, 2, 2);
    tab2->addWidget(ListView1);
    PageControl2->addTab(TabSheet2, QStringLiteral("Downloadable Episodes"));

    Splitter1->addWidget(PageControl1);
    Splitter1->addWidget(PageControl2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({150, 400});
    column->addWidget(Splitter1, 1);

    // Progress bar, shown only while a download batch runs.
    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setFixedHeight(17);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    column->addWidget(ProgressBar1);

    // Download-location row.
    column->addSpacing(3);
    Panel3 = new QWidget(central);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(32);
    auto *location = new QHBoxLayout(Panel3);
    location->setContentsMargins(3, 1, 3, 1);
    location->setSpacing(3);
    Label1 = new QLabel(QStringLiteral("Download Location:"), Panel3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    Edit1 = new QLineEdit(Panel3);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFixedWidth(281);
    Edit1->setFont(tahoma(13));
    Button2 = button(Panel3, "Button2", QString(), 30, 30);
    Button2->setIcon(image("folder48"));
    Button2->setIconSize(QSize(22, 22));
    // The folder button shows only its image: a name and a tip say what it does.
    Button2->setAccessibleName(QStringLiteral("Select folder"));
    Button2->setToolTip(QStringLiteral("Select folder"));
    Label1->setBuddy(Edit1);
    BitBtn2 = button(Panel3, "BitBtn2", QStringLiteral("Explore"), 75, 30);
    location->addWidget(Label1);
    location->addWidget(Edit1);
    location->addWidget(Button2);
    location->addWidget(BitBtn2);
    location->addStretch(1);
    column->addWidget(Panel3);

    // Bottom button row; the spacer puts Download under the location box.
    Panel2 = new QWidget(central);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(36);
    auto *bottom = new QHBoxLayout(Panel2);
    bottom->setContentsMargins(3, 3, 3, 3);
    bottom->setSpacing(3);
    Label2 = new QLabel(Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFixedWidth(96);
    BitBtn1 = button(Panel2, "BitBtn1", QStringLiteral("Download"), 140, 30);
    BitBtn1->setFont(tahoma(11, true));
    BitBtn1->setIcon(image("save-download-icon"));
    Button1 = button(Panel2, "Button1", QStringLiteral("Transcribe"), 140, 30);
    Button1->setFont(tahoma(11, true));
    Button1->setIcon(image("transcription32"));
    bottom->addWidget(Label2);
    bottom->addWidget(BitBtn1);
    bottom->addWidget(Button1);
    bottom->addStretch(1);
    column->addWidget(Panel2);

    setCentralWidget(central);

    // Status bar: one text panel across the bar.
    StatusBar1 = new QLabel(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    // It shows addresses and messages as written, never as markup.
    StatusBar1->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(true);
    statusBar()->addWidget(StatusBar1, 1);
    // 19 high; higher where the font that stands in for Tahoma is taller than
    // 19 pixels leave room for (Noto, say), so that no descender is cut off.
    // The bar keeps 3 pixels above its text and 2 below.
    statusBar()->setFixedHeight(std::max(19, StatusBar1->minimumSizeHint().height() + 5));

    FindDialog1 = new TFindDialog(this);
    FindDialog1->setObjectName(QStringLiteral("FindDialog1"));

    TimerChecker = new QTimer(this);
    TimerChecker->setObjectName(QStringLiteral("TimerChecker"));
    TimerChecker->setInterval(1000);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);

    // Each tab control holds one page: there is nothing to switch, so the tab
    // bars take no focus. Tab goes from control to control in this order, and
    // from the last round to the first.
    for (QTabWidget *tabs : {PageControl1, PageControl2}) {
        tabs->setFocusPolicy(Qt::NoFocus);
        tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    }
    const QList<QWidget *> tabOrder{ListBox1, Button6, Button7, Button8, ListView1, Edit1, Button2, BitBtn2, BitBtn1, Button1, Button3, Button5};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    resize(584, 470);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAppForm::buildMenus()
{
    File1 = menuBar()->addMenu(QStringLiteral("Podcast"));
    File1->setObjectName(QStringLiteral("File1"));
    Add1 = action(this, "Add1", QStringLiteral("Add RSS..."), "rss_32");
    ClearList1 = action(this, "ClearList1", QStringLiteral("Clear Podcast List"));
    FetchPodcastList1 = action(this, "FetchPodcastList1", QStringLiteral("Fetch Podcast List"));
    FindPodcasts1 = action(this, "FindPodcasts1", QStringLiteral("Find Podcasts..."), "search");
    ImportOPML1 = action(this, "ImportOPML1", QStringLiteral("Import OPML..."));
    ExportOPML1 = action(this, "ExportOPML1", QStringLiteral("Export OPML..."));
    Exit1 = action(this, "Exit1", QStringLiteral("Exit"), "exit");
    Exit1->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    File1->addAction(Add1);
    File1->addSeparator();
    File1->addAction(ClearList1);
    File1->addAction(FetchPodcastList1);
    File1->addAction(FindPodcasts1);
    File1->addSeparator();
    File1->addAction(ImportOPML1);
    File1->addAction(ExportOPML1);
    File1->addSeparator();
    File1->addAction(Exit1);

    Edit2 = menuBar()->addMenu(QStringLiteral("Edit"));
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Find1 = action(this, "Find1", QStringLiteral("Find..."), "search");
    FindNext1 = action(this, "FindNext1", QStringLiteral("Find Next"));
    FindNext1->setShortcut(QKeySequence(Qt::Key_F3));
    Edit2->addAction(Find1);
    Edit2->addAction(FindNext1);

    Settings1 = menuBar()->addMenu(QStringLiteral("Settings"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    ResettoDefaults1 = action(this, "ResettoDefaults1", QStringLiteral("Reset to Defaults..."));
    Settings1->addAction(ResettoDefaults1);

    Help1 = menuBar()->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = action(this, "Help2", QStringLiteral("Online Help"), "help");
    Help2->setShortcut(QKeySequence(Qt::Key_F1));
    UpdateNotifications1 = action(this, "UpdateNotifications1", QStringLiteral("Update Notifications"));
    UpdateNotifications1->setCheckable(true);
    UpdateNotifications1->setChecked(true);
    UpdateNotifications1->setEnabled(false);
    SendFeedback1 = action(this, "SendFeedback1", QStringLiteral("Send Feedback..."), "feedback");
    About1 = action(this, "About1", QStringLiteral("About..."), "about");
    Help1->addAction(Help2);
    Help1->addSeparator();
    Help1->addAction(UpdateNotifications1);
    UpdateNotificationsBar = Help1->addSeparator();
    UpdateNotificationsBar->setObjectName(QStringLiteral("UpdateNotificationsBar"));
    Help1->addAction(SendFeedback1);
    Help1->addAction(About1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    RetrieveEpisodes1 = action(this, "RetrieveEpisodes1", QStringLiteral("Retrieve Episodes"));
    Copy1 = action(this, "Copy1", QStringLiteral("Copy URL"));
    Delete2 = action(this, "Delete2", QStringLiteral("Delete"));
    DisplayRSS1 = action(this, "DisplayRSS1", QStringLiteral("View Source..."));
    PopupMenu1->addAction(RetrieveEpisodes1);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(Copy1);
    PopupMenu1->addAction(Delete2);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(DisplayRSS1);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    Download1 = action(this, "Download1", QStringLiteral("Download"), "save-download-icon");
    Transcribe1 = action(this, "Transcribe1", QStringLiteral("Transcribe"), "transcription32");
    CopyTitle1 = action(this, "CopyTitle1", QStringLiteral("Copy Title"));
    MenuItem1 = action(this, "MenuItem1", QStringLiteral("Copy URL"));
    CopyDate1 = action(this, "CopyDate1", QStringLiteral("Copy Date"));
    DeselectAll1 = action(this, "DeselectAll1", QStringLiteral("Deselect All"));
    SelectAll1 = action(this, "SelectAll1", QStringLiteral("Select All"));
    PopupMenu2->addAction(Download1);
    PopupMenu2->addAction(Transcribe1);
    PopupMenu2->addSeparator();
    PopupMenu2->addAction(CopyTitle1);
    PopupMenu2->addAction(MenuItem1);
    PopupMenu2->addAction(CopyDate1);
    PopupMenu2->addSeparator();
    PopupMenu2->addAction(DeselectAll1);
    PopupMenu2->addAction(SelectAll1);
    // Only while a batch runs; Escape in the episode list does the same.
    CancelDownloads1 = action(this, "CancelDownloads1", QStringLiteral("Cancel Downloads"));
    CancelDownloads1->setShortcut(QKeySequence(Qt::Key_Escape));
    CancelDownloads1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    CancelDownloads1->setVisible(false);
    CancelDownloads1->setEnabled(false);
    PopupMenu2->insertAction(Transcribe1, CancelDownloads1);
    ListView1->addAction(CancelDownloads1);

    PopupMenu3 = new QMenu(this);
    PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
    DeleteSelected1 = action(this, "DeleteSelected1", QStringLiteral("Delete Selected"));
    DeleteAll1 = action(this, "DeleteAll1", QStringLiteral("Delete All"));
    PopupMenu3->addAction(DeleteSelected1);
    PopupMenu3->addAction(DeleteAll1);

    // Shortcuts work from anywhere in the window, whichever control has the focus.
    for (QAction *a : {Exit1, FindNext1, Help2}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
}

template <typename Sender, typename Signal>
void TAppForm::on(Sender *sender, Signal signal, void (TAppForm::*handler)())
{
    connect(sender, signal, this, [this, handler] { guarded(handler); });
}

void TAppForm::guarded(void (TAppForm::*handler)())
{
    runCommand(*m_env.dialogs, this, [this, handler] { (this->*handler)(); });
}

void TAppForm::connectCommands()
{
    on(Add1, &QAction::triggered, &TAppForm::Button3Click);
    on(Button3, &QPushButton::clicked, &TAppForm::Button3Click);
    on(Button5, &QPushButton::clicked, &TAppForm::Button5Click);
    on(ClearList1, &QAction::triggered, &TAppForm::ClearList1Click);
    on(Exit1, &QAction::triggered, &TAppForm::Exit1Click);
    on(ResettoDefaults1, &QAction::triggered, &TAppForm::ResettoDefaults1Click);
    on(Help2, &QAction::triggered, &TAppForm::Help2Click);
    on(RetrieveEpisodes1, &QAction::triggered, &TAppForm::ListBox1Click);
    on(Copy1, &QAction::triggered, &TAppForm::Copy1Click);
    on(Delete2, &QAction::triggered, &TAppForm::DeleteSelected1Click);
    on(DeleteSelected1, &QAction::triggered, &TAppForm::DeleteSelected1Click);
    on(DeleteAll1, &QAction::triggered, &TAppForm::DeleteAll1Click);
    on(Button2, &QPushButton::clicked, &TAppForm::Button2Click);
    on(BitBtn2, &QPushButton::clicked, &TAppForm::BitBtn2Click);
    on(Button1, &QPushButton::clicked, &TAppForm::Button1Click);
    on(Edit1, &QLineEdit::textChanged, &TAppForm::Edit1Change);
    on(Timer1, &QTimer::timeout, &TAppForm::Timer1Timer);
    on(FetchPodcastList1, &QAction::triggered, &TAppForm::FetchPodcastList1Click);
    on(FindPodcasts1, &QAction::triggered, &TAppForm::FindPodcasts1Click);
    on(ImportOPML1, &QAction::triggered, &TAppForm::ImportOPML1Click);
    on(ExportOPML1, &QAction::triggered, &TAppForm::ExportOPML1Click);
    connect(Button6, &QPushButton::clicked, Add1, &QAction::trigger);
    connect(Button7, &QPushButton::clicked, FindPodcasts1, &QAction::trigger);
    connect(Button8, &QPushButton::clicked, ImportOPML1, &QAction::trigger);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_feeds, signal, this, &TAppForm::showWelcomeWhenEmpty);
    connect(m_feeds, &QAbstractItemModel::modelReset, this, &TAppForm::showWelcomeWhenEmpty);
    on(TimerChecker, &QTimer::timeout, &TAppForm::TimerCheckerTimer);
    on(UpdateNotifications1, &QAction::triggered, &TAppForm::UpdateNotifications1Click);
    on(SendFeedback1, &QAction::triggered, &TAppForm::SendFeedback1Click);
    on(About1, &QAction::triggered, &TAppForm::About1Click);
    on(ListBox1, &QTableView::clicked, &TAppForm::ListBox1Click);
    on(DisplayRSS1, &QAction::triggered, &TAppForm::DisplayRSS1Click);
    on(Find1, &QAction::triggered, &TAppForm::Find1Click);
    on(FindNext1, &QAction::triggered, &TAppForm::FindNext1Click);
    on(FindDialog1, &TFindDialog::find, &TAppForm::FindDialog1Find);
    on(CopyTitle1, &QAction::triggered, &TAppForm::CopyTitle1Click);
    on(MenuItem1, &QAction::triggered, &TAppForm::MenuItem1Click);
    on(CopyDate1, &QAction::triggered, &TAppForm::CopyDate1Click);
    on(SelectAll1, &QAction::triggered, &TAppForm::SelectAll1Click);
    on(DeselectAll1, &QAction::triggered, &TAppForm::DeselectAll1Click);
    on(ListView1, &QTableView::doubleClicked, &TAppForm::ListView1DblClick);
    on(BitBtn1, &QPushButton::clicked, &TAppForm::BitBtn1Click);
    on(Download1, &QAction::triggered, &TAppForm::Download1Click);
    on(Transcribe1, &QAction::triggered, &TAppForm::Transcribe1Click);
    on(CancelDownloads1, &QAction::triggered, &TAppForm::CancelDownloads1Click);

    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos)); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu2->popup(ListView1->viewport()->mapToGlobal(pos)); });
}

// ---- Window creation -------------------------------------------------------

void TAppForm::FormCreate()
{
    m_identity = AppIdentity::fromVersionInfo(ReadVersionInfo(m_env.versionFile));
    setWindowTitle(m_identity.title);
    m_dataFolder = chooseDataFolder(m_env.programFolder, m_identity, m_env.configFolder);

    // An unreadable settings file (not UTF-8, say) is thrown away and rebuilt.
    m_settings = IniDocument(m_dataFolder + QLatin1String("settings.ini"));
    try {
        m_settings.load();
    } catch (const AppError &) {
        QFile::remove(m_settings.fileName());
        m_settings = IniDocument(m_settings.fileName());
    }

    const QString saved = m_settings.value(kSection, kDownloadLocation);
    if (!saved.isEmpty() && QFileInfo(saved).isDir())
        Edit1->setText(saved);
    if (Edit1->text().isEmpty())
        Edit1->setText(m_env.desktopFolder);
    m_rememberedFolder = Edit1->text();

    const QString listFile = listFileName();
    if (QFileInfo::exists(listFile))
        runCommand(*m_env.dialogs, this, [&] { ListBoxYukle(listFile); });
    else if (hasMakerServer())
        Timer1->start();
    watchListFile();
}

void TAppForm::showWelcomeWhenEmpty()
{
    m_feedPages->setCurrentWidget(m_feeds->rowCount() == 0 ? Panel4 : static_cast<QWidget *>(ListBox1));
}

void TAppForm::disableMakerCommands()
{
    for (QAction *a : {FetchPodcastList1, SendFeedback1, UpdateNotifications1}) {
        a->setEnabled(false);
        a->setToolTip(noMakerServerText());
    }
    File1->setToolTipsVisible(true);
    Help1->setToolTipsVisible(true);
}

void TAppForm::Edit1Change()
{
    m_settings.setValue(kSection, kDownloadLocation, Edit1->text());
    m_settings.save();
}

void TAppForm::Timer1Timer()
{
    Timer1->stop();
    FetchPodcastList1->trigger();
}

void TAppForm::FetchPodcastList1Click()
{
    if (!hasMakerServer())
        return;
    FetchPodcastList(*m_env.dialogs, this, *m_feeds, *m_episodes, [this] { ListBoxChange(); });
}

void TAppForm::FindPodcasts1Click()
{
    if (!m_findPodcasts)
        m_findPodcasts = new TFindPodcasts(m_settings, *m_env.dialogs,
                                           [this](const QStringList &urls) { return addFeeds(urls); }, this);
    m_findPodcasts->show();
    m_findPodcasts->raise();
    m_findPodcasts->activateWindow();
}

int TAppForm::addFeeds(const QStringList &urls)
{
    const QStringList added = newFeedEntries(m_feeds->urls(), urls);
    m_feeds->append(added);
    ListBoxChange();
    return int(added.size());
}

void TAppForm::ImportOPML1Click()
{
    ImportOpml(*m_env.dialogs, this, *m_feeds, [this] { ListBoxChange(); });
}

void TAppForm::ExportOPML1Click()
{
    ExportOpml(*m_env.dialogs, this, *m_feeds);
}

void TAppForm::TimerCheckerTimer()
{
#if MORVANE_UPDATE_CHECK
    m_updateCheck->TimerCheckerTimer(TimerChecker, UpdateNotifications1);
#endif
}

void TAppForm::UpdateNotifications1Click()
{
#if MORVANE_UPDATE_CHECK
    m_updateCheck->UpdateNotifications1Click(UpdateNotifications1);
#endif
}

void TAppForm::SendFeedback1Click()
{
    if (!hasMakerServer())
        return;
    TFeedbackForm::showModal(m_identity, *m_env.dialogs, this);
}

void TAppForm::About1Click()
{
    TAboutBox::showModal(m_identity, m_env.programFolder, *m_env.dialogs, this);
}

void TAppForm::ResettoDefaults1Click()
{
    const auto answer = m_env.dialogs->ask(this, QStringLiteral("Restart Application?"),
                                           QStringLiteral("Confirmation"), UserDialogs::Icon::Question,
                                           QMessageBox::Yes | QMessageBox::No,
                                           {QStringLiteral("Yes"), QStringLiteral("No")});
    if (answer != QMessageBox::Yes)
        return;
    QFile::remove(m_dataFolder + QLatin1String("settings.ini"));
    QFile::remove(m_dataFolder + QLatin1String("list.txt"));
    QCoreApplication::processEvents();
    if (m_env.restartProgram)
        m_env.restartProgram();
    close();
    QCoreApplication::quit();
}

void TAppForm::Help2Click()
{
    try {
        openOrSay(*m_env.dialogs, this, QUrl(onlineHelpUrl(m_identity.productName)));
    } catch (...) {
    }
}

void TAppForm::Exit1Click()
{
    close();
}

// ---- Download location -----------------------------------------------------

void TAppForm::AddMyFolder(const QString &folder)
{
    if (trimControls(folder).isEmpty())
        return;
    m_rememberedFolder = folder;
    Edit1->setText(folder);
}

void TAppForm::Button2Click()
{
    const auto chosen = m_env.dialogs->chooseFolder(this, QStringLiteral("Select folder:"), m_rememberedFolder);
    if (!chosen)
        return;
    m_rememberedFolder = QDir::toNativeSeparators(QFileInfo(*chosen).absoluteFilePath());
    AddMyFolder(m_rememberedFolder);
}

void TAppForm::BitBtn2Click()
{
    openOrSay(*m_env.dialogs, this, QUrl::fromLocalFile(Edit1->text()));
}

void TAppForm::Button1Click()
{
    Transcribe1->trigger();
}

QString TAppForm::statusText() const
{
    return StatusBar1->text();
}

void TAppForm::setStatusText(const QString &text)
{
    StatusBar1->setText(text);
}

// ---- Feed list ---------------------------------------------------------------

void TAppForm::ListBoxYukle(const QString &fileName)
{
    const QStringList rows = readFeedListFile(fileName);
    m_feeds->append(rows);
    if (fileName == listFileName())
        m_listOnDisk = rows;
}

QString TAppForm::listFileName() const
{
    return m_dataFolder + QLatin1String("list.txt");
}

void TAppForm::ListBoxChange()
{
    const QString fileName = listFileName();
    // A file that is gone (Reset to Defaults in another copy) holds no
    // changes of another copy.
    const QStringList onDisk = QFileInfo::exists(fileName) ? readFeedListFile(fileName) : m_listOnDisk;
    const QStringList merged = mergeFeedLists(m_listOnDisk, m_feeds->urls(), onDisk);
    writeFeedListFile(fileName, merged);
    // What the file holds now: a row with a line break in it is two rows
    // there, though the list shows it as typed.
    m_listOnDisk = feedListRows(feedListFileBytes(merged));
    if (merged != m_feeds->urls())
        showFeedRows(merged);
}

void TAppForm::ListFileChanged()
{
    watchListFile();  // a file replaced by a new one is watched anew
    const QString fileName = listFileName();
    if (!QFileInfo::exists(fileName))
        return;
    QStringList onDisk;
    try {
        onDisk = readFeedListFile(fileName);
    } catch (const AppError &) {
        return;  // the next save tells why
    }
    if (onDisk == m_listOnDisk)
        return;  // this copy's own write, or nothing new
    const QStringList merged = mergeFeedLists(m_listOnDisk, m_feeds->urls(), onDisk);
    m_listOnDisk = onDisk;
    if (merged != m_feeds->urls())
        showFeedRows(merged);
}

void TAppForm::watchListFile()
{
    if (!m_listWatcher) {
        m_listWatcher = new QFileSystemWatcher(this);
        // The file is replaced whole when written, so its folder is watched
        // too: that is where a new file shows.
        connect(m_listWatcher, &QFileSystemWatcher::fileChanged, this, [this] { ListFileChanged(); });
        connect(m_listWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { ListFileChanged(); });
    }
    const QString fileName = listFileName();
    if (!m_listWatcher->directories().contains(QDir::cleanPath(m_dataFolder)) && QFileInfo(m_dataFolder).isDir())
        m_listWatcher->addPath(QDir::cleanPath(m_dataFolder));
    if (!m_listWatcher->files().contains(fileName) && QFileInfo::exists(fileName))
        m_listWatcher->addPath(fileName);
}

void TAppForm::showFeedRows(const QStringList &rows)
{
    // A selected row is known by its URL and which of the rows with that URL
    // it is.
    const QStringList old = m_feeds->urls();
    QList<QPair<QString, int>> selected;
    for (int row : selectedFeedRows())
        selected.append({old[row], int(old.mid(0, row).count(old[row]))});
    m_feeds->setUrls(rows);
    QItemSelectionModel *selection = ListBox1->selectionModel();
    bool first = true;
    for (const auto &[url, occurrence] : selected) {
        qsizetype at = -1;
        for (int n = 0; n <= occurrence; ++n) {
            at = rows.indexOf(url, at + 1);
            if (at < 0)
                break;
        }
        if (at < 0)
            continue;
        const QModelIndex index = m_feeds->index(int(at), 0);
        if (first)
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        else
            selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        first = false;
    }
}

QStringList TAppForm::feedUrls() const
{
    return m_feeds->urls();
}

QList<int> TAppForm::selectedFeedRows() const
{
    return selectedRows(ListBox1);
}

int TAppForm::currentFeedRow() const
{
    const QList<int> rows = selectedFeedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void TAppForm::Button3Click()
{
    const auto entered = m_env.dialogs->inputText(this, QStringLiteral("RSS"), QStringLiteral("Please enter new RSS URL:"),
                                                  QStringLiteral("http://"));
    if (!entered)
        return;
    if (trimControls(*entered).isEmpty()) {
        m_env.dialogs->message(this, QStringLiteral("Invalid RSS!"), QStringLiteral("RSS"), UserDialogs::Icon::Warning);
        return;
    }
    m_feeds->append({*entered});
    const QModelIndex added = m_feeds->index(m_feeds->rowCount() - 1, 0);
    ListBox1->selectionModel()->setCurrentIndex(added, QItemSelectionModel::ClearAndSelect
                                                           | QItemSelectionModel::Rows);
    ListBox1->scrollTo(added);
    ListBox1->setFocus();
    ListBoxChange();
    ListBox1Click();
}

void TAppForm::Button5Click()
{
    PopupUnderButton(Button5, PopupMenu3);
}

void TAppForm::PopupUnderButton(QPushButton *button, QMenu *menu)
{
    const auto ticks = [] { return quint32(QDeadlineTimer::current().deadline()); };
    if (!m_popupGuard.mayOpen(button, menu, ticks()))
        return;
    menu->exec(button->mapToGlobal(QPoint(0, button->height())));
    m_popupGuard.closed(button, menu, ticks());
}

void TAppForm::DeleteSelected1Click()
{
    m_feeds->removeRowsAt(selectedFeedRows());
    ListBoxChange();
}

void TAppForm::DeleteAll1Click()
{
    m_feeds->setUrls({});
    ListBoxChange();
}

void TAppForm::ClearList1Click()
{
    DeleteAll1Click();
}

void TAppForm::Copy1Click()
{
    const int row = currentFeedRow();
    if (row < 0) {
        m_env.dialogs->message(this, QStringLiteral("Please select RSS!"), QStringLiteral("Warning"),
                               UserDialogs::Icon::Warning);
        return;
    }
    m_env.dialogs->setClipboardText(m_feeds->urls().at(row));
}

// ---- Feed retrieval ----------------------------------------------------------

void TAppForm::ListBox1Click()
{
    const int row = currentFeedRow();
    if (row < 0)
        return;
    const QString url = m_feeds->urls().at(row);
    FeedParseResult result;
    {
        // The pointer and the status text come back on every path, also when
        // the fetch fails and the error goes on to the error box.
        QApplication::setOverrideCursor(Qt::BusyCursor);
        struct Restore {
            TAppForm *form;
            ~Restore()
            {
                form->setStatusText(QString());
                QApplication::restoreOverrideCursor();
            }
        } restore{this};
        setStatusText(QLatin1String("Loading ") + url + QLatin1String("..."));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_episodes->clear();
        // The row keeps the URL as typed, blanks and all; the request goes to
        // the address without them.
        result = parseFeed(FetchUrl(trimControls(url)));
        m_episodes->setRows(result.rows);
    }
    if (!result.rows.isEmpty()) {
        const int client = width();
        ListView1->setColumnWidth(EpisodeModel::Title, client / 4);
        ListView1->setColumnWidth(EpisodeModel::Url, client / 4);
        ListView1->setColumnWidth(EpisodeModel::Date, client / 4);
        ListView1->setColumnWidth(EpisodeModel::Status, client / 5);
        return;
    }
    m_env.dialogs->message(this, retrievalWarning(result, url), QStringLiteral("Warning"), UserDialogs::Icon::Warning);
}

void TAppForm::DisplayRSS1Click()
{
    const int row = currentFeedRow();
    if (row < 0)
        return;
    const QString text = FetchUrl(trimControls(m_feeds->urls().at(row)));
    auto *viewer = new TFormDisplayRSS(text, *m_env.dialogs, this);
    viewer->show();
}

// ---- Episode list commands -------------------------------------------------

QList<int> TAppForm::selectedEpisodeRows() const
{
    return selectedRows(ListView1);
}

void TAppForm::Find1Click()
{
    FindDialog1->move(frameGeometry().topLeft() + QPoint(100, 150));
    FindDialog1->show();
    FindDialog1->raise();
    FindDialog1->activateWindow();
}

void TAppForm::FindNext1Click()
{
    FindDialog1Find();
}

void TAppForm::FindDialog1Find()
{
    const QList<int> selected = selectedEpisodeRows();
    const int start = findStartRow(selected.isEmpty() ? -1 : selected.first());
    const int match = findEpisode(m_episodes->rows(), FindDialog1->text(), start);
    if (match < 0) {
        m_env.dialogs->message(this, QStringLiteral("Text not found!"), QStringLiteral("Find"),
                               UserDialogs::Icon::Warning);
        ListView1->clearSelection();
        return;
    }
    const QModelIndex found = m_episodes->index(match, 0);
    ListView1->selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollTo(found, QAbstractItemView::EnsureVisible);
    ListView1->setFocus();
}

void TAppForm::copyEpisodeColumn(QString EpisodeRow::*column)
{
    QStringList values;
    for (int row : selectedEpisodeRows())
        values.append(m_episodes->rows().at(row).*column);
    m_env.dialogs->setClipboardText(joinForClipboard(values));
}

void TAppForm::CopyTitle1Click()
{
    copyEpisodeColumn(&EpisodeRow::title);
}

void TAppForm::MenuItem1Click()
{
    copyEpisodeColumn(&EpisodeRow::url);
}

void TAppForm::CopyDate1Click()
{
    copyEpisodeColumn(&EpisodeRow::date);
}

void TAppForm::SelectAll1Click()
{
    ListView1->selectAll();
}

void TAppForm::DeselectAll1Click()
{
    ListView1->clearSelection();
}

// ---- Transcription -------------------------------------------------------------

void TAppForm::Transcribe1Click()
{
    openTranscribeWindow(*this);
}

bool TAppForm::downloadsRunning() const
{
    // A batch runs from the moment its worker exists, before its first step
    // has disabled the button.
    return !BitBtn1->isEnabled() || m_downloader;
}

TranscribeHost::SelectedEpisode TAppForm::selectedEpisode() const
{
    SelectedEpisode episode;
    const QList<int> selected = selectedEpisodeRows();
    if (selected.isEmpty())
        return episode;
    episode.selected = true;
    const EpisodeRow row = m_episodes->rows().value(selected.first());
    episode.url = row.url;
    episode.transcripts = row.transcripts;
    episode.feedLanguage = row.feedLanguage;
    episode.filePath = DosyaAdiNeOlmali(selected.first());
    return episode;
}

// ---- Downloads -----------------------------------------------------------------

void TAppForm::ListView1DblClick()
{
    startDownloads(*this);
}

void TAppForm::BitBtn1Click()
{
    ListView1DblClick();
}

void TAppForm::Download1Click()
{
    ListView1DblClick();
}

void TAppForm::CancelDownloads1Click()
{
    cancelDownloads(*this);
}

QString TAppForm::DosyaAdiNeOlmali(int index) const
{
    const EpisodeRows &rows = m_episodes->rows();
    if (index >= rows.size())
        return QString();
    return episodeFilePath(Edit1->text(), rows[index].title);
}

void TAppForm::DownloadProgress(qint64 count, qint64 length, bool chunked)
{
    const int percent = progressPercent(count, length, chunked);
    if (percent < 0)
        return;
    ProgressBar1->setValue(percent);
    Taskbar1.setProgressValue(percent);
    Taskbar1.setProgressState(TaskbarProgress::State::Normal);
}

void TAppForm::DownloadRedirect()
{
    setStatusText(QStringLiteral("Redirected. Connecting..."));
}

void TAppForm::batchStarted()
{
    BitBtn1->setText(QStringLiteral("DOWNLOADING..."));
    BitBtn1->setEnabled(false);
    ProgressBar1->setValue(0);
    ProgressBar1->show();
    CancelDownloads1->setEnabled(true);
    CancelDownloads1->setVisible(true);
}

// A row of a list that has been replaced since the row began (-1) gets
// nothing.
void TAppForm::rowDownloading(int row)
{
    m_episodes->setStatus(row, QStringLiteral("Downloading..."));
}

void TAppForm::rowDownloaded(int row)
{
    setStatusText(QString());
    m_episodes->setStatus(row, QStringLiteral("Downloaded"));
}

void TAppForm::rowFailed(int row)
{
    setStatusText(QString());
    m_episodes->setStatus(row, QStringLiteral("Download Failed"));
}

void TAppForm::batchEnded()
{
    CancelDownloads1->setVisible(false);
    CancelDownloads1->setEnabled(false);
    m_env.dialogs->beep();
    Taskbar1.setProgressState(TaskbarProgress::State::None);
    ProgressBar1->hide();
    BitBtn1->setText(QStringLiteral("Download"));
    BitBtn1->setEnabled(true);
}

quint64 TAppForm::episodeListGeneration() const
{
    return m_episodes->generation();
}

int TAppForm::episodeRowCount() const
{
    return int(m_episodes->rows().size());
}

bool TAppForm::isEpisodeRowSelected(int row) const
{
    return ListView1->selectionModel()->isRowSelected(row, QModelIndex());
}

QString TAppForm::episodeUrl(int row) const
{
    return m_episodes->rows().value(row).url;
}

QString TAppForm::downloadLocationText() const
{
    return Edit1->text();
}

bool TAppForm::downloadButtonEnabled() const
{
    return BitBtn1->isEnabled();
}

void TAppForm::MyThreadTerminate(const QString &error)
{
    if (!error.isEmpty())
        m_env.dialogs->message(this, error, QStringLiteral("ERROR"), UserDialogs::Icon::Error);
}
