// The REGEDIT4 reader and writer: what goes in comes back out, and damage
// is noticed without losing the readable part.
#include <gtest/gtest.h>

#include "platform/registry/RegFile.h"

namespace {

std::string RoundTrip(const std::string& text, CRegParseResult* result = nullptr) {
    CRegKeyNode root;
    CRegParseResult r = ParseRegFile(text, "HKEY_CURRENT_USER", root);
    if (result)
        *result = r;
    return WriteRegFile(root, "HKEY_CURRENT_USER");
}

const CRegKeyNode* Find(const CRegKeyNode& root, std::initializer_list<const char*> path) {
    const CRegKeyNode* node = &root;
    for (const char* p : path)
        if (!(node = node->FindSubKey(p)))
            return nullptr;
    return node;
}

TEST(RegFile, ValuesOfEveryKindSurviveUnchanged) {
    const std::string text =
        "REGEDIT4\n\n"
        "[HKEY_CURRENT_USER\\software]\n\n"
        "[HKEY_CURRENT_USER\\software\\Korvani]\n"
        "@=\"default\"\n"
        "\"Count\"=dword:0000002a\n"
        "\"Quote\"=\"say \\\"hi\\\" \\\\ back\"\n"
        "\"Data\"=hex:01,02,ff\n"
        "\"Multi\"=hex(7):61,00,00\n"
        "\"Wide\"=qword:0102030405060708\n"
        "\"Empty\"=hex:\n\n";
    CRegParseResult result;
    EXPECT_EQ(RoundTrip(text, &result), text);
    EXPECT_FALSE(result.damaged) << result.problem;

    CRegKeyNode root;
    ParseRegFile(text, "HKEY_CURRENT_USER", root);
    const CRegKeyNode* key = Find(root, {"SOFTWARE", "korvani"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Name(), "Korvani");
    const CRegValue* quote = key->FindValue("quote");
    ASSERT_NE(quote, nullptr);
    EXPECT_EQ(std::string(quote->data.begin(), quote->data.end()),
              std::string("say \"hi\" \\ back\0", 16));
    EXPECT_EQ(key->FindValue("count")->data, (std::vector<uint8_t>{0x2a, 0, 0, 0}));
    EXPECT_EQ(key->FindValue("Multi")->type, 7u);
    EXPECT_TRUE(key->FindValue("Wide")->IsRaw());
}

TEST(RegFile, StringsTheQuotedFormCannotCarryAreWrittenAsHex) {
    CRegKeyNode root;
    CRegValue v;
    v.name = "Lines";
    v.type = REG_SZ;
    std::string s = "one\ntwo\r\tthree";
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
    root.CreateSubKey("k").SetValue(v);
    CRegValue noZero;
    noZero.name = "NoZero";
    noZero.type = REG_SZ;
    noZero.data = {'a', 'b'};
    root.CreateSubKey("k").SetValue(noZero);

    std::string text = WriteRegFile(root, "HKEY_CURRENT_USER");
    EXPECT_NE(text.find("\"Lines\"=hex(1):"), std::string::npos) << text;
    CRegKeyNode back;
    EXPECT_FALSE(ParseRegFile(text, "HKEY_CURRENT_USER", back).damaged);
    EXPECT_EQ(back.FindSubKey("k")->FindValue("Lines")->data, v.data);
    EXPECT_EQ(back.FindSubKey("k")->FindValue("NoZero")->data, noZero.data);
    EXPECT_EQ(back.FindSubKey("k")->FindValue("NoZero")->type, REG_SZ);
}

TEST(RegFile, LongBinaryValuesWrapAndReadBack) {
    CRegKeyNode root;
    CRegValue v;
    v.name = "Blob";
    v.type = REG_BINARY;
    for (int i = 0; i < 1000; ++i)
        v.data.push_back(static_cast<uint8_t>(i * 7));
    root.CreateSubKey("k").SetValue(v);
    std::string text = WriteRegFile(root, "HKEY_CURRENT_USER");
    EXPECT_NE(text.find(",\\\n  "), std::string::npos);
    CRegKeyNode back;
    EXPECT_FALSE(ParseRegFile(text, "HKEY_CURRENT_USER", back).damaged);
    EXPECT_EQ(back.FindSubKey("k")->FindValue("blob")->data, v.data);
}

TEST(RegFile, DamageIsReportedAndTheReadablePartKept) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::string good = "REGEDIT4\n\n[HKEY_CURRENT_USER\\a]\n\"x\"=dword:00000001\n";
    const Case cases[] = {
        {"cut in the middle of a line", good + "\"y\"=\"unfinis"},
        {"cut right after the dword mark", good + "\"y\"=dword:"},
        {"binary garbage", good + std::string("\x01\x02\xff\0garbage\n", 12)},
        {"an unclosed string", good + "\"y\"=\"open\n"},
        {"an enormous line", good + "\"y\"=\"" + std::string(kRegMaxLineLength + 10, 'A') + "\"\n"},
        {"another root", good + "[HKEY_CLASSES_ROOT\\b]\n"},
        {"a value outside any key", "REGEDIT4\n\"y\"=dword:1\n" + good.substr(9)},
        {"no header", good.substr(10)},
        {"bad hex", good + "\"y\"=hex:0g\n"},
        {"too deep", good + "[HKEY_CURRENT_USER" +
                         [] {
                             std::string p;
                             for (size_t i = 0; i <= kRegMaxKeyDepth; ++i)
                                 p += "\\k";
                             return p;
                         }() +
                         "]\n"},
        {"long key name",
         good + "[HKEY_CURRENT_USER\\" + std::string(kRegMaxKeyNameLength + 1, 'k') + "]\n"},
    };
    for (const Case& c : cases) {
        CRegKeyNode root;
        CRegParseResult result = ParseRegFile(c.text, "HKEY_CURRENT_USER", root);
        EXPECT_TRUE(result.damaged) << c.what;
        EXPECT_FALSE(result.problem.empty()) << c.what;
        const CRegKeyNode* a = root.FindSubKey("a");
        ASSERT_NE(a, nullptr) << c.what;
        ASSERT_NE(a->FindValue("x"), nullptr) << c.what;
        EXPECT_EQ(a->FindValue("y"), nullptr) << c.what;
        EXPECT_EQ(root.SubKeys().size(), 1u) << c.what;
    }
}

TEST(RegFile, DeletionLinesRemoveKeysAndValues) {
    const std::string text =
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\a]\n\"x\"=dword:1\n\"y\"=dword:2\n"
        "[HKEY_CURRENT_USER\\b]\n"
        "[-HKEY_CURRENT_USER\\B]\n"
        "[HKEY_CURRENT_USER\\A]\n\"X\"=-\n";
    CRegKeyNode root;
    EXPECT_FALSE(ParseRegFile(text, "HKEY_CURRENT_USER", root).damaged);
    EXPECT_EQ(root.FindSubKey("b"), nullptr);
    EXPECT_EQ(root.FindSubKey("a")->FindValue("x"), nullptr);
    EXPECT_NE(root.FindSubKey("a")->FindValue("y"), nullptr);
}

