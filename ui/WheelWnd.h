#pragma once
// The jog wheel: a small round popup under the mouse cursor. While it is
// open, the horizontal distance of the cursor from the point where the
// wheel appeared sets a shuttle speed (the further away, the faster; left
// of it backwards). It closes on a click, a key, a cancel, or when the
// button that opened it is released after the mouse has moved.
//
// CWheelWnd is the generic wheel window; CWheelWind the jog variant that
// reports the speed to an IWheelWind. At most one wheel exists at a time.
#include <QPoint>
#include <QWidget>

// Implemented by the owner of a jog wheel (the video panel).
class IWheelWind {
public:
    // The shuttle speed in percent, signed; 0 stops the shuttle.
    virtual void SetShuttleSpeed(int percent) = 0;
    // The wheel closed.
    virtual void OnWheelClosed() = 0;

protected:
    ~IWheelWind() = default;
};

class CWheelWnd : public QWidget {
public:
    static constexpr int kImageSize = 32;
    static constexpr int kTimerPeriod = 10;  // ms
    static constexpr int kDeadZone = 10;     // pixels

    ~CWheelWnd() override;

    // The wheel open now, or null.
    static CWheelWnd* GetOpenWheel();

    // Opens the wheel with its image centred on 'cursor' (global
    // coordinates; the cursor's position when omitted). False when the
    // wheel allows no direction.
    bool Open(QWidget* target, bool visible, const QPoint* cursor = nullptr);
    // One tracking step for the cursor at 'cursor' (global coordinates).
    void Track(const QPoint& cursor);
    // Tells the owner and destroys the window (deferred).
    virtual void Close();

    bool HasMoved() const { return m_moved; }
    bool IsClosing() const { return m_closing; }
    // Top-left of the wheel in the target's client coordinates.
    QPoint GetOrigin() const { return m_origin; }

protected:
    CWheelWnd();

    // The steps a wheel variant gives.
    virtual void GetDirections(bool& horizontal, bool& vertical) const = 0;
    virtual QPoint GetPosition() const = 0;
    virtual void GetLimits(int& minX, int& minY, int& maxX, int& maxY) const = 0;
    virtual int TransformDistance(int distance) const { return distance; }
    virtual int ApplyDelta(int position, int delta) const { return position + delta; }
    virtual void SetPosition(int newX, int oldX, int newY, int oldY) = 0;

    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    enum class ECursor { neutral, left, right };
    void SetTrackCursor(ECursor cursor);

    QWidget* m_target = nullptr;
    QPoint m_origin;
    int m_timerId = 0;
    int m_imageOffset = 0;
    bool m_horizontal = false;
    bool m_vertical = false;
    bool m_moved = false;
    bool m_closing = false;
    ECursor m_cursor = ECursor::neutral;
};

// The jog wheel: horizontal only, speed -1200..1200 percent, growing with
// the square of the distance beyond the dead zone.
class CWheelWind : public CWheelWnd {
public:
    static constexpr int kMaxSpeed = 1200;

    explicit CWheelWind(IWheelWind* wind) : m_wind(wind) {}
    int GetSpeed() const { return m_speed; }
    void Close() override;

protected:
    void GetDirections(bool& horizontal, bool& vertical) const override {
        horizontal = true;
        vertical = false;
    }
    QPoint GetPosition() const override { return QPoint(m_speed, 0); }
    void GetLimits(int& minX, int& minY, int& maxX, int& maxY) const override {
        minX = -kMaxSpeed;
        maxX = kMaxSpeed;
        minY = maxY = 0;
    }
    // (d / 100)² × 100, truncated.
    int TransformDistance(int distance) const override {
        return int((long long)distance * distance / 100);
    }
    // The speed is the amount itself, not a sum.
    int ApplyDelta(int position, int delta) const override { return delta; }
    void SetPosition(int newX, int oldX, int newY, int oldY) override;

private:
    IWheelWind* m_wind;
    int m_speed = 0;
};

// Opens a jog wheel for 'target' reporting to 'wind'; false (and nothing
// done) when a wheel is open already or the wheel cannot open.
bool OpenJogWheel(QWidget* target, IWheelWind* wind, bool visible, const QPoint* cursor = nullptr);
