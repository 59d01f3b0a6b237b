#include "playback/PlayCtxSyncWnd.h"

#include <QCoreApplication>

#include "support/Exception.h"

CPlayCtxSyncWnd::CPlayCtxSyncWnd(Dispatch dispatch) : m_dispatch(std::move(dispatch)) {
    setObjectName(QString::fromLatin1(kClassName));
}

CPlayCtxSyncWnd::~CPlayCtxSyncWnd() = default;

void CPlayCtxSyncWnd::PostSync(int32_t code, intptr_t param) {
    std::lock_guard handoff(m_handoff);
    QCoreApplication::postEvent(this, new CPlayCtxSyncEvent(code, param));
}

bool CPlayCtxSyncWnd::event(QEvent* e) {
    // Pairs with the poster's lock, so that thread checkers see the event
    // handed over (the event queue's own lock is invisible to them).
    { std::lock_guard handoff(m_handoff); }
    if (e->type() != static_cast<QEvent::Type>(WM_PLAYCTX_SYNC))
        return QObject::event(e);
    auto* sync = static_cast<CPlayCtxSyncEvent*>(e);
    if (m_dispatch) {
        // Nothing may escape into the event loop: the user is told instead.
        ReportExceptions([&] { m_dispatch(sync->m_code, sync->m_param); });
    }
    return true;
}
