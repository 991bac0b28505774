#include "services/about.h"

#include "base/makerserver.h"
#include "base/userdialogs.h"
#include "base/versioninfo.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

constexpr int kClientWidth = 446;
constexpr int kClientHeight = 374;

QFont tahoma(int pixelSize)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

void paintWhite(QWidget *widget, const QColor &text = Qt::white)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Button, QColor(0x20, 0x20, 0x20));
    widget->setPalette(palette);
}

// Our own pictures, drawn for the given device pixel ratio so that they stay
// sharp at any dpi.
QPixmap canvas(const QSize &size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPixmap logoImage(qreal ratio)
{
    QPixmap pixmap = canvas(QSize(344, 105), ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 344, 0);
    gradient.setColorAt(0, QColor(0x4e, 0x9a, 0x06));
    gradient.setColorAt(1, QColor(0x8a, 0xe2, 0x34));
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(56);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    QPainterPath path;
    path.addText(0, 0, font, QStringLiteral("ZANTERO"));
    const QRectF box = path.boundingRect();
    path.translate(QPointF((344 - box.width()) / 2 - box.left(), (105 - box.height()) / 2 - box.top() - 6));
    p.fillPath(path, gradient);
    p.setPen(QPen(QColor(0x8a, 0xe2, 0x34), 2));
    p.drawLine(QPointF(40, 92), QPointF(304, 92));
    return pixmap;
}

QPixmap catImage(qreal ratio)
{
    QPixmap pixmap = canvas(QSize(320, 214), ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fur(0xe9, 0xb9, 0x6e);
    p.setPen(QPen(QColor(0x8f, 0x59, 0x02), 3));
    p.setBrush(fur);
    p.drawEllipse(QRectF(150, 110, 130, 90));          // body
    QPainterPath tail;
    tail.moveTo(270, 170);
    tail.cubicTo(320, 160, 310, 100, 290, 90);
    p.setBrush(Qt::NoBrush);
    p.drawPath(tail);
    p.setBrush(fur);
    QPolygonF leftEar({QPointF(85, 60), QPointF(100, 10), QPointF(125, 50)});
    QPolygonF rightEar({QPointF(155, 50), QPointF(180, 10), QPointF(195, 60)});
    p.drawPolygon(leftEar);
    p.drawPolygon(rightEar);
    p.drawEllipse(QRectF(75, 35, 130, 110));           // head
    p.setBrush(QColor(0x2e, 0x34, 0x36));
    p.drawEllipse(QRectF(105, 75, 14, 20));
    p.drawEllipse(QRectF(160, 75, 14, 20));
    p.setBrush(QColor(0xef, 0x29, 0x29));
    p.drawPolygon(QPolygonF({QPointF(133, 103), QPointF(147, 103), QPointF(140, 111)}));
    p.setPen(QPen(QColor(0x55, 0x57, 0x53), 1.5));
    for (int i = -1; i <= 1; ++i) {
        p.drawLine(QPointF(125, 110 + i * 5), QPointF(85, 104 + i * 10));
        p.drawLine(QPointF(155, 110 + i * 5), QPointF(195, 104 + i * 10));
    }
    return pixmap;
}

QIcon arrowImage()
{
    QPixmap pixmap = canvas(QSize(16, 16), 2.0);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(3, 5), QPointF(13, 5), QPointF(8, 11)}));
    return QIcon(pixmap);
}

} // namespace

