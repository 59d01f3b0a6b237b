#pragma once
// CVaWindowHook: the graph wrapper's hook on its notification object and
// on the video's host and top-level windows. Hooking is an event filter:
// the wrapper sees each event first, then the object itself does (unless
// the wrapper swallows it). A process-wide map tells which wrapper hooked
// which object; an object is hooked by at most one wrapper, and hooking it
// for another wrapper removes the older hook first. The map is touched
// only on the user-interface thread.
#include <QObject>

class CVaFilterGraphRep;

class CVaWindowHook : public QObject {
public:
    explicit CVaWindowHook(CVaFilterGraphRep* owner);
    ~CVaWindowHook() override;

    // Hooks 'window' for this wrapper; nothing when it already is.
    void Hook(QObject* window);
    // Removes this wrapper's hook from 'window' (nothing when not hooked by it).
    void Unhook(QObject* window);
    bool IsHooked(QObject* window) const;
    // The wrapper whose hook is on 'window', or null.
    static CVaFilterGraphRep* HookedBy(QObject* window);
    // Number of hooked objects in the process (for tests).
    static size_t HookCount();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CVaFilterGraphRep* m_owner;
};
