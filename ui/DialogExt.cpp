#include "ui/DialogExt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSet>
#include <QTextEdit>
#include <QTimer>

#include "options/AppOptions.h"
#include "resources/StringTable.h"
#include "support/Exception.h"

namespace {

// Every live dialog, for the idle updates.
QSet<CDialogExt*>& Dialogs() {
    static QSet<CDialogExt*> dialogs;
    return dialogs;
}

// Hands key events to the dialogs around the widget they are aimed at before
// the widget sees them, and runs the idle updates.
class CDialogHub : public QObject {
public:
    static CDialogHub& Instance() {
        static CDialogHub* hub = new CDialogHub;
        return *hub;
    }
    void SetInterval(int ms) { m_timer.setInterval(ms); }

    // Updates every visible dialog, unless nothing happened since the last
    // run; true when the updates ran.
    bool RunIdleUpdates() {
        if (!m_bChanged)
            return false;
        m_bChanged = false;
        // What the updates themselves cause (enable, check) is no news.
        m_bUpdating = true;
        const auto dialogs = Dialogs().values();
        for (CDialogExt* dialog : dialogs) {
            if (Dialogs().contains(dialog) && dialog->isVisible())
                ReportExceptions([dialog] { dialog->OnIdleUpdateCmdUI(); });
        }
        m_bUpdating = false;
        return true;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Any event but the idle timer's own tick may have changed the state
        // of a command (input, a posted notification, another timer...).
        if (!m_bUpdating && watched != &m_timer)
            m_bChanged = true;
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        if (!watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        // A key the focus widget ignored travels on to its parents through
        // this filter again; it was offered to the dialogs already.
        if (event == m_lastEvent && m_lastReceiver && widget != QApplication::focusWidget() &&
            widget->isAncestorOf(m_lastReceiver))
            return false;
        m_lastEvent = event;
        m_lastReceiver = widget;
        bool consumed = false;
        ReportExceptions([&]() {
            for (QWidget* w = widget; w && !consumed; w = w->parentWidget()) {
                if (auto* dialog = qobject_cast<CDialogExt*>(w))
                    consumed = dialog->PreTranslateMessage(static_cast<QKeyEvent*>(event));
            }
        });
        return consumed;
    }

private:
    CDialogHub() {
        qApp->installEventFilter(this);
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { RunIdleUpdates(); });
        m_timer.start();
    }

    QTimer m_timer;
    bool m_bChanged = true;
    bool m_bUpdating = false;
    QEvent* m_lastEvent = nullptr;
    QPointer<QWidget> m_lastReceiver;
};

}  // namespace

CDialogExt::CDialogExt(QWidget* parent) : QDialog(parent) {
    Dialogs().insert(this);
    if (qApp)
        CDialogHub::Instance();
}

CDialogExt::~CDialogExt() {
    Dialogs().remove(this);
    m_flex.Detach();
}

bool CDialogExt::Create(QWidget* parent, bool child) {
    if (m_bInitialised)
        return false;
    if (parent != parentWidget())
        setParent(parent);
    // A child dialog is part of its parent's area.
    setWindowFlags(child && parent ? Qt::Widget : Qt::Dialog);
    return Initialise();
}

int CDialogExt::DoModal() {
    if (!m_bInitialised && !Initialise())
        return 3;
    return exec() == QDialog::Accepted ? 1 : 2;
}

bool CDialogExt::Initialise() {
    m_bInitialised = true;
    CreateControls();
    return OnInitDialog();
}

bool CDialogExt::OnInitDialog() {
    m_bTooltipsActive = GetAppOptions().GetOption("", "Tooltips", CAppOpt(true)).GetBool();
    if (m_bTooltipsActive)
        AddTooltips();
    // Panels (children) and resizable windows keep their controls in place.
    const bool resizable = !isWindow() || minimumSize() != maximumSize();
    if (resizable) {
        // A window whose controls sit in a layout takes its laid-out size
        // first: that size is the engine's reference and the minimum.
        if (isWindow() && layout() && !testAttribute(Qt::WA_Resized))
            adjustSize();
        m_flex.Attach(this, 0, 0);
        SetupLayout();
    }
    return true;
}

void CDialogExt::SetAccelerators(unsigned resourceId) {
    m_pAccel = resourceId ? LoadAccelTable(resourceId) : nullptr;
}

void CDialogExt::AddTool(unsigned controlId, unsigned stringId) {
    QWidget* control = GetDlgItem(controlId);
    if (!control)
        return;
    if (stringId == 0 || !m_bTooltipsActive) {
        control->setToolTip(QString());
        return;
    }
    std::string text = LoadResString(stringId);
    // "status text\ntooltip": the tooltip is the part after the line break.
    if (size_t nl = text.find('\n'); nl != std::string::npos)
        text = text.substr(nl + 1);
    control->setToolTip(QString::fromStdString(text));
}

void CDialogExt::UpdateControls() {
    UpdateDialogControls(this, this, false);
}

void CDialogExt::RegisterControl(QWidget* control, unsigned id) {
    if (!control)
        return;
    if (control->parentWidget() == nullptr)
        control->setParent(this);
    SetDlgCtrlID(control, id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id]() { ReportExceptions([this, id] { RouteCommand(id); }); });
    }
}

bool CDialogExt::IsEditOrComboFocus(const QWidget* focus) {
    if (!focus)
        return false;
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QTextEdit*>(focus) ||
        qobject_cast<const QPlainTextEdit*>(focus) || qobject_cast<const QComboBox*>(focus))
        return true;
    // The edit field of a combo box.
    return qobject_cast<const QComboBox*>(focus->parentWidget()) != nullptr;
}

bool CDialogExt::TranslateAccelerator(QKeyEvent* event) {
    if (!m_pAccel || event->type() != QEvent::KeyPress)
        return false;
    unsigned command = m_pAccel->Translate(*event);
    if (!command)
        return false;
    RouteCommand(command);
    return true;
}

bool CDialogExt::PreTranslateMessage(QKeyEvent* event) {
    if (event->type() != QEvent::KeyPress || !m_pAccel)
        return false;
    if (IsEditOrComboFocus(QApplication::focusWidget()))
        return false;
    return TranslateAccelerator(event);
}

void CDialogExt::OnInitMenuPopup(QMenu* popup) {
    UpdateMenuItems(popup, this);
}

void CDialogExt::OnIdleUpdateCmdUI() {
    UpdateControls();
}

void CDialogExt::SendIdleUpdateCmdUI(QWidget* root) {
    if (!root)
        return;
    if (auto* dialog = qobject_cast<CDialogExt*>(root))
        dialog->OnIdleUpdateCmdUI();
    const auto dialogs = root->findChildren<CDialogExt*>();
    for (CDialogExt* dialog : dialogs)
        dialog->OnIdleUpdateCmdUI();
}

bool CDialogExt::RunIdleUpdates() {
    return CDialogHub::Instance().RunIdleUpdates();
}

void CDialogExt::SetIdleUpdateInterval(int milliseconds) {
    CDialogHub::Instance().SetInterval(milliseconds);
}

void CDialogExt::keyPressEvent(QKeyEvent* event) {
    // Escape does not close a panel that lives inside another window.
    if (!isWindow() && event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
