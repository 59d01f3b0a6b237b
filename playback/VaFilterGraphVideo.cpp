// The video-window half of the wrapper: the graph's video window inside a
// host window of the player. Without a host window the operations keep
// their state and the renderer plays without a placed window. Widgets are
// touched on the user-interface thread only: what the worker thread's
// events would do to them is posted there.
#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QScreen>
#include <QThread>
#include <QVariant>
#include <QWidget>
#include <algorithm>

#include "playback/VaFilterGraph.h"
#include "playback/VaGraphUtil.h"
#include "playback/VaWindowHook.h"
#include "support/Exception.h"
#include "support/RaceCheck.h"
#include "support/Strings.h"

namespace {

QObject* TopLevelOf(QObject* window) {
    if (QWidget* widget = qobject_cast<QWidget*>(window))
        return widget->window();
    return nullptr;
}

}  // namespace

namespace va {

std::string WindowClassName(QObject* window) {
    if (!window)
        return {};
    QVariant named = window->property(kWindowClassProperty);
    if (named.isValid())
        return named.toString().toStdString();
    return window->metaObject()->className();
}

// Where the video goes inside the client rectangle: 0 original size, 1
// maximum size, 2 best fit (original size when it fits, else maximum).
RECT ComputeVideoRect(const RECT& client, const SIZE& video, int mode) {
    const LONG cw = client.right - client.left;
    const LONG ch = client.bottom - client.top;
    const LONG w = video.cx;
    const LONG h = video.cy;
    RECT d;
    if (mode == 0 || (mode == 2 && w <= cw && h <= ch)) {
        if (cw <= 0 || ch <= 0) {
            d = RECT{0, 0, w, h};
            return d;
        }
        LONG left = std::max((client.left + client.right) / 2 - w / 2, client.left);
        LONG top = std::max((client.top + client.bottom) / 2 - h / 2, client.top);
        return RECT{left, top, left + w, top + h};
    }
    LONG height = ch;
    LONG width = MulDiv(height, w, h);
    if (width >= cw) {
        if (width > cw)
            height = MulDiv(cw, h, w);
        width = cw;
    }
    LONG left = client.left + (cw - width) / 2;
    LONG top = client.top + (ch - height) / 2;
    return RECT{left, top, left + width, top + height};
}

}  // namespace va

void CVaFilterGraphRep::SetVideoWindow(QObject* window) {
    QObject* top = TopLevelOf(window);
    if (window == m_hostWnd.data() && top == m_topWnd.data())
        return;
    if (m_hostWnd)
        m_hook->Unhook(m_hostWnd);
    if (m_topWnd)
        m_hook->Unhook(m_topWnd);
    m_hostWnd = window;
    m_topWnd = top;
    m_reconnect = true;
}

HRESULT CVaFilterGraphRep::SetMessageDrain(QObject* window) {
    m_drainWnd = window;
    if (!m_videoWindow) {
        m_reconnect = true;
        return S_OK;
    }
    HRESULT hr = m_videoWindow->put_MessageDrain(window);
    if (FAILED(hr))
        m_reconnect = true;
    return hr;
}

void CVaFilterGraphRep::SetVisible(bool visible) {
    m_hidden = !visible;
    if (m_videoWindow)
        m_videoWindow->put_Visible(visible ? OATRUE : OAFALSE);
}

