#include "playback/VaWindowHook.h"

#include <map>

#include "playback/VaFilterGraph.h"
#include "support/Exception.h"

namespace {

struct CHookEntry {
    CVaWindowHook* hook = nullptr;
    QMetaObject::Connection destroyed;
};

// window -> the hook on it
std::map<QObject*, CHookEntry>& HookMap() {
    static std::map<QObject*, CHookEntry> map;
    return map;
}

}  // namespace

CVaWindowHook::CVaWindowHook(CVaFilterGraphRep* owner) : m_owner(owner) {}

CVaWindowHook::~CVaWindowHook() {
    auto& map = HookMap();
    for (auto it = map.begin(); it != map.end();) {
        if (it->second.hook == this) {
            it->first->removeEventFilter(this);
            QObject::disconnect(it->second.destroyed);
            it = map.erase(it);
        } else {
            ++it;
        }
    }
}

void CVaWindowHook::Hook(QObject* window) {
    if (!window)
        return;
    auto& map = HookMap();
    auto it = map.find(window);
    if (it != map.end()) {
        if (it->second.hook == this)
            return;
        it->second.hook->Unhook(window);
    }
    window->installEventFilter(this);
    CHookEntry entry;
    entry.hook = this;
    // A destroyed object leaves the map before it is gone.
    entry.destroyed = QObject::connect(window, &QObject::destroyed, this,
                                       [window]() { HookMap().erase(window); });
    map[window] = entry;
}

void CVaWindowHook::Unhook(QObject* window) {
    if (!window)
        return;
    auto& map = HookMap();
    auto it = map.find(window);
    if (it == map.end() || it->second.hook != this)
        return;
    window->removeEventFilter(this);
    QObject::disconnect(it->second.destroyed);
    map.erase(it);
}

bool CVaWindowHook::IsHooked(QObject* window) const {
    auto it = HookMap().find(window);
    return it != HookMap().end() && it->second.hook == this;
}

CVaFilterGraphRep* CVaWindowHook::HookedBy(QObject* window) {
    auto it = HookMap().find(window);
    return it == HookMap().end() ? nullptr : it->second.hook->m_owner;
}

size_t CVaWindowHook::HookCount() {
    return HookMap().size();
}

bool CVaWindowHook::eventFilter(QObject* watched, QEvent* event) {
    // Nothing may escape into the event loop.
    bool swallow = false;
    ReportExceptions([&] { swallow = m_owner->OnHookedEvent(watched, event); });
    return swallow;
}
