// The snapshot writer: choosing the file (automatic naming, the dialog,
// SHIFT), the options it reads and writes, the missing frame, and the
// snapshot file dialog itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <filesystem>
#include <map>

#include "options/AppOptions.h"
#include "platform/imaging/ImageFile.h"
#include "snapshot/VaSnapshot.h"
#include "snapshot/VaSnapshotExtFileDlg.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "ui/DialogAnswer.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "snapshot_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class CMemoryStorage : public CAppOptStg {
public:
    void WriteInt(const std::string& s, const std::string& n, int32_t v) override {
        m_values[s + "|" + n] = CAppOpt(v);
    }
    void WriteString(const std::string& s, const std::string& n, const std::string& v) override {
        m_values[s + "|" + n] = CAppOpt(v);
    }
    void WriteStream(const std::string&, const std::string&, IStream*) override {}
    CAppOpt Read(const std::string& s, const std::string& n, const CAppOpt& def) override {
        auto it = m_values.find(s + "|" + n);
        return it == m_values.end() ? def : it->second;
    }

private:
    std::map<std::string, CAppOpt> m_values;
};

// A writer with a fixed frame and a scripted dialog.
class CTestSnapshot : public CVaSnapshot {
public:
    explicit CTestSnapshot(CAppOptions* options) : CVaSnapshot(options) {
        m_frame = QImage(32, 16, QImage::Format_RGB32);
        m_frame.fill(qRgb(10, 200, 30));
        SetOptionName(optAutoFile, "", "AutoFile");
        SetOptionName(optFileExt, "", "FileExt");
        SetOptionName(optFileExtImg, "", "FileExtImg");
        SetOptionName(optImgQuality, "", "ImgQuality");
    }
    QImage m_frame;
    bool m_shift = false;
    std::vector<std::string> m_dialogPaths;  // initial paths the dialog was shown with
    std::optional<CChoice> m_answer;         // what the user picks; none: cancel

protected:
    QImage GetCurrentImageBitmap(CPlayCtx*) override { return m_frame; }
    bool IsShiftDown() const override { return m_shift; }
    bool ShowFileDialog(const std::string& path, int, const std::string&,
                        CChoice& choice) override {
        m_dialogPaths.push_back(path);
        if (!m_answer)
            return false;
        choice = *m_answer;
        return true;
    }
};

struct SnapshotTest : testing::Test {
    SnapshotTest() : options(std::make_unique<CMemoryStorage>()), snap(&options) {}
    void Set(const char* key, const CAppOpt& value) { options.SetOption("", key, value); }
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    vtest::TempDir dir;
    CAppOptions options;
    CTestSnapshot snap;
};

TEST_F(SnapshotTest, AutomaticNamingCountsOnInTheMediaFolder) {
    Set("AutoFile", true);
    Set("FileExt", "jpg");
    const std::string source = dir.File("Clip.avi");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(snap.SaveSnapshot(nullptr, source), CVaSnapshot::typeJpg);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Clip (002).jpg", "Clip (003).jpg", "Clip.jpg"}));
    EXPECT_EQ(snap.GetLastImagePath(), dir.File("Clip (003).jpg"));
    EXPECT_TRUE(snap.m_dialogPaths.empty());
    QImage written(QString::fromStdString(dir.File("Clip.jpg")));
    EXPECT_EQ(written.size(), QSize(32, 16));
    // Another video goes on from the last generated path, in the new type.
    Set("FileExt", "bmp");
    snap.SaveSnapshot(nullptr, dir.File("Take.2.mkv"));
    EXPECT_EQ(snap.GetLastImagePath(), dir.File("Clip (003).bmp"));
    // A new writer starts from the video's name; dots in it belong to the name.
    CTestSnapshot fresh(&options);
    fresh.SaveSnapshot(nullptr, dir.File("Take.2.mkv"));
    EXPECT_EQ(fresh.GetLastImagePath(), dir.File("Take.2.bmp"));
}

TEST_F(SnapshotTest, TheDialogIsShownWhenNoNameCanBeFormedOrShiftIsHeld) {
    Set("AutoFile", true);
    // A name of forbidden characters only: the dialog, cancelled.
    EXPECT_EQ(snap.SaveSnapshot(nullptr, dir.File(" ?*:.avi")), CVaSnapshot::typeNone);
    ASSERT_EQ(snap.m_dialogPaths.size(), 1u);
    EXPECT_EQ(snap.m_dialogPaths[0], "");
    // SHIFT: the dialog although a name could be formed; the choice is kept.
    snap.m_shift = true;
    snap.m_answer = {dir.File("Pick.jpg"), CVaSnapshot::typeJpg};
    EXPECT_EQ(snap.SaveSnapshot(nullptr, dir.File("Clip.avi")), CVaSnapshot::typeJpg);
    EXPECT_EQ(snap.m_dialogPaths.back(), dir.File("Clip.bmp"));
    EXPECT_EQ(options.GetOption("", "FileExt").GetString(), "jpg");
    EXPECT_EQ(options.GetOption("", "FileExtImg").GetString(), "jpg");
    // Automatic naming then goes on from the path chosen in the dialog.
    snap.m_shift = false;
    snap.SaveSnapshot(nullptr, dir.File("Clip.avi"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"Pick (002).jpg", "Pick.jpg"}));
    // With the folder option registered, the dialog's folder is stored.
    snap.SetOptionName(CVaSnapshot::optDir, "", "Dir");
    snap.m_shift = true;
    snap.SaveSnapshot(nullptr, "Clip.avi");
    EXPECT_EQ(options.GetOption("", "Dir").GetString(), dir.Path());
}

