// The control object in process: the timeline text reaches its temporary
// file cut to 65,535 characters, in UTF-16 after a byte-order mark and the
// XML declaration, and the file is gone afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <string>

#include "control/VelotraxIds.h"
#include "control/VelotraxOleCtrl.h"
#include "tests/TestSupport.h"

TEST(Control, LongTimelineTextIsCutBeforeItIsWritten) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    CComPtr<IDispatch> control(new CVelotraxOleCtrl);
    std::string written, path;
    CVelotraxOleCtrl::SetXtlFileObserver([&](const std::string& file) {
        path = file;
        written = vtest::ReadFile(file);
    });
    EXPECT_EQ(DispatchPut(control, dispidXTL, VARIANT::FromString(std::string(70000, 'a'))), S_OK);
    CVelotraxOleCtrl::SetXtlFileObserver(nullptr);
    const std::string declaration = "<?xml version='1.0' encoding='UTF-16'?>\n";
    ASSERT_EQ(written.size(), 2 + 2 * (declaration.size() + 65535));
    EXPECT_EQ(written.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_EQ(written.substr(2 + 2 * declaration.size(), 2), std::string("a\0", 2));
    EXPECT_EQ(path.substr(path.rfind('/') + 1, 3), "QVT");
    EXPECT_EQ(path.substr(path.size() - 4), ".xtl");
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}
