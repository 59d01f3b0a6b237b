#include "ui/CmdTarget.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QVariant>
#include <QWidget>

#include "ui/NiftyButton.h"

namespace {

const char* const kCtrlIdProperty = "velotraxCtrlId";
CCmdTarget* g_pAppCmdTarget = nullptr;

}  // namespace

bool CCmdTarget::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    if (DispatchOwn(id, code, cmdUI))
        return true;
    return m_pNextCmdTarget && m_pNextCmdTarget->OnCmdMsg(id, code, cmdUI);
}

bool CCmdTarget::RouteCommand(unsigned id, int code) {
    if (code == CN_COMMAND) {
        // A command that became disabled since its control was last updated
        // (or an accelerator for a disabled command) is dropped.
        CCmdUI probe(id);
        if (RouteUpdate(probe) && !probe.m_bEnabled)
            return true;
    }
    if (OnCmdMsg(id, code, nullptr))
        return true;
    CCmdTarget* app = GetAppCmdTarget();
    return app && app != this && app->OnCmdMsg(id, code, nullptr);
}

bool CCmdTarget::RouteUpdate(CCmdUI& cmdUI) {
    cmdUI.m_bContinueRouting = false;
    if (OnCmdMsg(cmdUI.m_nID, CN_UPDATE_COMMAND_UI, &cmdUI))
        return true;
    CCmdTarget* app = GetAppCmdTarget();
    return app && app != this && app->OnCmdMsg(cmdUI.m_nID, CN_UPDATE_COMMAND_UI, &cmdUI);
}

void CCmdTarget::SetAppCmdTarget(CCmdTarget* target) {
    g_pAppCmdTarget = target;
}
CCmdTarget* CCmdTarget::GetAppCmdTarget() {
    return g_pAppCmdTarget;
}

void CCmdTarget::AddHandler(unsigned first, unsigned last, int code,
                            std::function<void(unsigned, CCmdUI*)> handler) {
    auto range = m_handlers.equal_range(first);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.code == code && it->second.last == last) {
            it->second.handler = std::move(handler);
            return;
        }
    }
    m_handlers.emplace(first, CRange{last, code, std::move(handler)});
}

void CCmdTarget::OnCommand(unsigned id, std::function<void()> handler) {
    AddHandler(id, id, CN_COMMAND, [h = std::move(handler)](unsigned, CCmdUI*) { h(); });
}

void CCmdTarget::OnCommandRange(unsigned first, unsigned last,
                                std::function<void(unsigned)> handler) {
    AddHandler(first, last, CN_COMMAND, [h = std::move(handler)](unsigned id, CCmdUI*) { h(id); });
}

void CCmdTarget::OnNotify(unsigned id, int code, std::function<void()> handler) {
    AddHandler(id, id, code, [h = std::move(handler)](unsigned, CCmdUI*) { h(); });
}

void CCmdTarget::OnUpdateCommand(unsigned id, std::function<void(CCmdUI*)> handler) {
    AddHandler(id, id, CN_UPDATE_COMMAND_UI,
               [h = std::move(handler)](unsigned, CCmdUI* ui) { h(ui); });
}

void CCmdTarget::OnUpdateCommandRange(unsigned first, unsigned last,
                                      std::function<void(CCmdUI*)> handler) {
    AddHandler(first, last, CN_UPDATE_COMMAND_UI,
               [h = std::move(handler)](unsigned, CCmdUI* ui) { h(ui); });
}

bool CCmdTarget::DispatchOwn(unsigned id, int code, CCmdUI* cmdUI) {
    if (code == CN_UPDATE_COMMAND_UI && !cmdUI)
        return false;
    // Ranges start at or below the id; the table is small.
    for (auto it = m_handlers.begin(); it != m_handlers.end() && it->first <= id; ++it) {
        const CRange& range = it->second;
        if (range.code != code || id > range.last)
            continue;
        if (code == CN_UPDATE_COMMAND_UI) {
            cmdUI->m_bContinueRouting = false;
            range.handler(id, cmdUI);
            if (cmdUI->m_bContinueRouting)
                continue;
            return true;
        }
        range.handler(id, cmdUI);
        return true;
    }
    return false;
}

void CCmdUI::Enable(bool on) {
    m_bEnableChanged = true;
    m_bEnabled = on;
    if (m_pAction) {
        if (m_pAction->isEnabled() != on)
            m_pAction->setEnabled(on);
    } else if (m_pOther) {
        if (m_pOther->isEnabled() != on)
            m_pOther->setEnabled(on);
    }
}

