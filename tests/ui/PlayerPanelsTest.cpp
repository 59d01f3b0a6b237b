// The panels' arithmetic and the jog wheel's speed curve and closing rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "ui/PanelMath.h"
#include "ui/PlayerIds.h"
#include "ui/WheelWnd.h"

namespace {

TEST(PanelMath, ShuttleStepsStretchShortIntervals) {
    struct Case {
        int speed, frameMs, step, interval;
    } cases[] = {
        {25, 40, 40, 160},   {-50, 40, -50, 100},     {150, 40, 150, 100},
        {400, 40, 400, 100}, {100, 40, 100, 100},     {25, 0, 40, 160},  // unknown frame: 40 ms
        {1, 40, 40, 4000},   {-1200, 40, -1200, 100},
    };
    for (const Case& c : cases) {
        panel::CShuttleStep s = panel::ComputeShuttleStep(c.speed, c.frameMs);
        EXPECT_EQ(s.stepMs, c.step) << c.speed;
        EXPECT_EQ(s.intervalMs, c.interval) << c.speed;
    }
}

TEST(PanelMath, SliderSetUpAndConversions) {
    // 3 s at 25 fps: the last frame starts at 2960 ms, 74 positions of 40 ms.
    panel::CSliderSetup s = panel::ComputeSliderSetup(30'000'000, 400'000);
    EXPECT_EQ(s.rangeMs, 2960);
    EXPECT_EQ(s.positions, 74);
    EXPECT_EQ(s.pageSize, 25);
    EXPECT_EQ(s.ticFrequency, 8);
    EXPECT_EQ(panel::SliderToTime(37, s.rangeMs, s.positions, 400'000), 14'800'000);
    EXPECT_EQ(panel::TimeToSlider(1480, s.rangeMs, s.positions), 37);
    EXPECT_EQ(panel::TimeToSlider(99999, s.rangeMs, s.positions), 74);
    EXPECT_EQ(panel::TimeToSlider(-5, s.rangeMs, s.positions), 0);
    // A clip not longer than one frame has no range.
    EXPECT_LE(panel::ComputeSliderSetup(400'000, 400'000).rangeMs, 0);
    EXPECT_EQ(panel::SliderToTime(3, 0, 10, 400'000), -1);
    // No frame duration: 1 ms a position, no rounding.
    panel::CSliderSetup ms = panel::ComputeSliderSetup(10'000'000, 0);
    EXPECT_EQ(ms.positions, 1000);
    EXPECT_EQ(panel::SliderToTime(333, ms.rangeMs, ms.positions, 0), 3'330'000);
}

TEST(PanelMath, RatesAndCaptions) {
    struct Case {
        unsigned id;
        const char* caption;
    } cases[] = {{ID_RATE_100, ""},    {ID_RATE_90, "90%"}, {ID_RATE_66, "66%"},
                 {ID_RATE_33, "33%"},  {ID_RATE_3, "3%"},   {ID_RATE_200, "200%"},
                 {ID_RATE_120, "120%"}};
    for (const Case& c : cases)
        EXPECT_EQ(panel::RateCaption(RateForCommand(c.id)), c.caption) << c.id;
    EXPECT_EQ(RateForCommand(34149), 0.0);
    EXPECT_EQ(RateForCommand(ID_PLAY), 0.0);
}

class CRecordingWind : public IWheelWind {
public:
    void SetShuttleSpeed(int percent) override { speeds.push_back(percent); }
    void OnWheelClosed() override { ++closed; }
    std::vector<int> speeds;
    int closed = 0;
};

TEST(JogWheel, SpeedFollowsTheSquareOfTheDistance) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QWidget target;
    target.resize(400, 300);
    target.show();
    const QPoint centre = target.mapToGlobal(QPoint(200, 150));
    struct Case {
        int dx, dy, speed;
    } cases[] = {{5, 0, 0},      {110, 0, 100}, {-110, 0, -100}, {60, 0, 25},
                 {500, 0, 1200}, {0, 90, 0},    {20, 50, 1},     {-600, 0, -1200}};
    for (const Case& c : cases) {
        CRecordingWind wind;
        ASSERT_TRUE(OpenJogWheel(&target, &wind, true, &centre));
        auto* wheel = static_cast<CWheelWind*>(CWheelWnd::GetOpenWheel());
        ASSERT_NE(wheel, nullptr);
        // A second wheel is refused while one is open.
        EXPECT_FALSE(OpenJogWheel(&target, &wind, true, &centre));
        wheel->Track(centre + QPoint(c.dx, c.dy));
        EXPECT_EQ(wheel->GetSpeed(), c.speed) << c.dx << "," << c.dy;
        EXPECT_EQ(wheel->HasMoved(), c.speed != 0);
        // Releasing the button closes the wheel only after it moved.
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(centre),
                            Qt::RightButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(wheel, &release);
        EXPECT_EQ(CWheelWnd::GetOpenWheel() == nullptr, c.speed != 0);
        if (CWheelWnd::GetOpenWheel()) {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(centre),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(wheel, &press);
        }
        EXPECT_EQ(CWheelWnd::GetOpenWheel(), nullptr);
        EXPECT_EQ(wind.closed, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
