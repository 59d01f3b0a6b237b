#pragma once
// CVaCheckEvent: receives each graph event the wrapper's event pump
// (CVaFilterGraphRep::ProcessEvents) takes from the graph.
#include "platform/dshow/DShow.h"

class CVaCheckEvent {
public:
    virtual void OnEvent(long eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    virtual ~CVaCheckEvent() = default;
};
