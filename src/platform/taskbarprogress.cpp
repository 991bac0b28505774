#include "platform/taskbarprogress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

const QString TaskbarProgress::kApplicationUri = QStringLiteral("application://" MORVANE_APP_ID ".desktop");
const QString TaskbarProgress::kObjectPath = QStringLiteral("/com/canonical/unity/launcherentry/morvane");

void TaskbarProgress::setProgressValue(int percent)
{
    m_value = qBound(0, percent, 100);
    announce();
}

void TaskbarProgress::setProgressState(State state)
{
    m_state = state;
    announce();
}

void TaskbarProgress::announce() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    const QVariantMap properties{
        {QStringLiteral("progress"), double(m_value) / 100.0},
        {QStringLiteral("progress-visible"), m_state == State::Normal},
    };
    signal << kApplicationUri << properties;
    bus.send(signal);
}
