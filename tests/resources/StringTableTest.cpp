#include <gtest/gtest.h>

#include "platform/com/Language.h"
#include "resources/StringTable.h"

TEST(StringTable, EnglishAndGermanWithEnglishFallback) {
    EXPECT_EQ(LoadResString(IDS_LOCALE, LANG_ENGLISH_US), "english_usa");
    EXPECT_EQ(LoadResString(IDS_LOCALE, LANG_GERMAN_DE), "german_germany");
    EXPECT_EQ(LoadResString(AFX_IDP_FILE_NOT_FOUND, LANG_GERMAN_DE),
              "Die Datei \"%1\" wurde nicht gefunden.");
    EXPECT_EQ(LoadResString(IDS_APP_TITLE), "orbalis veloTrax ActiveX");
    std::string text = "unchanged";
    EXPECT_FALSE(TryLoadString(0xFFFFFF, text));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(LoadResString(0xFFFFFF), "");
}

TEST(StringTable, LanguageFollowsTheOverride) {
    SetUILanguage(LANG_GERMAN_DE);
    EXPECT_EQ(LoadResString(IDS_LOCALE), "german_germany");
    SetUILanguage(LANG_ENGLISH_US);
    EXPECT_EQ(LoadResString(IDS_LOCALE), "english_usa");
}

TEST(StringTable, LocaleNamesMapToPosixLocales) {
    EXPECT_EQ(PosixLocaleFor("english_usa"), "en_US.UTF-8");
    EXPECT_EQ(PosixLocaleFor("german_germany"), "de_DE.UTF-8");
    EXPECT_EQ(PosixLocaleFor("klingon"), "");
}
