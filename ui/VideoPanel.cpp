#include "ui/VideoPanel.h"

#include <QApplication>
#include <QCursor>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "options/AppOptions.h"
#include "options/OptionCatalogue.h"
#include "platform/dshow/Renderers.h"
#include "platform/dshow/VideoFrame.h"
#include "platform/dshow/VideoWindow.h"
#include "playlist/IPlayListInfo.h"
#include "playlist/WaitCursor.h"
#include "support/Exception.h"
#include "timeline/VaDES.h"
#include "ui/MsTimeCtrl.h"
#include "ui/PanelMath.h"
#include "ui/PlayerIds.h"
#include "ui/SliderExt.h"
#include "ui/StaticVideo.h"
#include "ui/TimelineCombo.h"

namespace {

// Template 153: the video window over the position slider.
constexpr int kPanelWidth = 320;
constexpr int kSliderHeight = 24;
constexpr int kVideoHeight = 240;

// The clips of a timeline's first video group: every source of every
// track, labelled with its name or its range on the timeline.
std::vector<CTimelineItem> TimelineClips(const CVaAMTimeline& timeline) {
    std::vector<CTimelineItem> items;
    for (int g = 0; g < timeline.GetGroupCount(); ++g) {
        CVaAMTimelineGroup group = timeline.GetGroup(g);
        if (!group.IsValid() || !group.IsVideo())
            continue;
        double fps = group.GetOutputFPS();
        REFERENCE_TIME d = fps > 0 ? REFERENCE_TIME(double(UNITS) / fps) : 0;
        for (int t = 0; t < group.GetTrackCount(); ++t) {
            CVaAMTimelineTrack track(group.GetTrack(t));
            if (!track.IsValid())
                continue;
            for (CVaAMTimelineSrc src = track.GetNextSource(nullptr); src.IsValid();
                 src = track.GetNextSource(&src)) {
                CTimelineItem item;
                src.GetStartStop(item.start, item.stop);
                item.frameDuration = d;
                item.label = src.GetUserName();
                if (item.label.empty())
                    item.label = CTimelineCombo::FormatRange(item.start, item.stop);
                items.push_back(item);
            }
        }
        break;
    }
    return items;
}

// Runs a handler and shows what it throws (commands, timers, events).
template <class F>
void Guard(F&& f) {
    ReportExceptions(std::forward<F>(f));
}

}  // namespace

CVideoPanel::CVideoPanel(QWidget* parent) : CPlayPanel(parent) {
    m_clock.start();
    setAcceptDrops(true);
    RegisterCommands();
}

CVideoPanel::~CVideoPanel() {
    Shutdown();
}

void CVideoPanel::Shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (CWheelWnd* wheel = CWheelWnd::GetOpenWheel()) {
        m_shuttleSpeed = 0;
        wheel->Close();
    }
    SaveOptionsOnce();
    if (m_timerId) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
    try {
        m_ctx.Close();
    } catch (const CException&) {
        // the graph is going away with the panel
    }
    m_ctx.Shutdown();
}

// ---------------------------------------------------------------- creation

void CVideoPanel::CreateControls() {
    resize(kPanelWidth, kVideoHeight + kSliderHeight);
    m_video = AddControl(new CStaticVideo(this), IDC_VIDEO);
    m_video->setGeometry(0, 0, kPanelWidth, kVideoHeight);
    m_slider = AddControl(new CSliderExt(this), IDC_POSITION);
    m_slider->setOrientation(Qt::Horizontal);
    m_slider->setGeometry(0, kVideoHeight, kPanelWidth, kSliderHeight);
}

bool CVideoPanel::OnInitDialog() {
    m_video->SetOwnerDialog(this);
    m_video->installEventFilter(this);
    CPlayPanel::OnInitDialog();
    m_ctx.SetVideoWindow(m_video);
    m_ctx.SetMessageDrain(this);
    m_slider->SetThumbLength(18);
    m_slider->SetJumpToClick(true);
    m_slider->SetDragMessage(WM_SLIDER_DRAG, this);
    m_slider->setEnabled(false);
    connect(m_slider, &QAbstractSlider::valueChanged, this,
            [this](int value) { Guard([&] { OnSliderMoved(value); }); });
    MakeActive();
    UpdatePanelMode();
    m_timerId = startTimer(kTimerPeriod);
    m_ctx.Create(this);
    m_created = true;
    return true;
}

void CVideoPanel::SetupLayout() {
    // The picture takes all growth; the slider the width and the bottom edge.
    Flex().AddConstraint(IDC_VIDEO, 0, 1, 0, 1);
    Flex().AddConstraint(IDC_POSITION, 0, 1, 1, 1);
}

