// The download progress on the program's launcher icon, seen by a listener on
// a private session bus.
#include "platform/taskbarprogress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>

class TestTaskbarProgress : public QObject
{
    Q_OBJECT
public slots:
    void onUpdate(const QString &app, const QVariantMap &properties)
    {
        m_seen.append({app, properties});
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void announcesProgress();

private:
    QProcess m_daemon;
    QList<QPair<QString, QVariantMap>> m_seen;
};

void TestTaskbarProgress::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed, so no private session bus can be started");
    // The bus must be known before anything asks Qt for the session bus.
    m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    QVERIFY(m_daemon.waitForReadyRead(10000));
    const QByteArray address = m_daemon.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY(QDBusConnection::sessionBus().connect(QString(), TaskbarProgress::kObjectPath,
                                                  QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                  QStringLiteral("Update"), this,
                                                  SLOT(onUpdate(QString, QVariantMap))));
}

void TestTaskbarProgress::cleanupTestCase()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
}

void TestTaskbarProgress::announcesProgress()
{
    // Each signal is awaited before the next is sent, so their order is known.
    TaskbarProgress taskbar;
    taskbar.setProgressValue(25);
    QTRY_COMPARE(m_seen.size(), 1);
    taskbar.setProgressState(TaskbarProgress::State::Normal);
    QTRY_COMPARE(m_seen.size(), 2);
    taskbar.setProgressState(TaskbarProgress::State::None);
    QTRY_COMPARE(m_seen.size(), 3);
    for (const auto &update : std::as_const(m_seen))
        QCOMPARE(update.first, QStringLiteral("application://example.zantero.Morvane.desktop"));
    QCOMPARE(m_seen[0].second.value(QStringLiteral("progress")).toDouble(), 0.25);
    QCOMPARE(m_seen[0].second.value(QStringLiteral("progress-visible")).toBool(), false);
    QCOMPARE(m_seen[1].second.value(QStringLiteral("progress-visible")).toBool(), true);
    QCOMPARE(m_seen[2].second.value(QStringLiteral("progress-visible")).toBool(), false);
    QCOMPARE(m_seen[2].second.value(QStringLiteral("progress")).toDouble(), 0.25);
}

QTEST_GUILESS_MAIN(TestTaskbarProgress)
#include "tst_taskbarprogress.moc"
