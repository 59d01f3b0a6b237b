// The hand-off to the desktop applications, against the stand-in on the
// test's private session bus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "control/ExternalApp.h"
#include "platform/registry/Registry.h"
#include "tests/TestSupport.h"

namespace {

const char kMapping[] = "/velotrax5_Interop";
const std::string kBin = STANDIN_DIR;
const std::string kOld = kBin + "/velotrax_standin_4070";  // 4.0.7.0
const std::string kMin = kBin + "/velotrax_standin_4071";  // 4.0.7.1
const std::string kNew = kBin + "/velotrax_standin";       // 5.0.3.1

// Runs the event loop until 'done' holds or 20 s passed.
bool WaitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

class ExternalAppTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
        shm_unlink(kMapping);
        m_log = m_dir.File("standin.log");
        std::filesystem::remove(m_log);
        qputenv("VELOTRAX_STANDIN_LOG", QByteArray::fromStdString(m_log));
        for (const char* v : {"VELOTRAX_STANDIN_MODAL", "VELOTRAX_STANDIN_NONAME",
                              "VELOTRAX_STANDIN_SILENT", "VELOTRAX_STANDIN_KIND"})
            qunsetenv(v);
        RegSetFilePaths(m_dir.File("user.reg"), m_dir.File("system.reg"));
    }

    void TearDown() override {
        // Stand-ins started by the control are not ours to wait for: end
        // them by the process ids they logged.
        for (const std::string& line : Lines())
            if (line.rfind("pid ", 0) == 0)
                kill(pid_t(std::stol(line.substr(4))), SIGTERM);
        for (auto& p : m_procs) {
            p->terminate();
            p->waitForFinished(5000);
        }
        m_procs.clear();
        shm_unlink(kMapping);
        RegSetFilePaths("", "");
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string text = std::filesystem::exists(m_log) ? vtest::ReadFile(m_log) : "";
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        return lines;
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const std::string& line : Lines())
            if (line.rfind("copydata", 0) == 0 || line == "activate" || line.rfind("start", 0) == 0)
                out.push_back(line);
        return out;
    }
    size_t CountReady() const {
        size_t n = 0;
        for (const std::string& line : Lines())
            n += line.rfind("ready", 0) == 0;
        return n;
    }

    // Starts a stand-in of 'kind' and waits until it took its name.
    void RunStandIn(const std::string& exe, int kind, const char* flag = nullptr) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELOTRAX_STANDIN_KIND", QString::number(kind));
        if (flag)
            env.insert(flag, "1");
        p->setProcessEnvironment(env);
        size_t before = CountReady();
        p->start(QString::fromStdString(exe), {});
        ASSERT_TRUE(p->waitForStarted(10000));
        m_procs.push_back(std::move(p));
        ASSERT_TRUE(WaitFor([&] { return CountReady() > before; }));
    }

    void Install(HKEY root, const char* company, const char* product, const std::string& dir) {
        HKEY key = nullptr;
        std::string path = std::string("Software\\") + company + "\\" + product;
        ASSERT_EQ(RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr),
                  ERROR_SUCCESS);
        RegSetValueEx(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                      DWORD(dir.size() + 1));
        RegCloseKey(key);
    }

    vtest::TempDir m_dir;
    std::string m_log;
    std::vector<std::unique_ptr<QProcess>> m_procs;
};

void WriteMapping(const std::string& bytes) {
    int fd = shm_open(kMapping, O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
}
std::string PidBytes(int32_t pid) {
    return std::string(reinterpret_cast<const char*>(&pid), 4);
}

TEST_F(ExternalAppTest, RunningApplicationsByKindVersionAndOrder) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, int>> standIns;
        bool prefer;
        int kind;
    } cases[] = {
        {"not preferred", {{kMin, 1}}, false, 0},
        {"kind 1 below the minimum", {{kOld, 1}}, true, 0},
        {"kind 1 at the minimum", {{kMin, 1}}, true, 1},
        {"kind 2", {{kMin, 2}}, true, 2},
        {"kind 3 wins over kind 1", {{kMin, 1}, {kNew, 3}}, true, 3},
        {"kind 3 below its minimum", {{kMin, 3}}, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& [exe, kind] : c.standIns)
            RunStandIn(exe, kind);
        CExternalApp app;
        app.LookFor(c.prefer);
        EXPECT_EQ(app.GetKind(), c.kind);
        if (c.kind) {
            EXPECT_EQ(app.GetPath(), (c.kind == 3 ? kNew : kMin));
            EXPECT_FALSE(app.GetWindow().IsNull());
        }
        TearDown();
        SetUp();
    }
}