void CVideoPanel::RegisterCommands() {
    auto loaded = [this](CCmdUI* ui) { ui->Enable(IsFileLoaded()); };
    auto seekable = [this](CCmdUI* ui) { ui->Enable(IsSeekable()); };
    auto marks = [this](CCmdUI* ui) { ui->Enable(m_sliderRange > 0 && IsFileLoaded()); };

    OnCommand(ID_PLAY, [this] { Guard([&] { OnPlay(); }); });
    OnUpdateCommand(ID_PLAY, [this](CCmdUI* ui) {
        ui->Enable(IsFileLoaded());
        ui->SetCheck(m_ctx.GetState() == CPlayCtx::PlayRunning);
    });
    OnCommand(ID_PAUSE, [this] { Guard([&] { OnPause(); }); });
    OnUpdateCommand(ID_PAUSE, [this](CCmdUI* ui) {
        ui->Enable(IsFileLoaded());
        ui->SetCheck(m_ctx.GetState() == CPlayCtx::PlayPaused && m_shuttleSpeed == 0 &&
                     m_reverseRate == 0);
    });
    OnCommand(ID_PLAY_PAUSE, [this] { Guard([&] { OnPlayPause(); }); });
    OnUpdateCommand(ID_PLAY_PAUSE, loaded);
    OnCommand(ID_STOP, [this] { Guard([&] { OnStop(); }); });
    OnUpdateCommand(ID_STOP, [this](CCmdUI* ui) {
        ui->Enable(IsFileLoaded());
        ui->SetCheck(m_ctx.GetState() == CPlayCtx::PlayStopped);
    });
    OnCommand(ID_BEGIN, [this] { Guard([&] { SeekToUser(0); }); });
    OnUpdateCommand(ID_BEGIN, seekable);
    OnCommand(ID_END, [this] { Guard([&] { SeekToUser(m_sliderRange); }); });
    OnUpdateCommand(ID_END, seekable);
    OnCommand(ID_BACK, [this] { Guard([&] { SeekRelative(-GetOpt(optIdWindOffset).GetInt()); }); });
    OnUpdateCommand(ID_BACK, [this](CCmdUI* ui) {
        ui->Enable(IsSeekable());
        ui->SetCheck(IsJogWheelOpen() && m_shuttleSpeed < 0);
    });
    OnCommand(ID_FORWARD,
              [this] { Guard([&] { SeekRelative(GetOpt(optIdWindOffset).GetInt()); }); });
    OnUpdateCommand(ID_FORWARD, [this](CCmdUI* ui) {
        ui->Enable(IsSeekable());
        ui->SetCheck(IsJogWheelOpen() && m_shuttleSpeed > 0);
    });
    OnCommand(ID_STEP_BACK, [this] { Guard([&] { OnStepBack(); }); });
    OnUpdateCommand(ID_STEP_BACK, seekable);
    OnCommand(ID_STEP_FORWARD, [this] { Guard([&] { OnStepForward(); }); });
    OnUpdateCommand(ID_STEP_FORWARD, seekable);
    OnCommand(ID_DEINTERLACE, [this] { Guard([&] { OnDeinterlace(); }); });
    OnUpdateCommand(ID_DEINTERLACE, [this](CCmdUI* ui) {
        ui->Enable(IsFileLoaded() && m_ctx.CanDeinterlace());
        ui->SetCheck(m_ctx.IsDeinterlaceOn());
    });
    OnCommand(ID_CONTINUOUS_PLAY,
              [this] { Guard([&] { SetOpt(optIdPlayCont, !GetOpt(optIdPlayCont).GetBool()); }); });
    OnUpdateCommand(ID_CONTINUOUS_PLAY, [this](CCmdUI* ui) {
        ui->Enable(IsSeekable());
        ui->SetCheck(GetOpt(optIdPlayCont).GetBool());
    });
    OnCommand(ID_MARK_BEGIN, [this] { Guard([&] { OnMark(true); }); });
    OnUpdateCommand(ID_MARK_BEGIN, marks);
    OnCommand(ID_MARK_END, [this] { Guard([&] { OnMark(false); }); });
    OnUpdateCommand(ID_MARK_END, marks);
    OnCommand(ID_SELECT_ALL_NONE, [this] { Guard([&] { OnSelectAllNone(); }); });
    OnUpdateCommand(ID_SELECT_ALL_NONE, marks);
    OnCommand(ID_REFRESH_FRAME_RATE, [this] { Guard([&] { OnRefreshFrameRate(); }); });
    OnUpdateCommand(ID_REFRESH_FRAME_RATE, [](CCmdUI* ui) { ui->Enable(true); });
    OnUpdateCommand(IDC_POSITION,
                    [this](CCmdUI* ui) { ui->Enable(m_sliderRange > 0 && IsSeekable()); });
    OnCommandRange(ID_RATE_FIRST, ID_RATE_LAST, [this](unsigned id) {
        Guard([&] {
            double rate = RateForCommand(id);
            if (rate > 0) {
                StopReverse();
                ApplyRate(rate);
            }
        });
    });
    OnCommandRange(ID_REVERSE_25, ID_REVERSE_100, [this](unsigned id) {
        Guard([&] { StartReverse(ReverseRateForCommand(id)); });
    });
    OnUpdateCommandRange(ID_REVERSE_25, ID_REVERSE_100, [this](CCmdUI* ui) {
        ui->Enable(IsFileLoaded() && IsSeekable() && m_stepper.IsUsable() &&
                   !m_ctx.IsDeinterlaceOn());
        ui->SetCheck(m_reverseRate == ReverseRateForCommand(ui->m_nID));
    });
    OnUpdateCommandRange(ID_RATE_FIRST, ID_RATE_LAST, [this](CCmdUI* ui) {
        double rate = RateForCommand(ui->m_nID);
        if (rate <= 0)
            return;
        ui->Enable(ui->m_nID == ID_RATE_100 || m_ctx.CanChangeRate());
        ui->SetRadio(int(rate * 100) == int(m_ctx.GetRate() * 100));
    });
}

