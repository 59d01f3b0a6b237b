#pragma once
// CVideoPlayerCtrl: the window that holds the panels of the player: the
// video panel on top and the control panel below it. It creates the
// panels, binds their options, lays them out, routes commands between the
// panels and its container, carries the locked state and the media search
// directory to the panels, and reports its preferred size. It is built for
// two videos side by side, but every request for two is reduced to one.
#include <QWidget>
#include <string>

#include "ui/CmdTarget.h"
#include "ui/PanelInterfaces.h"

class CVideoPanel;
class CVideoCtrlPanel;

class CVideoPlayerCtrl : public QWidget,
                         public CCmdTarget,
                         public IVideoCtrlContainer,
                         public IMultipleVideoLayout {
public:
    static constexpr int kMaxVideos = 2;

    explicit CVideoPlayerCtrl(QWidget* parent = nullptr);
    ~CVideoPlayerCtrl() override;

    // Creates the window inside 'parent' (its whole area when 'rect' is
    // empty) and the panels of the first video.
    bool Create(QWidget* parent, unsigned id, const QRect& rect = QRect());

    void SetVideoCount(int count, bool apply = true);
    int GetVideoCount() const;
    CVideoPanel* GetVideoPanel(int index) const;
    CVideoCtrlPanel* GetControlPanel(int index) const;
    bool OpenFile(int index, const std::string& name);
    void CloseAll();
    void SetSearchDirectory(const std::string& directory);
    // True when the value changed.
    bool SetLocked(bool locked);
    bool IsLocked() const { return m_locked; }
    void SetContainer(IVideoPlayerContainer* container) { m_container = container; }
    QSize GetPreferredSize(bool useVideoWidth);
    void RefreshCommandUI();
    void RelinkPanels();

    // ---- IVideoCtrlContainer
    void OnFileEvent(CVideoCtrlPanel* panel, int kind, const std::string& param) override;
    void OnVideoActivated(CVideoCtrlPanel* panel) override {}
    bool ExecuteCommand(unsigned id) override;
    bool UpdateCommand(CCmdUI* cmdUI) override;

    // ---- IMultipleVideoLayout
    void ToggleVideoCount() override;
    bool HasSecondVideo() override { return GetVideoPanel(1) != nullptr; }
    void LinkVideos(bool link) override {}

    bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreatePanels(int index);
    void DestroyPanels(int index);
    void BindOptions(int index);
    void Layout();

    CVideoPanel* m_videoPanels[kMaxVideos] = {};
    CVideoCtrlPanel* m_ctrlPanels[kMaxVideos] = {};
    IVideoPlayerContainer* m_container = nullptr;
    bool m_locked = false;
};

// The player window of the control host; it behaves exactly as its base.
class CVelotraxCtrl : public CVideoPlayerCtrl {
public:
    using CVideoPlayerCtrl::CVideoPlayerCtrl;
};
