#include "ui/WheelWnd.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <algorithm>
#include <cstdlib>

#include "support/Exception.h"

namespace {

QPointer<CWheelWnd>& OpenWheel() {
    static QPointer<CWheelWnd> wheel;
    return wheel;
}

// The wheel image (the first of the strip): a dark disc with a grip ring
// and a notch, 32 × 32 pixels.
const QPixmap& WheelImage() {
    static const QPixmap image = [] {
        QPixmap pixmap(CWheelWnd::kImageSize, CWheelWnd::kImageSize);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        QRadialGradient shade(QPointF(12, 10), 22);
        shade.setColorAt(0, QColor(0x70, 0x78, 0x88));
        shade.setColorAt(1, QColor(0x20, 0x24, 0x2c));
        p.setBrush(shade);
        p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1));
        p.drawEllipse(QRectF(0.5, 0.5, 31, 31));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0xc0, 0xc8, 0xd0), 1.5, Qt::DotLine));
        p.drawEllipse(QRectF(5, 5, 22, 22));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf0, 0xc0, 0x20));
        p.drawEllipse(QRectF(13, 13, 6, 6));
        // arrows left and right
        QPainterPath left, right;
        left.moveTo(3, 16);
        left.lineTo(8, 12);
        left.lineTo(8, 20);
        right.moveTo(29, 16);
        right.lineTo(24, 12);
        right.lineTo(24, 20);
        p.drawPath(left);
        p.drawPath(right);
        return pixmap;
    }();
    return image;
}

// Cursors 130 (right), 134 (left) and 158 (neutral): a horizontal arrow
// pointing the way the video moves, a double arrow at rest.
QCursor MakeCursor(int direction) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    QPainterPath path;
    if (direction >= 0) {  // right-pointing head
        path.moveTo(28, 16);
        path.lineTo(20, 9);
        path.lineTo(20, 13);
        path.lineTo(direction > 0 ? 4 : 12, 13);
        path.lineTo(direction > 0 ? 4 : 12, 19);
        path.lineTo(20, 19);
        path.lineTo(20, 23);
        path.closeSubpath();
    }
    if (direction <= 0) {  // left-pointing head
        QPainterPath head;
        head.moveTo(4, 16);
        head.lineTo(12, 9);
        head.lineTo(12, 13);
        head.lineTo(direction < 0 ? 28 : 20, 13);
        head.lineTo(direction < 0 ? 28 : 20, 19);
        head.lineTo(12, 19);
        head.lineTo(12, 23);
        head.closeSubpath();
        path = direction < 0 ? head : path.united(head);
    }
    p.drawPath(path);
    return QCursor(pixmap, 16, 16);
}

}  // namespace

CWheelWnd::CWheelWnd()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(kImageSize + 2, kImageSize + 2);
}

CWheelWnd::~CWheelWnd() {
    if (m_timerId)
        killTimer(m_timerId);
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (OpenWheel().data() == this || OpenWheel().isNull())
        OpenWheel() = nullptr;
}

CWheelWnd* CWheelWnd::GetOpenWheel() {
    CWheelWnd* wheel = OpenWheel().data();
    return wheel && !wheel->m_closing ? wheel : nullptr;
}

bool CWheelWnd::Open(QWidget* target, bool visible, const QPoint* cursor) {
    m_target = target;
    GetDirections(m_horizontal, m_vertical);
    if (!m_horizontal && !m_vertical)
        return false;
    // Without a display there is nothing to shape or grab.
    const bool offscreen = QGuiApplication::platformName() == "offscreen";
    // Round window: the ellipse from (1, 1) to (34, 34).
    if (!offscreen)
        setMask(QRegion(1, 1, kImageSize + 1, kImageSize + 1, QRegion::Ellipse));
    QPoint at = cursor ? *cursor : QCursor::pos();
    constexpr int half = kImageSize / 2 + 1;
    QPoint client = target ? target->mapFromGlobal(at) : at;
    m_origin = client - QPoint(half, half);
    move(target ? target->mapToGlobal(m_origin) : m_origin);
    // A hidden wheel (over a full-screen video) still needs a window to
    // take the mouse: it is shown fully transparent.
    if (!visible)
        setWindowOpacity(0.0);
    show();
    if (!offscreen) {
        grabMouse();
        grabKeyboard();
    }
    QApplication::setOverrideCursor(MakeCursor(0));
    m_cursor = ECursor::neutral;
    m_timerId = startTimer(kTimerPeriod, Qt::PreciseTimer);
    return true;
}

