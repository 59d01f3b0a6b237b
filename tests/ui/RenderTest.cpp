// Each control drawn into an image at device pixel ratios 1 and 2, saved as
// PNG next to the test, and checked for properties of its pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <functional>

#include "tests/ui/UiTest.h"
#include "ui/Icons.h"
#include "ui/MsTimeCtrl.h"
#include "ui/NiftyButton.h"
#include "ui/SliderExt.h"
#include "ui/StaticVideo.h"
#include "ui/TimelineCombo.h"

namespace {

QImage Render(QWidget& widget, qreal dpr, const QString& name) {
    QImage image(widget.size() * dpr, QImage::Format_ARGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    if (!name.isEmpty()) {
        const QString dir = QStringLiteral(VELOTRAX_BINARY_DIR "/tests/ui/render");
        QDir().mkpath(dir);
        image.save(dir + "/" + name + ".png");
    }
    return image;
}

// Device pixels of 'rect' (logical) where the images differ.
int CountDiff(const QImage& a, const QImage& b, const QRect& rect, qreal dpr, int* maxX = nullptr) {
    int count = 0;
    const QRect box(rect.topLeft() * dpr, rect.size() * dpr);
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ++count;
                if (maxX)
                    *maxX = std::max(*maxX, x);
            }
        }
    }
    return count;
}

// Whether every pixel on the outer edge of the image has the colour.
bool EdgeIs(const QImage& image, QColor color) {
    const QRgb rgb = color.rgb();
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, 0) != rgb || image.pixel(x, image.height() - 1) != rgb)
            return false;
    }
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(0, y) != rgb || image.pixel(image.width() - 1, y) != rgb)
            return false;
    }
    return true;
}

int CountColor(const QImage& image, std::function<bool(QColor)> match) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += match(QColor(image.pixel(x, y))) ? 1 : 0;
    return count;
}

}  // namespace

TEST(Render, NiftyButtonLooksAtBothPixelRatios) {
    vtest::UiApp();
    for (qreal dpr : {1.0, 2.0}) {
        for (bool flat : {false, true}) {
            for (bool enabled : {true, false}) {
                const QString name = QStringLiteral("nifty-%1-%2-dpr%3")
                                         .arg(flat ? "flat" : "classic")
                                         .arg(enabled ? "enabled" : "disabled")
                                         .arg(int(dpr));
                QSize size;
                auto make = [&](bool icon, const QString& caption) {
                    auto button = std::make_unique<CNiftyButton>(caption, nullptr);
                    button->resize(size);
                    button->SetFlat(flat);
                    button->setEnabled(enabled);
                    if (icon)
                        button->SetIcon(IDI_PLAY);
                    button->SetDropDownMenu(std::make_unique<QMenu>(), -1);
                    return button;
                };
                // As wide as the button asks to be with icon, caption and menu.
                size = QSize(1, 1);
                size = make(true, QStringLiteral("Play 50%"))->sizeHint();
                auto full = make(true, QStringLiteral("Play 50%"));
                const QImage withAll = Render(*full, dpr, name);
                const QImage noIcon = Render(*make(false, QStringLiteral("Play 50%")), dpr, {});
                const QImage noText = Render(*make(true, QString()), dpr, {});
                const QImage bare = Render(*make(true, QString()), dpr, {});

                // Content box: 4 pixels in, 12 more on the right for the menu zone.
                const QRect content(4, 4, size.width() - 8 - 12, size.height() - 8);
                const QRect iconBox(content.left() + 2, content.top() + (content.height() - 16) / 2,
                                    16, 16);
                EXPECT_GT(CountDiff(withAll, noIcon, iconBox, dpr), 12 * dpr * dpr)
                    << name.toStdString();
                int inkRight = -1;
                EXPECT_GT(CountDiff(withAll, noText, content, dpr, &inkRight), 0)
                    << name.toStdString();
                EXPECT_LT(inkRight, (content.right() - 1) * dpr) << name.toStdString();
                // An icon-only button centres its icon.
                const QRect centred(content.left() + (content.width() - 16) / 2, iconBox.top(), 16,
                                    16);
                EXPECT_GT(CountDiff(bare, Render(*make(false, QString()), dpr, {}), centred, dpr),
                          12 * dpr * dpr);

                // The flat look has no frame until the mouse is over it.
                const QColor face = full->palette().color(QPalette::Button);
                if (flat) {
                    EXPECT_TRUE(EdgeIs(withAll, face)) << name.toStdString();
                    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                    QApplication::sendEvent(full.get(), &enter);
                    EXPECT_EQ(full->IsHot(), true);
                    const QImage hot = Render(*full, dpr, name + "-hot");
                    EXPECT_EQ(EdgeIs(hot, face), !enabled) << name.toStdString();
                } else {
                    EXPECT_FALSE(EdgeIs(withAll, face)) << name.toStdString();
                }
            }
        }
    }
}

