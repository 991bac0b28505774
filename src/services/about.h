#pragma once

#include "base/popupguard.h"
#include "services/aboutrain.h"

#include <QDialog>
#include <QPoint>
#include <QRegion>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class UserDialogs;
struct AppIdentity;

// The About box: the maker's logo, the program's icon, name and version, a
// link to the maker's site, the "Info" menu, a rain of letters on the black
// background, and a picture that slides into view when the icon is
// double-clicked. Modal, freed when it closes.
class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    // programFolder holds license.txt.
    TAboutBox(const AppIdentity &identity, const QString &programFolder, UserDialogs &dialogs,
              QWidget *parent = nullptr);

    // "About...": a new box, shown modally.
    static void showModal(const AppIdentity &identity, const QString &programFolder, UserDialogs &dialogs,
                          QWidget *parent);

    void FormCreate();
    void HighDPIImageYukle();
    void FormResize();
    void tmTimerTimer();
    void Image1DblClick();
    void ImageEggDblClick();
    void TimerEggTimer();
    void Label5Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void Credits1Click();
    void Howtouninstall1Click();
    void LicensePrivacyPolicy1Click();

    static QString homePageUrl();
    static QString creditsUrl();
    static QString uninstallUrl();

    LetterRain &rain() { return m_rain; }
    // The window size the rain was started with.
    QSize rainSize() const { return m_rainSize; }
    // The region the last tick asked to repaint.
    QRegion lastDirtyRegion() const { return m_lastDirty; }

    QFrame *Panel1 = nullptr;
    QLabel *Image2 = nullptr;
    QFrame *Bevel1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label5 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *BitBtn2 = nullptr;
    QFrame *PanelEgg = nullptr;
    QLabel *ImageEgg = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *Credits1 = nullptr;
    QAction *Howtouninstall1 = nullptr;
    QAction *LicensePrivacyPolicy1 = nullptr;
    QTimer *tmTimer = nullptr;
    QTimer *TimerEgg = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void startRain();

    QString m_productName;
    QString m_version;
    QString m_programFolder;
    UserDialogs *m_dialogs = nullptr;
    LetterRain m_rain;
    QSize m_rainSize;
    QList<RainCell> m_pending; // cells to paint on the next paint event
    bool m_clear = true;       // the next paint starts from black
    QRegion m_lastDirty;
    PopupGuard m_popupGuard;
    bool m_watchingScreen = false;
    bool m_dragging = false;
    QPoint m_lastCursor;
};
