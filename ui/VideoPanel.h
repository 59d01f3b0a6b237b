#pragma once
// CVideoPanel: the upper panel of the player window. It owns the play
// context of its video, shows the picture and a position slider, executes
// every transport command (the control panel forwards them), keeps slider,
// time field and clip list in step with the position, and turns mouse
// gestures on the video into play/pause, relative seeks and the jog wheel.
#include <QElapsedTimer>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "playback/PlayCtx.h"
#include "playback/PlayNotify.h"
#include "snapshot/VaSnapshot.h"
#include "ui/FrameCache.h"
#include "ui/PanelInterfaces.h"
#include "ui/PlayPanel.h"
#include "ui/WheelWnd.h"

#include "ui/MsTimeCtrl.h"
#include "ui/TimelineCombo.h"

class CSliderExt;
class QTimer;
class CStaticVideo;

class CVideoPanel : public CPlayPanel, public IPlayNotify, public IWheelWind {
public:
    // The window timer: position display, shuttle steps, button states.
    static constexpr int kTimerPeriod = 50;
    // The clip list follows the position at most this often (ms).
    static constexpr int kClipListInterval = 250;

    explicit CVideoPanel(QWidget* parent = nullptr);
    ~CVideoPanel() override;

    // ---- CPlayPanel
    QSize GetPreferredSize() override;
    void SetPlayOpt(int id, const CPlayOpt& option) override;
    bool IsFullScreen() override;
    void LoadPanelOptions() override;
    void SavePanelOptions() override;
    void OnEscapeKey() override;
    bool OnEnterKey(bool alt) override;
    void UpdatePanelMode() override;
    void OnPanelActivate() override;

    // ---- media
    bool OpenFile(const std::string& name) { return OpenFileImpl(name, false); }
    // Loads playlists given as text (hosts); reported as an open.
    bool OpenPlayListText(const std::string& text) {
        return OpenFileImpl(std::string(), false, &text);
    }
    // The rate as a host sets it: shown on the control panel and set in the
    // play context.
    void SetRate(double rate) { ApplyRate(rate); }
    // Switches deinterlacing as the command does; false when it cannot.
    bool SetDeinterlace(bool on);
    bool GetContinuousPlay() const;
    void SetContinuousPlay(bool on);
    void ReopenFile();
    void CloseFile();
    const std::string& GetLastFile() const { return m_lastFile; }
    // The position of the frame shown: one from the frame cache while
    // stepping through it, else the graph's.
    REFERENCE_TIME GetPosition() { return m_cachePos >= 0 ? m_cachePos : m_ctx.GetPosition(); }
    REFERENCE_TIME GetFrameDuration() { return m_ctx.GetFrameDuration(); }
    double GetRate() { return m_ctx.GetRate(); }
    void SetSearchDirectory(const std::string& directory) { m_ctx.SetSearchDirectory(directory); }
    // Hands the video window to the play context again.
    void RelinkVideo();
    CPlayCtx& GetPlayCtx() { return m_ctx; }
    bool IsFileLoaded() const { return m_ctx.GetState() != CPlayCtx::PlayNone; }
    bool IsSeekable() { return m_ctx.CanSeek(); }
    // The video window and the slider (null before creation).
    CStaticVideo* GetVideoWindow() const { return m_video; }
    CSliderExt* GetSlider() const { return m_slider; }

    // ---- what the control panel attaches
    void SetCtrlPanel(IVideoCtrlPanel* panel) { m_ctrlPanel = panel; }
    IVideoCtrlPanel* GetCtrlPanel() const { return m_ctrlPanel; }
    void SetTimeCtrl(CMsTimeCtrl* time) { m_timeCtrl = time; }
    void SetClipList(CTimelineCombo* clips) { m_clipList = clips; }
    CTimelineCombo* GetClipList() const { return m_clipList; }

    // ---- position
    void SeekTo(int32_t ms, bool constrained);
    void SeekToUser(int32_t ms);
    void SeekRelative(int32_t deltaMs);
    void RefreshPosition(bool force);
    // The time field was edited: seek there.
    void OnTimeChanged();
    // Refills the attached clip list; true when the media has clips.
    bool FillClipList();
    void ShowSelection();
    int32_t GetSliderRange() const { return m_sliderRange; }
    // The slider's time (100 ns, frame-rounded) or -1.
    REFERENCE_TIME GetSliderTime();
    // Frame-rounded position.
    REFERENCE_TIME GetRoundedPosition();
    int GetShuttleSpeed() const { return m_shuttleSpeed; }
    bool IsJogWheelOpen() const;
    // Opens the jog wheel at 'cursor' (global coordinates); the right and
    // middle buttons do this.
    void OpenWheelAt(const QPoint& cursor);
    // Activates the video window; true when the active video changed.
    bool MakeActive();

