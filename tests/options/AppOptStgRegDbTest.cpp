// The registry backend of the option store and the registry key handle,
// over private settings files.
#include <gtest/gtest.h>

#include <cstring>

#include "options/AppOptStgRegDb.h"
#include "options/AppOptions.h"
#include "options/RegistryKey.h"
#include "platform/registry/RegFile.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"

namespace {

const char* const kProfile = "software\\Korvani\\orbalis veloTrax ActiveX";

class RegDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_file = m_dir.File("user.reg");
        RegSetFilePaths(m_file, m_dir.File("system.reg"));
        SetRegistryKey("Korvani");
    }
    void TearDown() override { RegSetFilePaths("", ""); }

    bool KeyExists(const std::string& path) {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    void SetString(const std::string& path, const char* name, const std::string& v) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                 &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                                static_cast<DWORD>(v.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    vtest::TempDir m_dir;
    std::string m_file;
    CAppOptStgRegDb m_stg;
};

TEST_F(RegDbTest, ValuesKeepTheirStoredTypes) {
    m_stg.WriteInt("Settings", "Int", -5);
    m_stg.WriteString("Settings", "Str", "text");
    CAppOpt(true).GetValue()->Write(m_stg, "Settings", "Bool");
    CComPtr<IStream> stream;
    const uint8_t bytes[] = {1, 2, 3, 0, 255};
    ASSERT_EQ(CreateStreamOnHGlobal(&stream, bytes, sizeof bytes), S_OK);
    stream->Seek(3, STREAM_SEEK_SET, nullptr);  // written whole, whatever its position
    m_stg.WriteStream("Settings", "Bin", stream);

    EXPECT_EQ(m_stg.Read("Settings", "Int", CAppOpt()).GetInt(), -5);
    EXPECT_EQ(m_stg.Read("Settings", "Str", CAppOpt()).GetString(), "text");
    CAppOpt b = m_stg.Read("Settings", "Bool", CAppOpt(false));
    EXPECT_NE(dynamic_cast<const CAppOptValueInt*>(b.GetValue()), nullptr);
    EXPECT_TRUE(b.GetBool());
    CComPtr<IStream> back = m_stg.Read("Settings", "Bin", CAppOpt()).GetStream();
    ASSERT_TRUE(back);
    uint8_t buf[8] = {};
    ULONG read = 0;
    back->Read(buf, sizeof buf, &read);
    EXPECT_EQ(read, sizeof bytes);
    EXPECT_EQ(std::memcmp(buf, bytes, sizeof bytes), 0);

    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    std::string text = vtest::ReadFile(m_file);
    EXPECT_NE(
        text.find("[HKEY_CURRENT_USER\\software\\Korvani\\orbalis veloTrax ActiveX\\Settings]\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Int\"=dword:fffffffb\n"), std::string::npos);
    EXPECT_NE(text.find("\"Str\"=\"text\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Bool\"=dword:00000001\n"), std::string::npos);
    EXPECT_NE(text.find("\"Bin\"=hex:01,02,03,00,ff\n"), std::string::npos);
}

TEST_F(RegDbTest, AStreamTooLargeForTheRegistryLeavesTheStoredValue) {
    m_stg.WriteString("S", "Blob", "old");
    CComPtr<IStream> big;
    std::vector<uint8_t> bytes(kRegMaxValueSize + 1, 7);
    ASSERT_EQ(CreateStreamOnHGlobal(&big, bytes.data(), bytes.size()), S_OK);
    m_stg.WriteStream("S", "Blob", big);
    EXPECT_EQ(m_stg.Read("S", "Blob", CAppOpt()).GetString(), "old");
}

TEST_F(RegDbTest, AStoredStringOneReadWithABoolDefaultIsTrue) {
    SetString(std::string(kProfile) + "\\Settings", "Flag", "1");
    CAppOpt v = m_stg.Read("Settings", "Flag", CAppOpt(false));
    EXPECT_NE(dynamic_cast<const CAppOptValueString*>(v.GetValue()), nullptr);
    EXPECT_TRUE(v.GetBool());
}

TEST_F(RegDbTest, NestedSectionsCreateNestedKeysAndMissingOnesCreateNothing) {
    EXPECT_EQ(m_stg.Read("Nope\\Deeper", "x", CAppOpt("def")).GetString(), "def");
    std::vector<std::string> names;
    m_stg.EnumValues("Nope", names);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(KeyExists("software"));

    m_stg.WriteInt("A\\B", "x", 1);
    EXPECT_TRUE(KeyExists(std::string(kProfile) + "\\A"));
    EXPECT_TRUE(KeyExists(std::string(kProfile) + "\\A\\B"));
    m_stg.EnumKeys("A", names);
    EXPECT_EQ(names, std::vector<std::string>{"B"});
    names.clear();
    m_stg.EnumValues("a\\b", names);
    EXPECT_EQ(names, std::vector<std::string>{"x"});
}

TEST_F(RegDbTest, DeletingASectionWithSubKeysLeavesIt) {
    m_stg.WriteInt("A", "v", 1);
    m_stg.WriteInt("A\\B", "x", 1);
    m_stg.DeleteKey("A");
    EXPECT_TRUE(KeyExists(std::string(kProfile) + "\\A"));
    EXPECT_EQ(m_stg.Read("A", "v", CAppOpt()).GetInt(), 1);
    m_stg.DeleteKey("A\\B");
    EXPECT_FALSE(KeyExists(std::string(kProfile) + "\\A\\B"));
    m_stg.DeleteValue("A", "v");
    EXPECT_TRUE(m_stg.Read("A", "v", CAppOpt()).IsEmpty());
    m_stg.DeleteKey("A");
    EXPECT_FALSE(KeyExists(std::string(kProfile) + "\\A"));
}

TEST_F(RegDbTest, OtherValueTypesReadAsTheDefault) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, (std::string(kProfile) + "\\S").c_str(), 0, nullptr,
                             0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const BYTE multi[] = {'a', 0, 0};
    RegSetValueEx(key, "m", 0, REG_MULTI_SZ, multi, sizeof multi);
    RegCloseKey(key);
    EXPECT_EQ(m_stg.Read("S", "m", CAppOpt("def")).GetString(), "def");
}

