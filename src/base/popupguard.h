#pragma once

#include <QtGlobal>

// Keeps a button's popup menu from reopening when the click that closed it
// lands on the button itself: after the menu closes, the same (button, menu)
// pair is refused for 100 ms, once. Ticks are milliseconds of a 32-bit clock;
// differences are taken modulo 2^32, so the guard survives the wrap-around.
class PopupGuard
{
public:
    static constexpr quint32 kGuardMs = 100;

    // Whether the menu may open now. A refused pair is forgotten, so the next
    // click opens the menu again.
    bool mayOpen(const void *button, const void *menu, quint32 nowTicks)
    {
        if (button == m_button && menu == m_menu && quint32(nowTicks - m_closedAt) < kGuardMs) {
            m_button = m_menu = nullptr;
            return false;
        }
        return true;
    }

    void closed(const void *button, const void *menu, quint32 nowTicks)
    {
        m_button = button;
        m_menu = menu;
        m_closedAt = nowTicks;
    }

private:
    const void *m_button = nullptr;
    const void *m_menu = nullptr;
    quint32 m_closedAt = 0;
};