// ---------------------------------------------------------------- options

void CVideoPanel::SetPlayOpt(int id, const CPlayOpt& option) {
    CPlayPanel::SetPlayOpt(id, option);
    // The snapshot object's own numbering of the settings it uses.
    static const std::map<int, CVaSnapshot::EOption> kinds = {
        {optIdSnapDir, CVaSnapshot::optDir},
        {optIdSnapAutoFile, CVaSnapshot::optAutoFile},
        {optIdSnapImgQuality, CVaSnapshot::optImgQuality},
        {optIdSnapImgRangeDist, CVaSnapshot::optImgRangeDist},
        {optIdSnapImgRangeDistUnit, CVaSnapshot::optImgRangeDistUnit},
        {optIdSnapFileExt, CVaSnapshot::optFileExt},
        {optIdSnapFileExtImg, CVaSnapshot::optFileExtImg}};
    auto kind = kinds.find(id);
    if (kind != kinds.end())
        m_snapshot.SetOptionName(kind->second, option.section, option.key);
}

void CVideoPanel::LoadPanelOptions() {
    for (int id : {optIdVideoScale, optIdDeIntMethod, optIdDeIntInterpolate, optIdDeIntSharpen})
        AdviseOpt(id);
    Guard([&] { m_ctx.SetScaleMode(GetOpt(optIdVideoScale).GetInt()); });
    AdviseOpt(optIdVMRAspectRatio);
    Guard([&] { ApplyAspectRatio(); });
    Guard([&] {
        // 2: on only where the platform needs it; this one does.
        m_ctx.SetAudioClockFix(GetOpt(optIdFixAudioClock).GetInt() != 0);
        m_ctx.SetDeinterlace(GetOpt(optIdDeInterlace).GetBool());
    });
    Guard([&] { ApplyDeinterlaceSettings(); });
}

void CVideoPanel::SavePanelOptions() {
    if (m_lastFile.empty())
        ResetOpt(optIdLastFile);
    else
        SetOpt(optIdLastFile, m_lastFile);
}

void CVideoPanel::OnOptionChanged(const CAppOpt& value, const std::string&, const std::string&,
                                  uint32_t cookie) {
    Guard([&] {
        switch (cookie) {
            case optIdVideoScale:
                m_ctx.SetScaleMode(value.GetInt());
                break;
            case optIdVMRAspectRatio:
                ApplyAspectRatio();
                break;
            case optIdDeIntMethod:
            case optIdDeIntInterpolate:
            case optIdDeIntSharpen:
                ApplyDeinterlaceSettings();
                break;
            default:
                break;
        }
    });
}

void CVideoPanel::ApplyAspectRatio() {
    m_ctx.SetPreserveAspectRatio(GetOpt(optIdVMRAspectRatio).GetBool());
    if (!IsFileLoaded())
        return;
    if (m_ctx.IsDeinterlaceOn() || m_ctx.GetRenderer().CheckFeatures(7) == 1)
        ReopenFile();
}

void CVideoPanel::ApplyDeinterlaceSettings() {
    m_ctx.SetDeinterlaceSettings(GetOpt(optIdDeIntMethod).GetInt(),
                                 GetOpt(optIdDeIntInterpolate).GetInt(),
                                 GetOpt(optIdDeIntSharpen).GetInt());
    SetFrameDurationDisplays();
}

// ---------------------------------------------------------------- panel

QSize CVideoPanel::GetPreferredSize() {
    QSize preferred = CPlayPanel::GetPreferredSize();
    QSize size = this->size();
    SIZE video;
    if (m_video && IsFileLoaded() && m_ctx.GetVideoSize(video) && video.cy > 0)
        size.rwidth() += panel::MulDiv(m_video->height(), video.cx, video.cy) - m_video->width();
    return size.expandedTo(preferred);
}

bool CVideoPanel::IsFullScreen() {
    return m_ctx.IsFullScreen();
}

void CVideoPanel::OnEscapeKey() {
    Guard([&] { m_ctx.SetFullScreen(false); });
}

bool CVideoPanel::OnEnterKey(bool alt) {
    if (!alt)
        return false;
    Guard([&] {
        if (IsFileLoaded())
            m_ctx.SetFullScreen(!m_ctx.IsFullScreen());
    });
    return true;
}

void CVideoPanel::UpdatePanelMode() {
    MakeActive();
}

void CVideoPanel::OnPanelActivate() {
    if (!IsCursorInVideo(QCursor::pos()))
        MakeActive();
}

