#include "ui/SliderExt.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

#include "ui/UiUtil.h"

CSliderExt::CSliderExt(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        // The position the action leads to.
        const int position = sliderPosition();
        switch (action) {
            case SliderSingleStepAdd:
                Q_EMIT scrolled(TB_LINEDOWN, position);
                break;
            case SliderSingleStepSub:
                Q_EMIT scrolled(TB_LINEUP, position);
                break;
            case SliderPageStepAdd:
                Q_EMIT scrolled(TB_PAGEDOWN, position);
                break;
            case SliderPageStepSub:
                Q_EMIT scrolled(TB_PAGEUP, position);
                break;
            case SliderToMinimum:
                Q_EMIT scrolled(TB_TOP, position);
                break;
            case SliderToMaximum:
                Q_EMIT scrolled(TB_BOTTOM, position);
                break;
            case SliderMove:
                Q_EMIT scrolled(TB_THUMBTRACK, position);
                break;
            default:
                break;
        }
    });
    connect(this, &QAbstractSlider::sliderReleased, this,
            [this] { Q_EMIT scrolled(TB_THUMBPOSITION, sliderPosition()); });
}

CSliderExt::~CSliderExt() = default;

void CSliderExt::SetDragMessage(int eventType, QObject* target) {
    m_nDragMessage = eventType;
    m_pDragTarget = target;
}

void CSliderExt::SetSelRangeEnabled(bool on) {
    if (m_bSelRange != on) {
        m_bSelRange = on;
        update();
    }
}

void CSliderExt::SetSelection(int start, int end) {
    m_nSelStart = start;
    m_nSelEnd = end;
    update();
}

void CSliderExt::SetThumbLength(int length) {
    m_nThumbLength = length;
    update();
}

QRect CSliderExt::GetChannelRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
}

QRect CSliderExt::GetThumbRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

int CSliderExt::PositionFromClick(int x, int channelLeft, int channelWidth, int thumbWidth, int min,
                                  int max) {
    if (channelWidth <= 0 || max < min)
        return min;
    const int a = ui::MulDiv(x - channelLeft, thumbWidth, channelWidth);
    const int pos = min + ui::MulDiv(x - thumbWidth / 2 + a - channelLeft, max - min, channelWidth);
    return std::clamp(pos, min, max);
}

void CSliderExt::SendDrag(int wParam) {
    QObject* target = m_pDragTarget ? m_pDragTarget.data() : parent();
    if (!m_nDragMessage || !target)
        return;
    CSliderDragEvent event(m_nDragMessage, wParam);
    QCoreApplication::sendEvent(target, &event);
}

void CSliderExt::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    const QRect channel = GetChannelRect();
    const QRect thumb = GetThumbRect();
    bool handled = false;
    if (m_bJumpToClick && !thumb.contains(point) && point.x() >= channel.left() &&
        point.x() <= channel.right() && point.y() >= thumb.top() && point.y() <= thumb.bottom()) {
        // Jump there; a drag starts when the thumb now lies under the cursor.
        const int pos = PositionFromClick(point.x(), channel.left(), channel.width(), thumb.width(),
                                          minimum(), maximum());
        setSliderPosition(pos);
        Q_EMIT scrolled(TB_THUMBTRACK, sliderPosition());
        handled = !GetThumbRect().contains(point);
        if (handled)
            event->accept();
    }
    if (!handled)
        QSlider::mousePressEvent(event);
    if (!m_bCaptured) {
        m_bCaptured = true;
        SendDrag(1);
    }
}

void CSliderExt::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        Q_EMIT scrolled(TB_ENDTRACK, sliderPosition());
        if (m_bCaptured) {
            m_bCaptured = false;
            SendDrag(0);
        }
    }
}

void CSliderExt::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    // The channel and tick marks, then the marked range, then the thumb on top.
    option.subControls = QStyle::SC_SliderGroove;
    // An empty channel, as a trackbar has: styles that fill the channel up
    // to the thumb in the highlight colour hid a marked range behind it.
    option.sliderPosition = option.upsideDown ? option.maximum : option.minimum;
    option.sliderValue = option.sliderPosition;
    if (tickPosition() != NoTicks)
        option.subControls |= QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &p, this);
    if (m_bSelRange && m_nSelStart < m_nSelEnd && maximum() > minimum()) {
        const QRect channel = GetChannelRect().adjusted(2, 2, -2, -2);
        const QRect thumb = GetThumbRect();
        const int span = std::max(0, channel.width() - thumb.width());
        const int lo = std::clamp(m_nSelStart, minimum(), maximum());
        const int hi = std::clamp(m_nSelEnd, minimum(), maximum());
        const int x0 = channel.left() + thumb.width() / 2 +
                       QStyle::sliderPositionFromValue(minimum(), maximum(), lo, span);
        const int x1 = channel.left() + thumb.width() / 2 +
                       QStyle::sliderPositionFromValue(minimum(), maximum(), hi, span);
        if (x1 > x0 && channel.height() > 2)
            p.fillRect(QRect(x0, channel.top() + 1, x1 - x0, channel.height() - 2),
                       palette().color(QPalette::Highlight));
    }
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &p, this);
}