bool CVaFilterGraphRep::ConnectVideoWindow(bool force) {
    if (!m_reconnect && !force)
        return true;
    DropVmrConfig();
    if (!m_videoWindow) {
        m_videoWindow = va::GraphInterface<IVideoWindow>(m_graph).Get();
        if (!m_videoWindow)
            ThrowHResult(E_NOINTERFACE);
    }
    m_hasVideo = -1;
    m_hostNotStatic = -1;
    if (FAILED(m_videoWindow->put_Owner(m_hostWnd.data()))) {
        if (m_hostWnd)
            m_hook->Unhook(m_hostWnd);
        if (m_topWnd)
            m_hook->Unhook(m_topWnd);
        return false;
    }
    if (m_hostWnd) {
        CheckHResult(m_videoWindow->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
        CheckHResult(m_videoWindow->put_AutoShow(OAFALSE));
        m_hook->Hook(m_hostWnd);
        if (m_topWnd && m_topWnd != m_hostWnd)
            m_hook->Hook(m_topWnd);
        UpdateVideoPosition();
        CheckHResult(m_videoWindow->put_Visible(m_hidden ? OAFALSE : OATRUE));
    }
    CheckHResult(m_videoWindow->put_MessageDrain(m_drainWnd.data()));
    m_reconnect = false;
    if (m_fullScreen)
        SetFullScreen(true);
    return true;
}

void CVaFilterGraphRep::ReleaseVideoWindow() {
    if (m_videoWindow) {
        // The flag stays set: the next connection enters full screen again.
        if (m_ownFullScreen) {
            if (QWidget* host = qobject_cast<QWidget*>(m_hostWnd.data()))
                LeaveOwnFullScreen(host);
            m_ownFullScreen = false;
        } else if (m_fullScreen) {
            m_videoWindow->put_FullScreenMode(OAFALSE);
        }
        m_videoWindow->put_MessageDrain(nullptr);
        m_videoWindow->put_Visible(OAFALSE);
        m_videoWindow = nullptr;
    }
    StopPollTimer();
    m_pollCounter = 0;
    m_reconnect = true;
    m_hasVideo = -1;
    m_hostNotStatic = -1;
    m_videoSize = SIZE{};
    m_vmrConfig = nullptr;
    if (m_vmrTracking) {
        CComPtr<IBaseFilter> vmr = FindFilterByInterface(IVMRFilterConfig::iid);
        if (vmr)
            m_vmrConfig = vmr.Get();
    }
}

bool CVaFilterGraphRep::SetScaleMode(int mode) {
    if (mode == m_scaleMode)
        return false;
    m_scaleMode = mode;
    if (m_hostWnd)
        Repaint();
    return true;
}

void CVaFilterGraphRep::SetAspectCorrection(bool on) {
    if (on == m_aspectCorrection)
        return;
    m_aspectCorrection = on;
    if (m_videoWindow) {
        m_videoSize = SIZE{};
        UpdateVideoPosition();
    }
}

bool CVaFilterGraphRep::HostIsStatic() {
    if (m_hostNotStatic < 0)
        m_hostNotStatic = va::EqualsNoCase(va::WindowClassName(m_hostWnd.data()), "Static") ? 0 : 1;
    return m_hostNotStatic == 0;
}

bool CVaFilterGraphRep::SetFullScreen(bool on) {
    m_fullScreen = on;
    if (on && m_hidden)
        SetVisible(true);
    QWidget* host = qobject_cast<QWidget*>(m_hostWnd.data());
    if (host && !HostIsStatic()) {
        // The wrapper's own full screen: the host window itself covers the screen.
        if (on && !m_ownFullScreen)
            EnterOwnFullScreen(host);
        else if (!on && m_ownFullScreen)
            LeaveOwnFullScreen(host);
        UpdateVideoPosition();
        return true;
    }
    // A static host, or none: the renderer's own full-screen mode.
    if (!m_videoWindow)
        return false;
    return SUCCEEDED(m_videoWindow->put_FullScreenMode(on ? OATRUE : OAFALSE));
}

namespace {

// The layout that holds 'widget' directly, searched through the nested
// layouts of its parent.
QLayout* LayoutHolding(QWidget* parent, QWidget* widget) {
    if (!parent || !parent->layout())
        return nullptr;
    std::vector<QLayout*> pending{parent->layout()};
    while (!pending.empty()) {
        QLayout* layout = pending.back();
        pending.pop_back();
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem* item = layout->itemAt(i);
            if (item->widget() == widget)
                return layout;
            if (item->layout())
                pending.push_back(item->layout());
        }
    }
    return nullptr;
}

}  // namespace

void CVaFilterGraphRep::EnterOwnFullScreen(QWidget* host) {
    QWidget* parent = host->parentWidget();
    m_savedParent = parent;
    m_savedRect = QRect(host->mapToGlobal(QPoint(0, 0)), host->size());
    // Taking the host out of its parent takes it out of the parent's layout
    // too: where it sat is noted so it goes back to the same place.
    m_savedLayout = LayoutHolding(parent, host);
    m_savedLayoutIndex = m_savedLayout ? m_savedLayout->indexOf(host) : -1;
    m_savedGridCell = {};
    m_savedStretch = 0;
    if (auto* grid = qobject_cast<QGridLayout*>(m_savedLayout.data()))
        grid->getItemPosition(m_savedLayoutIndex, &m_savedGridCell[0], &m_savedGridCell[1],
                              &m_savedGridCell[2], &m_savedGridCell[3]);
    else if (auto* box = qobject_cast<QBoxLayout*>(m_savedLayout.data()))
        m_savedStretch = box->stretch(m_savedLayoutIndex);
    QScreen* screen = parent ? parent->screen() : host->screen();
    m_ownFullScreen = true;
    host->setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
    if (screen)
        host->setGeometry(screen->geometry());
    host->show();
    host->raise();
}

