#include "control/ExternalApp.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cmath>
#include <limits>

#include "options/RegistryKey.h"
#include "platform/interop/ProcessInfo.h"
#include "support/Exception.h"
#include "support/VersionInfo.h"

namespace {

constexpr uint64_t Version(uint64_t major, uint64_t minor, uint64_t build, uint64_t revision) {
    return major << 48 | minor << 32 | build << 16 | revision;
}

const CExternalApp::CKindInfo kKinds[] = {
    {3, "velotrax5_Interop", "velotrax5_Interop", "velotrax.exe", "orbalis velotrax 5",
     Version(5, 0, 3, 1)},
    {1, "ZAN_VELOTRAX_CLASS", nullptr, "veloTRAX.exe", "orbalis veloTRAX", Version(4, 0, 7, 1)},
    {2, "ZAN_ZENTRAVISOR_CLASS", nullptr, "zentraVISOR.exe", "orbalis zentraVISOR",
     Version(2, 0, 4, 1)},
};

// Starts the application on its own, its standard streams on the null
// device: it must not hold on to the host's terminal or pipes (a host whose
// output is read to its end would otherwise wait for the application).
bool StartDetached(const std::string& path) {
    QProcess process;
    process.setProgram(QString::fromStdString(path));
    process.setArguments({QStringLiteral("-nosplash")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool Qualifies(const std::string& path, uint64_t minVersion) {
    return !path.empty() && GetFileVersion64(path) >= minVersion;
}

}  // namespace

const char* const CExternalApp::kCompanyKeys[2] = {"Korvani", "Korvani Software"};

const CExternalApp::CKindInfo* CExternalApp::KindInfo(int kind) {
    for (const CKindInfo& info : kKinds)
        if (info.kind == kind)
            return &info;
    return nullptr;
}

CExternalApp::CExternalApp()
    : m_waitSchedule{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000},
      m_alive(std::make_shared<bool>(true)) {
    // VELOTRAX_EXTERNAL_WAIT=MS,MS,... replaces the waits (tests, slow
    // machines); anything that is not a list of numbers keeps them.
    const QByteArray waits = qgetenv("VELOTRAX_EXTERNAL_WAIT");
    std::vector<int> schedule;
    for (const QByteArray& part : waits.split(',')) {
        bool ok = false;
        int ms = part.trimmed().toInt(&ok);
        if (!ok || ms < 0 || ms > 600000)
            return;
        schedule.push_back(ms);
    }
    if (!waits.isEmpty())
        m_waitSchedule = std::move(schedule);
}

CExternalApp::~CExternalApp() {
    *m_alive = false;
    if (m_waitLoop) {
        m_waitLoop->quit();
        return;
    }
    // Posted messages leave with the next write; a call answered by the
    // application means they all went out before the process may end.
    if (!m_window.IsNull() && m_posted)
        IsAppModal(m_window);
}

void CExternalApp::Forget() {
    m_kind = kindNone;
    m_path.clear();
    m_window = {};
    m_pending.clear();
    ++m_generation;
}

void CExternalApp::LookFor(bool preferLocalApp) {
    Forget();
    if (!preferLocalApp)
        return;
    for (const CKindInfo& info : kKinds)
        if (FindRunning(info))
            return;
    for (const CKindInfo& info : kKinds)
        if (FindInstalled(info))
            return;
}

CAppWindow CExternalApp::FindMainWindow(const CKindInfo& info) const {
    QString busName = AppBusName(info.busClass);
    if (!info.mapping)
        return FindAppWindow(busName);
    // The mapping names the process; its bus name must belong to that very
    // process, so a mapping left behind by a dead or another process, or a
    // name taken by some other program, is no window.
    auto word = ReadSharedMemoryWord(info.mapping);
    if (!word)
        return {};
    auto pid = static_cast<pid_t>(static_cast<int32_t>(*word));
    if (pid <= 0 || !IsProcessRunning(pid))
        return {};
    CAppWindow window = FindAppWindow(busName);
    if (window.m_pid != pid)
        return {};
    return window;
}

bool CExternalApp::FindRunning(const CKindInfo& info) {
    CAppWindow window = FindMainWindow(info);
    if (window.IsNull())
        return false;
    std::string path = GetProcessExecutable(window.m_pid);
    if (!Qualifies(path, info.minVersion))
        return false;
    m_kind = info.kind;
    m_path = path;
    m_window = window;
    return true;
}

bool CExternalApp::FindInstalled(const CKindInfo& info) {
    for (const char* company : kCompanyKeys) {
        for (auto root : {CRegistryKey::currentUser, CRegistryKey::localMachine}) {
            std::string dir;
            try {
                dir = CRegistryKey(root)
                          .OpenSubKey("Software")
                          .OpenSubKey(company)
                          .OpenSubKey(info.productKey)
                          .GetString(kInstallDirValue, {});
            } catch (const CException&) {
                continue;  // an unreadable key makes this place unavailable
            }
            if (dir.empty())
                continue;
            std::string path = dir;
            if (path.back() != '/')
                path += '/';
            path += info.exeName;
            if (Qualifies(path, info.minVersion)) {
                m_kind = info.kind;
                m_path = path;
                return true;
            }
        }
    }
    return false;
}

CExternalApp::EWait CExternalApp::WaitForMainWindow(const CKindInfo& info) {
    // The original blocked the user-interface thread for up to 55 seconds;
    // here the event loop keeps running and the name's appearance ends a
    // wait early.
    QDBusServiceWatcher watcher(AppBusName(info.busClass), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::shared_ptr<bool> alive = m_alive;
    const unsigned generation = m_generation;
    const std::vector<int> schedule = m_waitSchedule;

    for (size_t step = 0;; ++step) {
        m_window = FindMainWindow(info);
        if (!m_window.IsNull())
            return EWait::found;
        if (step == schedule.size())
            return EWait::missing;
        QDeadlineTimer deadline(schedule[step]);
        while (!deadline.hasExpired()) {
            timer.start(int(std::max<qint64>(0, deadline.remainingTime())));
            m_waitLoop = &loop;
            loop.exec();
            if (!*alive)
                return EWait::abandoned;  // destroyed meanwhile: touch nothing
            m_waitLoop = nullptr;
            if (generation != m_generation)
                return EWait::abandoned;  // looked for again meanwhile
            if (!deadline.hasExpired()) {
                m_window = FindMainWindow(info);
                if (!m_window.IsNull())
                    return EWait::found;
            }
        }
    }
}

bool CExternalApp::StartAndActivate() {
    const CKindInfo* info = KindInfo(m_kind);
    if (!info)
        return false;
    if (m_starting)
        return true;
    if (!IsAppWindow(m_window))
        m_window = FindMainWindow(*info);
    if (m_window.IsNull()) {
        // Without a session bus a started application could never be
        // addressed: fall back at once instead of waiting for it.
        if (!QDBusConnection::sessionBus().isConnected() || !StartDetached(m_path)) {
            Forget();
            return false;
        }
        m_starting = true;
        std::shared_ptr<bool> alive = m_alive;
        EWait result = WaitForMainWindow(*info);
        if (!*alive)
            return false;
        m_starting = false;
        if (result != EWait::found) {
            if (result == EWait::missing)
                Forget();
            return false;
        }
    }
    m_posted = ActivateAppWindow(m_window);
    std::vector<std::pair<uint32_t, QByteArray>> pending;
    pending.swap(m_pending);
    for (auto& [code, data] : pending)
        Deliver(code, std::move(data));
    return true;
}

bool CExternalApp::IsWindowKnown() {
    const CKindInfo* info = KindInfo(m_kind);
    if (!info || m_starting)
        return false;
    if (!IsAppWindow(m_window))
        m_window = FindMainWindow(*info);
    return !m_window.IsNull();
}

std::string CExternalApp::Describe() const {
    if (!IsChosen())
        return "none";
    std::string text = "kind " + std::to_string(m_kind) + " path " + m_path + " window ";
    if (m_starting)
        return text + "starting";
    if (m_window.IsNull())
        return text + "none";
    return text + m_window.m_connection.toStdString() + " pid " + std::to_string(m_window.m_pid);
}

std::unique_ptr<IVelotraxExternalApp> CreateExternalApp() {
    return std::make_unique<CExternalApp>();
}

bool CExternalApp::Deliver(uint32_t code, QByteArray data) {
    if (m_starting) {
        m_pending.emplace_back(code, std::move(data));
        return true;
    }
    if (m_window.IsNull())
        return false;
    // Sent only while no modal window of the application is active; an
    // application that does not answer gets nothing either.
    std::optional<bool> modal = IsAppModal(m_window);
    m_posted = false;
    if (!modal || *modal)
        return false;
    m_posted = PostAppCopyData(m_window, code, data);
    return m_posted;
}

bool CExternalApp::Send(uint32_t code) {
    return Deliver(code, {});
}

bool CExternalApp::SendValue(uint32_t code, int32_t value) {
    return Deliver(code, ValueData(value));
}

bool CExternalApp::SendBool(uint32_t code, bool value) {
    return SendValue(code, value ? -1 : 0);
}

bool CExternalApp::SendString(uint32_t code, const std::string& text) {
    return Deliver(code, StringData(text));
}

bool CExternalApp::SendRate(double rate) {
    return SendValue(codeRate, RateValue(rate));
}

QByteArray CExternalApp::ValueData(int32_t value) {
    auto v = static_cast<uint32_t>(value);
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((v >> (8 * i)) & 0xFF);
    return data;
}

QByteArray CExternalApp::StringData(const std::string& text) {
    // The byte count is the one the applications expect: twice the text's
    // bytes plus a terminator. Past the converted text the buffer is zero
    // (the original sent whatever its buffer held there).
    QString wide = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QByteArray data(qsizetype(2 * (text.size() + 1)), '\0');
    for (qsizetype i = 0; i < wide.size() && 2 * i + 1 < data.size(); ++i) {
        char16_t c = wide.at(i).unicode();
        data[2 * i] = char(c & 0xFF);
        data[2 * i + 1] = char(c >> 8);
    }
    return data;
}

int32_t CExternalApp::RateValue(double rate) {
    double scaled = std::trunc(rate * 100.0);
    if (std::isnan(scaled))
        return 0;
    if (scaled >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (scaled <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return int32_t(scaled);
}
