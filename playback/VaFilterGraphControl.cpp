// State, position, rate, volume, frame stepping and the reference clock.
#include "platform/sync/Sync.h"
#include "playback/VaFilterGraph.h"
#include "playback/VaGraphUtil.h"
#include "playback/VaScaledReferenceClock.h"
#include "support/Exception.h"

namespace {

int RatePercent(double rate) {
    return static_cast<int>(rate * 100.0);
}

}  // namespace

void CVaFilterGraphRep::Run() {
    DropVmrConfig();
    CheckHResult(RequireControl()->Run());
}

void CVaFilterGraphRep::Pause() {
    DropVmrConfig();
    CheckHResult(RequireControl()->Pause());
}

void CVaFilterGraphRep::Stop() {
    DropVmrConfig();
    CheckHResult(RequireControl()->Stop());
}

void CVaFilterGraphRep::StopWhenReady() {
    DropVmrConfig();
    CheckHResult(RequireControl()->StopWhenReady());
}

void CVaFilterGraphRep::AbortGraph() {
    CComPtr<IGraphBuilder> graph = m_graph;
    if (graph)
        graph->Abort();
}

int CVaFilterGraphRep::GetState() {
    OAFilterState state = State_Stopped;
    HRESULT hr = CheckHResult(RequireControl()->GetState(0, &state));
    if (hr != S_OK)
        return 0;
    return static_cast<int>(state) + 1;
}

// The graph bounds each wait; a change still running afterwards is waited
// for again as long as the position moved meanwhile.
HRESULT CVaFilterGraphRep::WaitForState() {
    IMediaControl* control = RequireControl();
    REFERENCE_TIME last = -1;
    for (;;) {
        OAFilterState state = State_Stopped;
        HRESULT hr = CheckHResult(control->GetState(static_cast<LONG>(INFINITE), &state));
        if (hr != VFW_S_STATE_INTERMEDIATE)
            return hr;
        LONGLONG position = -1;
        if (!m_seeking || FAILED(m_seeking->GetCurrentPosition(&position)) || position == last)
            return hr;
        last = position;
    }
}

int CVaFilterGraphRep::GetTargetState() {
    OAFilterState state = State_Stopped;
    CheckHResult(RequireControl()->GetState(0, &state));
    return static_cast<int>(state) + 1;
}

void CVaFilterGraphRep::SetState(int state) {
    if (GetState() == state)
        return;
    if (state == 3)
        Run();
    else if (state == 2)
        Pause();
    else
        Stop();
}

REFERENCE_TIME CVaFilterGraphRep::GetDuration() {
    LONGLONG duration = 0;
    CheckHResult(RequireSeeking()->GetDuration(&duration));
    return duration;
}

bool CVaFilterGraphRep::CanSeek() {
    if (!m_seeking)
        return false;
    // A graph that does not tell is taken at its word when seeking fails.
    DWORD caps = 0;
    if (FAILED(m_seeking->GetCapabilities(&caps)))
        return true;
    return (caps & AM_SEEKING_CanSeekAbsolute) != 0;
}

REFERENCE_TIME CVaFilterGraphRep::GetCurrentPosition() {
    LONGLONG position = 0;
    CheckHResult(RequireSeeking()->GetCurrentPosition(&position));
    return position;
}

void CVaFilterGraphRep::SetCurrentPosition(REFERENCE_TIME t) {
    LONGLONG current = t;
    CheckHResult(RequireSeeking()->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                                AM_SEEKING_NoPositioning));
}

void CVaFilterGraphRep::SetStopPosition(REFERENCE_TIME t) {
    LONGLONG stop = t;
    CheckHResult(RequireSeeking()->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                                                AM_SEEKING_AbsolutePositioning));
}

double CVaFilterGraphRep::GetRate() {
    if (m_scaledClock)
        return m_scaledClock->GetRate();
    double rate = 1.0;
    if (m_seeking && SUCCEEDED(m_seeking->GetRate(&rate)))
        return rate;
    return 1.0;
}

void CVaFilterGraphRep::DeleteScaledClock() {
    if (!m_scaledClock)
        return;
    m_scaledClock->ReleaseInnerClock();
    m_scaledClock.reset();
}