TEST_F(ExternalAppTest, BadRunningStateMakesTheKindUnavailable) {
    pid_t dead = 0;
    {
        QProcess p;
        p.start("/bin/true", {});
        ASSERT_TRUE(p.waitForFinished(10000));
        dead = pid_t(p.processId());
    }
    struct Case {
        const char* name;
        std::string mapping;  // empty: none
        const char* flag;     // stand-in of kind 1 with this switch, or none
    } cases[] = {
        {"mapping too short", "\x01\x02", nullptr},
        {"garbage in the mapping", PidBytes(0x7ffffff0), nullptr},
        {"negative process id", PidBytes(-5), nullptr},
        {"process not running", PidBytes(dead), nullptr},
        {"running process without the name", PidBytes(getpid()), nullptr},
        {"stale bus name", {}, "VELOTRAX_STANDIN_SILENT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.mapping.empty())
            WriteMapping(c.mapping);
        if (c.flag)
            RunStandIn(kMin, 1, c.flag);
        CExternalApp app;
        app.LookFor(true);
        EXPECT_EQ(app.GetKind(), 0);
        EXPECT_FALSE(app.Send(CExternalApp::codePlay));
        TearDown();
        SetUp();
    }
    // A kind-3 stand-in whose mapping names another process is no window.
    RunStandIn(kNew, 3);
    WriteMapping(PidBytes(getpid()));
    CExternalApp app;
    app.LookFor(true);
    EXPECT_EQ(app.GetKind(), 0);
}

TEST_F(ExternalAppTest, InstalledApplicationsFromTheRegistry) {
    const std::string dir = m_dir.File("install dir with spaces");
    std::filesystem::create_directories(dir);
    struct Case {
        const char* name;
        HKEY root;
        const char* company;
        const char* product;
        std::string target;  // what the executable is a link to
        std::string exeName;
        int kind;
    } cases[] = {
        {"user, short company", HKEY_CURRENT_USER, "Korvani", "orbalis veloTRAX", kMin,
         "veloTRAX.exe", 1},
        {"machine, full company", HKEY_LOCAL_MACHINE, "Korvani Software", "orbalis velotrax 5",
         kNew, "velotrax.exe", 3},
        {"too old", HKEY_CURRENT_USER, "Korvani", "orbalis veloTRAX", kOld, "veloTRAX.exe", 0},
        {"no version note", HKEY_CURRENT_USER, "Korvani", "orbalis zentraVISOR", "/bin/true",
         "zentraVISOR.exe", 0},
        {"no executable", HKEY_CURRENT_USER, "Korvani", "orbalis veloTRAX", {}, "veloTRAX.exe", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir + "/" + c.exeName);
        if (!c.target.empty())
            std::filesystem::create_symlink(c.target, dir + "/" + c.exeName);
        if (c.root == HKEY_LOCAL_MACHINE) {
            // The machine's keys are read-only: written as its file.
            vtest::WriteFile(m_dir.File("system.reg"),
                             std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\") +
                                 c.company + "\\" + c.product + "]\n\"InstallDir\"=\"" + dir +
                                 "\"\n");
            RegReload();
        } else {
            Install(c.root, c.company, c.product, dir);
        }
        CExternalApp app;
        app.LookFor(true);
        EXPECT_EQ(app.GetKind(), c.kind);
        if (c.kind) {
            EXPECT_EQ(app.GetPath(), dir + "/" + c.exeName);
        }
        TearDown();
        std::filesystem::remove(m_dir.File("user.reg"));
        std::filesystem::remove(m_dir.File("system.reg"));
        SetUp();
    }
}

TEST_F(ExternalAppTest, InstalledApplicationIsStartedAndReceivesTheMessages) {
    const std::string dir = m_dir.File("dir with spaces");
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(kMin, dir + "/veloTRAX.exe");
    Install(HKEY_CURRENT_USER, "Korvani", "orbalis veloTRAX", dir);
    CExternalApp app;
    app.LookFor(true);
    ASSERT_EQ(app.GetKind(), 1);
    ASSERT_TRUE(app.GetWindow().IsNull());
    EXPECT_FALSE(app.IsWindowKnown());
    ASSERT_TRUE(app.StartAndActivate());
    EXPECT_TRUE(app.IsWindowKnown());
    EXPECT_EQ(app.Describe().rfind("kind 1 path " + dir + "/veloTRAX.exe window :", 0), 0u);
    EXPECT_TRUE(app.SendString(CExternalApp::codeMediaLocation, "/m/"));
    EXPECT_TRUE(app.Send(CExternalApp::codePlay));
    EXPECT_TRUE(app.SendRate(1.5));
    EXPECT_TRUE(app.SendString(CExternalApp::codeFileName, "0123456789"));
    EXPECT_TRUE(app.SendBool(CExternalApp::codeRepeat, true));
    EXPECT_TRUE(app.SendValue(CExternalApp::codeCurrentPos, -2));
    const std::vector<std::string> expected = {
        "start -nosplash",
        "activate",
        "copydata 30 8 2f006d002f000000",
        "copydata 40 0 ",
        "copydata 51 4 96000000",
        "copydata 11 22 30003100320033003400350036003700380039000000",
        "copydata 52 4 ffffffff",
        "copydata 60 4 feffffff",
    };
    EXPECT_TRUE(WaitFor([&] { return Messages().size() >= expected.size(); }));
    EXPECT_EQ(Messages(), expected);
    // Running now: a second start finds it and only activates it.
    ASSERT_TRUE(app.StartAndActivate());
    EXPECT_TRUE(WaitFor([&] { return Messages().size() > expected.size(); }));
    EXPECT_EQ(Messages().back(), "activate");
}

TEST_F(ExternalAppTest, ModalApplicationReceivesNothing) {
    RunStandIn(kMin, 1, "VELOTRAX_STANDIN_MODAL");
    CExternalApp app;
    app.LookFor(true);
    ASSERT_EQ(app.GetKind(), 1);
    EXPECT_FALSE(app.Send(CExternalApp::codePlay));
    EXPECT_FALSE(app.SendRate(2.0));
    // The modal query answered after the messages would have arrived.
    EXPECT_TRUE(IsAppModal(app.GetWindow()).value_or(false));
    EXPECT_EQ(Messages(), std::vector<std::string>{"start "});
}

TEST_F(ExternalAppTest, ApplicationThatNeverAppearsIsForgottenWithoutFreezing) {
    const std::string dir = m_dir.File("app");
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(kMin, dir + "/veloTRAX.exe");
    Install(HKEY_CURRENT_USER, "Korvani", "orbalis veloTRAX", dir);
    qputenv("VELOTRAX_STANDIN_NONAME", "1");
    CExternalApp app;
    app.SetWaitSchedule({100, 200, 300});
    app.LookFor(true);
    ASSERT_EQ(app.GetKind(), 1);
    int ticks = 0;
    bool sentDuringWait = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        // A request arriving meanwhile neither starts a second copy nor is
        // sent anywhere.
        sentDuringWait = app.StartAndActivate() && app.IsStarting();
    });
    timer.start(10);
    EXPECT_FALSE(app.StartAndActivate());
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(sentDuringWait);
    EXPECT_EQ(app.GetKind(), 0);
    EXPECT_FALSE(app.Send(CExternalApp::codePlay));
    auto starts = [&] {
        size_t n = 0;
        for (const std::string& line : Lines())
            n += line.rfind("start", 0) == 0;
        return n;
    };
    EXPECT_TRUE(WaitFor([&] { return starts() >= 1; }));
    EXPECT_EQ(starts(), 1u);

    // An executable that went away after it was found cannot be started.
    std::filesystem::remove(dir + "/veloTRAX.exe");
    std::filesystem::create_symlink(kMin, dir + "/veloTRAX.exe");
    app.LookFor(true);
    ASSERT_EQ(app.GetKind(), 1);
    std::filesystem::remove(dir + "/veloTRAX.exe");
    EXPECT_FALSE(app.StartAndActivate());
    EXPECT_EQ(app.GetKind(), 0);
}

TEST(ExternalAppData, DataForms) {
    EXPECT_EQ(CExternalApp::RateValue(1.5), 150);
    EXPECT_EQ(CExternalApp::RateValue(0.333), 33);
    EXPECT_EQ(CExternalApp::RateValue(-0.5), -50);
    EXPECT_EQ(CExternalApp::RateValue(1e12), INT32_MAX);
    EXPECT_EQ(CExternalApp::RateValue(std::nan("")), 0);
    EXPECT_EQ(CExternalApp::StringData("").toHex(), "0000");
    // Two UTF-8 bytes, one UTF-16 unit: 2 x (2 + 1) bytes, zeros after it.
    EXPECT_EQ(CExternalApp::StringData("\xc3\xa4").toHex(), "e40000000000");
}

}  // namespace
