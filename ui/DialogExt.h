#pragma once
// CDialogExt: the dialog base of the panels and the program's dialogs. It
// brings tooltips from the string tables, an accelerator table, command
// routing for its controls (a button click routes the button's id), idle-time
// updates of its controls through update handlers, and the flexible layout.
//
// A dialog builds its controls in CreateControls (its template: controls at
// fixed places, each registered with AddControl under its id), then
// OnInitDialog runs once. Key presses aimed at the dialog or any control in
// it pass through PreTranslateMessage first, innermost dialog first.
#include <QDialog>
#include <QPointer>
#include <map>
#include <string>

#include "ui/AccelTable.h"
#include "ui/CmdTarget.h"
#include "ui/NSFlex.h"

class QKeyEvent;
class QMenu;

class CDialogExt : public QDialog, public CCmdTarget {
    Q_OBJECT
public:
    explicit CDialogExt(QWidget* parent = nullptr);
    ~CDialogExt() override;

    // Builds and initialises the dialog as a child of 'parent' (a panel; it
    // then lives inside the parent's area) or, when child is false, as a
    // window owned by it. False when it was created before.
    bool Create(QWidget* parent, bool child = true);
    // Builds and initialises the dialog (once) and runs it modally:
    // 1 (IDOK) when accepted, 2 (IDCANCEL) otherwise.
    int DoModal();
    bool IsInitialised() const { return m_bInitialised; }

    // Loads an accelerator table by resource id; 0 clears it.
    void SetAccelerators(unsigned resourceId);
    const CAccelTable* GetAccelerators() const { return m_pAccel; }

    // Gives a control the tooltip of a string: the whole string, or the part
    // after its first line break. String id 0 removes the tooltip.
    void AddTool(unsigned controlId, unsigned stringId);
    bool AreTooltipsActive() const { return m_bTooltipsActive; }

    // Registers layout constraints (nothing by default).
    virtual void SetupLayout() {}
    // Adds the tooltips (nothing by default); called when tooltips are on.
    virtual void AddTooltips() {}
    // Runs the command update for all controls of the dialog.
    virtual void UpdateControls();

    // The controls of the template: sets the id and, for a button, routes a
    // click as the command with that id. Returns the control.
    template <class W>
    W* AddControl(W* control, unsigned id) {
        RegisterControl(control, id);
        return control;
    }
    QWidget* GetDlgItem(unsigned id) const { return ::GetDlgItem(this, id); }
    CNSFlex& Flex() { return m_flex; }

    // Key presses and releases for this dialog or a control in it; true
    // consumes the key. The default translates key presses with the
    // accelerator table except while the focus is in an edit field or a
    // combo box; a translated key is consumed.
    virtual bool PreTranslateMessage(QKeyEvent* event);
    // True when the key is in the accelerator table; its command was routed
    // (and dropped when disabled).
    bool TranslateAccelerator(QKeyEvent* event);

    // A popup menu of this dialog is about to show: its items are updated
    // through the dialog's command routing (enable, check, radio mark).
    virtual void OnInitMenuPopup(QMenu* popup);

    // The idle update: the panels update their controls here; it reaches
    // every visible dialog a short time after something happened.
    virtual void OnIdleUpdateCmdUI();
    // Runs OnIdleUpdateCmdUI on every dialog inside 'root' (itself included).
    static void SendIdleUpdateCmdUI(QWidget* root);
    // One round of the idle updates (what the timer runs): every visible
    // dialog, skipped while no event arrived since the last round. True when
    // it ran.
    static bool RunIdleUpdates();
    // The period of the idle updates in milliseconds (default 100).
    static void SetIdleUpdateInterval(int milliseconds);

    // Whether the focus widget is an edit field or a combo box.
    static bool IsEditOrComboFocus(const QWidget* focus);

protected:
    // The template: creates the controls (nothing by default).
    virtual void CreateControls() {}
    // Runs once after CreateControls: tooltips (option "Tooltips"), layout
    // engine and SetupLayout.
    virtual bool OnInitDialog();
    void keyPressEvent(QKeyEvent* event) override;

private:
    void RegisterControl(QWidget* control, unsigned id);
    bool Initialise();

    const CAccelTable* m_pAccel = nullptr;
    CNSFlex m_flex;
    bool m_bInitialised = false;
    bool m_bTooltipsActive = true;
};
