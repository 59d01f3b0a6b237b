// The rules of the position and time controls and of the owner-drawn button.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <string>
#include <vector>

#include "playlist/IPlayListInfo.h"
#include "tests/ui/UiTest.h"
#include "timeline/VaDES.h"
#include "ui/AutoSizeCombo.h"
#include "ui/CmdTarget.h"
#include "ui/MsTimeCtrl.h"
#include "ui/NiftyButton.h"
#include "ui/SliderExt.h"
#include "ui/StaticVideo.h"
#include "ui/TimelineCombo.h"

namespace {

constexpr int64_t kSecond = 10'000'000;

// A playlist of untitled entries, each 10 s long.
class CFakePlayList : public IPlayListInfo {
public:
    explicit CFakePlayList(int count) : m_count(count) {}
    int GetCount() const override { return m_count; }
    int FindClip(REFERENCE_TIME) const override { return -1; }
    std::string GetClipFile(int i) const override {
        return "clip" + std::to_string(i + 1) + ".avi";
    }
    std::string GetClipTitle(int i) const override { return i == 0 ? "First\r\nclip\there" : ""; }
    std::string GetClipAbstract(int) const override { return {}; }
    bool GetClipListRange(int i, REFERENCE_TIME& start, REFERENCE_TIME& end) const override {
        start = i * 10 * kSecond;
        end = (i + 1) * 10 * kSecond;
        return true;
    }
    bool GetClipFileRange(int, REFERENCE_TIME& start, REFERENCE_TIME& end) const override {
        start = end = -1;
        return false;
    }
    bool IsWholeFile(int) const override { return true; }

private:
    int m_count;
};

class CDragCatcher : public QObject {
public:
    std::vector<int> m_params;
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(0x812C)) {
            m_params.push_back(static_cast<CSliderDragEvent*>(e)->WParam());
            return true;
        }
        return QObject::event(e);
    }
};

// Records the menu it would show instead of running it.
class CMenuButton : public CNiftyButton {
public:
    using CNiftyButton::CNiftyButton;
    int m_nMenus = 0;
    void TrackMenu(QMenu*, const QPoint&) override { ++m_nMenus; }
};

}  // namespace

TEST(SliderExt, ClickArithmeticAndDrag) {
    struct {
        int x, min, max, expected;
    } cases[] = {
        {10, 0, 100, 0},     // channel's left end
        {210, 0, 100, 100},  // right end (clamped)
        {110, 0, 100, 50},  {60, 0, 1, 0},  {160, 0, 1, 1},
        {110, 0, 1, 1},     {110, 5, 5, 5}, {110, 7, 3, 7},  // empty and reversed ranges
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSliderExt::PositionFromClick(c.x, 10, 200, 10, c.min, c.max), c.expected) << c.x;

    vtest::UiApp();
    CSliderExt slider;
    slider.resize(220, 30);
    slider.setRange(0, 1000);
    slider.SetJumpToClick(true);
    CDragCatcher catcher;
    slider.SetDragMessage(0x812C, &catcher);
    QSignalSpy scrolled(&slider, &CSliderExt::scrolled);
    slider.show();
    const QRect channel = slider.GetChannelRect();
    const int y = slider.GetThumbRect().center().y();
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(channel.right(), y));
    EXPECT_EQ(slider.sliderPosition(), 1000);
    ASSERT_FALSE(scrolled.isEmpty());
    EXPECT_EQ(scrolled.first().at(0).toInt(), TB_THUMBTRACK);
    EXPECT_EQ(scrolled.last().at(0).toInt(), TB_ENDTRACK);
    EXPECT_EQ(catcher.m_params, (std::vector<int>{1, 0}));
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(channel.left(), y));
    EXPECT_EQ(slider.sliderPosition(), 0);

    // A marked range whose stop lies before its start is not drawn.
    slider.SetSelRangeEnabled(true);
    slider.SetSelection(800, 200);
    EXPECT_FALSE(slider.grab().isNull());
}

