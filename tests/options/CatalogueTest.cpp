// The catalogue of settings: defaults, ids, recent-file names and the
// frame placement.
#include <gtest/gtest.h>

#include <set>

#include "options/OptionCatalogue.h"

namespace {

int32_t DefaultInt(const char* section, const char* name) {
    const COptionInfo* info = FindOptionInfo(section, name);
    EXPECT_NE(info, nullptr) << name;
    return info ? info->Default().GetInt() : -999;
}

TEST(Catalogue, DefaultsWithNothingStored) {
    EXPECT_EQ(DefaultInt("", "VideoScale"), 1);
    EXPECT_EQ(DefaultInt("DeInterlace", "DeInterlace"), 0);
    EXPECT_EQ(DefaultInt("DeInterlace", "Method"), 3);
    EXPECT_EQ(DefaultInt("DeInterlace", "Interpolate"), 1);
    EXPECT_EQ(DefaultInt("DeInterlace", "Sharpen"), 2);
    EXPECT_EQ(DefaultInt("Settings", "PlayCont"), 0);
    EXPECT_EQ(DefaultInt("Settings", "MaxMRU"), 50);
    EXPECT_EQ(DefaultInt("Settings", "Tooltips"), 1);
    EXPECT_EQ(DefaultInt("Settings", "FlatLook"), 1);
    EXPECT_EQ(DefaultInt("Settings", "WindOffset"), 1000);
    EXPECT_EQ(DefaultInt("settings", "vmraspectratio"), 1);
    // Bools come as bools, so a panel reading them sees true or false.
    EXPECT_NE(
        dynamic_cast<const CAppOptValueBool*>(FindOptionInfo("", "FlatLook")->Default().GetValue()),
        nullptr);
    // Settings without a default read as empty.
    EXPECT_TRUE(FindOptionInfo("", "ImgQuality")->Default().IsEmpty());
    EXPECT_TRUE(FindOptionInfo("Files", "LastFile")->Default().IsEmpty());
    EXPECT_EQ(FindOptionInfo("", "NoSuchSetting"), nullptr);
    EXPECT_EQ(FindOptionInfo("Files", "VideoScale"), nullptr);
}

TEST(Catalogue, IdsAreUniqueAndFindTheirEntries) {
    std::set<int> ids;
    for (const COptionInfo& info : GetOptionCatalogue()) {
        if (info.id == optIdNone)
            continue;
        EXPECT_TRUE(ids.insert(info.id).second) << info.name;
        EXPECT_EQ(FindOptionInfoById(info.id), &info);
    }
    EXPECT_EQ(ids.size(), 27u);
    EXPECT_STREQ(FindOptionInfoById(optIdPlayCont)->name, "PlayCont");
    EXPECT_EQ(FindOptionInfoById(optIdSyncVideoPos)->panels, unsigned(optPanelBoth));
    EXPECT_STREQ(FindOptionInfoById(optIdFiles)->section, "Files");
    EXPECT_EQ(FindOptionInfoById(25), nullptr);
}

TEST(Catalogue, RecentFileNamesAndTheirLimit) {
    EXPECT_EQ(EffectiveMaxMRU(0), 50);
    EXPECT_EQ(EffectiveMaxMRU(7), 7);
    EXPECT_EQ(RecentFileOptionName(3), "File3");
    EXPECT_EQ(ParseRecentFileOptionName("File1", 50), 1);
    EXPECT_EQ(ParseRecentFileOptionName("File50", 50), 50);
    EXPECT_EQ(ParseRecentFileOptionName("File51", 50), 0);
    EXPECT_EQ(ParseRecentFileOptionName("File0", 50), 0);
    EXPECT_EQ(ParseRecentFileOptionName("LastFile", 50), 0);
    EXPECT_EQ(ParseRecentFileOptionName("File2x", 50), 0);
    EXPECT_EQ(LastFileOptionName(0), "LastFile");
    EXPECT_EQ(LastFileOptionName(1), "LastFile2");
    EXPECT_EQ(FindOptionInfo("Files", "LastFile2"), FindOptionInfo("Files", "LastFile"));
    EXPECT_STREQ(FindOptionInfo("Files", "File12")->name, "File%d");
}

TEST(Catalogue, FramePlacementIsReadFromPos) {
    CFramePlacement max = ParseFramePos("Max");
    EXPECT_TRUE(max.maximised);
    EXPECT_TRUE(max.useDefault);

    CFramePlacement rect = ParseFramePos("10;20;330;260");
    EXPECT_FALSE(rect.maximised);
    EXPECT_FALSE(rect.useDefault);
    EXPECT_EQ(rect.rect, (RECT{10, 20, 330, 260}));
    EXPECT_EQ(FormatFramePos(rect.rect, false), "10;20;330;260");
    EXPECT_EQ(FormatFramePos(rect.rect, true), "Max");
    EXPECT_FALSE(ParseFramePos("-100;-50;0;10").useDefault);

    for (const char* bad :
         {"", "max", "10;20;330", "10;20;10;260", "10;20;330;20", "50;50;40;60", "a;b;c;d"}) {
        CFramePlacement p = ParseFramePos(bad);
        EXPECT_TRUE(p.useDefault) << bad;
        EXPECT_FALSE(p.maximised) << bad;
    }
}

}  // namespace
