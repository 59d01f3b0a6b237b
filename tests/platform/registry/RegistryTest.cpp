// The registry functions over the settings files: keys and values, the
// read-only machine root, saving that merges with other processes' saves,
// damaged files and the limits.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>

#include "platform/registry/RegFile.h"
#include "platform/registry/Registry.h"
#include "support/MessageBox.h"
#include "tests/TestSupport.h"

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_user = m_dir.File("cfg/velotrax/user.reg");
        m_machine = m_dir.File("system.reg");
        RegSetFilePaths(m_user, m_machine);
    }
    void TearDown() override { RegSetFilePaths("", ""); }

    HKEY Create(const char* path, HKEY root = HKEY_CURRENT_USER) {
        HKEY key = nullptr;
        EXPECT_EQ(
            RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        return key;
    }
    static void SetDWord(HKEY key, const char* name, DWORD v) {
        BYTE b[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
        ASSERT_EQ(RegSetValueEx(key, name, 0, REG_DWORD, b, 4), ERROR_SUCCESS);
    }
    static LONG GetDWord(HKEY key, const char* name, DWORD& v) {
        BYTE b[4] = {};
        DWORD size = 4, type = 0;
        LONG rc = RegQueryValueEx(key, name, nullptr, &type, b, &size);
        v = DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24;
        return rc;
    }
    std::string UserText() const { return vtest::ReadFile(m_user); }

    vtest::TempDir m_dir;
    std::string m_user;
    std::string m_machine;
};

TEST_F(RegistryTest, KeysCompareWithoutCaseAndKeepTheirSpelling) {
    HKEY key = Create("software\\Korvani\\Player");
    SetDWord(key, "Count", 7);
    RegCloseKey(key);

    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\korvani\\PLAYER", 0, KEY_READ, &again),
              ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_EQ(GetDWord(again, "COUNT", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 7u);
    char name[256];
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumValue(again, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Count");
    length = sizeof name;
    EXPECT_EQ(RegEnumValue(again, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(again);

    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_NE(UserText().find(
                  "[HKEY_CURRENT_USER\\software\\Korvani\\Player]\n\"Count\"=dword:00000007\n"),
              std::string::npos)
        << UserText();
}

TEST_F(RegistryTest, QueriesFollowTheBufferRules) {
    HKEY key = Create("k");
    const char text[] = "hello";
    ASSERT_EQ(RegSetValueEx(key, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    BYTE small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "s", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(RegQueryValueEx(key, "missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyEx(key, "nope", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(RegQueryValueEx(key, "s", nullptr, &type, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, ReadOnlyHandlesAndDeletedKeysRefuseWork) {
    HKEY writable = Create("a\\b");
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "a\\b", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    BYTE b[4] = {};
    EXPECT_EQ(RegSetValueEx(readOnly, "x", 0, REG_DWORD, b, 4), ERROR_ACCESS_DENIED);

    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "a", 0, KEY_READ | KEY_WRITE, &a), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "a"), ERROR_ACCESS_DENIED);  // it has a sub-key
    EXPECT_EQ(RegDeleteKey(a, "B"), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(writable, "x", 0, REG_DWORD, b, 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "a"), ERROR_SUCCESS);
    for (HKEY k : {writable, readOnly, a})
        RegCloseKey(k);
}

TEST_F(RegistryTest, MachineKeysAreReadOnly) {
    vtest::WriteFile(m_machine,
                     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Korvani]\n\"Dir\"=\"/opt/app\"\n");
    RegReload();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\korvani", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char buf[64];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(key, "Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "/opt/app");
    BYTE b[4] = {};
    EXPECT_EQ(RegSetValueEx(key, "x", 0, REG_DWORD, b, 4), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    HKEY write = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ | KEY_WRITE, &write),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "new", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                             nullptr, &write, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, "software\\korvani"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(UserText().find("LOCAL_MACHINE"), std::string::npos);
}

TEST_F(RegistryTest, SavingKeepsWhatOtherProcessesSavedMeanwhile) {
    HKEY key = Create("s");
    SetDWord(key, "mine1", 1);
    SetDWord(key, "shared", 1);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    // Another process saves its own value and changes a shared one.
    std::string text = UserText();
    text += "[HKEY_CURRENT_USER\\other]\n\"theirs\"=dword:00000005\n";
    text.replace(text.find("\"shared\"=dword:00000001"), 23, "\"shared\"=dword:00000009");
    vtest::WriteFile(m_user, text);

    SetDWord(key, "mine2", 2);
    ASSERT_EQ(RegDeleteValue(key, "mine1"), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    text = UserText();
    EXPECT_NE(text.find("\"theirs\"=dword:00000005"), std::string::npos) << text;
    EXPECT_NE(text.find("\"shared\"=dword:00000009"), std::string::npos) << text;
    EXPECT_NE(text.find("\"mine2\"=dword:00000002"), std::string::npos) << text;
    EXPECT_EQ(text.find("mine1"), std::string::npos) << text;

    // After the save this process sees the other's values too.
    DWORD v = 0;
    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "other", 0, KEY_READ, &other), ERROR_SUCCESS);
    EXPECT_EQ(GetDWord(other, "theirs", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 5u);
    RegCloseKey(other);
    RegCloseKey(key);
    EXPECT_FALSE(std::filesystem::exists(m_user + ".damaged"));
}

TEST_F(RegistryTest, ValuesAreReadBackAfterAReload) {
    HKEY key = Create("x\\y");
    SetDWord(key, "", 3);
    const BYTE bin[] = {0, 1, 2, 255};
    ASSERT_EQ(RegSetValueEx(key, "bin", 0, REG_BINARY, bin, sizeof bin), ERROR_SUCCESS);
    RegCloseKey(key);
    RegReload();  // saves, forgets and reads the file again
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "x\\y", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_EQ(GetDWord(key, nullptr, v), ERROR_SUCCESS);
    EXPECT_EQ(v, 3u);
    BYTE back[8];
    DWORD size = sizeof back, type = 0;
    ASSERT_EQ(RegQueryValueEx(key, "BIN", nullptr, &type, back, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(back, bin, 4), 0);
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnknownValueFormsAreWrittenBackUnchanged) {
    std::filesystem::create_directories(std::filesystem::path(m_user).parent_path());
    vtest::WriteFile(m_user,
                     "REGEDIT4\n\n[HKEY_CURRENT_USER\\k]\n\"q\"=qword:0000000000000001\n\"m\"=hex("
                     "7):61,00,00\n");
    RegReload();
    HKEY key = Create("k");
    SetDWord(key, "new", 1);
    DWORD type = 99, size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "m", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    RegCloseKey(key);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    std::string text = UserText();
    EXPECT_NE(text.find("\"q\"=qword:0000000000000001\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"m\"=hex(7):61,00,00\n"), std::string::npos) << text;
}

TEST_F(RegistryTest, ADamagedFileIsKeptAsideAndReplacedByACleanOne) {
    const std::string good = "REGEDIT4\n\n[HKEY_CURRENT_USER\\k]\n\"keep\"=dword:00000004\n";
    const std::string damages[] = {
        good + "\"cut\"=\"in the mid",
        good + std::string("\0\x01\x02\xfe\xff\n\x7f\x80garbage\n", 16),
        good + "\"huge\"=\"" + std::string(kRegMaxLineLength + 100, 'x') + "\"\n",
    };
    std::filesystem::create_directories(std::filesystem::path(m_user).parent_path());
    for (const std::string& damaged : damages) {
        std::filesystem::remove(m_user + ".damaged");
        vtest::WriteFile(m_user, damaged);
        vtest::CapturedMessages messages;
        RegReload();
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "k", 0, KEY_READ | KEY_WRITE, &key),
                  ERROR_SUCCESS);
        DWORD v = 0;
        EXPECT_EQ(GetDWord(key, "keep", v), ERROR_SUCCESS);
        EXPECT_EQ(v, 4u);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_NE(messages.Messages()[0].text.find("user.reg.damaged"), std::string::npos);
        EXPECT_EQ(vtest::ReadFile(m_user + ".damaged"), damaged);

        // The file on disk is clean already and stays so after a save.
        SetDWord(key, "after", 1);
        RegCloseKey(key);
        ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
        CRegKeyNode root;
        CRegParseResult parsed = ParseRegFile(UserText(), "HKEY_CURRENT_USER", root);
        EXPECT_FALSE(parsed.damaged) << parsed.problem;
        EXPECT_NE(root.FindSubKey("k")->FindValue("keep"), nullptr);
        EXPECT_NE(root.FindSubKey("k")->FindValue("after"), nullptr);
        EXPECT_EQ(messages.Messages().size(), 1u);
    }
}

TEST_F(RegistryTest, AnUnreadableFileIsReportedAndLeftAlone) {
    // A folder where the file should be cannot be read, even by root.
    std::filesystem::create_directories(m_user);
    vtest::CapturedMessages messages;
    RegReload();
    HKEY key = Create("k");
    SetDWord(key, "v", 1);
    RegCloseKey(key);
    EXPECT_NE(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_NE(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].text.find("cannot be read"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(m_user));
    EXPECT_FALSE(std::filesystem::exists(m_user + ".damaged"));
    // Once it can be read, the changes kept meanwhile are saved.
    std::filesystem::remove(m_user);
    EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_NE(UserText().find("\"v\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryTest, AReadOnlyFileIsNotWrittenAndARewriteKeepsTheMode) {
    HKEY key = Create("k");
    SetDWord(key, "v", 1);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    const std::string before = UserText();
    chmod(m_user.c_str(), 0444);
    vtest::CapturedMessages messages;
    SetDWord(key, "v", 2);
    EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_ACCESS_DENIED);
    EXPECT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(UserText(), before);
    chmod(m_user.c_str(), 0640);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_NE(UserText().find("\"v\"=dword:00000002"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(m_user.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, SavesRemoveStaleTemporariesAndRefuseALinkedLock) {
    HKEY key = Create("k");
    SetDWord(key, "v", 1);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string stale = m_user + ".tmp-" + std::to_string(dead);
    const std::string live = m_user + ".tmp-" + std::to_string(getppid());
    vtest::WriteFile(stale, "half a save");
    vtest::WriteFile(live, "a save going on");
    SetDWord(key, "v", 2);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live));

    // The lock never follows a link (it would create the link's target).
    std::filesystem::remove(m_user + ".lock");
    std::filesystem::create_symlink(m_dir.File("target"), m_user + ".lock");
    SetDWord(key, "v", 3);
    EXPECT_NE(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("target")));
    std::filesystem::remove(m_user + ".lock");
    EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AFailedSaveBeforeAReloadOrMoveKeepsTheChanges) {
    HKEY key = Create("k");
    SetDWord(key, "v", 1);
    RegCloseKey(key);
    std::filesystem::create_directories(m_user + ".lock");  // no lock can be taken
    EXPECT_NE(RegReload(), ERROR_SUCCESS);
    EXPECT_NE(RegSetFilePaths(m_dir.File("other.reg"), m_machine), ERROR_SUCCESS);
    EXPECT_EQ(RegUserFilePath(), m_user);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "k", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_EQ(GetDWord(key, "v", v), ERROR_SUCCESS);
    RegCloseKey(key);
    std::filesystem::remove(m_user + ".lock");
    EXPECT_EQ(RegReload(), ERROR_SUCCESS);
    EXPECT_NE(UserText().find("\"v\"=dword:00000001"), std::string::npos);
}

TEST_F(RegistryTest, DamagedCopiesAreNumberedAndTheWarningWaitsForTheLock) {
    std::filesystem::create_directories(std::filesystem::path(m_user).parent_path());
    // The warning is shown after the store's lock is released: another
    // thread's registry call made from it goes through.
    std::vector<bool> othersGotThrough;
    std::vector<std::future<void>> others;  // outlive the handler, whatever happens
    MessageBoxHandler previous = SetMessageBoxHandler([&](const std::string&, unsigned, unsigned) {
        others.push_back(std::async(std::launch::async, [] {
            HKEY k = nullptr;
            RegOpenKeyEx(HKEY_CURRENT_USER, "k", 0, KEY_READ, &k);
            RegCloseKey(k);
        }));
        othersGotThrough.push_back(others.back().wait_for(std::chrono::seconds(20)) ==
                                   std::future_status::ready);
        return IDOK;
    });
    for (int i = 0; i < 7; ++i) {
        vtest::WriteFile(m_user, "REGEDIT4\n[HKEY_CURRENT_USER\\k]\ndamage " + std::to_string(i));
        RegReload();
        RegFlushKey(HKEY_CURRENT_USER);
    }
    SetMessageBoxHandler(previous);
    EXPECT_EQ(othersGotThrough, std::vector<bool>(7, true));
    EXPECT_NE(vtest::ReadFile(m_user + ".damaged").find("damage 6"), std::string::npos);
    EXPECT_NE(vtest::ReadFile(m_user + ".damaged.1").find("damage 5"), std::string::npos);
    EXPECT_NE(vtest::ReadFile(m_user + ".damaged.4").find("damage 2"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_user + ".damaged.5"));
}

TEST_F(RegistryTest, LimitsAreRefusedWithTheirOwnErrors) {
    HKEY key = Create("k");
    std::string longName(kRegMaxValueNameLength + 1, 'n');
    BYTE b[4] = {};
    EXPECT_EQ(RegSetValueEx(key, longName.c_str(), 0, REG_DWORD, b, 4), ERROR_FILENAME_EXCED_RANGE);
    std::vector<BYTE> big(kRegMaxValueSize + 1);
    EXPECT_EQ(RegSetValueEx(key, "big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size())),
              ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(RegSetValueEx(key, "line\nbreak", 0, REG_DWORD, b, 4), ERROR_INVALID_PARAMETER);

    std::string longKey(kRegMaxKeyNameLength + 1, 'k');
    HKEY sub = nullptr;
    EXPECT_EQ(
        RegCreateKeyEx(key, longKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr),
        ERROR_FILENAME_EXCED_RANGE);
    std::string deep;
    for (size_t i = 0; i < kRegMaxKeyDepth; ++i)
        deep += "d\\";
    EXPECT_EQ(RegCreateKeyEx(key, deep.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr),
              ERROR_FILENAME_EXCED_RANGE);
    EXPECT_NE(RegErrorText(ERROR_NOT_ENOUGH_QUOTA).find("1048576"), std::string::npos);
    EXPECT_NE(RegErrorText(ERROR_FILENAME_EXCED_RANGE).find("255"), std::string::npos);
    RegCloseKey(key);
}

TEST_F(RegistryTest, TheDefaultFileFollowsXdgConfigHome) {
    RegSetFilePaths("", "");
    const char* xdg = getenv("XDG_CONFIG_HOME");
    ASSERT_NE(xdg, nullptr);
    EXPECT_EQ(RegUserFilePath(), std::string(xdg) + "/velotrax/user.reg");
}

}  // namespace

namespace {

TEST_F(RegistryTest, ValuesSavedByAnotherProcessShowUpWithoutASave) {
    HKEY key = Create("s");
    SetDWord(key, "mine", 1);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    SetDWord(key, "pending", 2);  // not saved yet
    RegCloseKey(key);

    vtest::WriteFile(m_user, UserText() + "[HKEY_CURRENT_USER\\s]\n\"theirs\"=dword:00000003\n");
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "s", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_EQ(GetDWord(key, "theirs", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(GetDWord(key, "pending", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 2u);
    EXPECT_EQ(GetDWord(key, "mine", v), ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace

namespace {

TEST_F(RegistryTest, ClassRegistrationsLiveBelowTheUsersClassesKey) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Velotrax.VelotraxCtrl.1", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    key = Create("Velotrax.VelotraxCtrl.1\\CLSID", HKEY_CLASSES_ROOT);
    const char clsid[] = "{00000000-0000-0000-0000-000000000001}";
    ASSERT_EQ(
        RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof clsid),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\classes\\velotrax.velotraxctrl.1\\clsid",
                           0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_NE(UserText().find(
                  "[HKEY_CURRENT_USER\\Software\\Classes\\Velotrax.VelotraxCtrl.1\\CLSID]\n@=\"{"),
              std::string::npos)
        << UserText();
}

}  // namespace
