#include "ui/PlayPanel.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "options/AppOptions.h"
#include "support/Exception.h"
#include "ui/PlayerIds.h"

CPlayPanel::CPlayPanel(QWidget* parent) : CDialogExt(parent) {}

CPlayPanel::~CPlayPanel() {
    if (m_advised)
        GetAppOptions().Unadvise(this);
}

void CPlayPanel::Create(unsigned templateId, QWidget* parent) {
    m_templateId = templateId;
    if (parent && parentWidget() != parent)
        setParent(parent);
    CDialogExt::Create(parent, true);
    m_preferredSize = size();
    LoadPanelOptions();
}

void CPlayPanel::SetPlayOpt(int id, const CPlayOpt& option) {
    m_options[id] = option;
}

void CPlayPanel::SetPanelMode(int mode) {
    m_panelMode = mode;
    UpdatePanelMode();
}

const CPlayOpt* CPlayPanel::FindPlayOpt(int id) const {
    auto it = m_options.find(id);
    return it == m_options.end() ? nullptr : &it->second;
}

CAppOpt CPlayPanel::GetOpt(int id) const {
    const CPlayOpt* opt = FindPlayOpt(id);
    if (!opt)
        return CAppOpt();
    return GetAppOptions().GetOption(opt->section, opt->key, opt->def);
}

void CPlayPanel::SetOpt(int id, const CAppOpt& value) {
    if (const CPlayOpt* opt = FindPlayOpt(id))
        GetAppOptions().SetOption(opt->section, opt->key, value);
}

void CPlayPanel::ResetOpt(int id) {
    const CPlayOpt* opt = FindPlayOpt(id);
    // A whole-section record is never reset through its id.
    if (opt && !opt->key.empty())
        GetAppOptions().DeleteOption(opt->section, opt->key);
}

void CPlayPanel::AdviseOpt(int id) {
    if (const CPlayOpt* opt = FindPlayOpt(id)) {
        GetAppOptions().Advise(opt->section, opt->key, this, uint32_t(id));
        m_advised = true;
    }
}

void CPlayPanel::SaveOptionsOnce() {
    if (m_saved)
        return;
    m_saved = true;
    ReportExceptions([&] { SavePanelOptions(); });
}

void CPlayPanel::PostActivity() {
    if (QWidget* parent = parentWidget())
        QCoreApplication::postEvent(parent, new QEvent(QEvent::Type(WM_PANEL_ACTIVITY)));
}

bool CPlayPanel::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    bool handled = CDialogExt::OnCmdMsg(id, code, cmdUI);
    if (handled && code != CN_UPDATE_COMMAND_UI)
        PostActivity();
    return handled;
}

bool CPlayPanel::PreTranslateMessage(QKeyEvent* key) {
    QEvent* event = key;
    const bool down = event->type() == QEvent::KeyPress;
    const bool alt = key->modifiers() & Qt::AltModifier;
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (down && key->key() == Qt::Key_Escape && !alt) {
        OnEscapeKey();
        return true;
    }
    if (down && enter && OnEnterKey(alt))
        return true;
    if (m_keyFallback && m_keyFallback != this)
        return m_keyFallback->PreTranslateMessage(key);
    if (IsFullScreen()) {
        // Full screen: every key is the panel's, accelerators included.
        DialogPreTranslate(key);
        return true;
    }
    return DialogPreTranslate(key);
}

bool CPlayPanel::event(QEvent* event) {
    bool result = CDialogExt::event(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            PostActivity();
            break;
        default:
            break;
    }
    return result;
}