void CWheelWnd::Track(const QPoint& cursor) {
    if (m_closing)
        return;
    constexpr int half = kImageSize / 2 + 1;
    QPoint client = m_target ? m_target->mapFromGlobal(cursor) : cursor;
    client -= QPoint(half, half);
    // Only horizontal movement counts for a horizontal wheel.
    int dx = m_horizontal ? client.x() - m_origin.x() : 0;
    int dy = m_vertical ? client.y() - m_origin.y() : 0;
    auto amountFor = [this](int d) {
        int distance = std::max(std::abs(d) - kDeadZone, 0);
        int amount = TransformDistance(distance);
        return d < 1 ? -amount : amount;
    };
    int amountX = amountFor(dx);
    int amountY = amountFor(dy);
    QPoint old = GetPosition();
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    GetLimits(minX, minY, maxX, maxY);
    int newX = std::clamp(ApplyDelta(old.x(), amountX), minX, maxX);
    int newY = std::clamp(ApplyDelta(old.y(), amountY), minY, maxY);
    if (newX == old.x() && newY == old.y())
        return;
    SetPosition(newX, old.x(), newY, old.y());
    m_moved = true;
    SetTrackCursor(amountX == 0 ? ECursor::neutral : amountX < 0 ? ECursor::left : ECursor::right);
}

void CWheelWnd::SetTrackCursor(ECursor cursor) {
    if (cursor == m_cursor)
        return;
    m_cursor = cursor;
    QApplication::changeOverrideCursor(MakeCursor(cursor == ECursor::left    ? -1
                                                  : cursor == ECursor::right ? 1
                                                                             : 0));
}

void CWheelWnd::Close() {
    if (m_closing)
        return;
    m_closing = true;
    if (m_timerId) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    if (QWidget::keyboardGrabber() == this)
        releaseKeyboard();
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (OpenWheel().data() == this)
        OpenWheel() = nullptr;
    hide();
    deleteLater();
}

void CWheelWnd::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId)
        return QWidget::timerEvent(event);
    ReportExceptions([&] { Track(QCursor::pos()); });
}

void CWheelWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(1, 1, WheelImage(), m_imageOffset, 0, kImageSize, kImageSize);
}

void CWheelWnd::mousePressEvent(QMouseEvent*) {
    ReportExceptions([&] { Close(); });
}

void CWheelWnd::mouseDoubleClickEvent(QMouseEvent*) {
    ReportExceptions([&] { Close(); });
}

void CWheelWnd::mouseReleaseEvent(QMouseEvent*) {
    // A click without movement leaves the wheel open until the next click.
    if (m_moved)
        ReportExceptions([&] { Close(); });
}

void CWheelWnd::keyPressEvent(QKeyEvent*) {
    ReportExceptions([&] { Close(); });
}

bool CWheelWnd::event(QEvent* event) {
    // Losing the grab to another window (a menu, a dialog, the window
    // manager) cancels the wheel.
    if (event->type() == QEvent::UngrabMouse || event->type() == QEvent::WindowDeactivate) {
        if (!m_closing && isVisible())
            ReportExceptions([&] { Close(); });
    }
    return QWidget::event(event);
}

void CWheelWind::SetPosition(int newX, int oldX, int newY, int oldY) {
    m_speed = newX;
    if (m_wind)
        m_wind->SetShuttleSpeed(newX);
}

void CWheelWind::Close() {
    if (IsClosing())
        return;
    // The owner hears first, while the wheel still counts as open.
    IWheelWind* wind = m_wind;
    m_wind = nullptr;
    if (wind)
        wind->OnWheelClosed();
    CWheelWnd::Close();
}

bool OpenJogWheel(QWidget* target, IWheelWind* wind, bool visible, const QPoint* cursor) {
    if (CWheelWnd::GetOpenWheel())
        return false;
    auto* wheel = new CWheelWind(wind);
    OpenWheel() = wheel;
    if (!wheel->Open(target, visible, cursor)) {
        OpenWheel() = nullptr;
        delete wheel;
        return false;
    }
    return true;
}