TEST_F(RegDbTest, TheOptionStoreFlushesIntoTheUserFile) {
    CAppOptions options;
    options.SetOption("", "PlayCont", CAppOpt(true));
    options.SetOption("DeInterlace", "Method", CAppOpt(int32_t(2)));
    options.Flush();
    std::string text = vtest::ReadFile(m_file);
    EXPECT_NE(text.find("orbalis veloTrax ActiveX\\Settings]\n\"PlayCont\"=dword:00000001"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("orbalis veloTrax ActiveX\\DeInterlace]\n\"Method\"=dword:00000002"),
              std::string::npos);

    CAppOptions fresh;
    EXPECT_TRUE(fresh.GetOption("Settings", "PlayCont", CAppOpt(false)).GetBool());
}

TEST_F(RegDbTest, RegistryKeyReadsNumbersOnlyFromWholeNumbers) {
    SetString("software\\Maker\\App", "Good", "42");
    SetString("software\\Maker\\App", "Bad", "42x");
    SetString("software\\Maker\\App", "Empty", "");
    HKEY key = nullptr;
    RegOpenKeyEx(HKEY_CURRENT_USER, "software\\Maker\\App", 0, KEY_WRITE, &key);
    const BYTE minusOne[] = {0xff, 0xff, 0xff, 0xff};
    RegSetValueEx(key, "Dw", 0, REG_DWORD, minusOne, 4);
    RegCloseKey(key);

    CRegistryKey app =
        CRegistryKey(HKEY_CURRENT_USER).OpenSubKey("Software").OpenSubKey("maker\\app");
    ASSERT_TRUE(app.IsOpen());
    EXPECT_EQ(app.GetDWord("Good", 7), 42u);
    EXPECT_EQ(app.GetDWord("Bad", 7), 7u);
    EXPECT_EQ(app.GetDWord("Empty", 7), 7u);
    EXPECT_EQ(app.GetDWord("Missing", 7), 7u);
    EXPECT_EQ(app.GetDWord("Dw", 7), 0xffffffffu);
    EXPECT_EQ(app.GetString("Dw", "d"), "-1");
    EXPECT_EQ(app.GetString("Bad", "d"), "42x");
    EXPECT_EQ(app.GetString("Missing", "d"), "d");
    // Signs and blanks in front are not part of a whole number.
    for (const char* text : {" 42", "\t42", "+42", "42 ", "-", "0x10"}) {
        SetString("software\\Maker\\App", "Odd", text);
        EXPECT_EQ(app.GetDWord("Odd", 7), 7u) << "'" << text << "'";
    }
    SetString("software\\Maker\\App", "Odd", "-2");
    EXPECT_EQ(app.GetDWord("Odd", 7), 0xfffffffeu);
}

TEST_F(RegDbTest, RegistryKeyMissingKeysAreEmptyAndWritingNeedsAnOpenKey) {
    CRegistryKey missing = CRegistryKey(CRegistryKey::currentUser).OpenSubKey("No\\Such\\Key");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.GetDWord("x", 3), 3u);
    EXPECT_EQ(missing.GetString("x", "d"), "d");
    EXPECT_FALSE(missing.OpenSubKey("deeper").IsOpen());
    try {
        missing.OpenSubKey("deeper", true);
        FAIL() << "writing below an empty key must throw";
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HR(0x80070006));
    }
    // Other failures are thrown as HRESULTs: the machine root is read-only.
    try {
        CRegistryKey(CRegistryKey::localMachine).OpenSubKey("x", true);
        FAIL() << "write access to the machine keys must be refused";
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), E_ACCESSDENIED);
    }
}

TEST_F(RegDbTest, RegistryKeyCopiesShareOneOpenKey) {
    SetString("software\\k", "v", "1");
    CRegistryKey a = CRegistryKey(CRegistryKey::currentUser).OpenSubKey("software\\k");
    HKEY handle = a.GetHandle();
    {
        CRegistryKey b = a;
        EXPECT_EQ(b.GetHandle(), handle);
    }
    EXPECT_EQ(a.GetString("v", ""), "1");  // still open after the copy went
}

}  // namespace