bool CVideoPanel::MakeActive() {
    return m_video && m_video->MakeActive();
}

bool CVideoPanel::IsCursorInVideo(const QPoint& global) {
    if (!m_video)
        return false;
    if (m_ctx.IsFullScreen()) {
        QWidget* top = m_video->window();
        return top && top->frameGeometry().contains(global);
    }
    return m_video->rect().contains(m_video->mapFromGlobal(global));
}

void CVideoPanel::RelinkVideo() {
    if (m_video)
        m_ctx.SetVideoWindow(m_video);
}

// ---------------------------------------------------------------- opening

bool CVideoPanel::OpenFileImpl(const std::string& name, bool reopen,
                               const std::string* playListText) {
    CWaitCursorScope wait;
    const bool wasRunning = m_ctx.GetState() == CPlayCtx::PlayRunning;
    if (!reopen && m_ctrlPanel)
        m_ctrlPanel->OnFileEvent(fileEventOpening, name, std::string());
    try {
        const double rate = m_ctx.GetRate();
        REFERENCE_TIME position = -1, selStart = -1, selStop = -1;
        bool hadSelection = false;
        if (reopen && IsFileLoaded()) {
            position = GetPosition();
            hadSelection = m_ctx.GetSelection(selStart, selStop);
        }
        StopReverse();
        m_cachePos = -1;
        m_stepper.SetMedia(std::string(), 0);
        if (playListText)
            m_ctx.LoadPlayLists(*playListText);
        else
            m_ctx.Open(name);
        if (!reopen)
            m_lastFile = name;
        if (m_ctx.CanChangeRate())
            m_ctx.SetRate(rate);
        if (position >= 0 && m_ctx.CanSeek())
            m_ctx.SetPosition(position);
        if (hadSelection && selStart <= selStop)
            m_ctx.SetSelection(selStart, selStop);
        m_clipListTick = -1;
        if (wasRunning)
            m_ctx.Run();
    } catch (...) {
        ReportCurrentException();
        if (!reopen && m_ctrlPanel)
            m_ctrlPanel->OnFileEvent(fileEventFailed, name, std::string());
        if (m_ctrlPanel)
            m_ctrlPanel->ShowRate(1.0);
        return false;
    }
    SetupSlider();
    SetFrameDurationDisplays();
    ShowSelection();
    Guard([&] { ResetFrameCache(); });
    if (!reopen && m_ctrlPanel)
        m_ctrlPanel->OnFileEvent(fileEventOpened, name, std::string());
    RefreshPosition(true);
    return true;
}

void CVideoPanel::ReopenFile() {
    std::string name = m_ctx.GetMediaName();
    if (!name.empty())
        OpenFileImpl(name, true);
}

void CVideoPanel::CloseFile() {
    if (!IsFileLoaded())
        return;
    StopReverse();
    m_cachePos = -1;
    m_stepper.SetMedia(std::string(), 0);
    m_ctx.Close();
    m_sliderRange = 0;
    if (m_slider) {
        QSignalBlocker block(m_slider);
        m_slider->setRange(0, 0);
        m_slider->setValue(0);
        m_slider->SetSelection(-1, -1);
        m_slider->setEnabled(false);
    }
    if (m_timeCtrl)
        m_timeCtrl->SetTime(0);
    if (m_ctrlPanel)
        m_ctrlPanel->OnFileEvent(fileEventClosed, std::string(), std::string());
}

bool CVideoPanel::DropUrls(const QList<QUrl>& urls) {
    if (urls.isEmpty())
        return false;
    const QUrl& url = urls.front();
    std::string name;
    if (url.isLocalFile()) {
        QString path = url.toLocalFile();
        // Folders and things that are not files are no media.
        if (!QFileInfo(path).isFile())
            return false;
        name = path.toStdString();
    } else {
        name = url.toString().toStdString();
    }
    // Names longer than a path may be are cut, as the drop format allows.
    constexpr size_t kMaxPath = 260;
    if (name.size() >= kMaxPath && url.isLocalFile())
        return false;
    return OpenFile(name);
}

void CVideoPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CVideoPanel::dropEvent(QDropEvent* event) {
    QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    // Opening may show a message box: not inside the drag-and-drop loop.
    QMetaObject::invokeMethod(
        this, [this, urls] { Guard([&] { DropUrls(urls); }); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- position

REFERENCE_TIME CVideoPanel::GetRoundedPosition() {
    return RoundToFrame(GetPosition(), m_ctx.GetFrameDuration());
}

REFERENCE_TIME CVideoPanel::GetSliderTime() {
    if (!m_slider)
        return -1;
    return panel::SliderToTime(m_slider->value(), m_sliderRange, m_slider->maximum(),
                               m_ctx.GetFrameDuration());
}

void CVideoPanel::SetupSlider() {
    m_sliderRange = 0;
    if (!m_slider)
        return;
    QSignalBlocker block(m_slider);
    panel::CSliderSetup s =
        panel::ComputeSliderSetup(m_ctx.GetDuration(), m_ctx.GetFrameDuration());
    if (s.rangeMs <= 0) {
        m_slider->setRange(0, 0);
        m_slider->setValue(0);
        m_slider->setEnabled(false);
        return;
    }
    m_sliderRange = s.rangeMs;
    m_slider->setValue(0);
    m_slider->setRange(0, s.positions);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(s.pageSize);
    m_slider->setTickInterval(s.ticFrequency);
    m_slider->setEnabled(IsSeekable());
}

void CVideoPanel::SetFrameDurationDisplays() {
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    if (m_timeCtrl)
        m_timeCtrl->SetFrameDuration(int(d / MILLISECONDS));
    if (m_clipList)
        m_clipList->SetFrameDuration(d);
}

void CVideoPanel::ShowSelection() {
    if (!m_slider)
        return;
    REFERENCE_TIME start = -1, stop = -1;
    if (m_sliderRange > 0 && m_ctx.GetSelection(start, stop) && m_slider->maximum() > 0) {
        int max = m_slider->maximum();
        m_slider->SetSelRangeEnabled(true);
        m_slider->SetSelection(panel::TimeToSlider(RefTimeToMs(start), m_sliderRange, max),
                               panel::TimeToSlider(RefTimeToMs(stop), m_sliderRange, max));
    } else {
        m_slider->SetSelection(-1, -1);
        m_slider->SetSelRangeEnabled(false);
    }
    m_slider->update();
}

void CVideoPanel::RefreshPosition(bool force) {
    if (!IsFileLoaded())
        return;
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    REFERENCE_TIME p = RoundToFrame(GetPosition(), d);
    int32_t pm = RefTimeToMs(p);
    if (m_slider) {
        REFERENCE_TIME sliderTime = GetSliderTime();
        if (sliderTime >= 0 && RefTimeToMs(sliderTime) != pm) {
            QSignalBlocker block(m_slider);
            m_slider->setValue(panel::TimeToSlider(pm, m_sliderRange, m_slider->maximum()));
        }
    }
    if (m_timeCtrl && !m_timeCtrl->hasFocus()) {
        REFERENCE_TIME shown = -1;
        bool ok = m_timeCtrl->GetTime(shown);
        if (!ok || shown < 0 || (RefTimeToMs(shown) + 5) / 10 != (pm + 5) / 10)
            m_timeCtrl->SetTime(p);
    }
    if (m_clipList &&
        (force || m_clipListTick < 0 || m_clock.elapsed() - m_clipListTick > kClipListInterval)) {
        m_clipListTick = m_clock.elapsed();
        int clip = m_ctx.GetCurrentClip();
        if (clip >= 0) {
            m_clipList->SelectIndex(clip);
        } else if (m_ctx.GetState() == CPlayCtx::PlayPaused && m_ctx.IsAtSelectionStop()) {
            REFERENCE_TIME t = m_ctx.GetSelectionStop() - d;
            m_clipList->SelectTime(t, t);
        } else {
            m_clipList->SelectTime(p, p);
        }
    }
}

void CVideoPanel::SeekTo(int32_t ms, bool constrained) {
    REFERENCE_TIME t = RoundToFrame(MsToRefTime(ms), m_ctx.GetFrameDuration());
    LeaveCache(false);
    m_ctx.Seek(t, constrained);
    RefreshPosition(true);
}

void CVideoPanel::SeekToUser(int32_t ms) {
    bool constrained = m_ctx.IsInSelection();
    if (QApplication::keyboardModifiers() & Qt::ControlModifier) {
        constrained = false;
    } else if (constrained && m_ctx.GetState() == CPlayCtx::PlayPaused && !IsJogWheelOpen()) {
        // At an edge of the selection the user may step out of it.
        int32_t current = RefTimeToMs(GetRoundedPosition());
        if ((ms < current && m_ctx.IsAtSelectionStart()) ||
            (ms > current && m_ctx.IsAtSelectionStop()))
            constrained = false;
    }
    SeekTo(ms, constrained);
}

void CVideoPanel::SeekRelative(int32_t deltaMs) {
    SeekToUser(RefTimeToMs(GetRoundedPosition()) + deltaMs);
}

void CVideoPanel::OnSliderMoved(int) {
    if (m_inScroll)
        return;
    m_inScroll = true;
    try {
        REFERENCE_TIME t = GetSliderTime();
        if (t >= 0 && t != GetRoundedPosition()) {
            LeaveCache(false);
            m_ctx.SetPosition(t);
        }
    } catch (...) {
        m_inScroll = false;
        throw;
    }
    m_inScroll = false;
}

void CVideoPanel::OnSliderDrag(bool starts) {
    if (starts) {
        if (m_ctx.GetState() == CPlayCtx::PlayRunning) {
            m_pausedForDrag = true;
            m_ctx.Pause();
        }
    } else if (m_pausedForDrag) {
        m_pausedForDrag = false;
        m_ctx.Run();
    }
}

void CVideoPanel::OnTimeChanged() {
    REFERENCE_TIME t = -1;
    if (m_timeCtrl && IsSeekable() && m_timeCtrl->GetTime(t) && t >= 0) {
        LeaveCache(false);
        m_ctx.Seek(t, false);
        RefreshPosition(true);
    }
}

bool CVideoPanel::FillClipList() {
    if (!m_clipList)
        return false;
    IPlayListInfo* info = m_ctx.GetPlayListInfo();
    if (info && (info->GetCount() > 1 || !info->GetClipTitle(0).empty() || !info->IsWholeFile(0) ||
                 m_ctx.GetMediaName().empty())) {
        m_clipList->FillFromPlaylist(*info);
        m_clipList->SetFrameDuration(m_ctx.GetFrameDuration());
        return true;
    }
    if (!info && m_ctx.HasTimeline()) {
        m_clipList->FillFromItems(TimelineClips(m_ctx.GetTimeline()));
        return true;
    }
    m_clipList->Clear();
    return false;
}

// ---------------------------------------------------------------- timer

void CVideoPanel::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId)
        return CPlayPanel::timerEvent(event);
    try {
        if (IsJogWheelOpen())
            ShuttleTick();
        RefreshPosition(false);
    } catch (const CException&) {
        // a failing position query shows nothing new this tick
    }
}

bool CVideoPanel::IsJogWheelOpen() const {
    return CWheelWnd::GetOpenWheel() != nullptr;
}

void CVideoPanel::ShuttleTick() {
    if (m_shuttleSpeed == 0 || m_shuttleDue < 0 || m_clock.elapsed() < m_shuttleDue)
        return;
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    panel::CShuttleStep step = panel::ComputeShuttleStep(m_shuttleSpeed, int32_t(d / MILLISECONDS));
    // Backward speeds show their frames from the cache.
    REFERENCE_TIME target = RoundToFrame(GetRoundedPosition() + MsToRefTime(step.stepMs), d);
    if (step.stepMs < 0 && MayStepInCache(target) && ShowFromCache(target, true))
        m_shuttleDue = m_clock.elapsed() + step.intervalMs;
    else
        SeekRelative(step.stepMs);
    m_shuttleDue = m_clock.elapsed() + step.intervalMs;
}

void CVideoPanel::SetShuttleSpeed(int percent) {
    m_shuttleSpeed = percent;
    m_shuttleDue = m_clock.elapsed();
}

void CVideoPanel::OnWheelClosed() {
    Guard([&] {
        if (IsFileLoaded())
            m_ctx.Pause();
    });
    m_shuttleSpeed = 0;
    m_shuttleDue = -1;
}

void CVideoPanel::OpenWheelAt(const QPoint& cursor) {
    MakeActive();
    if (!IsSeekable())
        return;
    StopReverse();
    m_ctx.Pause();
    ApplyRate(1.0);
    SetShuttleSpeed(0);
    m_shuttleDue = -1;
    OpenJogWheel(this, this, !m_ctx.IsFullScreen(), &cursor);
}

// ---------------------------------------------------------------- mouse

void CVideoPanel::HandleMousePress(Qt::MouseButton button, const QPoint& global) {
    if (button == Qt::LeftButton) {
        if (!m_ctx.IsFullScreen()) {
            if (m_video)
                m_video->setFocus(Qt::MouseFocusReason);
            if (MakeActive())
                return;
        }
        if (IsFileLoaded() && (m_ctx.IsFullScreen() || IsCursorInVideo(global))) {
            CVaRenderer renderer = m_ctx.GetRenderer();
            if (!renderer.GetOverlay(0))
                OnPlayPause();
        }
    } else if (button == Qt::RightButton || button == Qt::MiddleButton) {
        OpenWheelAt(global);
    }
}

void CVideoPanel::mousePressEvent(QMouseEvent* event) {
    Guard([&] { HandleMousePress(event->button(), event->globalPosition().toPoint()); });
    event->accept();
}

void CVideoPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click is a second button press.
    mousePressEvent(event);
}