void CVaFilterGraphRep::LeaveOwnFullScreen(QWidget* host) {
    const bool wasActive = host->isActiveWindow();
    QWidget* parent = m_savedParent.data();
    m_ownFullScreen = false;
    host->setParent(parent, parent ? Qt::Widget : Qt::Window);
    if (parent)
        host->setGeometry(QRect(parent->mapFromGlobal(m_savedRect.topLeft()), m_savedRect.size()));
    else
        host->setGeometry(m_savedRect);
    if (QLayout* layout = m_savedLayout.data(); layout && layout->parentWidget() == parent) {
        if (auto* grid = qobject_cast<QGridLayout*>(layout))
            grid->addWidget(host, m_savedGridCell[0], m_savedGridCell[1], m_savedGridCell[2],
                            m_savedGridCell[3]);
        else if (auto* box = qobject_cast<QBoxLayout*>(layout))
            box->insertWidget(m_savedLayoutIndex, host, m_savedStretch);
        else
            layout->addWidget(host);
    }
    m_savedParent = nullptr;
    m_savedLayout = nullptr;
    host->show();
    if (wasActive && parent)
        parent->window()->activateWindow();
}

bool CVaFilterGraphRep::GetVideoSize(SIZE& size) const {
    if (SIZE known = m_videoSize; known.cx < 1 || known.cy < 1) {
        size = SIZE{};
        return false;
    }
    size = m_videoSize;
    return true;
}

bool CVaFilterGraphRep::GetVideoWindowRect(RECT& rect) {
    rect = RECT{};
    if (!m_videoWindow)
        return false;
    LONG left = 0, top = 0, width = 0, height = 0;
    if (FAILED(m_videoWindow->GetWindowPosition(&left, &top, &width, &height)))
        return false;
    rect = RECT{left, top, left + width, top + height};
    return true;
}

bool CVaFilterGraphRep::ReadVideoSize(SIZE& size) {
    size = SIZE{};
    LONG width = 0, height = 0;
    CComPtr<IBasicVideo> video = va::GraphInterface<IBasicVideo>(m_graph);
    if (video) {
        if (FAILED(video->GetVideoSize(&width, &height)))
            return false;
    } else if (m_videoWindow) {
        LONG left = 0, top = 0;
        if (FAILED(m_videoWindow->GetWindowPosition(&left, &top, &width, &height)))
            return false;
    } else {
        return false;
    }
    if (m_aspectCorrection) {
        CComPtr<IBasicVideo2> video2 = va::GraphInterface<IBasicVideo2>(m_graph);
        LONG x = 0, y = 0;
        if (video2 && SUCCEEDED(video2->GetPreferredAspectRatio(&x, &y)) && x > 0 && y > 0)
            width = va::MulDiv(x, height, y);
    }
    size = SIZE{width, height};
    return width > 0 && height > 0;
}

namespace {

// Work for the notification object's thread. The event carries the work so
// that it is whole before Qt's queue (which the race checker cannot see)
// hands it over.
class CUiWorkEvent : public QEvent {
public:
    explicit CUiWorkEvent(std::function<void()> work)
        : QEvent(static_cast<QEvent::Type>(WM_VA_UIWORK)), m_work(std::move(work)) {
        racecheck::Published(this);
    }
    void Run() {
        racecheck::Received(this);
        ReportExceptions(m_work);
    }

private:
    std::function<void()> m_work;
};

}  // namespace

// Runs on the notification object's thread through the hook: once the
// wrapper is gone, its pending work is dropped with the event.
bool CVaFilterGraphRep::PostToUiThread(std::function<void()> work) {
    QObject* nfy = m_nfyWnd.data();
    if (!nfy || nfy->thread() == QThread::currentThread())
        return false;
    QCoreApplication::postEvent(nfy, new CUiWorkEvent(std::move(work)));
    return true;
}

void CVaFilterGraphRep::RunUiWork(QEvent* event) {
    static_cast<CUiWorkEvent*>(event)->Run();
}