TEST_F(SnapshotTest, NoFrameIsAnErrorAndWritesNothing) {
    Set("AutoFile", true);
    snap.m_frame = QImage();
    try {
        snap.SaveSnapshot(nullptr, dir.File("Clip.avi"));
        FAIL();
    } catch (const CMessageException& e) {
        EXPECT_EQ(e.Text(), "Could not retrieve the current video frame.");
    }
    EXPECT_TRUE(Files().empty());
}

TEST_F(SnapshotTest, TheQualityOptionReachesTheEncoderUnchanged) {
    Set("AutoFile", true);
    Set("FileExt", "jpg");
    for (int quality : {-1, 0, 100}) {  // -1: nothing stored, the writer's 30
        if (quality >= 0)
            Set("ImgQuality", int32_t(quality));
        snap.SaveSnapshot(nullptr, dir.File("Q.avi"));
        const auto expected = imaging::EncodeJpeg(snap.m_frame, quality < 0 ? 30 : quality);
        EXPECT_EQ(vtest::ReadFile(snap.GetLastImagePath()),
                  std::string(expected.begin(), expected.end()))
            << quality;
    }
}

TEST_F(SnapshotTest, AScriptAnswersTheDialog) {
    struct CScripted : CVaSnapshot {
        using CVaSnapshot::CVaSnapshot;
        QImage GetCurrentImageBitmap(CPlayCtx*) override {
            return QImage(8, 4, QImage::Format_RGB32);
        }
    } scripted(&options);
    std::optional<std::string> answer;
    SetDialogAnswerer([&](EDialogKind kind) {
        EXPECT_EQ(kind, EDialogKind::SaveFile);
        return answer;
    });
    struct {
        std::optional<std::string> answer;
        int type;
    } cases[] = {{std::nullopt, CVaSnapshot::typeNone},
                 {dir.File("Pick.png"), CVaSnapshot::typeBmp},  // the initial type
                 {dir.File("Pick.jpg"), CVaSnapshot::typeJpg}};
    for (const auto& c : cases) {
        answer = c.answer;
        EXPECT_EQ(scripted.SaveSnapshot(nullptr, dir.File("Clip.avi")), c.type);
    }
    SetDialogAnswerer(nullptr);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Pick.jpg", "Pick.png"}));
}

struct SnapshotDialogTest : testing::Test {
    SnapshotDialogTest() { App(); }
    vtest::TempDir dir;
};

TEST_F(SnapshotDialogTest, FiltersAndRenamingOnATypeChange) {
    vtest::WriteFile(dir.File("Clip.jpg"), "x");
    CVaSnapshotExtFileDlg dialog(dir.File("Clip (004).bmp"), CVaSnapshot::typeBmp, dir.Path());
    dialog.SetNumberingFlags(CVaSnapshot::kNumberingFlags);
    dialog.BuildFilters();
    EXPECT_EQ(dialog.nameFilters(),
              (QStringList{"Bitmap Files (*.bmp)", "JPEG Files (*.jpg)", "All Files (*)"}));
    EXPECT_EQ(dialog.GetSelectedType(), CVaSnapshot::typeBmp);
    EXPECT_EQ(dialog.defaultSuffix(), "bmp");
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    auto* combo = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_TRUE(combo);
    // What the combo box sends when the user picks a filter.
    auto pick = [&](int index) {
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
        Q_EMIT combo->textActivated(combo->itemText(index));
    };
    dialog.SetNameFieldText("Clip (004).bmp");
    pick(1);
    EXPECT_EQ(dialog.GetSelectedType(), CVaSnapshot::typeJpg);
    EXPECT_EQ(dialog.GetNameFieldText(), "Clip (002).jpg");
    EXPECT_EQ(dialog.defaultSuffix(), "jpg");
    pick(0);
    EXPECT_EQ(dialog.GetNameFieldText(), "Clip.bmp");
    // All files: the type comes from the extension, else bitmap.
    pick(2);
    EXPECT_EQ(dialog.GetSelectedType(), CVaSnapshot::typeNone);
    for (auto [name, type] : {std::pair{"Shot.jpg", CVaSnapshot::typeJpg},
                              std::pair{"Shot.png", CVaSnapshot::typeBmp}}) {
        dialog.SetNameFieldText(name);  // typed by the user
        EXPECT_EQ(dialog.GetPathName(), dir.File(name));
        EXPECT_EQ(dialog.GetFileType(), type);
    }
}

}  // namespace