TAboutBox::TAboutBox(const AppIdentity &identity, const QString &programFolder, UserDialogs &dialogs,
                     QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_productName(identity.productName), m_version(identity.version), m_programFolder(programFolder),
      m_dialogs(&dialogs)
{
    setObjectName(QStringLiteral("AboutBox"));
    setModal(true);
    resize(kClientWidth, kClientHeight);
    setFont(tahoma(11));
    paintWhite(this);
    setAutoFillBackground(false);
    // The rain paints only the cells that change; everything else stays.
    setAttribute(Qt::WA_OpaquePaintEvent);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(48, 42, 350, 291);
    paintWhite(Panel1);
    Panel1->setAutoFillBackground(true);

    Image2 = new QLabel(Panel1);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(2, 0, 344, 105);
    Image2->setScaledContents(true);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(9, 122, 34, 34);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(10, 123, 32, 32);
    Image1->setAlignment(Qt::AlignCenter);

    Label2 = new QLabel(Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(49, 122, 290, 40);
    Label2->setWordWrap(true);
    Label2->setFont(tahoma(16));

    Label5 = new QLabel(Panel1);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(0, 291 - 20, 350, 16);
    Label5->setAlignment(Qt::AlignCenter);
    Label5->setCursor(Qt::PointingHandCursor);
    QFont link(QStringLiteral("MS Sans Serif"));
    link.setStyleHint(QFont::SansSerif);
    link.setPixelSize(11);
    link.setUnderline(true);
    Label5->setFont(link);
    paintWhite(Label5, QColor(0x00, 0xff, 0x00));
    Label5->installEventFilter(this);

    BitBtn1 = new QPushButton(Panel1);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(49, 224, 122, 33);
    BitBtn1->setFont(tahoma(16));
    BitBtn1->setAutoDefault(false);
    paintWhite(BitBtn1);
    BitBtn2 = new QPushButton(Panel1);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(177, 224, 122, 33);
    BitBtn2->setFont(tahoma(16));
    BitBtn2->setAutoDefault(false);
    BitBtn2->setLayoutDirection(Qt::RightToLeft); // the arrow right of the caption
    BitBtn2->setIcon(arrowImage());
    BitBtn2->setIconSize(QSize(16, 16));
    paintWhite(BitBtn2);
    BitBtn1->installEventFilter(this);
    BitBtn2->installEventFilter(this);

    PanelEgg = new QFrame(this);
    PanelEgg->setObjectName(QStringLiteral("PanelEgg"));
    PanelEgg->resize(324, 220);
    paintWhite(PanelEgg);
    PanelEgg->setAutoFillBackground(true);
    PanelEgg->hide();
    ImageEgg = new QLabel(PanelEgg);
    ImageEgg->setObjectName(QStringLiteral("ImageEgg"));
    ImageEgg->setGeometry(2, 0, 320, 220);
    ImageEgg->setScaledContents(true);
    PanelEgg->lower();

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Credits1 = PopupMenu1->addAction(QString());
    Credits1->setObjectName(QStringLiteral("Credits1"));
    Howtouninstall1 = PopupMenu1->addAction(QString());
    Howtouninstall1->setObjectName(QStringLiteral("Howtouninstall1"));
    LicensePrivacyPolicy1 = PopupMenu1->addAction(QString());
    LicensePrivacyPolicy1->setObjectName(QStringLiteral("LicensePrivacyPolicy1"));

    tmTimer = new QTimer(this);
    tmTimer->setObjectName(QStringLiteral("tmTimer"));
    TimerEgg = new QTimer(this);
    TimerEgg->setObjectName(QStringLiteral("TimerEgg"));
    TimerEgg->setInterval(5);

    connect(tmTimer, &QTimer::timeout, this, &TAboutBox::tmTimerTimer);
    connect(TimerEgg, &QTimer::timeout, this, &TAboutBox::TimerEggTimer);
    connect(BitBtn1, &QPushButton::clicked, this, &TAboutBox::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TAboutBox::BitBtn2Click);
    const auto guarded = [this](void (TAboutBox::*handler)()) {
        return [this, handler] { runCommand(*m_dialogs, this, [this, handler] { (this->*handler)(); }); };
    };
    connect(Credits1, &QAction::triggered, this, guarded(&TAboutBox::Credits1Click));
    connect(Howtouninstall1, &QAction::triggered, this, guarded(&TAboutBox::Howtouninstall1Click));
    connect(LicensePrivacyPolicy1, &QAction::triggered, this, guarded(&TAboutBox::LicensePrivacyPolicy1Click));

    for (QObject *dragArea : {static_cast<QObject *>(this), static_cast<QObject *>(ImageEgg),
                              static_cast<QObject *>(Panel1), static_cast<QObject *>(Image1),
                              static_cast<QObject *>(Label2), static_cast<QObject *>(Image2)})
        dragArea->installEventFilter(this);

    FormCreate();
}

void TAboutBox::showModal(const AppIdentity &identity, const QString &programFolder, UserDialogs &dialogs,
                          QWidget *parent)
{
    auto *box = new TAboutBox(identity, programFolder, dialogs, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        box->move(screen->availableGeometry().center() - box->rect().center());
    box->exec();
}

void TAboutBox::FormCreate()
{
    startRain();
    setWindowTitle(QStringLiteral("About %1").arg(m_productName));
    Image1->setPixmap(QApplication::windowIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setText(m_productName + QLatin1Char(' ') + m_version);
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("Info"));
    Credits1->setText(QStringLiteral("Acknowledgements..."));
    Howtouninstall1->setText(QStringLiteral("How to uninstall..."));
    LicensePrivacyPolicy1->setText(QStringLiteral("License..."));
    Label5->setTextFormat(Qt::PlainText);
    Label5->setText(makerHost());
    Label5->setToolTip(homePageUrl());
    HighDPIImageYukle();
    PanelEgg->move((width() - PanelEgg->width()) / 2, (height() - PanelEgg->height()) / 2);
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // A move to a screen of another dpi renders the pictures anew and restarts the rain.
    if (!m_watchingScreen && windowHandle()) {
        m_watchingScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] {
            HighDPIImageYukle();
            FormResize();
        });
    }
}

void TAboutBox::HighDPIImageYukle()
{
    const qreal ratio = devicePixelRatioF();
    Image2->setPixmap(logoImage(ratio));
    ImageEgg->setPixmap(catImage(ratio));
}

void TAboutBox::startRain()
{
    m_rainSize = frameGeometry().size();
    if (m_rainSize.width() < width() || m_rainSize.height() < height())
        m_rainSize = size();
    m_rain.start(QStringLiteral("zan"), m_rainSize.width(), m_rainSize.height());
    m_pending.clear();
    m_clear = true;
    update();
    tmTimer->start(50);
}

void TAboutBox::FormResize()
{
    m_rain.reset();
    m_pending.clear();
    m_clear = true;
    update();
}

void TAboutBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (tmTimer)
        FormResize();
}

