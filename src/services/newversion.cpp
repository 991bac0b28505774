#include "services/newversion.h"

#include "base/makerserver.h"
#include "base/userdialogs.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QVariantAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 68;
constexpr int kAnimationMs = 100;

QFont tahoma(int pixelSize)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

// The "close" glyph: a cross drawn on a 32 x 32 source, shown at 16 x 16.
QIcon closeImage()
{
    QPixmap source(32, 32);
    source.fill(Qt::transparent);
    QPainter painter(&source);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x55, 0x57, 0x53), 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(8, 8), QPointF(24, 24));
    painter.drawLine(QPointF(24, 8), QPointF(8, 24));
    painter.end();
    return QIcon(source);
}

} // namespace

TNewVer::TNewVer(const QString &productName, const QString &reportedVersion, const QString &downloadLink,
                 UserDialogs &dialogs, QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_downloadLink(downloadLink), m_dialogs(&dialogs), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("NewVer"));
    setFixedSize(kWidth, kHeight);
    setFont(tahoma(11));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(0, 0, kWidth, kHeight);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(4, 4, 60, 60);
    Image1->setAlignment(Qt::AlignCenter);

    Panel2 = new QWidget(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(67, 1, 230, 66);
    Panel2->setAttribute(Qt::WA_NoMousePropagation);

    Label1 = new QLabel(Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(3, 3, 224, 16);
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = tahoma(13);
    bold.setBold(true);
    Label1->setFont(bold);

    Label2 = new QLabel(Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(0, 22, 230, 44);
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setWordWrap(true);
    QFont underlined = tahoma(13);
    underlined.setUnderline(true);
    Label2->setFont(underlined);
    // Drawn in the colour TimerLink sets; on the window's button-coloured
    // background it would otherwise take the button text colour.
    Label2->setForegroundRole(QPalette::WindowText);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->setAttribute(Qt::WA_NoMousePropagation);
    // The version comes from the server: shown as written, never as markup.
    Label2->setTextFormat(Qt::PlainText);
    Label2->setText(QStringLiteral("Click to download %1 %2").arg(productName, reportedVersion));

    Panel3 = new QWidget(Panel1);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(297, 1, 22, 66);

    Button1 = new QPushButton(Panel3);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(0, 0, 22, 22);
    Button1->setCursor(Qt::PointingHandCursor);
    Button1->setIcon(closeImage());
    Button1->setIconSize(QSize(16, 16));
    Button1->setFlat(true);
    Button1->setFocusPolicy(Qt::NoFocus);

    TimerStart = new QTimer(this);
    TimerStart->setObjectName(QStringLiteral("TimerStart"));
    TimerStart->setInterval(1);
    TimerClose = new QTimer(this);
    TimerClose->setObjectName(QStringLiteral("TimerClose"));
    TimerClose->setInterval(1000);
    TimerLink = new QTimer(this);
    TimerLink->setObjectName(QStringLiteral("TimerLink"));
    TimerLink->setInterval(100);

    connect(TimerStart, &QTimer::timeout, this, &TNewVer::TimerStartTimer);
    connect(TimerClose, &QTimer::timeout, this, &TNewVer::TimerCloseTimer);
    connect(TimerLink, &QTimer::timeout, this, &TNewVer::TimerLinkTimer);
    connect(Button1, &QPushButton::clicked, this, &TNewVer::Button1Click);

    // Dragging works on the window and on these; the link, its panel and the
    // close button keep their own clicks.
    for (QObject *dragArea : {static_cast<QObject *>(this), static_cast<QObject *>(Panel1),
                              static_cast<QObject *>(Image1), static_cast<QObject *>(Label1),
                              static_cast<QObject *>(Panel3)})
        dragArea->installEventFilter(this);
    Label2->installEventFilter(this);

    FormCreate();
    TimerStart->start();
    TimerClose->start();
    TimerLink->start();
}

void TNewVer::FormCreate()
{
    const QIcon icon = QApplication::windowIcon();
    Image1->setPixmap(icon.pixmap(QSize(48, 48), devicePixelRatioF()));
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() - kWidth - 5, area.y() + 5);
    }
    Label1->setText(QStringLiteral("UPDATE AVAILABLE"));
}

void TNewVer::TimerStartTimer()
{
    TimerStart->stop();
    animate(true);
    show();
    try {
        if (m_mainWindow)
            m_mainWindow->activateWindow();
    } catch (...) {
    }
}

void TNewVer::TimerCloseTimer()
{
    --AutoCloseCountdown;
    if (AutoCloseCountdown != 0)
        return;
    TimerClose->stop();
    animate(false);
}

void TNewVer::TimerLinkTimer()
{
    const bool over = Label2->rect().contains(Label2->mapFromGlobal(QCursor::pos()));
    QPalette labelPalette = Label2->palette();
    labelPalette.setColor(QPalette::WindowText, palette().color(over ? QPalette::Highlight : QPalette::WindowText));
    Label2->setPalette(labelPalette);
}

QUrl TNewVer::linkTarget(const QString &downloadLink)
{
    const QUrl link(downloadLink, QUrl::StrictMode);
    const QString scheme = link.scheme().toLower();
    if (link.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !link.host().isEmpty())
        return link;
    return QUrl(makerHomePage());
}

void TNewVer::Label2Click()
{
    try {
        openOrSay(*m_dialogs, this, linkTarget(m_downloadLink));
    } catch (...) {
    }
    close();
}

void TNewVer::Button1Click()
{
    close();
}

void TNewVer::animate(bool opening)
{
    // The window keeps its place and size; what grows or shrinks about its
    // centre is the part of it that shows.
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setDuration(kAnimationMs);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            const qreal scale = value.toReal();
            QRect shown(0, 0, qMax(1, qRound(kWidth * scale)), qMax(1, qRound(kHeight * scale)));
            shown.moveCenter(rect().center());
            setMask(QRegion(shown));
        });
    }
    m_animation->stop();
    disconnect(m_animation, &QVariantAnimation::finished, this, nullptr);
    m_animation->setStartValue(opening ? 0.0 : 1.0);
    m_animation->setEndValue(opening ? 1.0 : 0.0);
    connect(m_animation, &QVariantAnimation::finished, this, [this, opening] {
        if (!opening)
            close();
        clearMask();
    });
    m_animation->start();
}

bool TNewVer::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    auto *mouse = static_cast<QMouseEvent *>(event);

    if (watched == Label2) {
        if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton
            && Label2->rect().contains(mouse->position().toPoint()))
            Label2Click();
        return type != QEvent::MouseMove;
    }

    const QPoint cursor = mouse->globalPosition().toPoint();
    switch (type) {
    case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton || mouse->button() == Qt::MiddleButton) {
            m_lastCursor = cursor;
            m_dragging = true;
        }
        break;
    case QEvent::MouseMove:
        if (m_dragging) {
            move(pos() + (cursor - m_lastCursor));
            m_lastCursor = cursor;
        }
        break;
    default:
        m_dragging = false;
        break;
    }
    return true;
}
