#include "playback/VaGraphUtil.h"

#include <cstdlib>

namespace va {

std::vector<CComPtr<IBaseFilter>> ListFilters(IFilterGraph* graph) {
    std::vector<CComPtr<IBaseFilter>> result;
    if (!graph)
        return result;
    CComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)) || !filters)
        return result;
    filters->Reset();
    for (;;) {
        IBaseFilter* filter = nullptr;
        ULONG fetched = 0;
        if (filters->Next(1, &filter, &fetched) != S_OK || fetched == 0 || !filter)
            break;
        CComPtr<IBaseFilter> held;
        held.Attach(filter);
        result.push_back(std::move(held));
    }
    return result;
}

std::vector<CComPtr<IPin>> ListPins(IBaseFilter* filter, const PIN_DIRECTION* direction) {
    std::vector<CComPtr<IPin>> result;
    if (!filter)
        return result;
    CComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return result;
    for (;;) {
        IPin* pin = nullptr;
        ULONG fetched = 0;
        if (pins->Next(1, &pin, &fetched) != S_OK || fetched == 0 || !pin)
            break;
        CComPtr<IPin> held;
        held.Attach(pin);
        PIN_DIRECTION dir = PINDIR_INPUT;
        if (direction && (FAILED(held->QueryDirection(&dir)) || dir != *direction))
            continue;
        result.push_back(std::move(held));
    }
    return result;
}

bool IsConnected(IPin* pin) {
    if (!pin)
        return false;
    CComPtr<IPin> peer;
    return SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
}

CComPtr<IBaseFilter> PinOwner(IPin* pin) {
    CComPtr<IBaseFilter> owner;
    if (!pin)
        return owner;
    PIN_INFO info;
    if (SUCCEEDED(pin->QueryPinInfo(&info)))
        owner.Attach(info.pFilter);
    return owner;
}

CComPtr<IBaseFilter> FindFilterWith(IFilterGraph* graph, REFIID iid) {
    for (CComPtr<IBaseFilter>& filter : ListFilters(graph)) {
        void* out = nullptr;
        if (SUCCEEDED(filter->QueryInterface(iid, &out)) && out) {
            static_cast<IUnknown*>(out)->Release();
            return filter;
        }
    }
    return nullptr;
}

LONG MulDiv(LONG a, LONG b, LONG c) {
    if (c == 0)
        return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    int64_t half = std::llabs(c) / 2;
    // Round half away from zero.
    bool negative = (product < 0) != (c < 0);
    int64_t q = (std::llabs(product) + half) / std::llabs(c);
    return static_cast<LONG>(negative ? -q : q);
}

}  // namespace va
