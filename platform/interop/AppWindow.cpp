#include "platform/interop/AppWindow.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const char kBusService[] = "org.freedesktop.DBus";
const char kBusPath[] = "/org/freedesktop/DBus";
const char kBusInterface[] = "org.freedesktop.DBus";

// A blocking call with the short time-out; nothing on error or time-out.
std::optional<QDBusMessage> Call(QDBusMessage msg) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    msg.setAutoStartService(false);
    QDBusMessage reply = bus.call(msg, QDBus::Block, kAppCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply;
}

std::optional<QDBusMessage> BusCall(const char* method, const QString& name) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface, method);
    msg << name;
    return Call(msg);
}

}  // namespace

QString AppBusName(const char* className) {
    return QStringLiteral("com.korvani.") + QString::fromLatin1(className);
}

CAppWindow FindAppWindow(const QString& busName) {
    auto owner = BusCall("GetNameOwner", busName);
    if (!owner)
        return {};
    CAppWindow window;
    window.m_connection = owner->arguments().at(0).toString();
    auto pid = BusCall("GetConnectionUnixProcessID", window.m_connection);
    if (window.m_connection.isEmpty() || !pid)
        return {};
    window.m_pid = pid_t(pid->arguments().at(0).toUInt());
    // A name whose owner does not answer as an application is no window.
    if (window.m_pid <= 0 || !IsAppModal(window))
        return {};
    return window;
}

bool IsAppWindow(const CAppWindow& window) {
    if (window.IsNull())
        return false;
    auto has = BusCall("NameHasOwner", window.m_connection);
    return has && has->arguments().at(0).toBool();
}

std::optional<bool> IsAppModal(const CAppWindow& window) {
    if (window.IsNull())
        return std::nullopt;
    QDBusMessage msg = QDBusMessage::createMethodCall(window.m_connection, kAppObjectPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    msg << QString::fromLatin1(kAppInterface) << QStringLiteral("Modal");
    auto reply = Call(msg);
    if (!reply)
        return std::nullopt;
    QVariant value = reply->arguments().at(0);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

namespace {
bool Post(const CAppWindow& window, const char* method, const QList<QVariant>& args) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (window.IsNull() || !bus.isConnected())
        return false;
    QDBusMessage msg =
        QDBusMessage::createMethodCall(window.m_connection, kAppObjectPath, kAppInterface, method);
    msg.setArguments(args);
    msg.setAutoStartService(false);
    // Sent without a reply expected. Messages from one connection to one
    // destination arrive in order, so a posted message never overtakes an
    // earlier one.
    return bus.send(msg);
}
}  // namespace

bool PostAppCopyData(const CAppWindow& window, uint32_t code, const QByteArray& data) {
    return Post(window, "CopyData", {QVariant::fromValue(code), QVariant::fromValue(data)});
}

bool ActivateAppWindow(const CAppWindow& window) {
    return Post(window, "Activate", {});
}