    // ---- IPlayNotify
    void OnPlayEnd(CPlayCtx* ctx) override;
    void OnPlayListChanged(CPlayCtx* ctx) override;
    void OnPlayNotify(CPlayCtx* ctx, int32_t code, int32_t param) override;
    // ---- IWheelWind
    void SetShuttleSpeed(int percent) override;
    void OnWheelClosed() override;

    // Snapshots are possible while a video is shown.
    bool CanSaveSnapshot() { return m_ctx.HasVideo(); }
    // Saves the current frame under a name made from 'baseName'; the type
    // written, or 0 when the user cancelled.
    int SaveSnapshot(const std::string& baseName) {
        return m_snapshot.SaveSnapshot(&m_ctx, baseName);
    }

    // Told after the panel handled the end of the media (hosts, scripts).
    void SetPlayEndObserver(std::function<void()> observer) {
        m_playEndObserver = std::move(observer);
    }

    // Handles a dropped list of URLs; true when a file was opened.
    bool DropUrls(const QList<QUrl>& urls);

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    void SetupLayout() override;
    void OnOptionChanged(const CAppOpt& value, const std::string& section, const std::string& name,
                         uint32_t cookie) override;

    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool OpenFileImpl(const std::string& name, bool reopen,
                      const std::string* playListText = nullptr);
    void SetupSlider();
    void SetFrameDurationDisplays();
    void ShuttleTick();
    void HandleMousePress(Qt::MouseButton button, const QPoint& global);
    bool IsCursorInVideo(const QPoint& global);
    void OnSliderMoved(int value);
    void OnSliderDrag(bool starts);
    void ApplyAspectRatio();
    void ApplyDeinterlaceSettings();
    void Shutdown();
    void RegisterCommands();

    // ---- commands
    void OnPlay();
    void OnPause();
    void PlayOrPause(bool run);
    void OnPlayPause();
    void OnStop();
    void OnStepBack();
    void OnStepForward();
    void OnDeinterlace();
    void OnMark(bool begin);
    void OnSelectAllNone();
    void OnRefreshFrameRate();
    void ApplyRate(double rate);
    REFERENCE_TIME GetMarkTime();

    // ---- frame cache (backward steps and shuttle from memory)
    // Shows the frame at 't' from the cache (decoding its stretch when
    // 'decode'); false when the cache cannot serve it and the graph must.
    bool ShowFromCache(REFERENCE_TIME t, bool decode);
    // Leaves the cached frame: the graph goes to its position (when 'seek')
    // and takes over the position again.
    void LeaveCache(bool seek);
    // Whether a step from the position to 't' may go through the cache.
    bool MayStepInCache(REFERENCE_TIME t);
    void ResetFrameCache();
    // Reverse play: frames from the cache backwards at 'rate' (0.25 ... 1)
    // times the frame rate while the graph stands paused.
    void StartReverse(double rate);
    void ReverseTick();
    void StopReverse();

    CPlayCtx m_ctx;
    CStaticVideo* m_video = nullptr;
    CSliderExt* m_slider = nullptr;
    std::string m_lastFile;
    int32_t m_sliderRange = 0;
    int m_shuttleSpeed = 0;
    qint64 m_shuttleDue = -1;
    IVideoCtrlPanel* m_ctrlPanel = nullptr;
    QPointer<CMsTimeCtrl> m_timeCtrl;
    QPointer<CTimelineCombo> m_clipList;
    bool m_inScroll = false;
    bool m_pausedForDrag = false;
    qint64 m_clipListTick = -1;
    int m_timerId = 0;
    bool m_created = false;
    bool m_shutDown = false;
    QElapsedTimer m_clock;
    CVaSnapshotExt m_snapshot;
    std::function<void()> m_playEndObserver;
    CFrameStepper m_stepper;
    REFERENCE_TIME m_cachePos = -1;  // the cached frame shown, -1: the graph's
    double m_reverseRate = 0;        // speed of reverse play, 0: none
    QTimer* m_reverseTimer = nullptr;
};
