#pragma once
// CVideoCtrlPanel: the strip of controls under the video. Owner-drawn
// transport buttons, the time field, the file box with the recent files
// (or, for playlists, the list of clips) and the buttons to open, reload
// and find files and to save a snapshot. It executes the file commands
// itself and forwards every transport command to the video panel, so the
// same ids work from the buttons, the rate menu, the accelerator table
// and the player window's command routing.
#include <array>
#include <string>
#include <vector>

#include "ui/PanelInterfaces.h"
#include "ui/PlayPanel.h"

class CAutoSizeCombo;
class CMsTimeCtrl;
class CNiftyButton;
class CTimelineCombo;
class CVideoPanel;

class CVideoCtrlPanel : public CPlayPanel, public IVideoCtrlPanel, public ISyncVideoCtrlPanel {
public:
    static constexpr int kButtonSlots = 22;
    static constexpr int kUsedButtons = 20;
    static constexpr int kRateSlot = 3;
    static constexpr int kHelpSlot = 19;
    static constexpr int kTimerPeriod = 50;

    explicit CVideoCtrlPanel(QWidget* parent = nullptr);
    ~CVideoCtrlPanel() override;

    // ---- CPlayPanel
    QSize GetPreferredSize() override;
    bool IsFullScreen() override;
    void LoadPanelOptions() override;
    void SavePanelOptions() override;
    bool OnEnterKey(bool alt) override;
    void UpdatePanelMode() override;
    void OnPanelActivate() override;
    bool PreTranslateMessage(QKeyEvent* event) override;
    bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) override;

    // ---- set by the player window
    void AttachVideo(CVideoPanel* video);
    CVideoPanel* GetVideo() const { return m_video; }
    void LinkVideo(CVideoPanel* video);
    void UnlinkVideo(CVideoPanel* video);
    void SetContainer(IVideoCtrlContainer* container) { m_container = container; }
    void SetSyncPartner(ISyncVideoCtrlPanel* partner) { m_syncPartner = partner; }
    void SetFixedFile(bool on);
    bool IsFixedFile() const { return m_fixedFile; }

    // ---- recent files (the file combo's list)
    int FindRecentFile(const std::string& name) const;
    void AddRecentFileEntry(const std::string& name);
    void RemoveRecentFileEntry(const std::string& name);
    std::vector<std::string> GetRecentFiles() const;
    int GetRecentFileLimit() const { return m_maxMRU; }
    // The file the combo names: the selected entry, else the trimmed text.
    std::string GetComboFile() const;

    // ---- controls
    CMsTimeCtrl* GetTimeCtrl() const { return m_time; }
    CAutoSizeCombo* GetFileCombo() const { return m_fileCombo; }
    CTimelineCombo* GetClipCombo() const { return m_clipCombo; }
    CNiftyButton* GetButton(int slot) const;
    // The text of the rate button ("" at rate 1.0).
    QString GetRateText() const;

    // ---- IVideoCtrlPanel
    void OnFileEvent(int kind, const std::string& name, const std::string& displayName) override;
    bool IsSyncActive() override;
    void OnUserSeek(CVideoPanel* panel) override {}
    bool OnEndOfMedia(CVideoPanel* panel) override { return false; }
    void ShowRate(double rate) override;
    void OnDeinterlaceChanged(bool on) override {}
    void OnVideoActivated(CVideoPanel* panel) override;

    // ---- ISyncVideoCtrlPanel (never coupled in this player)
    void CopyRecentFiles(ISyncVideoCtrlPanel* to) override {}
    void AddRecentFile(const std::string& name) override { AddRecentFileEntry(name); }
    void RemoveRecentFile(const std::string& name) override { RemoveRecentFileEntry(name); }

    // The file dialog's filter list and the search patterns, from the strings.
    static std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& filter);
    static std::string OpenFileFilter();
    static std::string SearchPatterns();

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    void SetupLayout() override;
    void AddTooltips() override;
    void OnOptionChanged(const CAppOpt& value, const std::string& section, const std::string& name,
                         uint32_t cookie) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RegisterCommands();
    bool IsForwarded(unsigned id) const;
    bool RouteForwarded(unsigned id, int code, CCmdUI* cmdUI);
    void ApplyFlatLook();
    void WidenRateButton();
    void SizeCombos();
    void MoveFocus();
    bool IsFocusInEditFields() const;
    void ShowClipCombo(bool show);
    void OnOpenFile();
    // The file dialog; an empty result when cancelled.
    std::string AskOpenFile(const std::string& initial);
    void OnFind();
    void OnSaveSnapshot();
    void OnReloadFile();
    void OnFileComboSelChange();
    void OnFileComboKillFocus();
    void OnClipComboSelChange();

    CVideoPanel* m_video = nullptr;
    std::vector<CVideoPanel*> m_group;
    IVideoCtrlContainer* m_container = nullptr;
    ISyncVideoCtrlPanel* m_syncPartner = nullptr;
    CMsTimeCtrl* m_time = nullptr;
    CAutoSizeCombo* m_fileCombo = nullptr;
    CTimelineCombo* m_clipCombo = nullptr;
    std::array<CNiftyButton*, kButtonSlots> m_buttons{};
    int m_maxMRU = 50;
    bool m_fixedFile = false;
    int m_timerId = 0;
};
