// Flexible layout arithmetic and the file-name numbering routines.
#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <string>

#include "tests/ui/UiTest.h"
#include "ui/CmdTarget.h"
#include "ui/DialogExt.h"
#include "ui/DocMgr.h"
#include "ui/NSFlex.h"

TEST(NSFlex, EdgesFollowTheirFractionsOfTheGrowth) {
    vtest::UiApp();
    struct {
        float left, right, top, bottom;
        QSize client;
        QRect expected;
    } cases[] = {
        {0, 1, 0, 1, {207, 150}, {10, 10, 57, 70}},       // grows both ways
        {1, 1, 0, 0, {207, 150}, {17, 10, 50, 20}},       // keeps its distance to the right
        {0, 1, 1, 1, {207, 150}, {10, 60, 57, 20}},       // stretches, stays at the bottom
        {0.5, 0.5, 0, 0, {207, 100}, {13, 10, 50, 20}},   // 3.5 truncated to 3
        {1, 1, 1, 1, {190, 95}, {0, 5, 50, 20}},          // shrinking moves left and up
        {0.5, 0.5, 0.5, 0.5, {193, 97}, {7, 9, 50, 20}},  // -3.5 and -1.5 truncated toward zero
        {0, 0, 0, 0, {400, 300}, {10, 10, 50, 20}},       // fixed
    };
    for (const auto& c : cases) {
        QWidget window;
        window.resize(200, 100);
        auto* control = new QWidget(&window);
        control->setGeometry(10, 10, 50, 20);
        SetDlgCtrlID(control, 1000);
        CNSFlex flex;
        flex.Attach(&window);
        EXPECT_EQ(flex.MinimumSize(), QSize(200, 100));
        ASSERT_TRUE(flex.AddConstraint(1000, c.left, c.right, c.top, c.bottom));
        flex.OnSize(c.client);
        EXPECT_EQ(control->geometry(), c.expected) << c.left << c.right << c.top << c.bottom;
    }
}

TEST(NSFlex, RefusesMissingControlsAndSkipsDestroyedOnes) {
    vtest::UiApp();
    QWidget window;
    window.resize(200, 100);
    auto* a = new QWidget(&window);
    a->setGeometry(0, 0, 10, 10);
    SetDlgCtrlID(a, 1);
    auto* b = new QWidget(&window);
    b->setGeometry(20, 0, 10, 10);
    SetDlgCtrlID(b, 2);
    CNSFlex flex;
    EXPECT_FALSE(flex.AddConstraint(1, 0, 1, 0, 0));  // not attached
    flex.Attach(&window, 50, 40);
    EXPECT_EQ(flex.MinimumSize(), QSize(50, 40));
    EXPECT_FALSE(flex.AddConstraint(99, 0, 1, 0, 0));
    EXPECT_TRUE(flex.AddConstraint(1, 0, 1, 0, 0));
    EXPECT_TRUE(flex.AddConstraint(2, 1, 1, 0, 0));
    flex.OnSize({210, 100});  // records the bases
    delete a;
    flex.OnSize({220, 100});
    EXPECT_EQ(b->geometry(), QRect(40, 0, 10, 10));
    // A control moved by the program gets its new place as base.
    flex.MoveControl(b, 100, 5, 10, 10);
    flex.OnSize({200, 100});
    EXPECT_EQ(b->geometry(), QRect(100, 5, 10, 10));
    // The engine follows the window's own resizes once shown.
    window.show();
    window.resize(230, 100);
    EXPECT_EQ(b->geometry(), QRect(130, 5, 10, 10));
}

TEST(NSFlex, DialogWindowKeepsItsLaidOutSizeAsMinimum) {
    vtest::UiApp();
    CDialogExt dialog;
    (new QVBoxLayout(&dialog))->addWidget(new QLabel(QStringLiteral("Files Found:")));
    ASSERT_TRUE(dialog.Create(nullptr, false));
    EXPECT_EQ(dialog.size(), dialog.sizeHint());
    EXPECT_EQ(dialog.minimumSize(), dialog.size());
    EXPECT_EQ(dialog.Flex().Constraints()->Reference(), dialog.size());
}

TEST(DocMgr, NumbersNames) {
    struct {
        const char* name;
        unsigned flags;
        const char* incremented;
        const char* stripped;
    } cases[] = {
        {"Clip", 0, "Clip (2)", "Clip"},
        {"Clip (2)", 0, "Clip (3)", "Clip"},
        {"Name(99)", 0, "Name(100)", "Name"},
        {"Take [09]", 0, "Take [10]", "Take"},
        {"Clip7", 0, "Clip8", "Clip"},
        {"Clip7", 0x01, "Clip7 (2)", "Clip7"},
        {"7", 0, "8", ""},
        {"(5)", 0, "(6)", ""},
        {"Snapshot", 0x20, "Snapshot (002)", "Snapshot"},
        {"Shot {7}", 0x10, "Shot {08}", "Shot"},
        {"Name (x)", 0, "Name (x) (2)", "Name (x)"},
        {"Mixed (3]", 0, "Mixed (3] (2)", "Mixed (3]"},
        {"99999999999999999999", 0, "100000000000000000000", ""},
        {"", 0, "", ""},
    };
    for (const auto& c : cases) {
        std::string name = c.name;
        CDocMgr::IncrementNumber(name, c.flags);
        EXPECT_EQ(name, c.incremented) << c.name;
        name = c.name;
        CDocMgr::StripNumber(name, c.flags);
        EXPECT_EQ(name, c.stripped) << c.name;
    }
    std::string path = "/media/a.b/Shot (2).jpg";
    CDocMgr::IncrementNumberInPath(path);
    EXPECT_EQ(path, "/media/a.b/Shot (3).jpg");
    CDocMgr::StripNumberInPath(path);
    EXPECT_EQ(path, "/media/a.b/Shot.jpg");
    path = "/media/a.b/Shot";
    CDocMgr::IncrementNumberInPath(path);
    EXPECT_EQ(path, "/media/a.b/Shot (2)");

    std::string name = "  a:b/c?<>|\r\nd  ";
    EXPECT_TRUE(CDocMgr::MakeValidFileName(name));
    EXPECT_EQ(name, "abcd");
    name = " \\/ ";
    EXPECT_FALSE(CDocMgr::MakeValidFileName(name));

    name = "Clip";
    EXPECT_TRUE(CDocMgr::MakeUnique(name, {"Clip", "Clip (2)"}, false));
    EXPECT_EQ(name, "Clip (3)");
    name = "Clip";
    EXPECT_FALSE(CDocMgr::MakeUnique(name, {"clip"}, false));
    EXPECT_TRUE(CDocMgr::MakeUnique(name, {"clip"}, true));
    EXPECT_EQ(name, "Clip (2)");
}
