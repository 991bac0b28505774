#include "feeds/findpodcasts.h"

#include "base/settings.h"
#include "base/userdialogs.h"
#include "feeds/podcastsearch.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kPodcastSearch = QStringLiteral("PodcastSearch");

QStandardItem *cell(const QString &text)
{
    auto *item = new QStandardItem(text);
    item->setEditable(false);
    item->setToolTip(text);
    return item;
}

} // namespace

TFindPodcasts::TFindPodcasts(IniDocument &settings, UserDialogs &dialogs,
                             std::function<int(const QStringList &)> addFeeds, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_dialogs(dialogs), m_addFeeds(std::move(addFeeds))
{
    setObjectName(QStringLiteral("FindPodcasts"));
    setWindowTitle(QStringLiteral("Find Podcasts"));
    resize(640, 420);

    auto *searchLabel = new QLabel(QStringLiteral("Search:"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setPlaceholderText(QStringLiteral("Title, author or topic"));
    searchLabel->setBuddy(Edit1);
    Button1 = new QPushButton(QStringLiteral("Search"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setIcon(QIcon(QStringLiteral(":/images/search.png")));

    m_results = new QStandardItemModel(0, 4, this);
    m_results->setHorizontalHeaderLabels(
        {QStringLiteral("Title"), QStringLiteral("Author"), QStringLiteral("Episodes"), QStringLiteral("Feed Address")});
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(m_results);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setTabKeyNavigation(false);
    ListView1->setWordWrap(false);
    ListView1->verticalHeader()->hide();
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setColumnWidth(Title, 200);
    ListView1->setColumnWidth(Author, 140);
    ListView1->setColumnWidth(Episodes, 70);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label2->setTextFormat(Qt::PlainText);

    auto *directoryLabel = new QLabel(QStringLiteral("Directory:"), this);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    directoryLabel->setBuddy(Edit2);
    Button2 = new QPushButton(QStringLiteral("Add"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setIcon(QIcon(QStringLiteral(":/images/rss_32.png")));
    Button2->setEnabled(false);
    Button3 = new QPushButton(QStringLiteral("Close"), this);
    Button3->setObjectName(QStringLiteral("Button3"));

    auto *top = new QHBoxLayout;
    top->addWidget(searchLabel);
    top->addWidget(Edit1, 1);
    top->addWidget(Button1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(directoryLabel);
    bottom->addWidget(Edit2, 1);
    bottom->addWidget(Button2);
    bottom->addWidget(Button3);
    auto *column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(ListView1, 1);
    column->addWidget(Label2);
    column->addLayout(bottom);

    {
        const QSignalBlocker quiet(Edit2);
        Edit2->setText(m_settings.value(kSection, kPodcastSearch, QString::fromLatin1(kDefaultPodcastSearch)));
        Edit2->setCursorPosition(0);
    }

    connect(Button1, &QPushButton::clicked, this, [this] { guarded(&TFindPodcasts::Button1Click); });
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { guarded(&TFindPodcasts::Button1Click); });
    connect(Edit2, &QLineEdit::returnPressed, this, [this] { guarded(&TFindPodcasts::Button1Click); });
    connect(Edit2, &QLineEdit::textEdited, this, [this] { guarded(&TFindPodcasts::Edit2Change); });
    connect(Button2, &QPushButton::clicked, this, [this] { guarded(&TFindPodcasts::Button2Click); });
    connect(ListView1, &QTableView::doubleClicked, this, [this] { guarded(&TFindPodcasts::Button2Click); });
    connect(Button3, &QPushButton::clicked, this, &QWidget::close);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { Button2->setEnabled(ListView1->selectionModel()->hasSelection()); });
}

TFindPodcasts::~TFindPodcasts()
{
    // Each search ends within a tenth of a second of its cancelling.
    for (const QPointer<PodcastSearchThread> &search : m_replaced)
        delete search.data();
    delete m_search;
}

void TFindPodcasts::guarded(void (TFindPodcasts::*handler)())
{
    runCommand(m_dialogs, this, [this, handler] { (this->*handler)(); });
}

QString TFindPodcasts::statusText() const
{
    return Label2->text();
}

void TFindPodcasts::Button1Click()
{
    const QString words = Edit1->text().simplified();
    if (words.isEmpty()) {
        Label2->setText(QStringLiteral("Please enter what to search for."));
        Edit1->setFocus();
        return;
    }
    // The search under way, if any, is overtaken: its results no longer count.
    if (m_search) {
        m_search->cancel();
        m_replaced.append(m_search);
        m_search = nullptr;
    }
    m_results->removeRows(0, m_results->rowCount());
    Label2->setText(QStringLiteral("Searching..."));
    auto *search = new PodcastSearchThread(podcastSearchUrl(Edit2->text().trimmed(), words));
    m_search = search;
    connect(search, &QThread::finished, this, [this, search] { searchFinished(search); });
    search->start();
}

void TFindPodcasts::searchFinished(PodcastSearchThread *search)
{
    if (search != m_search) {
        m_replaced.removeAll(search);
        search->deleteLater();
        return;
    }
    m_search = nullptr;
    search->deleteLater();
    if (!search->error().isEmpty()) {
        Label2->setText(search->error());
        return;
    }
    for (const PodcastFound &podcast : search->results()) {
        QStandardItem *episodes = cell(podcast.episodes >= 0 ? QString::number(podcast.episodes) : QString());
        episodes->setData(QVariant(int(Qt::AlignRight | Qt::AlignVCenter)), Qt::TextAlignmentRole);
        m_results->appendRow({cell(podcast.title), cell(podcast.author), episodes, cell(podcast.feedUrl)});
    }
    const qsizetype count = search->results().size();
    Label2->setText(count == 0   ? QStringLiteral("No podcasts found.")
                    : count == 1 ? QStringLiteral("1 podcast found.")
                                 : QStringLiteral("%1 podcasts found.").arg(count));
}

void TFindPodcasts::Button2Click()
{
    QModelIndexList rows = ListView1->selectionModel()->selectedRows(FeedAddress);
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QStringList feeds;
    for (const QModelIndex &index : rows)
        feeds.append(index.data().toString());
    const int added = m_addFeeds(feeds);
    Label2->setText(added == 1 ? QStringLiteral("1 feed added.") : QStringLiteral("%1 feeds added.").arg(added));
}

void TFindPodcasts::Edit2Change()
{
    m_settings.setValue(kSection, kPodcastSearch, Edit2->text());
    m_settings.save();
}