void CVideoPanel::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (event->modifiers() != Qt::NoModifier || event->buttons() != Qt::NoButton)
        return;
    Guard([&] {
        if (!IsSeekable())
            return;
        int delta = event->angleDelta().y();
        if (delta != 0)
            SeekRelative(-delta);
    });
}

bool CVideoPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_video) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                Guard(
                    [&] { HandleMousePress(mouse->button(), mouse->globalPosition().toPoint()); });
                PostActivity();
                return true;
            }
            case QEvent::Wheel:
                wheelEvent(static_cast<QWheelEvent*>(event));
                return true;
            case QEvent::MouseMove:
                if (!IsJogWheelOpen() && m_ctx.IsFullScreen())
                    m_video->setCursor(Qt::ArrowCursor);
                break;
            default:
                break;
        }
    }
    return CPlayPanel::eventFilter(watched, event);
}

void CVideoPanel::customEvent(QEvent* event) {
    if (int(event->type()) == WM_SLIDER_DRAG) {
        auto* drag = static_cast<CSliderDragEvent*>(event);
        Guard([&] { OnSliderDrag(drag->WParam() != 0); });
        return;
    }
    CPlayPanel::customEvent(event);
}

// ---------------------------------------------------------------- notifications

void CVideoPanel::OnPlayEnd(CPlayCtx*) {
    Guard([&] {
        if (GetOpt(optIdPlayCont).GetBool() && m_ctx.CanSeek()) {
            SeekTo(0, true);
            if (m_ctx.GetState() != CPlayCtx::PlayRunning)
                m_ctx.Run();
        } else {
            m_ctx.Pause();
        }
        RefreshPosition(true);
    });
    PostActivity();
    if (m_playEndObserver)
        Guard([&] { m_playEndObserver(); });
}

