#pragma once
// The wait cursor shown while a clip's file opens. The user interface sets
// the hook; without one nothing happens.
#include <functional>

// Called with true when waiting begins and with false when it ends.
using WaitCursorHook = std::function<void(bool waiting)>;
void SetWaitCursorHook(WaitCursorHook hook);

// Shows the wait cursor for its lifetime.
class CWaitCursorScope {
public:
    CWaitCursorScope();
    ~CWaitCursorScope();
    CWaitCursorScope(const CWaitCursorScope&) = delete;
    CWaitCursorScope& operator=(const CWaitCursorScope&) = delete;
};
