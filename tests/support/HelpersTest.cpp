#include <gtest/gtest.h>

#include "support/RefCount.h"
#include "support/RefTime.h"
#include "support/Strings.h"

namespace {

int g_reps = 0;
struct CCountedRep : CRefCountRep {
    CCountedRep() { ++g_reps; }
    ~CCountedRep() override { --g_reps; }
    int value = 7;
};
using CHandle = CRefCount<CCountedRep>;

TEST(RefCount, HandlesShareOneRepresentation) {
    g_reps = 0;
    {
        CHandle a(new CCountedRep);
        EXPECT_EQ(a.GetRefCount(), 1);
        CHandle b = a;
        EXPECT_EQ(a.GetRefCount(), 2);
        b->value = 9;
        EXPECT_EQ(a->value, 9);
        CHandle c;
        c = b;
        CHandle d = std::move(c);
        EXPECT_FALSE(c);
        EXPECT_EQ(a.GetRefCount(), 3);
        a = a;  // self-assignment keeps the count
        EXPECT_EQ(a.GetRefCount(), 3);
        d.Reset(new CCountedRep);
        EXPECT_EQ(g_reps, 2);
    }
    EXPECT_EQ(g_reps, 0);
}

TEST(RefTime, MillisecondsAndFrameRounding) {
    EXPECT_EQ(RefTimeToMs(19999), 1);
    EXPECT_EQ(RefTimeToMs(-19999), -1);  // integer division truncates
    EXPECT_EQ(MsToRefTime(1500), 15'000'000);
    const REFERENCE_TIME d = 400000;  // 25 frames per second
    EXPECT_EQ(RoundToFrame(199999, d), 0);
    EXPECT_EQ(RoundToFrame(200000, d), 400000);
    EXPECT_EQ(RoundToFrame(1000001, d), 1200000);
    EXPECT_EQ(RoundToFrame(0, d), 0);
    EXPECT_EQ(RoundToFrame(-5, d), -5);
    EXPECT_EQ(RoundToFrame(12345, 0), 12345);
    EXPECT_FALSE(IsKnownTime(kNoTime));
    EXPECT_TRUE(IsKnownTime(0));
}

TEST(Strings, ExtensionRules) {
    EXPECT_EQ(va::GetExtension("clip.ASX"), "ASX");
    EXPECT_EQ(va::GetExtension("/home/me/a.b/clip.tar.wmv"), "wmv");
    EXPECT_EQ(va::GetExtension(".asx"), "");  // the only '.' is the first character
    EXPECT_EQ(va::GetExtension("/home/me.d/noext"), "");
    EXPECT_EQ(va::GetExtension("C:\\Videos\\clip.Avi"), "Avi");
    EXPECT_EQ(va::GetExtension("trailing."), "");
    EXPECT_TRUE(va::HasExtension("x.WvX", "wvx"));
    EXPECT_FALSE(va::HasExtension("x", ""));
}

TEST(Strings, UrlsAndWindowsPaths) {
    EXPECT_TRUE(va::IsUrl("http://host/x.wmv"));
    EXPECT_TRUE(va::IsUrl("mms://host/stream"));
    EXPECT_TRUE(va::IsUrl("file:///tmp/x"));
    EXPECT_TRUE(va::IsUrl("svn+ssh://host"));
    EXPECT_FALSE(va::IsUrl("C://x"));
    EXPECT_FALSE(va::IsUrl("/tmp/a://b"));
    EXPECT_FALSE(va::IsUrl("clip.wmv"));
    EXPECT_FALSE(va::IsUrl("1http://x"));
    EXPECT_TRUE(va::IsWindowsFullPath("D:\\clip.wmv"));
    EXPECT_TRUE(va::IsWindowsFullPath("d:/clip.wmv"));
    EXPECT_TRUE(va::IsWindowsFullPath("\\\\server\\share\\x"));
    EXPECT_FALSE(va::IsWindowsFullPath("clips\\x.wmv"));
    EXPECT_FALSE(va::IsWindowsFullPath("/abs/x"));
}

TEST(Strings, CaseAndTrim) {
    EXPECT_EQ(va::ToLowerAscii("MiXeD Ümlaut"), "mixed Ümlaut");
    EXPECT_EQ(va::CompareNoCase("abc", "ABD"), -1);
    EXPECT_EQ(va::CompareNoCase("ABC", "abc"), 0);
    EXPECT_EQ(va::CompareNoCase("ab", "abc"), -1);
    EXPECT_TRUE(va::StartsWithNoCase("Velotrax", "VELO"));
    EXPECT_TRUE(va::EndsWithNoCase("clip.WMV", ".wmv"));
    EXPECT_EQ(va::Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(va::Split("a;;b", ';'), (std::vector<std::string>{"a", "", "b"}));
}

}  // namespace
