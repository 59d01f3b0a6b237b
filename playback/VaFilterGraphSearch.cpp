// The wrapper's search operations: filters by interface, pins by direction
#include <memory>
// and media type, and the filters connected to a filter.
#include "playback/VaFilterGraph.h"
#include "playback/VaGraphUtil.h"

namespace {

// Graphs are acyclic; the bound only protects against a broken one.
constexpr int kMaxFollowDepth = 64;

bool TypeMatches(const AM_MEDIA_TYPE& mt, REFGUID major, REFGUID sub, REFGUID format) {
    return mt.majortype == major && (sub == GUID_NULL || mt.subtype == sub) &&
           (format == GUID_NULL || mt.formattype == format);
}

CComPtr<IPin> FindPinAt(IBaseFilter* filter, PIN_DIRECTION direction, REFGUID major, REFGUID sub,
                        REFGUID format, bool unconnectedOnly, bool followDownstream, int depth) {
    if (!filter || depth > kMaxFollowDepth)
        return nullptr;
    for (CComPtr<IPin>& pin : va::ListPins(filter, &direction)) {
        if (!unconnectedOnly) {
            if (CVaFilterGraphRep::PinSupportsType(pin, major, sub, format))
                return pin;
            continue;
        }
        CComPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer) {
            if (CVaFilterGraphRep::PinSupportsType(pin, major, sub, format))
                return pin;
            continue;
        }
        if (followDownstream) {
            CComPtr<IBaseFilter> next = va::PinOwner(peer);
            CComPtr<IPin> found =
                FindPinAt(next, direction, major, sub, format, true, true, depth + 1);
            if (found)
                return found;
        }
    }
    return nullptr;
}

bool FindConnectedPinAt(IBaseFilter* filter, PIN_DIRECTION direction, bool followPeers,
                        REFGUID major, REFGUID sub, REFGUID format, CComPtr<IPin>* pinOut,
                        CComPtr<IPin>* peerOut, CComPtr<IBaseFilter>* peerFilterOut, int depth) {
    if (!filter || depth > kMaxFollowDepth)
        return false;
    for (CComPtr<IPin>& pin : va::ListPins(filter, &direction)) {
        CComPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer)
            continue;
        if (CVaFilterGraphRep::PinSupportsType(pin, major, sub, format)) {
            if (pinOut)
                *pinOut = pin;
            if (peerFilterOut)
                *peerFilterOut = va::PinOwner(peer).Get();
            if (peerOut)
                *peerOut = peer;
            return true;
        }
        if (followPeers && FindConnectedPinAt(va::PinOwner(peer), direction, true, major, sub,
                                              format, pinOut, peerOut, peerFilterOut, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

CComPtr<IBaseFilter> CVaFilterGraphRep::FindFilterByInterface(REFIID iid) {
    return va::FindFilterWith(m_graph, iid);
}

CComPtr<IBaseFilter> CVaFilterGraphRep::FindVideoWindowFilter() {
    return FindFilterByInterface(IVideoWindow::iid);
}

CComPtr<IBaseFilter> CVaFilterGraphRep::FindAudioFilter() {
    return FindFilterByInterface(IBasicAudio::iid);
}

bool CVaFilterGraphRep::PinSupportsType(IPin* pin, REFGUID major, REFGUID sub, REFGUID format) {
    if (major == GUID_NULL)
        return true;
    if (!pin)
        return false;
    if (va::IsConnected(pin)) {
        AM_MEDIA_TYPE mt{};
        if (FAILED(pin->ConnectionMediaType(&mt)))
            return false;
        bool matches = TypeMatches(mt, major, sub, format);
        FreeMediaType(mt);
        return matches;
    }
    CComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(&types)) || !types)
        return false;
    for (;;) {
        AM_MEDIA_TYPE* mt = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &mt, &fetched) != S_OK || fetched == 0 || !mt)
            break;
        bool matches = TypeMatches(*mt, major, sub, format);
        DeleteMediaType(mt);
        if (matches)
            return true;
    }
    return false;
}

CComPtr<IPin> CVaFilterGraphRep::FindPin(IBaseFilter* filter, PIN_DIRECTION direction,
                                         REFGUID major, REFGUID sub, REFGUID format,
                                         bool unconnectedOnly, bool followDownstream) {
    return FindPinAt(filter, direction, major, sub, format, unconnectedOnly, followDownstream, 0);
}

CComPtr<IPin> CVaFilterGraphRep::FindFreePin(IBaseFilter* filter, PIN_DIRECTION direction,
                                             REFGUID major, REFGUID sub, REFGUID format) {
    return FindPin(filter, direction, major, sub, format, true, false);
}

bool CVaFilterGraphRep::FindConnectedPin(IBaseFilter* filter, PIN_DIRECTION direction,
                                         bool followPeers, REFGUID major, REFGUID sub,
                                         REFGUID format, CComPtr<IPin>* pin, CComPtr<IPin>* peer,
                                         CComPtr<IBaseFilter>* peerFilter) {
    return FindConnectedPinAt(filter, direction, followPeers, major, sub, format, pin, peer,
                              peerFilter, 0);
}

CComPtr<IBaseFilter> CVaFilterGraphRep::GetConnectedFilter(IBaseFilter* filter,
                                                           PIN_DIRECTION direction, REFGUID major,
                                                           REFGUID sub, REFGUID format) {
    CComPtr<IBaseFilter> peerFilter;
    FindConnectedPin(filter, direction, false, major, sub, format, nullptr, nullptr,
                     std::addressof(peerFilter));
    return peerFilter;
}
