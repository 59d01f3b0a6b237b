// Snapshots of real clips: the prepared frame from the play context, and
// the velotrax snapshot command end to end.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "playback/PlayCtx.h"
#include "snapshot/VaSnapshot.h"
#include "tests/TestSupport.h"
#include "tests/media/TestMedia.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

class CNoNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override {}
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
};

int FrameNumber(const QImage& image) {
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    return testmedia::FrameNumberFromRow(rgb.constScanLine(rgb.height() / 2), rgb.width(), 4);
}

TEST(SnapshotMedia, ThePlayContextGivesThePreparedFrame) {
    vtest::EnsureApplication();
    CNoNotify notify;
    CPlayCtx ctx;
    ctx.Create(&notify);
    EXPECT_TRUE(ctx.GetCurrentImageBitmap().isNull());  // nothing open
    ctx.Open(testmedia::Video25());
    ctx.GetGraph()->WaitForState();
    QImage frame = ctx.GetCurrentImageBitmap();
    EXPECT_EQ(frame.size(), QSize(testmedia::kWidth, testmedia::kHeight));
    EXPECT_EQ(FrameNumber(frame), 0);

    ctx.Open(testmedia::Interlaced());
    ctx.GetGraph()->WaitForState();
    ASSERT_TRUE(ctx.GetGraph()->IsInterlaced());
    frame = ctx.GetCurrentImageBitmap().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(frame.size(), QSize(testmedia::kWidth, testmedia::kHeight));
    // Memory rows 2, 4, … of the bottom-up frame are averages of their neighbours.
    const int h = frame.height();
    for (int row = 2; row + 1 < h; row += 2) {
        for (int x : {0, 100, 319}) {
            QRgb above = frame.pixel(x, h - row), below = frame.pixel(x, h - 2 - row);
            ASSERT_EQ(qGreen(frame.pixel(x, h - 1 - row)), (qGreen(above) + qGreen(below)) >> 1)
                << row << "," << x;
        }
    }
    ctx.Close();
    ctx.Shutdown();
}

TEST(SnapshotMedia, TheCommandSavesNumberedPictures) {
    vtest::TempDir dir;
    const std::string clip = testmedia::Video25();
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "snapshot");
        args.push_back(clip);
        return vtest::RunVelotrax(args);
    };
    auto jpg = run({"--dir", dir.Path(), "--format", "jpg", "--quality", "90", "--at", "390"});
    ASSERT_EQ(jpg.exitCode, 0) << jpg.err;
    EXPECT_EQ(jpg.out, dir.File("video25.jpg") + "\n");
    QImage picture(QString::fromStdString(dir.File("video25.jpg")));
    EXPECT_EQ(picture.size(), QSize(testmedia::kWidth, testmedia::kHeight));

    auto bmp = run({"--dir", dir.Path(), "--format", "bmp", "--raw", "--at", "390"});
    ASSERT_EQ(bmp.exitCode, 0) << bmp.err;
    picture = QImage(QString::fromStdString(dir.File("video25.bmp")));
    EXPECT_EQ(FrameNumber(picture), 10);  // 390 ms rounds to frame 10 (400 ms)

    auto again = run({"--dir", dir.Path(), "--format", "jpg"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, dir.File("video25 (002).jpg") + "\n");

    // Failures: a missing folder, a bad quality, media without video.
    EXPECT_EQ(run({"--dir", dir.File("none")}).exitCode, 1);
    EXPECT_EQ(run({"--quality", "101"}).exitCode, 2);
    auto audio = vtest::RunVelotrax({"snapshot", "--dir", dir.Path(), testmedia::AudioOnly()});
    EXPECT_EQ(audio.exitCode, 1);
    EXPECT_NE(audio.err.find("Could not retrieve the current video frame."), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              3);
    EXPECT_EQ(vtest::RunVelotrax({"snapshot", "--help"}).exitCode, 0);
}

TEST(SnapshotMedia, TheCommandStretchesWidePixelsUnlessRaw) {
    vtest::TempDir dir;
    // No stored settings: the player's default, aspect correction on.
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    for (auto [raw, width] : {std::pair{false, 320}, std::pair{true, 160}}) {
        std::vector<std::string> args = {"snapshot", "--dir", dir.Path(), "--format", "bmp"};
        if (raw)
            args.push_back("--raw");
        args.push_back(testmedia::WidePixels());
        auto run = vtest::RunVelotrax(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        QImage picture(QString::fromStdString(run.out.substr(0, run.out.find('\n'))));
        EXPECT_EQ(picture.size(), QSize(width, 120)) << raw;
    }
}

}  // namespace
