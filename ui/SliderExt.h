#pragma once
// CSliderExt: the position slider. It can jump to the clicked position,
// draws the marked range in its channel, tells the owner when a drag starts
// and ends, and reports its scrolling with the classic scroll codes.
#include <QEvent>
#include <QPointer>
#include <QSlider>

// Scroll codes reported by scrolled().
constexpr int TB_LINEUP = 0;
constexpr int TB_LINEDOWN = 1;
constexpr int TB_PAGEUP = 2;
constexpr int TB_PAGEDOWN = 3;
constexpr int TB_THUMBPOSITION = 4;
constexpr int TB_THUMBTRACK = 5;
constexpr int TB_TOP = 6;
constexpr int TB_BOTTOM = 7;
constexpr int TB_ENDTRACK = 8;

// The drag message: sent to the target with wParam 1 when the slider takes
// the mouse (a drag starts) and 0 when it lets it go. The event type is the
// message number (the video panel uses 0x812C).
class CSliderDragEvent : public QEvent {
public:
    CSliderDragEvent(int type, int wParam)
        : QEvent(static_cast<QEvent::Type>(type)), m_wParam(wParam) {}
    int WParam() const { return m_wParam; }

private:
    int m_wParam;
};

class CSliderExt : public QSlider {
    Q_OBJECT
public:
    explicit CSliderExt(QWidget* parent = nullptr);
    ~CSliderExt() override;

    void SetJumpToClick(bool on) { m_bJumpToClick = on; }
    bool GetJumpToClick() const { return m_bJumpToClick; }
    // The message (event type) and its target; a null target means the parent.
    void SetDragMessage(int eventType, QObject* target = nullptr);

    // The marked range (TBS_ENABLESELRANGE style and TBM_SETSEL). A range
    // whose start is not below its end is not drawn.
    void SetSelRangeEnabled(bool on);
    bool IsSelRangeEnabled() const { return m_bSelRange; }
    void SetSelection(int start, int end);
    void ClearSelection() { SetSelection(-1, -1); }
    int GetSelStart() const { return m_nSelStart; }
    int GetSelEnd() const { return m_nSelEnd; }

    // Thumb length in pixels (TBS_FIXEDLENGTH with TBM_SETTHUMBLENGTH); 0: the style's.
    void SetThumbLength(int length);
    // Channel and thumb in the slider's coordinates.
    QRect GetChannelRect() const;
    QRect GetThumbRect() const;

    // The position a click at x lands on: with channel left L and width W,
    // thumb width T and range min..max, a = MulDiv(x - L, T, W) and
    // pos = min + MulDiv(x - T/2 + a - L, max - min, W), clamped to the range.
    static int PositionFromClick(int x, int channelLeft, int channelWidth, int thumbWidth, int min,
                                 int max);

Q_SIGNALS:
    // A scroll with its code (TB_...) and the position.
    void scrolled(int code, int position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SendDrag(int wParam);

    bool m_bJumpToClick = false;
    int m_nDragMessage = 0;
    QPointer<QObject> m_pDragTarget;
    bool m_bSelRange = false;
    int m_nSelStart = -1;
    int m_nSelEnd = -1;
    int m_nThumbLength = 0;
    bool m_bCaptured = false;
};
