#pragma once
// A filter over a GStreamer element: IBaseFilter whose pins are the
// element's pads. CElementFilterT<Derived, Extra...> is the base of every
// filter the graph holds; a class that brings its own element (a renderer,
// or a filter of the player's own bridged into the pipeline) derives from
// it and adds its interfaces as Extra.
#include <gst/gst.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Filters.h"
#include "platform/dshow/GstSupport.h"
#include "platform/dshow/Uuids.h"

class CFilterGraph;
class CPadPin;

// Gives the graph the element behind a filter and the pad behind a pin.
class CFilterCore;
struct IGstElementAccess : IUnknown {
    VA_INTERFACE_ID("8B1C6A52-3F1E-4C7B-9D0F-6E2A4B5C7D81");
    // The element (borrowed; lives as long as the filter).
    virtual GstElement* Element() = 0;
    virtual CFilterCore* FilterCore() = 0;
};
struct IGstPadAccess : IUnknown {
    VA_INTERFACE_ID("8B1C6A53-3F1E-4C7B-9D0F-6E2A4B5C7D81");
    // The pad (borrowed; lives as long as the pin).
    virtual GstPad* Pad() = 0;
};

// What every element filter shares: the element, its name and graph, its
// class id and the pins made so far (one per pad, kept for identity).
class CFilterCore {
public:
    CFilterCore(IBaseFilter* owner, GstElement* element, const CLSID& clsid);
    ~CFilterCore();
    CFilterCore(const CFilterCore&) = delete;
    CFilterCore& operator=(const CFilterCore&) = delete;

    GstElement* Element() const { return m_element.get(); }
    IBaseFilter* Owner() const { return m_owner; }
    CFilterGraph* Graph() const;

    HRESULT EnumPins(IEnumPins** ppEnum);
    HRESULT FindPin(const char* id, IPin** ppPin);
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo);
    HRESULT JoinFilterGraph(CFilterGraph* graph, IFilterGraph* graphItf, const char* name);
    HRESULT GetClassID(CLSID* pClassID);
    HRESULT GetState(FILTER_STATE* state);
    HRESULT GetSyncSource(IReferenceClock** ppClock);

    // The pin for one of the element's pads (made on first use).
    CPadPin* PinFor(GstPad* pad);
    // Makes 'pin' the pin of its pad (for filters with pins of their own kind).
    void AdoptPin(std::unique_ptr<CPadPin> pin);
    // The filter that owns an element, or null (looks through parent bins).
    static CFilterCore* FromElement(GstElement* element);
    // The pin of the top-level filter a pad belongs to, or null.
    static CPadPin* PinOfPad(GstPad* pad);

private:
    IBaseFilter* m_owner;
    vagst::CGstRef<GstElement> m_element;
    CLSID m_clsid;
    mutable std::mutex m_lock;
    CFilterGraph* m_graph = nullptr;
    IFilterGraph* m_graphItf = nullptr;
    std::string m_name;
    std::map<GstPad*, std::unique_ptr<CPadPin>> m_pins;
};

// A pin over a pad. Its reference count is its filter's.
class CPadPin : public IPin, public IGstPadAccess {
public:
    CPadPin(CFilterCore* core, GstPad* pad);
    ~CPadPin() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return m_core->Owner()->AddRef(); }
    ULONG Release() override { return m_core->Owner()->Release(); }

    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** ppPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(std::string* id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    GstPad* Pad() override { return m_pad.get(); }

    CFilterCore* Core() const { return m_core; }
    PIN_DIRECTION Direction() const;

private:
    CFilterCore* m_core;
    vagst::CGstRef<GstPad> m_pad;
};

template <class Derived, class... Extra>
class CElementFilterT : public CUnknownImpl<Derived, IBaseFilter, IGstElementAccess, Extra...> {
public:
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        if (riid == IMediaFilter::iid || riid == IPersist::iid) {
            *ppv = static_cast<IBaseFilter*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetClassID(CLSID* pClassID) override { return m_core.GetClassID(pClassID); }
    // A filter follows the graph's state; it is not run on its own.
    HRESULT Stop() override { return E_NOTIMPL; }
    HRESULT Pause() override { return E_NOTIMPL; }
    HRESULT Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT GetState(DWORD, FILTER_STATE* state) override { return m_core.GetState(state); }
    // A filter runs on the graph's clock.
    HRESULT SetSyncSource(IReferenceClock*) override { return S_OK; }
    HRESULT GetSyncSource(IReferenceClock** ppClock) override {
        return m_core.GetSyncSource(ppClock);
    }
    HRESULT EnumPins(IEnumPins** ppEnum) override { return m_core.EnumPins(ppEnum); }
    HRESULT FindPin(const char* id, IPin** ppPin) override { return m_core.FindPin(id, ppPin); }
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override { return m_core.QueryFilterInfo(pInfo); }
    // Joining is done by the graph itself (AddFilter / RemoveFilter).
    HRESULT JoinFilterGraph(IFilterGraph*, const char*) override { return E_NOTIMPL; }
    HRESULT QueryVendorInfo(std::string*) override { return E_NOTIMPL; }
    GstElement* Element() override { return m_core.Element(); }
    CFilterCore* FilterCore() override { return &m_core; }

protected:
    CElementFilterT(GstElement* element, const CLSID& clsid)
        : m_core(static_cast<IBaseFilter*>(this), element, clsid) {}

    CFilterCore m_core;
};

// A filter over any element (sources, demultiplexers, decoders, converters).
class CElementFilter : public CElementFilterT<CElementFilter> {
public:
    // Takes a reference to the element (sinking a floating one).
    explicit CElementFilter(GstElement* element, const CLSID& clsid = CLSID_VaGstElement)
        : CElementFilterT(element, clsid) {}
};

// Makes a filter over a new element of the factory; null when the factory
// does not exist.
CComPtr<IBaseFilter> CreateElementFilter(const char* factory, const char* name = nullptr);
