#include <mutex>

#include "platform/dshow/DShow.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/SystemClock.h"

bool RegisterMediaGraphClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterClassFactory(CLSID_SystemClock, &CreateAndQuery<CSystemClock>);
        RegisterClassFactory(CLSID_FilterGraph, &CreateAndQuery<CFilterGraph>);
    });
    return true;
}