TEST(MsTimeCtrl, SetTimeRoundsToHundredths) {
    vtest::UiApp();
    struct {
        int64_t time;
        const char* text;
        int64_t back;
    } cases[] = {
        {4'999, "00:00:00.00", 0},
        {45'000, "00:00:00.01", 100'000},
        {9'950'000, "00:00:01.00", kSecond},
        {37'234'560'000, "01:02:03.46", 37'234'600'000},
        {25 * 3600 * kSecond, "01:00:00.00", 3600 * kSecond},  // a day wraps
        {-1, " ", -1},
    };
    CMsTimeCtrl field;
    for (const auto& c : cases) {
        field.SetTime(c.time);
        EXPECT_EQ(field.Text().toStdString(), c.text) << c.time;
        EXPECT_EQ(field.GetTime(), c.back) << c.time;
    }
    field.SetTime(kSecond);
    EXPECT_EQ(field.GetDateTime().date(), QDate(1899, 12, 30));
    field.SetFrameDuration(40);
    EXPECT_EQ(field.GetStep(), 40);
    field.SetFrameDuration(1000);
    field.SetFrameDuration(0);
    EXPECT_EQ(field.GetStep(), 40);
    // Without the focus a wheel or up-down turn moves the whole time by the
    // step (across seconds); an empty field stays empty.
    field.SetTime(59'900'000);
    field.stepBy(1);
    EXPECT_EQ(field.GetTime(), 60'300'000);
    field.stepBy(-2);
    EXPECT_EQ(field.GetTime(), 59'500'000);
    field.SetTime(-1);
    field.stepBy(1);
    EXPECT_EQ(field.GetTime(), -1);
}

TEST(MsTimeCtrl, FractionTypingStepsAndBadText) {
    vtest::UiApp();
    CMsTimeCtrl field;
    field.show();
    field.setFocus();
    field.SetTime(5 * kSecond);
    field.SetCurrentField(CMsTimeCtrl::FieldFraction);
    QSignalSpy changed(&field, &CMsTimeCtrl::timeChanged);

    // Two digits within the second: 4, 2 -> 420 ms.
    QTest::keyClick(&field, Qt::Key_4);
    QTest::keyClick(&field, Qt::Key_2);
    EXPECT_EQ(field.Millisecond(), 420);
    EXPECT_EQ(field.Text().toStdString(), "00:00:05.42");
    // The second ends between them: 4, (timer), 2 -> 20 ms.
    QTest::keyClick(&field, Qt::Key_4);
    field.EndTyping();
    QTest::keyClick(&field, Qt::Key_2, Qt::KeypadModifier);
    EXPECT_EQ(field.Millisecond(), 20);
    EXPECT_EQ(field.Text().toStdString(), "00:00:05.02");
    EXPECT_GE(changed.count(), 4);

    // Up and Down step by the frame duration and wrap within the second.
    struct {
        int start, step, key;
        int expected;
    } steps[] = {{990, 10, Qt::Key_Up, 0},
                 {0, 10, Qt::Key_Down, 990},
                 {960, 40, Qt::Key_Up, 0},
                 {20, 40, Qt::Key_Down, 980},
                 {500, 40, Qt::Key_Up, 540}};
    for (const auto& s : steps) {
        field.SetTimeText(QString::asprintf("00:00:05.%03d", s.start));
        field.SetFrameDuration(s.step);
        field.SetCurrentField(CMsTimeCtrl::FieldFraction);
        QTest::keyClick(&field, static_cast<Qt::Key>(s.key));
        EXPECT_EQ(field.Millisecond(), s.expected) << s.start;
        EXPECT_EQ(field.Second(), 5);
    }

    // Text that is not a time keeps the last valid value.
    field.SetTime(7 * kSecond);
    for (const char* bad : {"abc", "25:00:00.00", "1:2", "", "12:61:00"})
        EXPECT_FALSE(field.SetTimeText(bad)) << bad;
    field.findChild<QLineEdit*>()->setText("garbage");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.GetTime(), 7 * kSecond);
    EXPECT_EQ(field.findChild<QLineEdit*>()->text().toStdString(), "00:00:07.00");
}

