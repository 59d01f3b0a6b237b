#include "ui/StaticVideo.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <vector>

#include "resources/StringTable.h"
#include "ui/CmdTarget.h"

namespace {

// Every video window of the process; at most one of them is active.
std::vector<CStaticVideo*>& VideoWindows() {
    static std::vector<CStaticVideo*> windows;
    return windows;
}

}  // namespace

CStaticVideo::CStaticVideo(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    // The video host treats it as the static control it stands for.
    setProperty("windowClass", QStringLiteral("Static"));
    VideoWindows().push_back(this);
}

CStaticVideo::~CStaticVideo() {
    auto& windows = VideoWindows();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

bool CStaticVideo::CreateFromPlaceholder(QWidget* dialog, unsigned id) {
    QWidget* placeholder = GetDlgItem(dialog, id);
    if (!placeholder || placeholder == this)
        return false;
    setParent(placeholder->parentWidget());
    setGeometry(placeholder->geometry());
    SetDlgCtrlID(this, id);
    if (!m_pOwner)
        m_pOwner = dialog;
    stackUnder(placeholder);
    delete placeholder;
    show();
    return true;
}

CStaticVideo* CStaticVideo::GetActive() {
    for (CStaticVideo* window : VideoWindows()) {
        if (window->m_bActive)
            return window;
    }
    return nullptr;
}

bool CStaticVideo::MakeActive() {
    if (m_bActive)
        return false;
    for (CStaticVideo* window : VideoWindows()) {
        if (window != this && window->m_bActive) {
            window->m_bActive = false;
            window->update();
        }
    }
    m_bActive = true;
    update();
    return true;
}

void CStaticVideo::SetStatusText(unsigned stringId) {
    SetStatusText(stringId ? QString::fromStdString(LoadResString(stringId)) : QString());
}

void CStaticVideo::SetStatusText(const QString& text) {
    if (text == m_strStatus)
        return;
    m_strStatus = text;
    UpdateStrip();
}

int CStaticVideo::GetStatusHeight() const {
    if (m_strStatus.isEmpty())
        return 0;
    const QFontMetrics metrics(font());
    return metrics.height() + metrics.leading() + 8;
}

void CStaticVideo::UpdateStrip() {
    // The strip takes its height from the bottom of the window; the video
    // keeps the area above it.
    setContentsMargins(0, 0, 0, GetStatusHeight());
    update();
    Q_EMIT videoRectChanged(contentsRect());
}

void CStaticVideo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), BackgroundColor());
    if (m_strStatus.isEmpty())
        return;
    const int strip = GetStatusHeight();
    const QRect stripRect(0, height() - strip, width(), strip);
    p.setPen(StatusTextColor());
    p.drawText(stripRect.adjusted(4, 0, -4, -4),
               Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, m_strStatus);
}

void CStaticVideo::keyPressEvent(QKeyEvent* event) {
    // Full screen, the window has no parent; its dialog still takes the keys.
    if (isWindow() && m_pOwner) {
        QCoreApplication::sendEvent(m_pOwner, event);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CStaticVideo::keyReleaseEvent(QKeyEvent* event) {
    if (isWindow() && m_pOwner) {
        QCoreApplication::sendEvent(m_pOwner, event);
        return;
    }
    QWidget::keyReleaseEvent(event);
}
