#pragma once
// CVelotraxOleFrame: the window that carries the player window for the
// control, either embedded in the control or free-floating as a top-level
// window the control owns. It keeps its placement in the options, routes
// commands and accelerator keys to the player and tells the control when
// it goes away.
#include <QWidget>

#include "ui/CmdTarget.h"

class CVelotraxCtrl;
class CAccelTable;
class QKeyEvent;

class IVelotraxFrameCallback {
public:
    virtual void OnFrameDestroyed() = 0;

protected:
    ~IVelotraxFrameCallback() = default;
};

class CVelotraxOleFrame : public QWidget, public CCmdTarget {
public:
    static constexpr unsigned kPlayerId = 1;

    CVelotraxOleFrame();
    ~CVelotraxOleFrame() override;

    // Creates the window in 'control' (embedded) or owned by it
    // (free-floating) and the player inside; false (window destroyed) when
    // the player cannot be made.
    bool Create(QWidget* control, bool freeFloating, bool locked);
    // A new frame in the other mode holding this frame's player; this frame
    // is destroyed. Null when the new window cannot be made.
    CVelotraxOleFrame* SwitchMode(QWidget* control, bool freeFloating);
    bool IsFreeFloating() const { return isWindow(); }

    CVelotraxCtrl* GetPlayer() const { return m_player; }
    void SetCallback(IVelotraxFrameCallback* callback) { m_callback = callback; }

    // The window's end (the user closed it, the control drops it): saves
    // the placement, tells the control, removes the keyboard hook and
    // flushes the options. The object is deleted later by the event loop.
    void DestroyWindow();

    // Key pre-processing: true when the key was handled here.
    bool PreTranslateMessage(QKeyEvent* event, QWidget* target);

    bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) override;

    // Placement text as stored in option "Pos": "Max", "l;t;r;b" or empty
    // (minimised: nothing is stored).
    QString PlacementText() const;
    // Applies a stored placement to a free-floating window.
    void ApplyPlacement(const QString& text);

    // The widget classes treated as edit fields by the key rules.
    static bool IsEditLike(const QWidget* focus);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool CreateWindow(QWidget* control, bool freeFloating);
    bool HookKey(QKeyEvent* event);
    bool Translate(QKeyEvent* event);
    void InstallHook();
    void RemoveHook();

    CVelotraxCtrl* m_player = nullptr;
    IVelotraxFrameCallback* m_callback = nullptr;
    const CAccelTable* m_accel = nullptr;
    bool m_hooked = false;
    bool m_destroyed = false;
    bool m_sending = false;
};