TEST(TimelineCombo, LabelsAndSearch) {
    vtest::UiApp();
    EXPECT_EQ(CTimelineCombo::FormatTime(37'234'560'000), "01:02:03.45");
    EXPECT_EQ(CTimelineCombo::FormatTime(-1), "?");
    EXPECT_EQ(CTimelineCombo::FormatRange(0, kSecond), "00:00:00.00 - 00:00:01.00");

    CTimelineCombo combo;
    combo.SetShowFilesEntry(true);
    combo.FillFromPlaylist(CFakePlayList(12));
    ASSERT_EQ(combo.count(), 13);
    EXPECT_EQ(combo.itemText(0).toStdString(), "<Show Files>");
    EXPECT_EQ(combo.itemText(1).toStdString(), "First clip here");
    EXPECT_EQ(combo.itemText(3).toStdString(), "(03) clip3.avi");
    EXPECT_EQ(combo.ItemOfEntry(0), -1);

    // The entry containing the time gets selected, searching on from the
    // selected entry and then from the top.
    struct {
        int64_t time;
        int entry;
    } cases[] = {{25 * kSecond, 3}, {26 * kSecond, 3},  {95 * kSecond, 10},
                 {5 * kSecond, 1},  {200 * kSecond, 1}, {119 * kSecond, 12}};
    combo.setCurrentIndex(0);
    for (const auto& c : cases) {
        combo.SelectTime(c.time, c.time + 1);
        EXPECT_EQ(combo.currentIndex(), c.entry) << c.time;
    }
    int64_t start = 0, stop = 0;
    ASSERT_TRUE(combo.GetSelectedRange(start, stop));
    EXPECT_EQ(start, 110 * kSecond);
    combo.SelectIndex(2);
    EXPECT_EQ(combo.currentIndex(), 3);
    combo.setCurrentIndex(0);
    EXPECT_TRUE(combo.IsShowFilesSelected());
    EXPECT_FALSE(combo.GetSelectedRange(start, stop));

    // Items come in sorted by start; frame rounding decides the boundary.
    combo.SetShowFilesEntry(false);
    combo.FillFromItems({{20 * kSecond, 30 * kSecond, 0, "b"}, {0, 20 * kSecond, 0, ""}});
    EXPECT_EQ(combo.itemText(0).toStdString(), "00:00:00.00 - 00:00:20.00");
    combo.SetFrameDuration(400'000);  // 40 ms frames
    combo.setCurrentIndex(0);
    combo.SelectTime(20 * kSecond - 100'000, -1);  // rounds up to the next clip's start
    EXPECT_EQ(combo.currentIndex(), 1);
}

TEST(TimelineCombo, ClipsOfATimeline) {
    vtest::UiApp();
    CVaAMTimeline timeline;
    timeline.Create();
    CVaXml2Dex reader;
    reader.Create();
    reader.ReadXML(timeline,
                   "<timeline><group type='audio'><track><clip src='x' start='0' stop='9'/></track>"
                   "</group><group type='video' framerate='25'>"
                   "<track><clip src='b' start='2' stop='3' name='Second'/></track>"
                   "<track><clip src='a' start='0' stop='1'/></track></group></timeline>");
    CTimelineCombo combo;
    combo.FillFromTimeline(timeline);
    ASSERT_EQ(combo.Items().size(), 2u);
    EXPECT_EQ(combo.itemText(0).toStdString(), "00:00:00.00 - 00:00:01.00");
    EXPECT_EQ(combo.itemText(1).toStdString(), "Second");
    EXPECT_EQ(combo.Items()[1].frameDuration, 400'000);
}

TEST(StaticVideo, OneActiveWindowAndStatusStrip) {
    vtest::UiApp();
    CStaticVideo a, b;
    EXPECT_TRUE(a.MakeActive());
    EXPECT_FALSE(a.MakeActive());
    EXPECT_TRUE(a.IsActive());
    EXPECT_TRUE(b.MakeActive());
    EXPECT_FALSE(a.IsActive());
    EXPECT_EQ(CStaticVideo::GetActive(), &b);

    a.resize(160, 120);
    EXPECT_EQ(a.GetStatusHeight(), 0);
    a.SetStatusText(QStringLiteral("Loading Video File..."));
    EXPECT_GT(a.GetStatusHeight(), 8);
    EXPECT_EQ(a.GetVideoRect().height(), 120 - a.GetStatusHeight());
    a.SetStatusText(0u);
    EXPECT_EQ(a.GetVideoRect().height(), 120);

    QWidget dialog;
    auto* placeholder = new QWidget(&dialog);
    placeholder->setGeometry(5, 6, 70, 40);
    SetDlgCtrlID(placeholder, 1000);
    auto* video = new CStaticVideo;
    ASSERT_TRUE(video->CreateFromPlaceholder(&dialog, 1000));
    EXPECT_EQ(GetDlgItem(&dialog, 1000), video);
    EXPECT_EQ(video->geometry(), QRect(5, 6, 70, 40));
    EXPECT_FALSE(CStaticVideo().CreateFromPlaceholder(&dialog, 1001));
}

TEST(NiftyButton, DropDownZoneAndCheckState) {
    vtest::UiApp();
    CMenuButton button(QStringLiteral("Play"), nullptr);
    button.resize(60, 24);
    EXPECT_FALSE(button.IsInDropDownZone({55, 10}));  // no menu yet
    auto menu = std::make_unique<QMenu>();
    menu->addAction(QStringLiteral("Normal"))->setData(34145);
    button.SetDropDownMenu(std::move(menu), -1);
    struct {
        int x;
        bool zone;
    } cases[] = {{47, false}, {48, true}, {59, true}, {60, false}, {0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(button.IsInDropDownZone({c.x, 10}), c.zone) << c.x;

    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(54, 12));
    EXPECT_EQ(button.m_nMenus, 1);
    EXPECT_EQ(clicked.count(), 0);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 12));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(button.GetCheck());  // a click does not toggle

    button.SetCheck(true);
    const int paints = button.PaintCount();
    button.SetCheck(true);
    EXPECT_EQ(button.PaintCount(), paints);
    EXPECT_TRUE(button.GetCheck());
    button.SetCheck(false);
    EXPECT_GT(button.PaintCount(), paints);

    // Space activates the focused button.
    button.setFocus();
    QTest::keyClick(&button, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 2);
}

TEST(AutoSizeCombo, ListAsWideAsTheLongestEntryCappedAtTheScreen) {
    vtest::UiApp();
    CAutoSizeCombo combo;
    combo.resize(80, 24);
    const QString longest(60, QLatin1Char('W'));
    combo.addItems({QStringLiteral("short"), longest});
    const int text = combo.fontMetrics().horizontalAdvance(longest);
    EXPECT_GT(combo.ComputeDroppedWidth(), text);
    combo.showPopup();
    EXPECT_TRUE(combo.IsDroppedDown());
    EXPECT_GT(combo.view()->width(), text);
    combo.hidePopup();
    EXPECT_FALSE(combo.IsDroppedDown());
    combo.addItem(QString(2000, QLatin1Char('W')));
    EXPECT_LE(combo.ComputeDroppedWidth(), combo.screen()->availableGeometry().width());
}
