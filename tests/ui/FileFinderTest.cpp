// The video file finder: pattern rules, order, limit, cancel, links and
// unreadable folders, with and without the progress dialog.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Exception.h"
#include "support/RaceCheck.h"
#include "tests/TestSupport.h"
#include "tests/ui/UiTest.h"
#include "ui/FileFinder.h"

namespace fs = std::filesystem;

namespace {

// root: a.avi B.AVI c.mpg e.wmv notes.txt x.avi/(in.avi) sub/(s1.avi deep/(d.avi d2/(e.avi)))
// zz/(z.avi)
struct CTree {
    vtest::TempDir dir;
    CTree() {
        for (const char* f : {"a.avi", "B.AVI", "c.mpg", "e.wmv", "notes.txt", "x.avi/in.avi",
                              "sub/s1.avi", "sub/deep/d.avi", "sub/deep/d2/e.avi", "zz/z.avi"}) {
            fs::create_directories(fs::path(dir.File(f)).parent_path());
            vtest::WriteFile(dir.File(f), "x");
        }
    }
    std::vector<std::string> Rel(const CFileFinder& finder) const {
        std::vector<std::string> out;
        for (const std::string& p : finder.Results())
            out.push_back(p.substr(dir.Path().size() + 1));
        return out;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(FileFinder, PatternsOrderAndLimits) {
    EXPECT_TRUE(CFileFinder::MatchPattern("CLIP.AVI", "*.avi"));
    EXPECT_TRUE(CFileFinder::MatchPattern("README", "*.*"));
    EXPECT_TRUE(CFileFinder::MatchPattern("ab.mpeg", "a?.mp*g"));
    EXPECT_FALSE(CFileFinder::MatchPattern("a.avi.txt", "*.avi"));
    EXPECT_EQ(CFileFinder::SplitPatterns(";;"), Names{"*.*"});
    EXPECT_EQ(CFileFinder::SplitPatterns("*.a;;*.b;"), (Names{"*.a", "*.b"}));

    CTree tree;
    struct {
        const char* patterns;
        bool recursive;
        int limit;
        Names expected;
    } cases[] = {
        {"*.avi", false, 0, {"B.AVI", "a.avi"}},
        {";;", false, 0, {"B.AVI", "a.avi", "c.mpg", "e.wmv", "notes.txt"}},
        {"*.avi;*.mpg",
         true,
         0,
         {"B.AVI", "a.avi", "c.mpg", "sub/s1.avi", "sub/deep/d.avi", "sub/deep/d2/e.avi",
          "x.avi/in.avi", "zz/z.avi"}},
        {"*.avi;a*", false, 0, {"B.AVI", "a.avi", "a.avi"}},  // two patterns, listed twice
        {"*.*", true, 3, {"B.AVI", "a.avi", "c.mpg"}},        // five in the first folder
        {"*.avi", true, 4, {"B.AVI", "a.avi", "sub/s1.avi", "sub/deep/d.avi"}},
        {"*.mkv", true, 0, {}},
    };
    for (const auto& c : cases) {
        CFileFinder finder;
        finder.m_nResultLimit = c.limit;
        EXPECT_EQ(finder.Find(tree.dir.Path() + "\\", c.patterns, c.recursive),
                  int(c.expected.size()));
        EXPECT_EQ(tree.Rel(finder), c.expected) << c.patterns;
    }
}

TEST(FileFinder, LinksAndUnreadableFolders) {
    CTree tree;
    fs::create_directory_symlink(tree.dir.Path(), tree.dir.File("sub/loop"));
    fs::create_symlink(tree.dir.File("a.avi"), tree.dir.File("sub/link.avi"));  // a file: listed
    chmod(tree.dir.File("zz").c_str(), 0);
    // Root reads any folder: as root the search runs with the file rights of
    // 'nobody' (setfsuid acts on this thread only), for whom zz is locked.
    const bool root = geteuid() == 0;
    if (root) {
        chmod(tree.dir.Path().c_str(), 0755);
        setfsuid(65534);
    }
    auto canList = [](const std::string& path) {
        DIR* dir = opendir(path.c_str());
        if (dir)
            closedir(dir);
        return dir != nullptr;
    };
    const bool usable = canList(tree.dir.Path()) && !canList(tree.dir.File("zz"));
    CFileFinder finder;
    finder.Find(tree.dir.Path(), "*.avi", true);
    if (root)
        setfsuid(0);
    chmod(tree.dir.File("zz").c_str(), 0755);
    if (!usable)
        GTEST_SKIP() << "no way to lock a folder here";
    EXPECT_EQ(tree.Rel(finder), (Names{"B.AVI", "a.avi", "sub/link.avi", "sub/s1.avi",
                                       "sub/deep/d.avi", "sub/deep/d2/e.avi", "x.avi/in.avi"}));
}

TEST(FileFinder, DialogSearchCancelsAtOnce) {
    vtest::UiApp();
    CTree tree;
    // Without recursion there is no dialog and no cancelling.
    CFileFinder direct;
    direct.SetDialog(IDD_FIND_PROGRESS, IDC_FIND_COUNT, IDC_FIND_FOLDER);
    bool dialogSeen = false;
    direct.m_folderObserver = [&](const std::string&) {
        dialogSeen |= direct.GetDialog() != nullptr;
    };
    direct.CancelEvent().Set();
    EXPECT_EQ(direct.Find(tree.dir.Path(), "*.avi", false), 2);
    EXPECT_FALSE(dialogSeen);

    // A full search closes its dialog itself, even before it appears.
    CFileFinder finder;
    finder.SetDialog(IDD_FIND_PROGRESS, IDC_FIND_COUNT, IDC_FIND_FOLDER);
    EXPECT_EQ(finder.Find(tree.dir.Path(), "*.avi", true), 7);

    // Cancelling while the search is in a deep folder keeps what was found.
    finder.m_folderObserver = [&](const std::string& folder) {
        if (folder.find("/deep/") != std::string::npos)
            finder.CancelEvent().Set();
    };
    EXPECT_EQ(finder.Find(tree.dir.Path(), "*.avi", true), 3);
    EXPECT_EQ(tree.Rel(finder), (Names{"B.AVI", "a.avi", "sub/s1.avi"}));

    // The dialog shows the count and the folder shortened in the middle.
    std::string longRoot = tree.dir.Path();
    for (int i = 0; i < 12; ++i)
        longRoot += "/sub/..";
    QString folderText, countText;
    QSize size;
    finder.m_folderObserver = [&](const std::string& folder) {
        if (folder.find("/deep/") == std::string::npos || !folderText.isEmpty())
            return;
        CFileFinder::CCancelDlg* dialog = finder.GetDialog();
        // Qt's blocking call hands the values over (told to the race checker).
        static const char handOver = 0;
        racecheck::Published(&handOver);
        QMetaObject::invokeMethod(
            dialog,
            [&] {
                racecheck::Received(&handOver);
                folderText = dialog->FolderText();
                countText = dialog->CountText();
                size = dialog->size();
                racecheck::Published(&handOver);
            },
            Qt::BlockingQueuedConnection);
        racecheck::Received(&handOver);
    };
    EXPECT_EQ(finder.Find(longRoot, "*.avi", true), 7);
    EXPECT_TRUE(folderText.endsWith("/sub/deep")) << folderText.toStdString();
    EXPECT_TRUE(folderText.contains(QChar(0x2026))) << folderText.toStdString();
    EXPECT_EQ(countText, "3");
    EXPECT_LT(size.height(), 200);  // laid out, not a default-sized window

    // A failure in the search keeps what was found; the dialog stays until
    // the user closes it.
    bool stayed = false;
    finder.m_folderObserver = [&](const std::string& folder) {
        if (folder.find("/deep/") == std::string::npos)
            return;
        CFileFinder::CCancelDlg* dialog = finder.GetDialog();
        auto whenDone = [&stayed, &finder, dialog] {
            finder.DoneEvent().Wait(INFINITE);
            finder.DoneEvent().Set();
            // Runs after anything the worker posted before it finished.
            auto check = [&stayed, dialog] {
                stayed = dialog->isVisible();
                dialog->reject();
            };
            QMetaObject::invokeMethod(dialog, check, Qt::QueuedConnection);
        };
        QMetaObject::invokeMethod(dialog, whenDone, Qt::QueuedConnection);
        throw CResourceException();
    };
    EXPECT_EQ(finder.Find(tree.dir.Path(), "*.avi", true), 3);
    EXPECT_TRUE(stayed);

    // The user's Cancel ends the search too.
    finder.m_folderObserver = nullptr;
    QTimer::singleShot(0, [&] {
        if (finder.GetDialog())
            finder.GetDialog()->reject();
    });
    EXPECT_LE(finder.Find(tree.dir.Path(), "*.avi", true), 7);
}
