#include "support/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "resources/StringTable.h"

namespace {
std::mutex& HandlerLock() {
    static std::mutex m;
    return m;
}
MessageBoxHandler& Handler() {
    static MessageBoxHandler h;
    return h;
}

int ToStandardError(const std::string& text) {
    std::fprintf(stderr, "velotrax: %s\n", text.c_str());
    std::fflush(stderr);
    return IDOK;
}

QMessageBox::Icon IconFor(unsigned type) {
    switch (type & 0xF0) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int ShowBox(const std::string& text, unsigned type) {
    QMessageBox box(IconFor(type), QApplication::applicationDisplayName(),
                    QString::fromStdString(text));
    switch (type & 0x0F) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    if (type & MB_SYSTEMMODAL)
        box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return IDOK;
    }
}

int DefaultHandler(const std::string& text, unsigned type, unsigned) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    const char* test = std::getenv("VELOTRAX_TEST");
    if (!app || (test && *test) || QGuiApplication::platformName() == "offscreen")
        return ToStandardError(text);
    if (QThread::currentThread() != app->thread()) {
        // Another thread never blocks on the user interface: the box is
        // shown later by the UI thread, and the text is logged now.
        ToStandardError(text);
        QMetaObject::invokeMethod(
            app, [text, type] { ShowBox(text, type); }, Qt::QueuedConnection);
        return IDOK;
    }
    return ShowBox(text, type);
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard guard(HandlerLock());
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

int AfxMessageBox(const std::string& text, unsigned type, unsigned helpId) {
    MessageBoxHandler handler;
    {
        std::lock_guard guard(HandlerLock());
        handler = Handler();
    }
    try {
        return handler ? handler(text, type, helpId) : DefaultHandler(text, type, helpId);
    } catch (...) {
        return ToStandardError(text);
    }
}

int AfxMessageBox(unsigned stringId, unsigned type, unsigned helpId) {
    if (helpId == unsigned(-1))
        helpId = stringId;
    return AfxMessageBox(LoadResString(stringId), type, helpId);
}
