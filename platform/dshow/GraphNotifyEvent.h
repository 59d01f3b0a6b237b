#pragma once
// The event a graph posts to its notification target (IMediaEventEx::
// SetNotifyWindow): its type is the message number the target chose, its
// parameters are the message's (wParam 0, lParam the instance data).
#include <QEvent>

#include "platform/dshow/Clock.h"
#include "support/RaceCheck.h"

class CGraphNotifyEvent : public QEvent {
public:
    // Made on a streaming thread, read on the target's thread (Qt's event queue).
    CGraphNotifyEvent(int message, LONG_PTR wParam, LONG_PTR lParam)
        : QEvent(static_cast<QEvent::Type>(message)), m_wParam(wParam), m_lParam(lParam) {
        racecheck::Published(this);
    }

    LONG_PTR WParam() const {
        racecheck::Received(this);
        return m_wParam;
    }
    LONG_PTR LParam() const {
        racecheck::Received(this);
        return m_lParam;
    }

private:
    LONG_PTR m_wParam;
    LONG_PTR m_lParam;
};
