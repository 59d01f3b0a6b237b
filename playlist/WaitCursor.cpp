#include "playlist/WaitCursor.h"

namespace {
WaitCursorHook& Hook() {
    static WaitCursorHook hook;
    return hook;
}
}  // namespace

void SetWaitCursorHook(WaitCursorHook hook) {
    Hook() = std::move(hook);
}

CWaitCursorScope::CWaitCursorScope() {
    if (Hook())
        Hook()(true);
}

CWaitCursorScope::~CWaitCursorScope() {
    try {
        if (Hook())
            Hook()(false);
    } catch (...) {
        // a failing cursor must not hide the failure that unwinds through here
    }
}
