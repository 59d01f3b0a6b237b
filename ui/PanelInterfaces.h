#pragma once
// The interfaces through which the panels of the player window, the window
// itself and its container talk to each other.
#include <string>

class CCmdUI;
class CVideoPanel;
class CVideoCtrlPanel;
class CVideoPlayerCtrl;

// File events the video panel reports to its control panel.
enum EFileEvent : int {
    fileEventOpening = 1,
    fileEventOpened = 2,
    fileEventFailed = 3,
    fileEventClosed = 4,
};

// The control panel as the video panel sees it.
class IVideoCtrlPanel {
public:
    virtual void OnFileEvent(int kind, const std::string& name, const std::string& displayName) = 0;
    virtual bool IsSyncActive() = 0;
    virtual void OnUserSeek(CVideoPanel* panel) = 0;
    virtual bool OnEndOfMedia(CVideoPanel* panel) = 0;
    virtual void ShowRate(double rate) = 0;
    virtual void OnDeinterlaceChanged(bool on) = 0;
    virtual void OnVideoActivated(CVideoPanel* panel) = 0;

protected:
    ~IVideoCtrlPanel() = default;
};

// Recent-file mirroring between two control panels (never coupled here).
class ISyncVideoCtrlPanel {
public:
    virtual void CopyRecentFiles(ISyncVideoCtrlPanel* to) = 0;
    virtual void AddRecentFile(const std::string& name) = 0;
    virtual void RemoveRecentFile(const std::string& name) = 0;

protected:
    ~ISyncVideoCtrlPanel() = default;
};

// The player window as its control panels see it.
class IVideoCtrlContainer {
public:
    virtual void OnFileEvent(CVideoCtrlPanel* panel, int kind, const std::string& param) = 0;
    virtual void OnVideoActivated(CVideoCtrlPanel* panel) = 0;
    virtual bool ExecuteCommand(unsigned id) = 0;
    virtual bool UpdateCommand(CCmdUI* cmdUI) = 0;

protected:
    ~IVideoCtrlContainer() = default;
};

// The host of a player window (the control, or the program's window).
class IVideoPlayerContainer {
public:
    virtual void OnPlayerChanged(CVideoPlayerCtrl* player, int flag) = 0;
    virtual bool OnPlayerCommand(unsigned id) = 0;
    virtual bool OnPlayerUpdateCommand(CCmdUI* cmdUI) = 0;

protected:
    ~IVideoPlayerContainer() = default;
};

// Two-video layouts; nothing in this player calls these.
class IMultipleVideoLayout {
public:
    virtual void ToggleVideoCount() = 0;
    virtual bool HasSecondVideo() = 0;
    virtual void LinkVideos(bool link) = 0;

protected:
    ~IMultipleVideoLayout() = default;
};
