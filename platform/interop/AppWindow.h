#pragma once
// The main "window" of a desktop application on this platform. A running
// application owns a well-known name on the D-Bus session bus and serves, on
// the object kAppObjectPath, the interface kAppInterface:
//
//   method   CopyData(u code, ay data)  one WM_COPYDATA message (no reply needed)
//   method   Activate()                 come to the front: restore when
//                                       minimised, raise the active popup
//   property Modal (b, read)            a modal window of the application is
//                                       active (GetLastActivePopup differs)
//
// A window handle is the unique connection name of the name's owner: an
// application that quits and starts again is a new window. Every call here
// has a short time-out; a failure or time-out answers "no window".
#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <optional>

inline constexpr const char kAppObjectPath[] = "/MainWindow";
inline constexpr const char kAppInterface[] = "com.korvani.MainWindow";
// Time-out of every call that waits for an answer, in milliseconds.
inline constexpr int kAppCallTimeoutMs = 500;

struct CAppWindow {
    QString m_connection;  // unique name (":1.42"); empty: no window
    pid_t m_pid = 0;       // the owner's process

    bool IsNull() const { return m_connection.isEmpty(); }
    bool operator==(const CAppWindow&) const = default;
};

// The well-known bus name derived from a window class or mapping name.
QString AppBusName(const char* className);

// FindWindow: the window of the application that owns 'busName' and answers
// as an application; null otherwise (no session bus, no owner, an owner that
// serves nothing or does not answer in time).
CAppWindow FindAppWindow(const QString& busName);
// IsWindow: the window's connection is still on the bus.
bool IsAppWindow(const CAppWindow& window);
// Whether a modal window of the application is active; nothing when the
// application does not answer.
std::optional<bool> IsAppModal(const CAppWindow& window);
// Posts one CopyData message without waiting for it; false when it could not
// be queued.
bool PostAppCopyData(const CAppWindow& window, uint32_t code, const QByteArray& data);
// Asks the application to come to the front, without waiting.
bool ActivateAppWindow(const CAppWindow& window);
