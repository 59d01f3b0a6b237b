// A stand-in for the maker's desktop applications, for the hand-off tests.
// It takes a kind's bus name (kind 3: also the shared-memory object with its
// process id), serves the application interface and logs what it receives,
// one line each, to the file named by VELOTRAX_STANDIN_LOG:
//
//   pid PID                  once, first
//   start ARGS...            once, with its command-line arguments
//   ready PID                the bus name is taken
//   copydata CODE SIZE HEX   every CopyData message
//   activate                 every Activate
//
// Its kind comes from its file name (veloTRAX.exe 1, zentraVISOR.exe 2,
// velotrax.exe 3) or VELOTRAX_STANDIN_KIND. VELOTRAX_STANDIN_MODAL=1 makes it
// report a modal window, VELOTRAX_STANDIN_NONAME=1 never takes the name,
// VELOTRAX_STANDIN_SILENT=1 takes the name but serves nothing. It quits on
// the method Quit, on SIGTERM or SIGINT, and after two minutes at the latest.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

namespace {

const char kInterface[] = "com.korvani.MainWindow";
const char kMapping[] = "/velotrax5_Interop";
int g_signalPipe[2] = {-1, -1};

void Log(const QString& line) {
    QFile file(qEnvironmentVariable("VELOTRAX_STANDIN_LOG"));
    if (file.fileName().isEmpty() || !file.open(QIODevice::Append | QIODevice::Text))
        return;
    file.write((line + '\n').toUtf8());
}

class CStandInWindow : public QDBusVirtualObject {
public:
    explicit CStandInWindow(bool modal) : m_modal(modal) {}

    QString introspect(const QString&) const override {
        return QStringLiteral(
                   "<interface name=\"%1\">"
                   "<method name=\"CopyData\"><arg type=\"u\" direction=\"in\"/>"
                   "<arg type=\"ay\" direction=\"in\"/></method>"
                   "<method name=\"Activate\"/><method name=\"Quit\"/>"
                   "<property name=\"Modal\" type=\"b\" access=\"read\"/>"
                   "</interface>")
            .arg(kInterface);
    }

    bool handleMessage(const QDBusMessage& msg, const QDBusConnection& bus) override {
        const QString member = msg.member();
        const QList<QVariant> args = msg.arguments();
        QDBusMessage reply = msg.createReply();
        if (msg.interface() == "org.freedesktop.DBus.Properties" && member == "Get" &&
            args.size() == 2 && args[1].toString() == "Modal") {
            reply = msg.createReply(QVariant::fromValue(QDBusVariant(m_modal)));
        } else if (member == "CopyData" && args.size() == 2) {
            QByteArray data = args[1].toByteArray();
            Log(QStringLiteral("copydata %1 %2 %3")
                    .arg(args[0].toUInt())
                    .arg(data.size())
                    .arg(QString::fromLatin1(data.toHex())));
        } else if (member == "Activate") {
            Log(QStringLiteral("activate"));
        } else if (member == "Quit") {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        } else {
            reply = msg.createErrorReply(QDBusError::UnknownMethod, member);
        }
        if (msg.isReplyRequired())
            bus.send(reply);
        return true;
    }

private:
    bool m_modal;
};

void OnSignal(int) {
    char c = 0;
    [[maybe_unused]] auto n = write(g_signalPipe[1], &c, 1);
}

int KindOf(const QString& program) {
    bool ok = false;
    int kind = qEnvironmentVariableIntValue("VELOTRAX_STANDIN_KIND", &ok);
    if (ok)
        return kind;
    QString name = QFileInfo(program).fileName();
    if (name == "veloTRAX.exe")
        return 1;
    if (name == "zentraVISOR.exe")
        return 2;
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    const int kind = KindOf(args.takeFirst());
    Log(QStringLiteral("pid %1").arg(getpid()));
    Log(QStringLiteral("start ") + args.join(' '));

    if (pipe(g_signalPipe) == 0) {
        signal(SIGTERM, OnSignal);
        signal(SIGINT, OnSignal);
    }
    QSocketNotifier onSignal(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);

    QDBusConnection bus = QDBusConnection::sessionBus();
    CStandInWindow window(qEnvironmentVariableIntValue("VELOTRAX_STANDIN_MODAL") == 1);
    const char* busClass = kind == 1   ? "ZAN_VELOTRAX_CLASS"
                           : kind == 2 ? "ZAN_ZENTRAVISOR_CLASS"
                                       : "velotrax5_Interop";
    bool ownsMapping = false;
    if (qEnvironmentVariableIntValue("VELOTRAX_STANDIN_NONAME") != 1) {
        if (kind == 3) {
            int fd = shm_open(kMapping, O_RDWR | O_CREAT | O_TRUNC, 0600);
            int32_t pid = getpid();
            ownsMapping = fd >= 0 && write(fd, &pid, 4) == 4;
            if (fd >= 0)
                close(fd);
        }
        if (qEnvironmentVariableIntValue("VELOTRAX_STANDIN_SILENT") != 1)
            bus.registerVirtualObject("/MainWindow", &window);
        if (!bus.registerService(QStringLiteral("com.korvani.") + busClass)) {
            std::fprintf(stderr, "stand-in: bus name taken\n");
            return 1;
        }
        Log(QStringLiteral("ready %1").arg(getpid()));
    }
    int rc = app.exec();
    if (ownsMapping)
        shm_unlink(kMapping);
    return rc;
}