TEST(RegFile, CrLfLinesAndCommentsAreAccepted) {
    CRegKeyNode root;
    EXPECT_FALSE(ParseRegFile("REGEDIT4\r\n; note\r\n[HKEY_CURRENT_USER\\a]\r\n\"x\"=\"v\"\r\n",
                              "HKEY_CURRENT_USER", root)
                     .damaged);
    EXPECT_EQ(root.FindSubKey("a")->FindValue("x")->data, (std::vector<uint8_t>{'v', 0}));
}

// Editors save without a final line break, and comments may end in '\':
// neither is damage, and neither costs the next value.
TEST(RegFile, LastLinesAndCommentsEndingInABackslashAreRead) {
    const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\a]\n";
    const std::string cases[] = {
        head + "\"x\"=dword:00000001\n\"y\"=\"last\"",
        head + "\"x\"=dword:00000001\r\n\"y\"=\"last\"\r",
        head + "; folder c:\\x\\\n\"x\"=dword:00000001\n\"y\"=\"last\"\n",
        head + "\"x\"=dword:00000001\n;\\\n\"y\"=\"last\"\n",
        head + "\"x\"=hex(4):01,\\\n  00,00,00\n\"y\"=\"last\"",
    };
    for (const std::string& text : cases) {
        CRegKeyNode root;
        CRegParseResult result = ParseRegFile(text, "HKEY_CURRENT_USER", root);
        EXPECT_FALSE(result.damaged) << text << ": " << result.problem;
        const CRegKeyNode* a = root.FindSubKey("a");
        ASSERT_NE(a, nullptr) << text;
        ASSERT_NE(a->FindValue("x"), nullptr) << text;
        EXPECT_EQ(a->FindValue("x")->data, (std::vector<uint8_t>{1, 0, 0, 0})) << text;
        ASSERT_NE(a->FindValue("y"), nullptr) << text;
        EXPECT_EQ(a->FindValue("y")->data, (std::vector<uint8_t>{'l', 'a', 's', 't', 0})) << text;
    }
}

}  // namespace
