#pragma once
// CTransformFilter: the base of filters that take one input stream and
// deliver one output stream (one output sample per input, or more). It is a
// GStreamer element in the pipeline with a sink pad "In" and a source pad
// "Out": buffers arrive on the streaming thread as media samples and go to
// Receive; caps become media types (CheckInputType, SetMediaType,
// CompleteConnect) and the output type comes from GetMediaType; a media
// type attached to an output sample becomes new caps downstream; output
// samples come from a buffer pool sized by DecideBufferSize.
//
// A derived filter implements the pure virtual operations and adds its own
// interfaces by overriding NonDelegatingQueryInterface (and the three
// IUnknown operations, which it forwards here).
#include <atomic>
#include <mutex>
#include <string>

#include <gst/video/video.h>

#include "platform/dshow/ElementFilter.h"
#include "platform/dshow/GstMediaSample.h"

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers = 0;
    LONG cbBuffer = 0;
    LONG cbAlign = 0;
    LONG cbPrefix = 0;
};

// Hands out the buffers of one output pin.
struct IMemAllocator : IUnknown {
    VA_INTERFACE_ID("56A8688C-0AD4-11CE-B03A-0020AF0BA770");
    // Asks for buffers; pActual receives what was granted.
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                  ALLOCATOR_PROPERTIES* pActual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
};

// Flags of GetDeliveryBuffer.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;

class CTransformFilter;

// A pin of a transform filter: the pad's pin with its filter's view of the
// connection (the media type agreed on that side).
class CTransformPin : public CPadPin {
public:
    CTransformPin(CTransformFilter* filter, GstPad* pad, const char* name);

    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;

    // S_OK when the pin takes the type (checked on every caps request).
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;

    // Connected: linked, with a media type agreed.
    bool IsConnected() const;
    // The agreed type (empty while not connected). Streaming thread and
    // filter code only; others read a copy through CurrentMediaTypeCopy.
    const CMediaType& CurrentMediaType() const { return m_mt; }
    CMediaType CurrentMediaTypeCopy() const;
    // The pin at the other end of the link (counted), or null.
    CComPtr<IPin> GetConnected() const;

    void SetCurrentMediaType(const CMediaType& mt);
    void ClearMediaType();

protected:
    CTransformFilter* m_pTransformFilter;
    std::string m_name;
    mutable std::mutex m_typeLock;
    CMediaType m_mt;
    bool m_hasType = false;
};

class CTransformInputPin : public CTransformPin {
public:
    CTransformInputPin(CTransformFilter* filter, GstPad* pad, const char* name = "XForm In");
    // CheckInputType of the filter.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
};

class CTransformOutputPin : public CTransformPin {
public:
    CTransformOutputPin(CTransformFilter* filter, GstPad* pad, const char* name = "XForm Out");
    // The input must be connected; CheckTransform (input type, pmt).
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // S_OK when the downstream pin would take the type now.
    HRESULT DownstreamAccepts(const CMediaType& mt);
};

class CTransformFilter : public CElementFilterT<CTransformFilter> {
public:
    ~CTransformFilter() override;
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv) {
        return NonDelegatingQueryInterface(riid, ppv);
    }
    // Answers the filter's own interfaces; the default answers the element
    // filter's.
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv);

    // ---- what a derived filter provides
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    // Asks the allocator for the output buffers.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) = 0;
    // The output type at a position (0 = preferred); VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;
    // The type agreed on one side.
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt);
    // Both sides of one link agreed; the default accepts.
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin);
    virtual HRESULT BreakConnect(PIN_DIRECTION direction);
    // One output sample from one input sample; Receive's default calls it.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);

    // ---- streaming (called by the element; overridable)
    // One input sample: the default gets an output sample, transforms and delivers.
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // ---- pins
    int GetPinCount() const { return 2; }
    // Pin 0 is the input, 1 the output; null for any other index.
    CTransformPin* GetPin(int n);
    CTransformInputPin* InputPin() const { return m_pInput; }
    CTransformOutputPin* OutputPin() const { return m_pOutput; }

    // ---- helpers for Receive
    // An output sample of at least the pool's size with the given times.
    HRESULT GetDeliveryBuffer(IMediaSample** ppOut, REFERENCE_TIME* pStart, REFERENCE_TIME* pStop,
                              DWORD dwFlags);
    // Sends an output sample downstream (its attached type first, as caps).
    HRESULT Deliver(IMediaSample* pSample);
    // Makes the other side renegotiate with the type (null: any type).
    HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt);
    // Bytes per line of the current input and output frames (0 = not video).
    LONG InputStride() const { return m_inputStride; }
    LONG OutputStride() const { return m_outputStride; }
    // Where the planes of the current input and output frames lie: byte
    // offset and stride of each, up to 4 planes; returns the plane count
    // (0 = not video).
    int InputPlanes(size_t offset[4], LONG stride[4]) const;
    int OutputPlanes(size_t offset[4], LONG stride[4]) const;
    bool IsStopped() const;

    // The element's pad for a pin index (sink 0, source 1).
    GstPad* PadOf(int n) const;

    // Entry points of the element (streaming and application threads).
    GstFlowReturn OnChain(GstBuffer* buffer);
    bool OnSinkEvent(GstEvent* event);
    bool OnSinkQuery(GstQuery* query);
    bool OnSrcQuery(GstQuery* query);
    void OnStateChange(GstStateChange transition);

protected:
    // The element gets pads "In" and "Out" whose templates allow 'caps'
    // (a caps string: the formats the filter could ever take).
    CTransformFilter(const CLSID& clsid, const char* templateCaps);
    // Builds the pins; a derived filter calls it from its constructor with
    // its own pin objects, or lets the default ones be made.
    void SetPins(CTransformInputPin* input, CTransformOutputPin* output);

    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;
    // Set between BeginFlush and EndFlush.
    std::atomic<bool> m_bFlushing{false};
    bool m_bSampleSkipped = false;

private:
    bool OnInputCaps(GstCaps* caps);
    GstCaps* InputCaps(GstCaps* filter);
    GstCaps* OutputCaps(GstCaps* filter);
    bool SetOutputCaps(const CMediaType& mt);
    bool ConfigurePool(const CMediaType& mt);
    void ReleasePool();
    GstCaps* OutputCapsFor(const CMediaType& mt);
    void UpdateFieldFlags(CGstMediaSample& sample, GstBuffer* buffer);
    bool Forward(GstEvent* event);

    friend class CTransformOutputPin;
    GstElement* m_element;
    GstBufferPool* m_pool = nullptr;
    std::mutex m_poolLock;
    GstFlowReturn m_lastFlow = GST_FLOW_OK;
    LONG m_inputStride = 0;
    LONG m_outputStride = 0;
    int m_inputPlanes = 0;
    size_t m_inputOffsets[4] = {0, 0, 0, 0};
    LONG m_inputStrides[4] = {0, 0, 0, 0};
    GstCaps* m_inputCaps = nullptr;
    GstVideoInfo m_inputInfo;
    GstVideoInfo m_outputInfo;
    bool m_haveInputInfo = false;
    // The event the base handlers forward. Flush-start comes from whichever
    // thread flushes, while the streaming thread may be inside a serialized
    // event: it has a slot of its own.
    GstEvent* m_forwardEvent = nullptr;
    std::atomic<GstEvent*> m_forwardFlushStart{nullptr};
};
