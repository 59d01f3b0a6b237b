// The play context's side of its worker thread, the end-of-media handling
// and the playlist's handler.
#include "playback/PlayCtx.h"
#include "support/Exception.h"
#include "support/Strings.h"

// ---------------------------------------------------------------- worker thread

CEvent* CPlayCtx::AttachGraphEvents() {
    return m_graph->GetEventHandle();
}

void CPlayCtx::PumpGraphEvents() {
    CCheckEvent sink(this);
    m_graph->ProcessEvents(&sink);
}

void CPlayCtx::Poll() {
    if (GetState() != PlayRunning)
        return;
    // The selection stop is watched here when the graph did not take it.
    REFERENCE_TIME stop = m_selectionStop.load();
    bool postEnd = false;
    {
        CSingleLock lock(m_lock);
        if (!lock.Lock(0))
            return;  // busy: the next pass looks again
        if (stop >= 0 && GetPosition() >= stop) {
            postEnd = true;
        } else if (m_playList) {
            if (CompletePendingSeek()) {
                PostSync(SYNC_SEEK_DONE, 0);
            } else {
                switch (m_playList->CheckClipEnd(true)) {
                    case 1:
                    case 2:
                        PostSync(SYNC_CLIP_END, 0);
                        break;
                    case 3:
                        postEnd = true;
                        break;
                    default:
                        break;
                }
            }
        }
    }
    if (postEnd)
        PostSync(SYNC_PLAY_END, 0);
}

bool CPlayCtx::CompletePendingSeek() {
    REFERENCE_TIME target = m_pendingSeek.load();
    if (target <= 0)
        return false;
    if (m_graph->GetCurrentPosition() < target) {
        if (!CanSeek())
            return false;
        m_graph->SetCurrentPosition(target);
    }
    m_pendingSeek = 0;
    return true;
}

// ---------------------------------------------------------------- end of media

void CPlayCtx::OnPlayEnd(bool fromGraph) {
    if (fromGraph && m_playList && StepPlayList(false) != 3)
        return;
    if (m_notify)
        m_notify->OnPlayEnd(this);
}

int CPlayCtx::StepPlayList(bool clipEnd) {
    CSingleLock lock(m_lock, true);
    if (!m_playList)
        return 3;
    const int failures = m_failedOpens;
    try {
        return clipEnd ? m_playList->CheckClipEnd(false) : m_playList->NextClip();
    } catch (const CException& e) {
        // Opening notified PN_OPEN_FAILED; the user learns why, and the play
        // goes on with the next clip.
        if (!m_playList || m_failedOpens == failures)
            throw;
        ReportException(e);
        return PassOverFailedClip(m_playList->GetCurrentClip() + 1);
    }
}

int CPlayCtx::PassOverFailedClip(int failed) {
    // The playlist kept its current clip while the graph lost its file: the
    // next clip's file is opened even when it is the current clip's.
    if (m_playList)
        m_playList->SetClipUnplayable(failed);
    for (int next = failed + 1; m_playList && next < m_playList->GetCount(); ++next) {
        if (m_playList->GetClipFile(next) == m_playList->GetClipFile(failed))
            continue;  // the same file fails the same way
        const int failures = m_failedOpens;
        try {
            return m_playList->ReopenClip(next);
        } catch (const CException& e) {
            if (m_failedOpens == failures)
                throw;
            ReportException(e);
            failed = next;
            if (m_playList)
                m_playList->SetClipUnplayable(failed);
        }
    }
    return 3;
}

void CPlayCtx::SetPlayListPosition(REFERENCE_TIME pos) {
    int clip = m_playList->FindClip(pos);
    if (clip < 0)
        clip = std::max(0, m_playList->GetCurrentClip());
    const int failures = m_failedOpens;
    try {
        // A failed open left the graph empty: the clip is opened again first.
        if (GetState() == PlayNone && m_clipFailed.active)
            m_playList->ReopenClip(clip);
        m_playList->SetPosition(pos);
    } catch (const CException& e) {
        if (m_failedOpens == failures || !m_playList)
            throw;
        ReportException(e);
        // The position falls in a clip that cannot play: on from the next one's start.
        if (PassOverFailedClip(clip) == 3)
            throw;
    }
}

// ---------------------------------------------------------------- playlist handler

void CPlayCtx::OpenClip(const std::string& file) {
    // After a clip that failed to open, the next one carries on as the
    // play was before it.
    bool failedBefore = GetState() == PlayNone && m_clipFailed.active;
    bool wasRunning = failedBefore ? m_clipFailed.running : GetState() == PlayRunning;
    double rate = failedBefore ? m_clipFailed.rate : GetRate();
    Unrender();
    try {
        m_openStarted = std::chrono::steady_clock::now();
        Notify(PN_OPEN_BEGIN, va::IsUrl(file) ? 1 : 0);
        RenderMediaSource(file);
        AfterRender();
    } catch (...) {
        m_clipFailed = {true, wasRunning, rate};
        ++m_failedOpens;
        Notify(PN_OPEN_FAILED, 0);
        ThrowOpenError(file);
    }
    m_clipFailed = {};
    Notify(PN_OPEN_DONE, 0);
    SetRate(rate);
    RunOrPause(wasRunning);
}

void CPlayCtx::OnPlayListChanged() {
    if (m_notify)
        m_notify->OnPlayListChanged(this);
}

REFERENCE_TIME CPlayCtx::HandlerGetPosition() {
    REFERENCE_TIME pending = m_pendingSeek.load();
    return pending > 0 ? pending : m_graph->GetCurrentPosition();
}

REFERENCE_TIME CPlayCtx::HandlerGetDuration() {
    try {
        return m_graph->GetDuration();
    } catch (const CException&) {
        return -1;
    }
}

bool CPlayCtx::HandlerSeek(REFERENCE_TIME pos, bool allowRun) {
    if (!IsSeekRestricted()) {
        m_graph->SetCurrentPosition(pos);
        return true;
    }
    if (!allowRun)
        return false;
    m_pendingSeek = pos;
    m_pauseAfterSeek = false;
    if (GetState() != PlayRunning) {
        m_graph->Run();
        SetState(PlayRunning);
        m_pauseAfterSeek = true;
    }
    Notify(PN_SEEK_WAIT_BEGIN, 0);
    return true;
}
