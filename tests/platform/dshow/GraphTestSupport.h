#pragma once
// Helpers for tests that play the generated clips through a real graph.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "platform/dshow/DShow.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/sync/Sync.h"
#include "tests/media/TestMedia.h"

namespace graphtest {

constexpr DWORD kWaitMs = 15000;

struct CGraph {
    CComPtr<IGraphBuilder> builder;
    CComPtr<IMediaControl> control;
    CComPtr<IMediaSeeking> seeking;
    CComPtr<IMediaEventEx> events;
    CComPtr<IMediaFilter> filter;

    CGraph() {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IGraphBuilder::iid, builder.ReleaseAndGetVoidAddress()));
        control = builder;
        seeking = builder;
        events = builder;
        filter = builder;
    }
    CFilterGraph* Impl() const { return static_cast<CFilterGraph*>(builder.Get()); }

    // Waits (bounded) for the event, taking the ones before it from the queue.
    bool WaitEvent(LONG code, LONG_PTR* param1 = nullptr, DWORD ms = kWaitMs) {
        OAEVENT handle = nullptr;
        events->GetEventHandle(&handle);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            LONG c;
            LONG_PTR p1, p2;
            while (events->GetEvent(&c, &p1, &p2, 0) == S_OK) {
                events->FreeEventParams(c, p1, p2);
                if (c == code) {
                    if (param1)
                        *param1 = p1;
                    return true;
                }
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            handle->Wait(DWORD(left.count()));
        }
    }
    // Waits (bounded) until a state change has finished.
    bool Settle() {
        OAFilterState s;
        return control->GetState(LONG(kWaitMs), &s) == S_OK;
    }
    LONGLONG Position() {
        LONGLONG p = -1;
        EXPECT_EQ(S_OK, seeking->GetCurrentPosition(&p));
        return p;
    }
    void SeekTo(LONGLONG t) {
        ASSERT_EQ(S_OK, seeking->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr,
                                              AM_SEEKING_NoPositioning));
    }
    // The frame number the video renderer holds; -1 without one.
    int Frame() {
        CComPtr<IBasicVideo> video = builder;
        if (!video)
            return -1;
        LONG size = 0;
        if (video->GetCurrentImage(&size, nullptr) != S_OK || size <= 0)
            return -1;
        std::vector<LONG> dib((size + 3) / 4);
        if (video->GetCurrentImage(&size, dib.data()) != S_OK)
            return -1;
        return testmedia::FrameNumberFromDib(reinterpret_cast<const uint8_t*>(dib.data()));
    }
    std::vector<std::string> FilterNames() {
        std::vector<std::string> names;
        CComPtr<IEnumFilters> e;
        builder->EnumFilters(&e);
        IBaseFilter* f;
        while (e && e->Next(1, &f, nullptr) == S_OK) {
            FILTER_INFO info;
            f->QueryFilterInfo(&info);
            if (info.pGraph)
                info.pGraph->Release();
            names.push_back(info.achName);
            f->Release();
        }
        return names;
    }
    size_t FilterCount() { return FilterNames().size(); }
};

// A clock whose time moves only when the test says so.
class CManualClock : public CUnknownImpl<CManualClock, IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* t) override {
        std::lock_guard guard(m_lock);
        *t = m_now;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT e,
                       DWORD_PTR* cookie) override {
        std::lock_guard guard(m_lock);
        *cookie = ++m_next;
        if (base + stream <= m_now)
            e->Set();
        else
            m_advices.push_back({*cookie, base + stream, e});
        return S_OK;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT Unadvise(DWORD_PTR cookie) override {
        std::lock_guard guard(m_lock);
        for (auto it = m_advices.begin(); it != m_advices.end(); ++it)
            if (it->cookie == cookie) {
                m_advices.erase(it);
                return S_OK;
            }
        return S_FALSE;
    }
    void Advance(REFERENCE_TIME dt) {
        std::lock_guard guard(m_lock);
        m_now += dt;
        for (auto it = m_advices.begin(); it != m_advices.end();) {
            if (it->due <= m_now) {
                it->event->Set();
                it = m_advices.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    struct CAdvice {
        DWORD_PTR cookie;
        REFERENCE_TIME due;
        CEvent* event;
    };
    std::mutex m_lock;
    REFERENCE_TIME m_now = 1'000'000'000;
    DWORD_PTR m_next = 0;
    std::vector<CAdvice> m_advices;
};

}  // namespace graphtest
