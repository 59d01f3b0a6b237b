// Two processes that save different options at the same time both keep
// every one of theirs.
#include <gtest/gtest.h>

#include <thread>

#include "platform/registry/RegFile.h"
#include "tests/TestSupport.h"

namespace {

TEST(ConcurrentSave, TwoProcessesFlushingTogetherKeepAllTheirValues) {
    vtest::TempDir dir;
    vtest::ProcessResult a, b;
    std::thread first([&] {
        a = vtest::RunProcess({OPTIONS_WRITER, dir.Path(), "a", "500", "10"});
    });
    std::thread second([&] {
        b = vtest::RunProcess({OPTIONS_WRITER, dir.Path(), "b", "500", "10"});
    });
    first.join();
    second.join();
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;

    CRegKeyNode root;
    CRegParseResult parsed =
        ParseRegFile(vtest::ReadFile(dir.File("velotrax/user.reg")), "HKEY_CURRENT_USER", root);
    EXPECT_FALSE(parsed.damaged) << parsed.problem;
    const CRegKeyNode* node = &root;
    for (const char* name : {"software", "Korvani", "orbalis veloTrax ActiveX", "Stress"}) {
        node = node->FindSubKey(name);
        ASSERT_NE(node, nullptr) << name;
    }
    EXPECT_EQ(node->Values().size(), 1000u);
    int missing = 0;
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < 500; ++i) {
            const CRegValue* v = node->FindValue(prefix + std::to_string(i));
            if (!v || v->data != std::vector<uint8_t>{uint8_t(i), uint8_t(i >> 8), 0, 0})
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
}

TEST(ConcurrentSave, TheProcessStoreIsFlushedWhenTheProcessEnds) {
    vtest::TempDir dir;
    vtest::ProcessResult r = vtest::RunProcess({OPTIONS_WRITER, dir.Path(), "late", "3", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string text = vtest::ReadFile(dir.File("velotrax/user.reg"));
    EXPECT_NE(text.find("\"late2\"=dword:00000002"), std::string::npos) << text;
}

}  // namespace
