#pragma once

#include <QString>

// The program's progress on its icon in the dock or task manager, told through
// the launcher-entry D-Bus signal (com.canonical.Unity.LauncherEntry, Update)
// that KDE Plasma's task manager and the common docks show. Without a session
// bus it does nothing.
class TaskbarProgress
{
public:
    enum class State { None, Normal };

    // The desktop entry the progress belongs to.
    static const QString kApplicationUri;
    // The object path the signal is sent from.
    static const QString kObjectPath;

    // The value is a percentage, 0 to 100.
    void setProgressValue(int percent);
    void setProgressState(State state);
    int progressValue() const { return m_value; }
    State progressState() const { return m_state; }

private:
    void announce() const;

    int m_value = 0;
    State m_state = State::None;
};