void CVaFilterGraphRep::UpdateVideoPosition() {
    if (PostToUiThread([this] { UpdateVideoPosition(); }))
        return;
    if (!m_videoWindow)
        return;
    if (SIZE known = m_videoSize; known.cx < 1 || known.cy < 1) {
        SIZE size;
        if (!ReadVideoSize(size))
            return;
        m_videoSize = size;
    }
    QWidget* host = qobject_cast<QWidget*>(m_hostWnd.data());
    if (!host)
        return;
    QRect client = host->rect();
    RECT c{client.left(), client.top(), client.left() + client.width(),
           client.top() + client.height()};
    RECT d = va::ComputeVideoRect(c, m_videoSize.load(), m_scaleMode);
    m_videoWindow->SetWindowPosition(d.left, d.top, d.right - d.left, d.bottom - d.top);
}

void CVaFilterGraphRep::Repaint() {
    if (PostToUiThread([this] { Repaint(); }))
        return;
    QWidget* host = qobject_cast<QWidget*>(m_hostWnd.data());
    UpdateVideoPosition();
    if (host && !m_hidden)
        host->update();
}

void CVaFilterGraphRep::OnVideoEvent(LONG code, LONG_PTR param1, bool updateNow) {
    // The worker thread pumps events in handle mode; what they do to the
    // video and its windows happens on the user-interface thread.
    if (PostToUiThread([this, code, param1] { OnVideoEvent(code, param1, false); }))
        return;
    switch (code) {
        case EC_VIDEO_SIZE_CHANGED: {
            // A renderer that appeared after the graph was built (a network
            // reader's stream) gets the host window too.
            if (!m_videoWindow && m_hostWnd && m_graph && FindVideoWindowFilter())
                ConnectVideoWindow(false);
            LONG width = static_cast<LONG>(param1 & 0xFFFF);
            LONG height = static_cast<LONG>((param1 >> 16) & 0xFFFF);
            if (m_aspectCorrection) {
                CComPtr<IBasicVideo2> video2 = va::GraphInterface<IBasicVideo2>(m_graph);
                LONG x = 0, y = 0;
                if (video2 && SUCCEEDED(video2->GetPreferredAspectRatio(&x, &y)) && x > 0 && y > 0)
                    width = va::MulDiv(x, height, y);
            }
            m_videoSize = SIZE{width, height};
            if (updateNow)
                Repaint();
            else if (m_hostWnd)
                QCoreApplication::postEvent(
                    m_hostWnd.data(), new QEvent(static_cast<QEvent::Type>(WM_VA_VIDEOLAYOUT)));
            m_pollCounter = m_aspectCorrection ? 8 : 0;
            break;
        }
        case EC_PAUSED: {
            if (m_pollCounter == 0)
                break;
            SIZE size;
            if (ReadVideoSize(size) && !(size == m_videoSize.load())) {
                m_videoSize = size;
                Repaint();
                m_pollCounter = 0;
            } else {
                StartPollTimer(50);
            }
            break;
        }
        case EC_FULLSCREEN_LOST:
            m_fullScreen = false;
            break;
        default:
            break;
    }
}

// The renderer may learn the picture aspect ratio only after the first
// frames; the size is read again for a while after a pause.
void CVaFilterGraphRep::OnPollTimer() {
    SIZE size;
    if (ReadVideoSize(size) && !(size == m_videoSize.load())) {
        m_videoSize = size;
        Repaint();
        StopPollTimer();
        m_pollCounter = 0;
        return;
    }
    if (m_pollCounter == 8)
        StartPollTimer(250);
    if (--m_pollCounter <= 0) {
        m_pollCounter = 0;
        StopPollTimer();
    }
}

// Timers belong to the notification object's thread; calls from the
// worker thread are queued there.
void CVaFilterGraphRep::StartPollTimer(int ms) {
    QObject* nfy = m_nfyWnd.data();
    if (!nfy)
        return;
    auto start = [this, nfy, ms] {
        if (m_pollTimerId)
            nfy->killTimer(m_pollTimerId);
        m_pollTimerId = nfy->startTimer(ms);
    };
    if (!PostToUiThread(start))
        start();
}

void CVaFilterGraphRep::StopPollTimer() {
    QObject* nfy = m_nfyWnd.data();
    if (!nfy) {
        m_pollTimerId = 0;
        return;
    }
    auto stop = [this, nfy] {
        if (m_pollTimerId)
            nfy->killTimer(m_pollTimerId);
        m_pollTimerId = 0;
    };
    if (!PostToUiThread(stop))
        stop();
}