bool CVaFilterGraphRep::SetRate(double rate) {
    const bool normal = RatePercent(rate) == 100;
    IMediaSeeking* seeking = RequireSeeking();
    int rememberedState = -1;
    // The scaled time jumps when the clock or its rate changes, so the
    // graph is stopped around every clock change and put back afterwards.
    auto stopOnce = [&] {
        if (rememberedState >= 0)
            return;
        int state = GetState();
        // A change still in progress is finished first, so that the state
        // put back is the one the caller asked for.
        if (state == 0) {
            WaitForState();
            state = GetState();
            // Still changing: put back the state it was changing to.
            if (state == 0)
                state = GetTargetState();
        }
        rememberedState = state;
        Stop();
    };
    bool result = false;
    try {
        if (normal) {
            const bool hadSavedVolume = m_savedVolume >= 0;
            if (hadSavedVolume) {
                SetVolume(m_savedVolume);
                m_savedVolume = -1;
            }
            stopOnce();
            // A scaled clock is deleted below: the graph gets another
            // clock first, also when there is no audio.
            if ((hadSavedVolume && kRateThreshold > 0) || m_scaledClock) {
                if (m_scaledClock || RatePercent(GetRate()) < kRateThreshold)
                    UseSystemClock();
                else
                    UseDefaultClock();
            }
            DeleteScaledClock();
        } else if (m_savedVolume < 0) {
            int volume = GetVolume();
            if (volume >= 0) {
                m_savedVolume = volume;
                if (volume > 0)
                    SetVolume(0);
                if (!m_scaledClock) {
                    stopOnce();
                    UseSystemClock();
                }
            }
        }

        if (m_scaledClock) {
            stopOnce();
            m_scaledClock->SetRate(rate);
            result = true;
        } else {
            HRESULT hr = seeking->SetRate(rate);
            if ((hr == E_INVALIDARG || hr == E_NOTIMPL) && !normal) {
                stopOnce();
                CComPtr<IMediaFilter> mediaFilter(RequireGraph());
                if (!mediaFilter)
                    ThrowHResult(E_NOINTERFACE);
                auto clock = std::make_unique<CVaScaledReferenceClock>(rate);
                CheckHResult(mediaFilter->SetSyncSource(clock.get()));
                m_scaledClock = std::move(clock);
                result = true;
            }
        }
    } catch (const CException&) {
        if (rememberedState >= 0) {
            try {
                SetState(rememberedState);
            } catch (const CException&) {
            }
        }
        throw;
    }
    if (rememberedState >= 0)
        SetState(rememberedState);
    return result;
}

int CVaFilterGraphRep::GetVolume() {
    CComPtr<IBasicAudio> audio = va::GraphInterface<IBasicAudio>(m_graph);
    if (!audio)
        return -1;
    LONG volume = 0;
    if (FAILED(audio->get_Volume(&volume)))
        return -1;
    return (volume + 10000) / 100;
}

bool CVaFilterGraphRep::SetVolume(int percent) {
    if (percent < 0 || percent > 100)
        return false;
    CComPtr<IBasicAudio> audio = va::GraphInterface<IBasicAudio>(m_graph);
    if (!audio)
        return false;
    return SUCCEEDED(audio->put_Volume(percent * 100 - 10000));
}

bool CVaFilterGraphRep::StepFrame() {
    CComPtr<IVideoFrameStep> step = va::GraphInterface<IVideoFrameStep>(m_graph);
    return step && SUCCEEDED(step->Step(1, nullptr));
}

bool CVaFilterGraphRep::CancelStep() {
    CComPtr<IVideoFrameStep> step = va::GraphInterface<IVideoFrameStep>(m_graph);
    return step && SUCCEEDED(step->CancelStep());
}

void CVaFilterGraphRep::UseSystemClock() {
    CComPtr<IMediaFilter> mediaFilter(RequireGraph());
    if (!mediaFilter)
        ThrowHResult(E_NOINTERFACE);
    if (!m_systemClock)
        CheckHResult(
            m_systemClock.CreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER));
    CheckHResult(mediaFilter->SetSyncSource(m_systemClock));
}

void CVaFilterGraphRep::UseDefaultClock() {
    if (m_systemClockChosen)
        UseSystemClock();
    else
        CheckHResult(RequireGraph()->SetDefaultSyncSource());
}

// Some audio renderers drift against their own clock; with the fix on and
// nothing in the graph that brings a clock of its own (an external device),
// the graph runs on the system clock instead.
void CVaFilterGraphRep::CheckAudioClock() {
    m_systemClockChosen = false;
    if (!m_fixAudioClock || !m_graph)
        return;
    CComPtr<IBaseFilter> audio = FindAudioFilter();
    if (!audio)
        return;
    CLSID classId{};
    if (FAILED(audio->GetClassID(&classId)) || classId != CLSID_DSoundRender)
        return;
    CComPtr<IMediaFilter> mediaFilter(m_graph.Get());
    if (!mediaFilter)
        return;
    CComPtr<IReferenceClock> graphClock;
    mediaFilter->GetSyncSource(&graphClock);
    if (!graphClock) {
        m_graph->SetDefaultSyncSource();
        mediaFilter->GetSyncSource(&graphClock);
    }
    CComPtr<IReferenceClock> audioClock;
    audio->GetSyncSource(&audioClock);
    if (graphClock && audioClock && IsSameObject(graphClock, audioClock) &&
        !FindFilterByInterface(IAMExtDevice::iid)) {
        m_systemClockChosen = true;
        UseSystemClock();
    }
}

void CVaFilterGraphRep::SetVmrTracking(bool on) {
    m_vmrTracking = on;
    if (!on)
        m_vmrConfig = nullptr;
}
