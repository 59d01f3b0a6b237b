// The picture writers: BMP round trip, JPEG through a second decoder, and
// failed writes that leave nothing under the target's name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QBuffer>
#include <QImageReader>
#include <filesystem>
#include <random>

#include "platform/imaging/ImageFile.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"

namespace {

QImage Noise(int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(random() & 255, random() & 255, random() & 255));
    return image;
}

// The names in a folder, hidden ones included.
std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ImageFile, BmpRoundTripsPixelForPixel) {
    vtest::TempDir dir;
    for (auto format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
        QImage image = Noise(13, 7, format);  // odd width: padded rows
        const std::string path = dir.File("frame.bmp");
        imaging::WriteBmpFile(image, path);
        std::string file = vtest::ReadFile(path);
        ASSERT_EQ(file.substr(0, 2), "BM");
        const int bits = format == QImage::Format_BGR888 ? 24 : 32;
        const size_t stride = ((13 * bits / 8) + 3) & ~3u;
        EXPECT_EQ(file.size(), 54 + stride * 7);
        EXPECT_EQ(uint8_t(file[28]), bits);
        EXPECT_EQ(int32_t(uint8_t(file[22]) | uint8_t(file[23]) << 8), 7);  // bottom-up
        QImage back(QString::fromStdString(path));
        ASSERT_EQ(back.size(), image.size());
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(back.pixel(x, y) & 0xFFFFFF, image.pixel(x, y) & 0xFFFFFF);
        // The bottom row comes first in the file.
        EXPECT_EQ(uint8_t(file[54]), qBlue(image.pixel(0, 6)));
    }
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"frame.bmp"});
}

TEST(ImageFile, JpegDecodesAtItsSizeForEveryQuality) {
    ASSERT_TRUE(imaging::IsJpegEncoderAvailable());
    QImage image = Noise(64, 48, QImage::Format_RGB32);
    size_t previous = 0;
    for (int quality : {0, 30, 100}) {
        std::vector<uint8_t> jpeg = imaging::EncodeJpeg(image, quality);
        QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()), qsizetype(jpeg.size()));
        QBuffer buffer(&bytes);
        QImageReader reader(&buffer, "jpeg");
        QImage back = reader.read();
        ASSERT_EQ(back.size(), image.size()) << quality << reader.errorString().toStdString();
        EXPECT_GT(jpeg.size(), previous);
        previous = jpeg.size();
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        // Baseline: a start-of-frame 0 marker, no progressive one.
        std::string text(jpeg.begin(), jpeg.end());
        EXPECT_NE(text.find("\xFF\xC0"), std::string::npos);
        EXPECT_EQ(text.find("\xFF\xC2"), std::string::npos);
    }
    // 24-bit pictures keep their colours too.
    QImage red(16, 16, QImage::Format_BGR888);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            red.setPixel(x, y, qRgb(255, 0, 0));
    auto jpeg = imaging::EncodeJpeg(red, 90);
    QImage back = QImage::fromData(jpeg.data(), int(jpeg.size()), "JPG");
    EXPECT_GT(qRed(back.pixel(8, 8)), 240);
    EXPECT_LT(qBlue(back.pixel(8, 8)), 15);
}

TEST(ImageFile, FailedWritesNameThePathAndLeaveNothing) {
    vtest::TempDir dir;
    QImage image = Noise(8, 8, QImage::Format_RGB32);
    const std::string missing = dir.File("no/such/folder/x.bmp");
    try {
        imaging::WriteBmpFile(image, missing);
        FAIL();
    } catch (const CException& e) {
        EXPECT_NE(e.GetErrorMessage().find(missing), std::string::npos) << e.GetErrorMessage();
    }
    EXPECT_THROW(imaging::WriteJpegFile(image, dir.Path() + "/", 30), CException);
    EXPECT_TRUE(Names(dir.Path()).empty());
    // sysfs refuses new files to root too, no mount needed.
    if (std::filesystem::is_directory("/sys/kernel")) {
        const std::string path = "/sys/kernel/velotrax-snapshot.jpg";
        try {
            imaging::WriteJpegFile(image, path, 30);
            ADD_FAILURE();
        } catch (const CException& e) {
            EXPECT_NE(e.GetErrorMessage().find(path), std::string::npos) << e.GetErrorMessage();
        }
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // A folder nobody may write to (as root too): a read-only mount, where one can be made.
    vtest::TempDir readOnly;
    if (::mount("tmpfs", readOnly.Path().c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0) {
        const std::string path = readOnly.File("x.jpg");
        try {
            imaging::WriteJpegFile(image, path, 30);
            ADD_FAILURE();
        } catch (const CException& e) {
            EXPECT_NE(e.GetErrorMessage().find(path), std::string::npos) << e.GetErrorMessage();
        }
        EXPECT_TRUE(Names(readOnly.Path()).empty());
        ::umount(readOnly.Path().c_str());
    }
}

// A full disk: a small tmpfs where it can be mounted, else a file size limit
// (the write then fails part-way with EFBIG instead of ENOSPC, the same path).
TEST(ImageFile, FullDiskKeepsTheOldFileAndLeavesNoTemporary) {
    vtest::TempDir dir;
    const bool mounted = ::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=64k") == 0;
    const std::string path = dir.File("frame.bmp");
    vtest::WriteFile(path, "old picture");
    QImage big = Noise(300, 300, QImage::Format_RGB32);  // 360 kB
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = signal(SIGXFSZ, SIG_IGN);
    if (!mounted) {
        rlimit limit = saved;
        limit.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::string message;
    try {
        imaging::WriteBmpFile(big, path);
    } catch (const CException& e) {
        message = e.GetErrorMessage();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_EQ(vtest::ReadFile(path), "old picture");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"frame.bmp"});
    if (mounted)
        ::umount(dir.Path().c_str());
}

}  // namespace