void TAboutBox::tmTimerTimer()
{
    const QList<RainCell> cells = m_rain.tick();
    QRegion dirty;
    for (const RainCell &cell : cells)
        dirty += QRect(cell.column * kRainCellWidth, cell.row * kRainCellHeight, kRainCellWidth, kRainCellHeight);
    m_pending += cells;
    m_lastDirty = dirty;
    update(dirty);
}

void TAboutBox::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    // A full paint (first show, expose, reset) starts from black; the rain
    // comes back on the next ticks.
    if (m_clear || !(event->region() - m_lastDirty).isEmpty()) {
        p.fillRect(rect(), Qt::black);
        m_clear = false;
    }
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kRainCellHeight);
    p.setFont(font);
    for (const RainCell &cell : std::as_const(m_pending)) {
        const QRect box(cell.column * kRainCellWidth, cell.row * kRainCellHeight, kRainCellWidth, kRainCellHeight);
        p.fillRect(box, Qt::black);
        if (cell.kind == RainCell::Erase)
            continue;
        p.setPen(QColor(cell.colour.red, cell.colour.green, cell.colour.blue));
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop, QString(cell.character));
    }
    m_pending.clear();
}

void TAboutBox::Image1DblClick()
{
    if (TimerEgg->isActive())
        return;
    PanelEgg->show();
    TimerEgg->start();
}

void TAboutBox::TimerEggTimer()
{
    Panel1->move(Panel1->x() + 5, Panel1->y());
    if (Panel1->x() > width())
        TimerEgg->stop();
}

void TAboutBox::ImageEggDblClick()
{
    if (TimerEgg->isActive())
        return;
    PanelEgg->hide();
    Panel1->move((width() - Panel1->width()) / 2, Panel1->y());
}

QString TAboutBox::homePageUrl()
{
    return QLatin1String("http://") + makerHost() + QLatin1Char('/');
}

QString TAboutBox::creditsUrl()
{
    return QLatin1String("https://") + makerHost() + QLatin1String("/blog/credits-and-acknowledgements/");
}

QString TAboutBox::uninstallUrl()
{
    return QLatin1String("http://") + makerHost() + QLatin1String("/blog/how-to-uninstall-zantero-software/");
}

void TAboutBox::Label5Click()
{
    openOrSay(*m_dialogs, this, QUrl(homePageUrl()));
}

void TAboutBox::Credits1Click()
{
    openOrSay(*m_dialogs, this, QUrl(creditsUrl()));
}

void TAboutBox::Howtouninstall1Click()
{
    openOrSay(*m_dialogs, this, QUrl(uninstallUrl()));
}

void TAboutBox::LicensePrivacyPolicy1Click()
{
    const QString file = QDir(m_programFolder).filePath(QStringLiteral("license.txt"));
    if (!QFileInfo::exists(file)) {
        m_dialogs->message(this, QStringLiteral("File not found!"), QStringLiteral("License"),
                           UserDialogs::Icon::Error);
        return;
    }
    openOrSay(*m_dialogs, this, QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

void TAboutBox::BitBtn1Click()
{
    close();
}

void TAboutBox::BitBtn2Click()
{
    const auto ticks = [] { return quint32(QDeadlineTimer::current().deadline()); };
    if (!m_popupGuard.mayOpen(BitBtn2, PopupMenu1, ticks()))
        return;
    PopupMenu1->exec(BitBtn2->mapToGlobal(QPoint(0, BitBtn2->height())));
    m_popupGuard.closed(BitBtn2, PopupMenu1, ticks());
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == BitBtn1 || watched == BitBtn2) {
        // The buttons keep their own clicks; they only add Escape.
        if (type == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (type == QEvent::MouseButtonDblClick && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == Image1) {
            Image1DblClick();
            return true;
        }
        if (watched == ImageEgg) {
            ImageEggDblClick();
            return true;
        }
    }
    if (watched == Label5) {
        if (type == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            Label5Click();
        return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QDialog::eventFilter(watched, event);
    auto *mouse = static_cast<QMouseEvent *>(event);
    const QPoint cursor = mouse->globalPosition().toPoint();
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() == Qt::LeftButton || mouse->button() == Qt::MiddleButton) {
            m_lastCursor = cursor;
            m_dragging = true;
        }
    } else if (type == QEvent::MouseMove) {
        if (m_dragging) {
            move(pos() + (cursor - m_lastCursor));
            m_lastCursor = cursor;
        }
    } else {
        m_dragging = false;
    }
    return true;
}
