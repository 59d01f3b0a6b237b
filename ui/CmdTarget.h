#pragma once
// Command routing. Buttons, menu items and accelerator keys all speak in
// command ids; a command travels through a chain of CCmdTarget objects until
// one of them handles it (first handler wins). The same chain answers update
// queries: a CCmdUI asks whether a command is enabled, checked or carries a
// text, and applies the answer to the control or menu item it stands for.
#include <QPointer>
#include <functional>
#include <map>
#include <string>
#include <utility>

class QAction;
class QMenu;
class QWidget;
class CCmdUI;

// Notification codes passed with a command id. A command (button click, menu
// item, accelerator) is CN_COMMAND; an update query is CN_UPDATE_COMMAND_UI
// and carries a CCmdUI. Controls report their own events with their codes.
constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int CBN_DBLCLK = 2;
constexpr int CBN_SETFOCUS = 3;
constexpr int CBN_KILLFOCUS = 4;
constexpr int CBN_EDITCHANGE = 5;
constexpr int CBN_DROPDOWN = 7;
constexpr int CBN_CLOSEUP = 8;
constexpr int DTN_DATETIMECHANGE = -759;

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Offers a command, a control notification or (code CN_UPDATE_COMMAND_UI)
    // an update query to this target. The default looks in the target's own
    // handler table, then offers the message to the next target. True when
    // someone handled it.
    virtual bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI);

    // Entry point for a command the user gave (button, menu, accelerator):
    // asks first whether the command is enabled (a disabled command is
    // dropped, reported as handled), then routes it through OnCmdMsg and,
    // when nobody along the chain takes it, to the application's target.
    bool RouteCommand(unsigned id, int code = CN_COMMAND);
    // Runs an update query through OnCmdMsg (and the application's target);
    // true when some handler answered.
    bool RouteUpdate(CCmdUI& cmdUI);

    // The target offered what this one does not handle (not owned; may be null).
    void SetNextCmdTarget(CCmdTarget* next) { m_pNextCmdTarget = next; }
    CCmdTarget* GetNextCmdTarget() const { return m_pNextCmdTarget; }

    // The application's target, the last stop of every routed command.
    static void SetAppCmdTarget(CCmdTarget* target);
    static CCmdTarget* GetAppCmdTarget();

protected:
    // The handler table (the class's message map), filled by the constructor
    // of a derived class. A later registration for the same id replaces the
    // earlier one.
    void OnCommand(unsigned id, std::function<void()> handler);
    void OnCommandRange(unsigned first, unsigned last, std::function<void(unsigned)> handler);
    // A control notification (code other than CN_COMMAND).
    void OnNotify(unsigned id, int code, std::function<void()> handler);
    void OnUpdateCommand(unsigned id, std::function<void(CCmdUI*)> handler);
    void OnUpdateCommandRange(unsigned first, unsigned last, std::function<void(CCmdUI*)> handler);

    // Only the target's own table; true when a handler ran.
    bool DispatchOwn(unsigned id, int code, CCmdUI* cmdUI);

private:
    struct CRange {
        unsigned last;
        int code;
        std::function<void(unsigned, CCmdUI*)> handler;
    };
    // Keyed by (first id, code); single ids are ranges of one.
    std::multimap<unsigned, CRange> m_handlers;
    CCmdTarget* m_pNextCmdTarget = nullptr;

    void AddHandler(unsigned first, unsigned last, int code,
                    std::function<void(unsigned, CCmdUI*)> handler);
};

// The state of one command as its update handler sees it. Enable, SetCheck,
// SetRadio and SetText record the answer and apply it to the control or menu
// item (when there is one); a property that already has the value is not set
// again, so an idle update that changes nothing repaints nothing.
class CCmdUI {
public:
    explicit CCmdUI(unsigned id) : m_nID(id) {}
    // Stands for a control (button, combo, slider, label...).
    CCmdUI(unsigned id, QWidget* control) : m_nID(id), m_pOther(control) {}
    // Stands for a menu item.
    CCmdUI(unsigned id, QAction* action) : m_nID(id), m_pAction(action) {}
    virtual ~CCmdUI() = default;

    virtual void Enable(bool on = true);
    // 0 unchecked, 1 checked, 2 indeterminate.
    virtual void SetCheck(int check = 1);
    virtual void SetRadio(bool on = true);
    virtual void SetText(const std::string& text);
    // Lets the query travel on to later targets although this one answered.
    void ContinueRouting() { m_bContinueRouting = true; }

    // Runs the query through 'target'; when nobody answers and
    // disableIfNoHandler is set, disables the item. True when answered.
    bool DoUpdate(CCmdTarget* target, bool disableIfNoHandler);

    unsigned m_nID;
    QPointer<QWidget> m_pOther;
    QPointer<QAction> m_pAction;
    bool m_bContinueRouting = false;
    // What the handlers answered.
    bool m_bEnableChanged = false;
    bool m_bEnabled = true;
    bool m_bCheckChanged = false;
    int m_nCheck = 0;
    bool m_bRadio = false;
    bool m_bTextChanged = false;
    std::string m_strText;
};

// Control ids: every control of a dialog carries its id as in the dialog's
// design, so layout, tooltips, update handlers and commands find it by id.
void SetDlgCtrlID(QWidget* control, unsigned id);
// 0 when the widget has no id.
unsigned GetDlgCtrlID(const QWidget* control);
// The descendant of 'parent' with the id (direct children first), or null.
QWidget* GetDlgItem(const QWidget* parent, unsigned id);

// Updates every control with an id among the descendants of 'dialog' that
// does not belong to a nested dialog of its own, through 'target's routing.
// Controls without a handler keep their state unless disableIfNoHandler.
void UpdateDialogControls(QWidget* dialog, CCmdTarget* target, bool disableIfNoHandler);
// Updates the items of a popup menu (enable, check, radio mark, text) through
// 'target's routing; an item that opens a submenu is updated through the
// first item of that submenu; items removed during the update are skipped.
void UpdateMenuItems(QMenu* menu, CCmdTarget* target);
// The command id a menu item carries (0 for separators and submenus).
unsigned GetMenuItemID(const QAction* action);