TEST(Render, PositionAndVideoControls) {
    vtest::UiApp();
    for (qreal dpr : {1.0, 2.0}) {
        const QString suffix = QStringLiteral("-dpr%1").arg(int(dpr));
        CSliderExt slider;
        slider.resize(200, 26);
        slider.setRange(0, 100);
        slider.setValue(10);
        slider.SetSelRangeEnabled(true);
        slider.SetSelection(40, 80);
        const QColor highlight = slider.palette().color(QPalette::Highlight);
        auto isHighlight = [&](QColor c) { return c.rgb() == highlight.rgb(); };
        const QImage marked = Render(slider, dpr, "slider" + suffix);
        EXPECT_GT(CountColor(marked, isHighlight), 40 * dpr) << dpr;
        slider.SetSelection(80, 40);  // stop before start: nothing marked
        EXPECT_LT(CountColor(Render(slider, dpr, {}), isHighlight),
                  CountColor(marked, isHighlight));
        // The range stays marked with the thumb beyond it.
        slider.setValue(90);
        const int unmarked = CountColor(Render(slider, dpr, {}), isHighlight);
        slider.SetSelection(40, 80);
        EXPECT_GT(CountColor(Render(slider, dpr, {}), isHighlight), unmarked + 40 * dpr) << dpr;

        CStaticVideo video;
        video.resize(200, 90);
        video.SetStatusText(QStringLiteral("Buffering Video Data..."));
        const QImage strip = Render(video, dpr, "video" + suffix);
        EXPECT_GT(
            CountColor(strip,
                       [](QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() < 80; }),
            20 * dpr);
        EXPECT_EQ(strip.pixelColor(4, 4), CStaticVideo::BackgroundColor());

        for (bool enabled : {true, false}) {
            CMsTimeCtrl field, wide;
            for (CMsTimeCtrl* f : {&field, &wide}) {
                f->resize(field.sizeHint() + QSize(f == &wide ? 100 : 0, 0));
                f->SetTime(37'234'560'000);
                f->setEnabled(enabled);
            }
            const QColor text = field.palette().color(
                enabled ? QPalette::Active : QPalette::Disabled, QPalette::Text);
            const QImage time = Render(field, dpr, (enabled ? "time" : "time-disabled") + suffix);
            // The digits are drawn in the text colour of the state.
            EXPECT_GT(CountColor(time, [&](QColor c) { return c.rgb() == text.rgb(); }), 20 * dpr)
                << enabled;
            // At its own size the text is not clipped: its edit field shows
            // it as a much wider field does (a text too long scrolls).
            EXPECT_EQ(CountDiff(time, Render(wide, dpr, {}),
                                field.findChild<QLineEdit*>()->geometry(), dpr),
                      0)
                << enabled;
            slider.setEnabled(enabled);
            slider.SetSelection(40, 80);
            const QRgb mark =
                slider.palette()
                    .color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Highlight)
                    .rgb();
            EXPECT_GT(CountColor(Render(slider, dpr, enabled ? "" : "slider-disabled" + suffix),
                                 [&](QColor c) { return c.rgb() == mark; }),
                      40 * dpr);
        }
    }
}

TEST(Render, ClipListShowsItsWholeLabel) {
    vtest::UiApp();
    for (qreal dpr : {1.0, 2.0}) {
        for (bool enabled : {true, false}) {
            auto make = [&](const char* label) {
                auto combo = std::make_unique<CTimelineCombo>();
                combo->FillFromItems({{0, 10'000'000, 0, label}});
                combo->resize(combo->sizeHint());
                combo->setEnabled(enabled);
                return combo;
            };
            auto combo = make("(03) clip3.avi");
            const QString name = QStringLiteral("clips-%1-dpr%2")
                                     .arg(enabled ? "enabled" : "disabled")
                                     .arg(int(dpr));
            const QImage shown = Render(*combo, dpr, name);
            auto blank = make(" ");
            blank->resize(combo->size());
            // The label's ink ends before the drop-down arrow.
            QStyleOptionComboBox option;
            option.initFrom(combo.get());
            const QRect arrow = combo->style()->subControlRect(
                QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, combo.get());
            int inkRight = -1;
            EXPECT_GT(CountDiff(shown, Render(*blank, dpr, {}), combo->rect(), dpr, &inkRight),
                      40 * dpr)
                << name.toStdString();
            EXPECT_LT(inkRight, arrow.left() * dpr) << name.toStdString();
        }
    }
}

TEST(Render, EveryButtonIconHasPixels) {
    vtest::UiApp();
    const unsigned ids[] = {IDI_HELP,       IDI_BACK,   IDI_FORWARD,     IDI_STEP_FORWARD,
                            IDI_STEP_BACK,  IDI_PAUSE,  IDI_STOP,        IDI_OPEN,
                            IDI_END,        IDI_BEGIN,  IDI_DEINTERLACE, IDI_FIND,
                            IDI_TWO_VIDEOS, IDI_SYNC,   IDI_CONTINUOUS,  IDI_MARK_BEGIN,
                            IDI_SNAPSHOT,   IDI_RELOAD, IDI_PLAY,        IDI_MARK_END};
    QImage sheet(20 * 40, 2 * 40, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int column = 0;
    for (unsigned id : ids) {
        int row = 0;
        for (const QIcon& icon : {LoadIconResource(id), LoadBundledIcon(id)}) {
            const QImage image = icon.pixmap(QSize(32, 32)).toImage();
            ASSERT_FALSE(image.isNull()) << id;
            EXPECT_GT(CountColor(image, [](QColor c) { return c.alpha() > 128; }), 30) << id;
            painter.drawImage(column * 40 + 4, row++ * 40 + 4, image);
        }
        ++column;
    }
    painter.end();
    sheet.save(QStringLiteral(VELOTRAX_BINARY_DIR "/tests/ui/render/icons.png"));
    EXPECT_TRUE(LoadIconResource(4711).isNull());
}
