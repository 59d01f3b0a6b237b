#include "control/VelotraxOleFrame.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>

#include "options/AppOptions.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "ui/AccelTable.h"
#include "ui/Icons.h"
#include "ui/VideoPlayerCtrl.h"

namespace {

// The one keyboard hook of the process (free-floating frames only).
CVelotraxOleFrame* g_hookOwner = nullptr;

bool IsNavigationKey(int key) {
    return key == Qt::Key_End || key == Qt::Key_Home || key == Qt::Key_Left || key == Qt::Key_Up ||
           key == Qt::Key_Right || key == Qt::Key_Down;
}

bool IsEnterKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

CVelotraxOleFrame::CVelotraxOleFrame() {
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CVelotraxOleFrame::~CVelotraxOleFrame() {
    if (!m_destroyed)
        ReportExceptions([&] { DestroyWindow(); });
    RemoveHook();
    qApp->removeEventFilter(this);
    // Deleting the frame deletes the player window it still holds.
    delete m_player;
    m_player = nullptr;
}

bool CVelotraxOleFrame::IsEditLike(const QWidget* focus) {
    if (!focus)
        return false;
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QComboBox*>(focus) ||
        qobject_cast<const QAbstractSpinBox*>(focus))
        return true;
    const QWidget* parent = focus->parentWidget();
    return parent && (qobject_cast<const QComboBox*>(parent) ||
                      qobject_cast<const QAbstractSpinBox*>(parent));
}

bool CVelotraxOleFrame::CreateWindow(QWidget* control, bool freeFloating) {
    if (freeFloating) {
        // A top-level window owned by the control: it goes with it.
        setParent(control, Qt::Window);
        setWindowTitle(QString::fromStdString(LoadResString(IDS_APP_TITLE)));
        ApplyPlacement(
            QString::fromStdString(GetAppOptions().GetOption("Settings", "Pos").GetString()));
    } else {
        setParent(control);
        setGeometry(control ? control->rect() : QRect());
    }
    m_accel = LoadAccelTable(IDR_PLAYER_ACCEL);
    QIcon icon = LoadIconResource(1);
    if (!icon.isNull())
        setWindowIcon(icon);
    qApp->installEventFilter(this);
    if (freeFloating)
        InstallHook();
    return true;
}

void CVelotraxOleFrame::ApplyPlacement(const QString& text) {
    if (!isWindow())
        return;
    const QStringList parts = text.split(';');
    if (text == "Max") {
        setWindowState(windowState() | Qt::WindowMaximized);
        return;
    }
    if (parts.size() == 4) {
        bool ok[4] = {};
        int v[4];
        for (int i = 0; i < 4; ++i)
            v[i] = parts[i].trimmed().toInt(&ok[i]);
        if (ok[0] && ok[1] && ok[2] && ok[3] && v[2] > v[0] && v[3] > v[1]) {
            setGeometry(v[0], v[1], v[2] - v[0], v[3] - v[1]);
            return;
        }
    }
    // The default window rectangle: a size that fits the panels, placed by
    // the window system.
    resize(640, 520);
}

QString CVelotraxOleFrame::PlacementText() const {
    if (isMinimized())
        return QString();
    if (isMaximized())
        return "Max";
    QRect r = geometry();
    return QString("%1;%2;%3;%4")
        .arg(r.left())
        .arg(r.top())
        .arg(r.left() + r.width())
        .arg(r.top() + r.height());
}

bool CVelotraxOleFrame::Create(QWidget* control, bool freeFloating, bool locked) {
    if (!CreateWindow(control, freeFloating))
        return false;
    auto* player = new CVelotraxCtrl(this);
    player->SetLocked(locked);
    if (!player->Create(this, kPlayerId, rect())) {
        delete player;
        DestroyWindow();
        return false;
    }
    m_player = player;
    show();
    return true;
}

CVelotraxOleFrame* CVelotraxOleFrame::SwitchMode(QWidget* control, bool freeFloating) {
    auto* frame = new CVelotraxOleFrame;
    if (!frame->CreateWindow(control, freeFloating)) {
        delete frame;
        return nullptr;
    }
    if (CVelotraxCtrl* player = std::exchange(m_player, nullptr)) {
        frame->m_player = player;
        player->setParent(frame);
        player->RelinkPanels();
        player->setGeometry(frame->rect());
        player->show();
    }
    frame->m_callback = std::exchange(m_callback, nullptr);
    frame->show();
    DestroyWindow();
    return frame;
}

void CVelotraxOleFrame::DestroyWindow() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    if (IsFreeFloating()) {
        QString pos = PlacementText();
        if (!pos.isEmpty())
            GetAppOptions().SetOption("Settings", "Pos", CAppOpt(pos.toStdString()));
    }
    if (IVelotraxFrameCallback* callback = std::exchange(m_callback, nullptr))
        callback->OnFrameDestroyed();
    RemoveHook();
    qApp->removeEventFilter(this);
    hide();
    GetAppOptions().Flush();
    deleteLater();
}

void CVelotraxOleFrame::InstallHook() {
    // One hook per process: a second free-floating frame goes without.
    if (g_hookOwner)
        return;
    g_hookOwner = this;
    m_hooked = true;
}

void CVelotraxOleFrame::RemoveHook() {
    if (m_hooked && g_hookOwner == this)
        g_hookOwner = nullptr;
    m_hooked = false;
}

bool CVelotraxOleFrame::Translate(QKeyEvent* event) {
    if (!m_accel || event->type() != QEvent::KeyPress)
        return false;
    unsigned command = m_accel->Translate(*event);
    if (!command)
        return false;
    RouteCommand(command);
    return true;
}

bool CVelotraxOleFrame::HookKey(QKeyEvent* event) {
    if (!IsEnterKey(event->key()) && IsEditLike(QApplication::focusWidget()))
        return false;
    if (event->type() != QEvent::KeyPress) {
        // The release of a key the hook translated is swallowed as well.
        return m_accel && m_accel->Translate(event->key(), event->modifiers()) != 0;
    }
    return Translate(event);
}

bool CVelotraxOleFrame::PreTranslateMessage(QKeyEvent* event, QWidget* target) {
    if (IsFreeFloating() || !m_accel || IsEditLike(QApplication::focusWidget())) {
        if (!IsNavigationKey(event->key()) || !target)
            return false;
        // The key goes straight to the window it was meant for.
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                       event->isAutoRepeat(), event->count());
        m_sending = true;
        QApplication::sendEvent(target, &copy);
        m_sending = false;
        return true;
    }
    return Translate(event);
}

bool CVelotraxOleFrame::eventFilter(QObject* watched, QEvent* event) {
    if (m_sending || m_destroyed ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) ||
        !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // A key travels from the focus widget to its parents through the
    // application's filters: it is looked at once, at its first receiver.
    QWidget* focus = QApplication::focusWidget();
    if (focus ? widget != focus : !widget->isWindow())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    bool handled = false;
    ReportExceptions([&] {
        if (m_hooked && HookKey(key))
            handled = true;
        else if (widget == this || isAncestorOf(widget) ||
                 (parentWidget() && widget == parentWidget()))
            handled = PreTranslateMessage(key, widget);
    });
    return handled;
}

bool CVelotraxOleFrame::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    if (m_player && m_player->OnCmdMsg(id, code, cmdUI))
        return true;
    return CCmdTarget::OnCmdMsg(id, code, cmdUI);
}

void CVelotraxOleFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_player && !isMinimized())
        m_player->resize(size());
}

void CVelotraxOleFrame::closeEvent(QCloseEvent* event) {
    event->accept();
    ReportExceptions([&] { DestroyWindow(); });
}