void CCmdUI::SetCheck(int check) {
    m_bCheckChanged = true;
    m_nCheck = check;
    bool on = check != 0;
    if (m_pAction) {
        if (!m_pAction->isCheckable())
            m_pAction->setCheckable(true);
        if (m_pAction->isChecked() != on)
            m_pAction->setChecked(on);
    } else if (auto* nifty = qobject_cast<CNiftyButton*>(m_pOther.data())) {
        nifty->SetCheck(on);
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_pOther.data())) {
        if (button->isCheckable() && button->isChecked() != on)
            button->setChecked(on);
    }
}

void CCmdUI::SetRadio(bool on) {
    SetCheck(on ? 1 : 0);
    m_bRadio = on;
}

void CCmdUI::SetText(const std::string& text) {
    m_bTextChanged = true;
    m_strText = text;
    QString value = QString::fromStdString(text);
    if (m_pAction) {
        if (m_pAction->text() != value)
            m_pAction->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_pOther.data())) {
        if (button->text() != value)
            button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(m_pOther.data())) {
        if (label->text() != value)
            label->setText(value);
    } else if (auto* edit = qobject_cast<QLineEdit*>(m_pOther.data())) {
        if (edit->text() != value)
            edit->setText(value);
    }
}

bool CCmdUI::DoUpdate(CCmdTarget* target, bool disableIfNoHandler) {
    if (!target)
        return false;
    bool handled = target->RouteUpdate(*this);
    if (!handled && disableIfNoHandler)
        Enable(false);
    return handled;
}

void SetDlgCtrlID(QWidget* control, unsigned id) {
    if (control)
        control->setProperty(kCtrlIdProperty, QVariant::fromValue(id));
}

unsigned GetDlgCtrlID(const QWidget* control) {
    if (!control)
        return 0;
    QVariant value = control->property(kCtrlIdProperty);
    return value.isValid() ? value.toUInt() : 0;
}

QWidget* GetDlgItem(const QWidget* parent, unsigned id) {
    if (!parent || id == 0)
        return nullptr;
    const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (GetDlgCtrlID(child) == id)
            return child;
    }
    for (QWidget* child : children) {
        // Nested dialogs keep their controls to themselves.
        if (dynamic_cast<CCmdTarget*>(child))
            continue;
        if (QWidget* found = GetDlgItem(child, id))
            return found;
    }
    return nullptr;
}

namespace {

void UpdateChildren(QWidget* parent, CCmdTarget* target, bool disableIfNoHandler) {
    const auto children = parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (dynamic_cast<CCmdTarget*>(child))
            continue;
        if (unsigned id = GetDlgCtrlID(child)) {
            CCmdUI ui(id, child);
            ui.DoUpdate(target, disableIfNoHandler);
        }
        UpdateChildren(child, target, disableIfNoHandler);
    }
}

}  // namespace

void UpdateDialogControls(QWidget* dialog, CCmdTarget* target, bool disableIfNoHandler) {
    if (dialog && target)
        UpdateChildren(dialog, target, disableIfNoHandler);
}

unsigned GetMenuItemID(const QAction* action) {
    if (!action || action->isSeparator() || action->menu())
        return 0;
    return action->data().toUInt();
}

void UpdateMenuItems(QMenu* menu, CCmdTarget* target) {
    if (!menu || !target)
        return;
    const auto actions = menu->actions();
    for (const QPointer<QAction> action : actions) {
        // A handler may remove items from the menu while it is updated.
        if (!action || !menu->actions().contains(action.data()))
            continue;
        if (action->isSeparator())
            continue;
        if (QMenu* sub = action->menu()) {
            // A submenu item follows the state of the submenu's first item.
            const auto subActions = sub->actions();
            if (subActions.isEmpty() || !GetMenuItemID(subActions.first()))
                continue;
            CCmdUI probe(GetMenuItemID(subActions.first()));
            if (probe.DoUpdate(target, false) && probe.m_bEnableChanged)
                action->setEnabled(probe.m_bEnabled);
            continue;
        }
        unsigned id = GetMenuItemID(action);
        if (!id)
            continue;
        CCmdUI ui(id, action.data());
        // Menu items without a handler are greyed, as a frame window does.
        ui.DoUpdate(target, true);
    }
}
