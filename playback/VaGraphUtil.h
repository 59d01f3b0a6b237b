#pragma once
// Small helpers over the graph's enumerators, shared by the wrapper's files.
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShow.h"

namespace va {

// The filters of the graph, in the graph's order.
std::vector<CComPtr<IBaseFilter>> ListFilters(IFilterGraph* graph);
// The pins of the filter, only those of *direction when it is given.
std::vector<CComPtr<IPin>> ListPins(IBaseFilter* filter, const PIN_DIRECTION* direction = nullptr);
bool IsConnected(IPin* pin);
// The filter that owns the pin (counted), or null.
CComPtr<IBaseFilter> PinOwner(IPin* pin);
// The first filter of the graph that answers iid, or null.
CComPtr<IBaseFilter> FindFilterWith(IFilterGraph* graph, REFIID iid);

// The interface from the graph itself, or else from the first filter that
// answers it: the graph forwards renderer interfaces to its renderers.
template <class I>
CComPtr<I> GraphInterface(IFilterGraph* graph) {
    if (!graph)
        return nullptr;
    CComPtr<I> result(graph);
    if (!result) {
        CComPtr<IBaseFilter> filter = FindFilterWith(graph, I::iid);
        if (filter)
            result = filter.Get();
    }
    return result;
}

// a * b / c rounded to the nearest integer; -1 when c is 0.
LONG MulDiv(LONG a, LONG b, LONG c);

}  // namespace va
