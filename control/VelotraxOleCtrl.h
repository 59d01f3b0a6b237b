#pragma once
// CVelotraxOleCtrl: the control object. It carries the automation
// interface _DVelotrax, persists its properties (property bag and stream),
// owns the frame window with the player inside, draws the link box while
// the video is shown elsewhere and hands the video to the external
// application when one is preferred.
#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "control/ExternalApp.h"
#include "control/VelotraxControl.h"
#include "control/VelotraxOleFrame.h"
#include "platform/com/Persist.h"
#include "ui/CmdTarget.h"
#include "ui/PanelInterfaces.h"

class CVelotraxCtrl;
class CVideoPanel;

class CVelotraxOleCtrl : public QWidget,
                         public CCmdTarget,
                         public CUnknownImpl<CVelotraxOleCtrl, IDispatch, IPersistPropertyBag,
                                             IPersistStreamInit, IVelotraxControl>,
                         public IVideoPlayerContainer,
                         public IVelotraxFrameCallback {
public:
    // Deferred start, posted to itself when its window was created.
    static constexpr int WM_DEFERRED_START = 0x8064;
    static constexpr int kLinkBoxHeight = 44;
    static constexpr int kMaxTextLength = 65535;
    static constexpr uint32_t kPersistVersion = 0x10000;

    CVelotraxOleCtrl();
    ~CVelotraxOleCtrl() override;

    // ---- IDispatch
    HRESULT GetTypeInfoCount(unsigned* count) override;
    HRESULT GetIDsOfNames(REFIID riid, const std::string* names, unsigned count, LCID lcid,
                          DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, unsigned* argErr) override;

    // ---- IPersistPropertyBag / IPersistStreamInit
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT Save(IPropertyBag* bag, bool clearDirty, bool saveAll) override;
    HRESULT IsDirty() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, bool clearDirty) override;
    HRESULT GetSizeMax(uint64_t* size) override;

    // ---- IVelotraxControl
    QWidget* CreateControlWindow(QWidget* parent) override;
    QWidget* GetControlWindow() override { return m_created ? this : nullptr; }
    QWidget* GetFrameWindow() override { return m_frame; }
    QWidget* GetPlayerWindow() override;
    bool GetModified(bool clear) override;
    std::string DescribeExternal() override;
    std::string GetStoredText(int dispid) override;

    // ---- IVideoPlayerContainer
    void OnPlayerChanged(CVideoPlayerCtrl* player, int flag) override;
    bool OnPlayerCommand(unsigned id) override;
    bool OnPlayerUpdateCommand(CCmdUI* cmdUI) override;
    // ---- IVelotraxFrameCallback
    void OnFrameDestroyed() override;

    bool OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) override;

    // ---- automation members (the dispatch table calls these)
    bool GetAutoSize() const { return m_autoSize; }
    void SetAutoSize(bool on);
    std::string GetMediaLocation() const { return m_mediaLocation; }
    void SetMediaLocation(const std::string& location);
    bool GetShowExternal() const { return m_showExternal; }
    void SetShowExternal(bool on);
    std::string GetFileName();
    void SetFileName(const std::string& name);
    void SetXTL(const std::string& text);
    bool GetLocked();
    void SetLocked(bool on);
    void Play();
    void Pause();
    void Stop();
    void Render();
    void Unrender();
    void AboutBox();
    void SetPlayList(const std::string& text);
    void SetPlayLists(const std::string& first, const std::string& second);
    std::string GetVersion();
    bool GetPreferLocalApp() const { return m_preferLocalApp; }
    void SetPreferLocalApp(bool on);
    bool GetUseTwoVideoWindowsExternal() const { return m_useTwoVideoWindowsExternal; }
    void SetUseTwoVideoWindowsExternal(bool on);
    IDispatch* GetCurrentImage();  // a new reference, or null
    bool GetDeinterlace();
    void SetDeinterlace(bool on);
    bool GetRepeat();
    void SetRepeat(bool on);
    double GetRate();
    void SetRate(double rate);
    int32_t GetStartTime();
    void SetStartTime(int32_t ms);
    int32_t GetStopTime();
    void SetStopTime(int32_t ms);
    int32_t GetCurrentPos();
    void SetCurrentPos(int32_t ms);

    // Stored texts (tests and hosts read them through these).
    const std::string& StoredXTL() const { return m_xtl; }
    const std::string& StoredPlayList() const { return m_playList; }
    bool IsLinkBoxShown() const;
    QRect GetLinkRect() const { return m_linkRect; }
    bool IsExternal() const { return m_external && m_external->IsChosen(); }

    // Writes the timeline text to a temporary file as it is opened: BOM,
    // XML declaration and the text in UTF-16; the file's name (tests).
    static std::string WriteXtlTempFile(const std::string& text);
    // Told the name of each temporary timeline file before it is opened
    // (tests); empty to stop.
    static void SetXtlFileObserver(std::function<void(const std::string&)> observer);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    CVideoPanel* Player() const;
    void SetModifiedFlag() { m_modified = true; }
    bool CreateFrameAndPlayer();
    bool ShowPlayer();
    void Resize();
    void ApplyMediaLocation();
    void OpenFile();
    void ApplyPlayList();
    void OpenTimelineText();
    void RefreshPlayer();
    void DestroyFrame();
    void OnDeferredStart();
    void UpdateHover(const QPoint& at);
    void ExchangeBag(IPropertyBag* bag, bool loading);

    // Automation fields.
    bool m_autoSize = false;
    std::string m_mediaLocation;
    bool m_showExternal = false;
    bool m_locked = false;
    std::string m_fileName;
    std::string m_xtl;
    std::string m_playList;
    bool m_preferLocalApp = false;
    bool m_useTwoVideoWindowsExternal = true;

    CVelotraxOleFrame* m_frame = nullptr;
    CVelotraxCtrl* m_player = nullptr;
    int m_currentVideo = 0;
    QRect m_linkRect;
    bool m_linkHovered = false;
    bool m_linkPressed = false;
    QSize m_initialSize;
    std::unique_ptr<IVelotraxExternalApp> m_external;
    bool m_created = false;
    bool m_modified = false;
};