void CVideoPanel::OnPlayListChanged(CPlayCtx*) {
    Guard([&] {
        if (!IsFileLoaded())
            return;
        FillClipList();
        SetupSlider();
        ShowSelection();
        RefreshPosition(true);
    });
}

void CVideoPanel::OnPlayNotify(CPlayCtx*, int32_t code, int32_t param) {
    if (!m_video)
        return;
    switch (code) {
        case PN_OPEN_BEGIN:
            if (param == 1)
                m_video->SetStatusText(IDS_LOADING_VIDEO);
            break;
        case PN_OPEN_DONE:
        case PN_OPEN_FAILED:
            m_video->SetStatusText(0);
            break;
        case PN_STATE_BEGIN:
        case PN_SEEK_WAIT_BEGIN:
            Guard([&] { m_ctx.ShowVideo(false); });
            m_video->SetStatusText(IDS_BUFFERING_VIDEO);
            break;
        case PN_STATE_DONE:
        case PN_STATE_FAILED:
        case PN_SEEK_WAIT_DONE:
            m_video->SetStatusText(0);
            Guard([&] { m_ctx.ShowVideo(true); });
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- commands

void CVideoPanel::PlayOrPause(bool run) {
    CWaitCursorScope wait;
    StopReverse();
    if (run)
        LeaveCache(true);
    if (m_ctx.GetState() == CPlayCtx::PlayPaused && m_ctx.IsAtEnd() && m_ctx.CanSeek())
        SeekTo(0, true);
    const CPlayCtx::PlayState before = m_ctx.GetState();
    try {
        run ? m_ctx.Run() : m_ctx.Pause();
    } catch (const CComException& e) {
        // A network file that went away while stopped: open it again, once.
        if (e.Error() != HRESULT(0xC00D002B) || before != CPlayCtx::PlayStopped)
            throw;
        ReopenFile();
        run ? m_ctx.Run() : m_ctx.Pause();
    }
}

void CVideoPanel::OnPlay() {
    PlayOrPause(true);
}

void CVideoPanel::OnPause() {
    PlayOrPause(false);
}

void CVideoPanel::OnPlayPause() {
    if (m_ctx.GetState() == CPlayCtx::PlayRunning)
        OnPause();
    else
        OnPlay();
}

void CVideoPanel::OnStop() {
    CWaitCursorScope wait;
    LeaveCache(false);
    m_ctx.StopAndRewind();
    RefreshPosition(true);
}

void CVideoPanel::OnStepBack() {
    StopReverse();
    if (m_ctx.GetState() != CPlayCtx::PlayPaused)
        m_ctx.Pause();
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    REFERENCE_TIME target = GetRoundedPosition() - d;
    if (d > 0 && MayStepInCache(target) && ShowFromCache(target, true)) {
        m_stepper.PrefetchBefore(target);
        return;
    }
    int32_t f = int32_t(d / MILLISECONDS);
    if (f > 0)
        SeekRelative(-f);
}

void CVideoPanel::OnStepForward() {
    StopReverse();
    if (m_ctx.GetState() != CPlayCtx::PlayPaused)
        m_ctx.Pause();
    // Frames decoded for backward steps serve the forward ones too.
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    REFERENCE_TIME target = GetRoundedPosition() + d;
    if (d > 0 && MayStepInCache(target) && ShowFromCache(target, false))
        return;
    if (m_cachePos >= 0) {
        LeaveCache(false);
        m_ctx.Seek(target, false);
        RefreshPosition(true);
        return;
    }
    if (m_ctx.StepOneFrame())
        return;
    int32_t f = int32_t(m_ctx.GetFrameDuration() / MILLISECONDS);
    if (f > 0)
        SeekRelative(f);
    else
        RefreshPosition(true);
}

void CVideoPanel::OnDeinterlace() {
    SetDeinterlace(!m_ctx.IsDeinterlaceOn());
}

bool CVideoPanel::GetContinuousPlay() const {
    return GetOpt(optIdPlayCont).GetBool();
}

void CVideoPanel::SetContinuousPlay(bool on) {
    SetOpt(optIdPlayCont, on);
}

bool CVideoPanel::SetDeinterlace(bool on) {
    LeaveCache(true);
    if (!m_ctx.SetDeinterlace(on))
        return false;
    SetFrameDurationDisplays();
    SetOpt(optIdDeInterlace, on);
    return true;
}

REFERENCE_TIME CVideoPanel::GetMarkTime() {
    if (m_timeCtrl) {
        REFERENCE_TIME t = -1;
        if (m_timeCtrl->GetTime(t))
            return RoundToFrame(t, m_ctx.GetFrameDuration());
        return -1;
    }
    return GetSliderTime();
}

void CVideoPanel::OnMark(bool begin) {
    REFERENCE_TIME t = GetMarkTime();
    if (begin)
        m_ctx.SetSelectionStart(t);
    else
        m_ctx.SetSelectionStop(t);
    ShowSelection();
}

void CVideoPanel::OnSelectAllNone() {
    if (m_ctx.HasSelection())
        m_ctx.ClearSelection();
    else
        m_ctx.SetSelection(0, m_ctx.GetDuration());
    ShowSelection();
}

void CVideoPanel::OnRefreshFrameRate() {
    m_ctx.ResetFrameDuration();
    SetFrameDurationDisplays();
    update();
}

void CVideoPanel::ApplyRate(double rate) {
    if (m_ctrlPanel)
        m_ctrlPanel->ShowRate(rate);
    m_ctx.SetRate(rate);
}

// ---------------------------------------------------------------- frame cache

void CVideoPanel::ResetFrameCache() {
    m_cachePos = -1;
    // Only plain media files: playlists and timelines are played by the
    // graph alone.
    std::string media = m_ctx.GetMediaName();
    const bool plain = !media.empty() && !m_ctx.GetPlayListInfo() && !m_ctx.HasTimeline() &&
                       m_ctx.HasVideo() && IsSeekable();
    const int32_t mib =
        GetAppOptions()
            .GetOption(kSectionSettings, kFrameCacheOption, CAppOpt(int32_t(kDefaultFrameCacheMiB)))
            .GetInt();
    m_stepper.SetMedia(plain && mib != 0 ? media : std::string(), m_ctx.GetFrameDuration());
    m_stepper.SetBudget(size_t(mib > 0 ? mib : kDefaultFrameCacheMiB) << 20);
}

bool CVideoPanel::MayStepInCache(REFERENCE_TIME t) {
    if (!m_stepper.IsUsable() || m_ctx.IsDeinterlaceOn() || t < 0 || t >= m_ctx.GetDuration())
        return false;
    // Steps out of a selection that holds the position keep the graph's rules.
    REFERENCE_TIME start = -1, stop = -1;
    if (m_ctx.GetSelection(start, stop)) {
        REFERENCE_TIME p = GetRoundedPosition();
        if (p >= start && p <= stop && (t < start || t > stop))
            return false;
    }
    return true;
}

bool CVideoPanel::ShowFromCache(REFERENCE_TIME t, bool decode) {
    CComPtr<IBaseFilter> filter = m_ctx.GetGraph()->FindVideoWindowFilter();
    auto* renderer = dynamic_cast<CVideoRendererFilter*>(filter.Get());
    if (!renderer || !renderer->Window())
        return false;
    GstSample* sample = nullptr;
    {
        CWaitCursorScope wait;
        sample = m_stepper.GetFrame(t, decode);
    }
    if (!sample)
        return false;
    renderer->Window()->Store()->Put(sample);
    m_cachePos = t;
    RefreshPosition(true);
    return true;
}

void CVideoPanel::LeaveCache(bool seek) {
    StopReverse();
    if (m_cachePos < 0)
        return;
    REFERENCE_TIME t = m_cachePos;
    m_cachePos = -1;
    if (seek)
        m_ctx.Seek(t, false);
}

void CVideoPanel::StartReverse(double rate) {
    REFERENCE_TIME d = m_ctx.GetFrameDuration();
    if (rate <= 0 || d <= 0 || !IsSeekable() || !m_stepper.IsUsable())
        return;
    if (m_ctx.GetState() != CPlayCtx::PlayPaused)
        m_ctx.Pause();
    m_reverseRate = rate;
    if (m_ctrlPanel)
        m_ctrlPanel->ShowRate(-rate);
    // One frame a tick at the stream's frame rate times the speed; a tick
    // that decodes a stretch delays the next ones, none is skipped.
    if (!m_reverseTimer) {
        m_reverseTimer = new QTimer(this);
        m_reverseTimer->setTimerType(Qt::PreciseTimer);
        connect(m_reverseTimer, &QTimer::timeout, this, [this] { Guard([&] { ReverseTick(); }); });
    }
    m_reverseTimer->start(std::max(1, int(std::lround(double(d) / MILLISECONDS / rate))));
    ReverseTick();
}

void CVideoPanel::ReverseTick() {
    if (m_reverseRate <= 0)
        return;
    REFERENCE_TIME target = GetRoundedPosition() - m_ctx.GetFrameDuration();
    if (!MayStepInCache(target) || !ShowFromCache(target, true))
        StopReverse();  // at the start (or of the selection): stands there
    else
        m_stepper.PrefetchBefore(target);
}

void CVideoPanel::StopReverse() {
    if (m_reverseRate <= 0)
        return;
    m_reverseRate = 0;
    if (m_reverseTimer)
        m_reverseTimer->stop();
    if (m_ctrlPanel)
        m_ctrlPanel->ShowRate(m_ctx.GetRate());
}
