#include "control/VelotraxOleCtrl.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

#include "control/Module.h"
#include "control/Picture.h"
#include "control/VelotraxIds.h"
#include "options/AppOptions.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "support/MessageBox.h"
#include "support/RefTime.h"
#include "support/Strings.h"
#include "support/VersionInfo.h"
#include "ui/Icons.h"
#include "ui/PlayerIds.h"
#include "ui/VideoCtrlPanel.h"
#include "ui/VideoPanel.h"
#include "ui/VideoPlayerCtrl.h"

namespace {

// The automation interface _DVelotrax in the order of its dispatch map.
const CDispatchTable& DispatchTable() {
    using M = CDispMember;
    static const CDispatchTable table({
        {"AutoSize", dispidAutoSize, M::property, VT_BOOL, true, true, {}},
        {"MediaLocation", dispidMediaLocation, M::property, VT_BSTR, true, true, {}},
        {"ShowExternal", dispidShowExternal, M::property, VT_BOOL, true, true, {}},
        {"FileName", dispidFileName, M::property, VT_BSTR, true, true, {}},
        {"XTL", dispidXTL, M::property, VT_BSTR, false, true, {}},
        {"Locked", dispidLocked, M::property, VT_BOOL, true, true, {}},
        {"Play", dispidPlay, M::method, VT_EMPTY, false, false, {}},
        {"Pause", dispidPause, M::method, VT_EMPTY, false, false, {}},
        {"Stop", dispidStop, M::method, VT_EMPTY, false, false, {}},
        {"Render", dispidRender, M::method, VT_EMPTY, false, false, {}},
        {"Unrender", dispidUnrender, M::method, VT_EMPTY, false, false, {}},
        {"AboutBox", dispidAboutBox, M::method, VT_EMPTY, false, false, {}},
        {"PlayList", dispidPlayList, M::property, VT_BSTR, false, true, {}},
        {"SetPlayLists", dispidSetPlayLists, M::method, VT_EMPTY, false, false, {VT_BSTR, VT_BSTR}},
        {"Version", dispidVersion, M::property, VT_BSTR, true, false, {}},
        {"PreferLocalApp", dispidPreferLocalApp, M::property, VT_BOOL, true, true, {}},
        {"UseTwoVideoWindowsExternal",
         dispidUseTwoVideoWindowsExternal,
         M::property,
         VT_BOOL,
         true,
         true,
         {}},
        {"CurrentImage", dispidCurrentImage, M::property, VT_DISPATCH, true, false, {}},
        {"Deinterlace", dispidDeinterlace, M::property, VT_BOOL, true, true, {}},
        {"Repeat", dispidRepeat, M::property, VT_BOOL, true, true, {}},
        {"Rate", dispidRate, M::property, VT_R8, true, true, {}},
        {"StartTime", dispidStartTime, M::property, VT_I4, true, true, {}},
        {"StopTime", dispidStopTime, M::property, VT_I4, true, true, {}},
        {"CurrentPos", dispidCurrentPos, M::property, VT_I4, true, true, {}},
    });
    return table;
}

// A set boolean counts as true when its low 16 bits are not zero.
bool IsTrue(const VARIANT& v) {
    return (uint16_t(v.boolVal) & 0xFFFFu) != 0;
}

// The first 'limit' characters of a UTF-8 text.
std::string TruncateChars(const std::string& text, size_t limit) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == limit)
                return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

const char* const kSceneListBegin = "<PlayLists SyncVideoMode=\"SceneList\">";
const char* const kSceneListEnd = "</PlayLists>";

// Runs a player operation: its failures are the player's to report, the
// automation call goes on.
template <class F>
void PlayerCall(F&& f) {
    try {
        f();
    } catch (const std::bad_alloc&) {
        throw CDispError{E_OUTOFMEMORY};
    } catch (const CDispError&) {
        throw;
    } catch (...) {
        ReportCurrentException();
    }
}

}  // namespace

CVelotraxOleCtrl::CVelotraxOleCtrl() : m_external(CreateExternalApp()) {
    ModuleObjectCreated();
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CVelotraxOleCtrl::~CVelotraxOleCtrl() {
    if (CVelotraxOleFrame* frame = std::exchange(m_frame, nullptr)) {
        frame->SetCallback(nullptr);
        delete frame;
    }
    m_player = nullptr;
    ModuleObjectDestroyed();
}

CVideoPanel* CVelotraxOleCtrl::Player() const {
    return m_player ? m_player->GetVideoPanel(m_currentVideo) : nullptr;
}

QWidget* CVelotraxOleCtrl::GetPlayerWindow() {
    return m_player;
}

bool CVelotraxOleCtrl::GetModified(bool clear) {
    bool modified = m_modified;
    if (clear)
        m_modified = false;
    return modified;
}

std::string CVelotraxOleCtrl::DescribeExternal() {
    return m_external ? m_external->Describe() : std::string("none");
}

std::string CVelotraxOleCtrl::GetStoredText(int dispid) {
    switch (dispid) {
        case dispidFileName:
            return m_fileName;
        case dispidXTL:
            return m_xtl;
        case dispidPlayList:
            return m_playList;
        default:
            return std::string();
    }
}

bool CVelotraxOleCtrl::IsLinkBoxShown() const {
    return m_showExternal || IsExternal();
}

// ---------------------------------------------------------------- window

QWidget* CVelotraxOleCtrl::CreateControlWindow(QWidget* parent) {
    if (m_created)
        return this;
    setParent(parent);
    if (parent)
        setGeometry(parent->rect());
    m_created = true;
    bool ok = false;
    ReportExceptions([&] {
        m_external->Find(m_preferLocalApp);
        ok = CreateFrameAndPlayer();
    });
    if (!ok) {
        m_created = false;
        setParent(nullptr);
        return nullptr;
    }
    show();
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(WM_DEFERRED_START)));
    return this;
}

bool CVelotraxOleCtrl::CreateFrameAndPlayer() {
    if (m_initialSize.isEmpty())
        m_initialSize = size();
    if (IsExternal())
        return true;
    auto* frame = new CVelotraxOleFrame;
    if (!frame->Create(this, m_showExternal, m_locked)) {
        delete frame;
        return false;
    }
    frame->SetCallback(this);
    m_frame = frame;
    m_player = frame->GetPlayer();
    m_player->SetVideoCount(1);
    m_player->SetContainer(this);
    if (!m_mediaLocation.empty())
        ApplyMediaLocation();
    m_player->RefreshCommandUI();
    return true;
}

void CVelotraxOleCtrl::DestroyFrame() {
    if (CVelotraxOleFrame* frame = m_frame)
        frame->DestroyWindow();
    m_frame = nullptr;
    m_player = nullptr;
}

void CVelotraxOleCtrl::OnFrameDestroyed() {
    m_frame = nullptr;
    m_player = nullptr;
    update();
}

bool CVelotraxOleCtrl::ShowPlayer() {
    if (!m_created)
        return false;
    if (m_external->IsChosen() && m_external->StartAndActivate()) {
        DestroyFrame();
        ApplyMediaLocation();
        return true;
    }
    bool created = false;
    if (m_frame) {
        if (m_frame->IsFreeFloating() != m_showExternal) {
            CVelotraxOleFrame* frame = m_frame->SwitchMode(this, m_showExternal);
            if (!frame)
                return false;
            m_frame = frame;
            m_player = frame->GetPlayer();
            created = true;
        }
    } else {
        if (!CreateFrameAndPlayer() || !m_frame)
            return false;
        created = true;
    }
    if (created) {
        if (m_showExternal)
            update();
        else if (m_autoSize && !m_initialSize.isEmpty())
            resize(m_initialSize);
        m_frame->update();
    }
    if (m_showExternal && m_frame) {
        m_frame->raise();
        m_frame->activateWindow();
    }
    return true;
}

void CVelotraxOleCtrl::Resize() {
    if (!m_autoSize)
        return;
    if (!m_showExternal && !IsExternal() && m_player) {
        resize(m_player->GetPreferredSize(false));
    } else if (!m_showExternal && !IsExternal()) {
        return;
    } else {
        resize(width(), kLinkBoxHeight);
    }
}

void CVelotraxOleCtrl::RefreshPlayer() {
    if (m_player)
        m_player->RefreshCommandUI();
}

void CVelotraxOleCtrl::ApplyMediaLocation() {
    if (!m_player && !IsExternal())
        return;
    std::string d = m_mediaLocation;
    if (!d.empty()) {
        QFileInfo info(QString::fromStdString(d));
        if (info.isDir()) {
            if (d.back() != '/')
                d += '/';
        } else {
            if (va::IsUrl(d)) {
                QUrl url(QString::fromStdString(d));
                if (url.isLocalFile())
                    d = url.toLocalFile().toStdString();
            }
            if (!d.empty()) {
                size_t slash = d.find_last_of("/\\");
                d = slash == std::string::npos ? std::string() : d.substr(0, slash + 1);
            }
        }
    }
    if (m_player)
        m_player->SetSearchDirectory(d);
    if (IsExternal())
        m_external->Forward(30, d);
}

void CVelotraxOleCtrl::OpenFile() {
    if (IsExternal()) {
        if (!m_useTwoVideoWindowsExternal)
            m_external->Forward(21, 1);
        m_external->Forward(11, m_fileName);
        return;
    }
    if (m_player && m_player->OpenFile(m_currentVideo, m_fileName))
        RefreshPlayer();
}

void CVelotraxOleCtrl::ApplyPlayList() {
    if (IsExternal()) {
        if (!m_useTwoVideoWindowsExternal)
            m_external->Forward(21, 1);
        m_external->Forward(13, m_playList);
        return;
    }
    if (CVideoPanel* video = Player()) {
        video->OpenPlayListText(m_playList);
        RefreshPlayer();
    }
}

namespace {
std::function<void(const std::string&)>& XtlObserver() {
    static std::function<void(const std::string&)> observer;
    return observer;
}
}  // namespace

void CVelotraxOleCtrl::SetXtlFileObserver(std::function<void(const std::string&)> observer) {
    XtlObserver() = std::move(observer);
}

std::string CVelotraxOleCtrl::WriteXtlTempFile(const std::string& text) {
    // A unique name in the temporary folder, prefix "QVT"; the file made for
    // the name is deleted and ".xtl" appended.
    std::string pattern = QDir::tempPath().toStdString() + "/QVTXXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        return std::string();
    ::close(fd);
    unlink(pattern.c_str());
    std::string name = pattern + ".xtl";
    std::u16string utf16 = QString::fromUtf8("<?xml version='1.0' encoding='UTF-16'?>\n")
                               .append(QString::fromUtf8(text.data(), qsizetype(text.size())))
                               .toStdU16String();
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write("\xFF\xFE", 2);
    for (char16_t c : utf16) {
        char bytes[2] = {char(c & 0xFF), char(c >> 8)};
        out.write(bytes, 2);
    }
    out.close();
    if (!out) {
        unlink(name.c_str());
        throw CFileException(CFileException::genericException, name, errno);
    }
    return name;
}

void CVelotraxOleCtrl::OpenTimelineText() {
    std::string name = WriteXtlTempFile(m_xtl);
    if (name.empty())
        return;
    struct CRemove {
        std::string name;
        ~CRemove() { unlink(name.c_str()); }
    } remove{name};
    if (XtlObserver())
        XtlObserver()(name);
    if (IsExternal()) {
        if (!m_useTwoVideoWindowsExternal)
            m_external->Forward(21, 1);
        m_external->Forward(12, name);
        return;
    }
    if (m_player && m_player->OpenFile(m_currentVideo, name))
        RefreshPlayer();
}

void CVelotraxOleCtrl::OnDeferredStart() {
    RefreshPlayer();
    if (!m_fileName.empty() && m_player)
        m_player->OpenFile(m_currentVideo, m_fileName);
    if (m_showExternal || IsExternal())
        Resize();
    if (m_frame)
        m_frame->raise();
}

bool CVelotraxOleCtrl::event(QEvent* event) {
    if (int(event->type()) == WM_DEFERRED_START) {
        ReportExceptions([&] { OnDeferredStart(); });
        return true;
    }
    return QWidget::event(event);
}

void CVelotraxOleCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_frame && !m_frame->IsFreeFloating() && !IsLinkBoxShown())
        m_frame->setGeometry(0, 0, width(), height());
}

void CVelotraxOleCtrl::paintEvent(QPaintEvent*) {
    if (!IsLinkBoxShown())
        return;
    QPainter painter(this);
    QRect bounds = rect();
    painter.fillRect(bounds, palette().color(QPalette::Button));
    // A bump edge: raised outside, sunken inside.
    const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
    painter.setPen(light);
    painter.drawRect(bounds.adjusted(0, 0, -1, -1));
    painter.setPen(dark);
    painter.drawRect(bounds.adjusted(1, 1, -2, -2));
    QIcon icon = LoadIconResource(1);
    if (!icon.isNull())
        icon.paint(&painter, QRect(6, 6, 32, 32));
    QFont font = QApplication::font();
    font.setUnderline(m_linkHovered);
    painter.setFont(font);
    painter.setPen(m_player ? QColor(128, 0, 128) : QColor(0, 0, 255));
    const QString text = QStringLiteral("Video anzeigen");
    QRect measured = painter.fontMetrics().boundingRect(text);
    m_linkRect = QRect(bounds.left() + 44, bounds.top() + 16, measured.width(), measured.height());
    painter.drawText(m_linkRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void CVelotraxOleCtrl::UpdateHover(const QPoint& at) {
    bool hovered = IsLinkBoxShown() && m_linkRect.contains(at);
    if (hovered != m_linkHovered) {
        m_linkHovered = hovered;
        update();
    }
    setCursor(hovered ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void CVelotraxOleCtrl::mouseMoveEvent(QMouseEvent* event) {
    UpdateHover(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void CVelotraxOleCtrl::leaveEvent(QEvent* event) {
    UpdateHover(QPoint(-1, -1));
    QWidget::leaveEvent(event);
}

void CVelotraxOleCtrl::mousePressEvent(QMouseEvent* event) {
    UpdateHover(event->position().toPoint());
    if (event->button() == Qt::LeftButton && IsLinkBoxShown() &&
        m_linkRect.contains(event->position().toPoint()))
        m_linkPressed = true;
    QWidget::mousePressEvent(event);
}

void CVelotraxOleCtrl::mouseReleaseEvent(QMouseEvent* event) {
    const bool pressed = std::exchange(m_linkPressed, false);
    if (event->button() == Qt::LeftButton && pressed && IsLinkBoxShown() &&
        m_linkRect.contains(event->position().toPoint())) {
        ReportExceptions([&] {
            if (!m_frame && m_locked && m_showExternal && !IsExternal())
                Render();
            else
                ShowPlayer();
        });
    }
    QWidget::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------- routing

bool CVelotraxOleCtrl::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    if (m_player && m_player->OnCmdMsg(id, code, cmdUI))
        return true;
    return CCmdTarget::OnCmdMsg(id, code, cmdUI);
}

void CVelotraxOleCtrl::OnPlayerChanged(CVideoPlayerCtrl*, int flag) {
    if (flag == 0 && !IsLinkBoxShown())
        Resize();
}

bool CVelotraxOleCtrl::OnPlayerCommand(unsigned id) {
    if (id != ID_APP_ABOUT_CONTAINER)
        return false;
    AboutBox();
    return true;
}

bool CVelotraxOleCtrl::OnPlayerUpdateCommand(CCmdUI*) {
    return false;
}

// ---------------------------------------------------------------- members

void CVelotraxOleCtrl::SetAutoSize(bool on) {
    m_autoSize = on;
    Resize();
    SetModifiedFlag();
}

void CVelotraxOleCtrl::SetMediaLocation(const std::string& location) {
    m_mediaLocation = location;
    ApplyMediaLocation();
    SetModifiedFlag();
}

void CVelotraxOleCtrl::SetShowExternal(bool on) {
    m_showExternal = on;
    if (!IsExternal()) {
        ShowPlayer();
        Resize();
    }
    update();
    SetModifiedFlag();
}

std::string CVelotraxOleCtrl::GetFileName() {
    if (CVideoPanel* video = Player())
        return video->GetPlayCtx().GetMediaName();
    return m_fileName;
}

void CVelotraxOleCtrl::SetFileName(const std::string& name) {
    m_fileName = TruncateChars(name, kMaxTextLength);
    m_xtl.clear();
    m_playList.clear();
    SetModifiedFlag();
    ShowPlayer();
    OpenFile();
}

void CVelotraxOleCtrl::SetXTL(const std::string& text) {
    m_xtl = TruncateChars(text, kMaxTextLength);
    m_playList.clear();
    SetModifiedFlag();
    ShowPlayer();
    OpenTimelineText();
}

bool CVelotraxOleCtrl::GetLocked() {
    return m_player ? m_player->IsLocked() : false;
}

void CVelotraxOleCtrl::SetLocked(bool on) {
    m_locked = on;
    if (m_player)
        m_player->SetLocked(on);
    SetModifiedFlag();
}

void CVelotraxOleCtrl::Play() {
    if (IsExternal()) {
        if (m_external->StartAndActivate())
            m_external->Forward(40);
        return;
    }
    if (m_player)
        if (CVideoCtrlPanel* ctrl = m_player->GetControlPanel(m_currentVideo))
            ctrl->OnCmdMsg(ID_PLAY, CN_COMMAND, nullptr);
}

void CVelotraxOleCtrl::Pause() {
    if (IsExternal()) {
        if (m_external->StartAndActivate())
            m_external->Forward(41);
        return;
    }
    if (m_player)
        if (CVideoCtrlPanel* ctrl = m_player->GetControlPanel(m_currentVideo))
            ctrl->OnCmdMsg(ID_PAUSE, CN_COMMAND, nullptr);
}

void CVelotraxOleCtrl::Stop() {
    if (IsExternal()) {
        if (m_external->StartAndActivate())
            m_external->Forward(42);
        return;
    }
    if (m_player)
        if (CVideoCtrlPanel* ctrl = m_player->GetControlPanel(m_currentVideo))
            ctrl->OnCmdMsg(ID_STOP, CN_COMMAND, nullptr);
}

void CVelotraxOleCtrl::Render() {
    ShowPlayer();
    if (!m_playList.empty()) {
        if (IsExternal())
            m_external->Forward(20, 0);
        ApplyPlayList();
    } else if (!m_xtl.empty()) {
        if (IsExternal())
            m_external->Forward(20, 0);
        OpenTimelineText();
    } else if (!m_fileName.empty()) {
        if (IsExternal())
            m_external->Forward(20, 0);
        OpenFile();
    } else if (IsExternal()) {
        m_external->Forward(10);
    } else if (m_player) {
        if (CVideoCtrlPanel* ctrl = m_player->GetControlPanel(m_currentVideo))
            ctrl->OnCmdMsg(ID_RELOAD_FILE, CN_COMMAND, nullptr);
        RefreshPlayer();
    }
}

void CVelotraxOleCtrl::Unrender() {
    if (IsExternal()) {
        if (m_external->IsWindowKnown())
            m_external->Forward(21, 1);
        return;
    }
    if (m_player)
        m_player->CloseAll();
}

void CVelotraxOleCtrl::AboutBox() {
    std::string version = GetVersion();
    AfxMessageBox(LoadResString(IDS_CONTROL_TYPE_NAME) +
                      (version.empty() ? std::string() : " " + version) +
                      "\nAn embeddable video player.",
                  MB_OK | MB_ICONINFORMATION);
}

void CVelotraxOleCtrl::SetPlayList(const std::string& text) {
    m_playList = TruncateChars(text, kMaxTextLength);
    m_xtl.clear();
    SetModifiedFlag();
    ShowPlayer();
    ApplyPlayList();
}

void CVelotraxOleCtrl::SetPlayLists(const std::string& first, const std::string& second) {
    if (m_useTwoVideoWindowsExternal)
        SetPlayList(kSceneListBegin + first + second + kSceneListEnd);
    else
        SetPlayList(first);
}

std::string CVelotraxOleCtrl::GetVersion() {
    return ModuleVersionInfo().FormatVersion(3);
}

void CVelotraxOleCtrl::SetPreferLocalApp(bool on) {
    m_preferLocalApp = on;
    m_external->Find(on);
    ShowPlayer();
    Resize();
    update();
    SetModifiedFlag();
}

void CVelotraxOleCtrl::SetUseTwoVideoWindowsExternal(bool on) {
    if (on != m_useTwoVideoWindowsExternal)
        SetModifiedFlag();
    m_useTwoVideoWindowsExternal = on;
}

IDispatch* CVelotraxOleCtrl::GetCurrentImage() {
    CVideoPanel* video = Player();
    if (!video)
        return nullptr;
    QImage frame = video->GetPlayCtx().GetRawImageBitmap();
    if (frame.isNull())
        return nullptr;
    auto* picture = new CPictureObject(std::move(frame));
    picture->AddRef();
    return picture;
}

bool CVelotraxOleCtrl::GetDeinterlace() {
    CVideoPanel* video = Player();
    return video && video->GetPlayCtx().IsDeinterlaceOn();
}

void CVelotraxOleCtrl::SetDeinterlace(bool on) {
    if (IsExternal())
        m_external->Forward(50, on ? -1 : 0);
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] { video->SetDeinterlace(on); });
        SetModifiedFlag();
    }
}

bool CVelotraxOleCtrl::GetRepeat() {
    CVideoPanel* video = Player();
    return video && video->GetContinuousPlay();
}

void CVelotraxOleCtrl::SetRepeat(bool on) {
    if (IsExternal())
        m_external->Forward(52, on ? -1 : 0);
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] { video->SetContinuousPlay(on); });
        SetModifiedFlag();
    }
}

double CVelotraxOleCtrl::GetRate() {
    CVideoPanel* video = Player();
    return video ? video->GetPlayCtx().GetRate() : 1.0;
}

void CVelotraxOleCtrl::SetRate(double rate) {
    // A rate the graph cannot run at is refused before anyone sees it.
    if (!std::isfinite(rate) || rate <= 0 || rate > 100)
        throw CDispError{E_INVALIDARG};
    if (IsExternal())
        m_external->Forward(51, CExternalApp::RateValue(rate));
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] { video->SetRate(rate); });
        SetModifiedFlag();
    }
}

int32_t CVelotraxOleCtrl::GetStartTime() {
    REFERENCE_TIME start = -1, stop = -1;
    CVideoPanel* video = Player();
    if (video && video->GetPlayCtx().GetSelection(start, stop))
        return RefTimeToMs(start);
    return 0;
}

void CVelotraxOleCtrl::SetStartTime(int32_t ms) {
    if (IsExternal())
        m_external->Forward(61, ms);
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] {
            video->GetPlayCtx().SetSelectionStart(MsToRefTime(ms));
            video->ShowSelection();
        });
        SetModifiedFlag();
    }
}

int32_t CVelotraxOleCtrl::GetStopTime() {
    REFERENCE_TIME start = -1, stop = -1;
    CVideoPanel* video = Player();
    if (video && video->GetPlayCtx().GetSelection(start, stop))
        return RefTimeToMs(stop);
    return 0;
}

void CVelotraxOleCtrl::SetStopTime(int32_t ms) {
    if (IsExternal())
        m_external->Forward(62, ms);
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] {
            video->GetPlayCtx().SetSelectionStop(MsToRefTime(ms));
            video->ShowSelection();
        });
        SetModifiedFlag();
    }
}

int32_t CVelotraxOleCtrl::GetCurrentPos() {
    CVideoPanel* video = Player();
    if (!video || !video->IsFileLoaded())
        return 0;
    // The panel's position: the cached frame's while it steps in its cache.
    return RefTimeToMs(video->GetRoundedPosition());
}

void CVelotraxOleCtrl::SetCurrentPos(int32_t ms) {
    // Positions before the start of the media do not exist.
    if (ms < 0)
        throw CDispError{E_INVALIDARG};
    if (IsExternal())
        m_external->Forward(60, ms);
    if (CVideoPanel* video = Player()) {
        PlayerCall([&] {
            if (video->IsFileLoaded())
                video->SeekTo(ms, false);
        });
        SetModifiedFlag();
    }
}

// ---------------------------------------------------------------- IDispatch

HRESULT CVelotraxOleCtrl::GetTypeInfoCount(unsigned* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT CVelotraxOleCtrl::GetIDsOfNames(REFIID, const std::string* names, unsigned count, LCID,
                                        DISPID* ids) {
    return DispatchTable().GetIDsOfNames(names, count, ids);
}

HRESULT CVelotraxOleCtrl::Invoke(DISPID id, REFIID, LCID, uint16_t flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excepInfo, unsigned* argErr) {
    auto get = [this](const CDispMember& m) -> VARIANT {
        VARIANT v;
        PlayerCall([&] {
            switch (m.id) {
                case dispidAutoSize:
                    v = VARIANT::FromBool(GetAutoSize());
                    break;
                case dispidMediaLocation:
                    v = VARIANT::FromString(GetMediaLocation());
                    break;
                case dispidShowExternal:
                    v = VARIANT::FromBool(GetShowExternal());
                    break;
                case dispidFileName:
                    v = VARIANT::FromString(GetFileName());
                    break;
                case dispidLocked:
                    v = VARIANT::FromBool(GetLocked());
                    break;
                case dispidVersion:
                    v = VARIANT::FromString(GetVersion());
                    break;
                case dispidPreferLocalApp:
                    v = VARIANT::FromBool(GetPreferLocalApp());
                    break;
                case dispidUseTwoVideoWindowsExternal:
                    v = VARIANT::FromBool(GetUseTwoVideoWindowsExternal());
                    break;
                case dispidCurrentImage: {
                    IDispatch* picture = GetCurrentImage();
                    v = VARIANT::FromDispatch(picture);
                    if (picture)
                        picture->Release();
                    break;
                }
                case dispidDeinterlace:
                    v = VARIANT::FromBool(GetDeinterlace());
                    break;
                case dispidRepeat:
                    v = VARIANT::FromBool(GetRepeat());
                    break;
                case dispidRate:
                    v = VARIANT::FromR8(GetRate());
                    break;
                case dispidStartTime:
                    v = VARIANT::FromI4(GetStartTime());
                    break;
                case dispidStopTime:
                    v = VARIANT::FromI4(GetStopTime());
                    break;
                case dispidCurrentPos:
                    v = VARIANT::FromI4(GetCurrentPos());
                    break;
                default:
                    throw CDispError{DISP_E_MEMBERNOTFOUND};
            }
        });
        // A getter that failed inside the player answers its default.
        if (v.vt == VT_EMPTY && m.type != VT_DISPATCH)
            VariantChangeType(&v, &v, 0, m.type);
        if (m.id == dispidRate && v.vt == VT_R8 && v.dblVal == 0)
            v.dblVal = 1.0;
        return v;
    };
    auto put = [this](const CDispMember& m, const VARIANT& v) {
        PlayerCall([&] {
            switch (m.id) {
                case dispidAutoSize:
                    SetAutoSize(IsTrue(v));
                    break;
                case dispidMediaLocation:
                    SetMediaLocation(v.bstrVal);
                    break;
                case dispidShowExternal:
                    SetShowExternal(IsTrue(v));
                    break;
                case dispidFileName:
                    SetFileName(v.bstrVal);
                    break;
                case dispidXTL:
                    SetXTL(v.bstrVal);
                    break;
                case dispidLocked:
                    SetLocked(IsTrue(v));
                    break;
                case dispidPlayList:
                    SetPlayList(v.bstrVal);
                    break;
                case dispidPreferLocalApp:
                    SetPreferLocalApp(IsTrue(v));
                    break;
                case dispidUseTwoVideoWindowsExternal:
                    SetUseTwoVideoWindowsExternal(IsTrue(v));
                    break;
                case dispidDeinterlace:
                    SetDeinterlace(IsTrue(v));
                    break;
                case dispidRepeat:
                    SetRepeat(IsTrue(v));
                    break;
                case dispidRate:
                    SetRate(v.dblVal);
                    break;
                case dispidStartTime:
                    SetStartTime(v.lVal);
                    break;
                case dispidStopTime:
                    SetStopTime(v.lVal);
                    break;
                case dispidCurrentPos:
                    SetCurrentPos(v.lVal);
                    break;
                default:
                    throw CDispError{DISP_E_MEMBERNOTFOUND};
            }
        });
    };
    auto call = [this](const CDispMember& m, const std::vector<VARIANT>& args) -> VARIANT {
        PlayerCall([&] {
            switch (m.id) {
                case dispidPlay:
                    Play();
                    break;
                case dispidPause:
                    Pause();
                    break;
                case dispidStop:
                    Stop();
                    break;
                case dispidRender:
                    Render();
                    break;
                case dispidUnrender:
                    Unrender();
                    break;
                case dispidAboutBox:
                    AboutBox();
                    break;
                case dispidSetPlayLists:
                    SetPlayLists(args[0].bstrVal, args[1].bstrVal);
                    break;
                default:
                    throw CDispError{DISP_E_MEMBERNOTFOUND};
            }
        });
        return VARIANT();
    };
    try {
        return DispatchTable().Invoke(id, flags, params, result, excepInfo, argErr, get, put, call);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// ---------------------------------------------------------------- persistence

HRESULT CVelotraxOleCtrl::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_Velotrax;
    return S_OK;
}

HRESULT CVelotraxOleCtrl::InitNew() {
    m_locked = m_showExternal = m_preferLocalApp = m_autoSize = false;
    m_fileName.clear();
    m_modified = false;
    return S_OK;
}

void CVelotraxOleCtrl::ExchangeBag(IPropertyBag* bag, bool loading) {
    struct CBoolProp {
        const char* name;
        bool* field;
    };
    const CBoolProp bools[] = {{"Locked", &m_locked},
                               {"ShowExternal", &m_showExternal},
                               {"PreferLocalApp", &m_preferLocalApp},
                               {"AutoSize", &m_autoSize}};
    for (const CBoolProp& p : bools) {
        VARIANT v;
        v.vt = VT_BOOL;
        if (!loading) {
            v.boolVal = *p.field ? VARIANT_TRUE : VARIANT_FALSE;
            bag->Write(p.name, &v);
        } else {
            // Missing or unreadable values keep their defaults.
            *p.field = SUCCEEDED(bag->Read(p.name, &v, nullptr)) && IsTrue(v);
        }
    }
    VARIANT name;
    name.vt = VT_BSTR;
    if (!loading) {
        name.bstrVal = m_fileName;
        bag->Write("FileName", &name);
    } else {
        m_fileName = SUCCEEDED(bag->Read("FileName", &name, nullptr))
                         ? TruncateChars(name.bstrVal, kMaxTextLength)
                         : std::string();
    }
}

HRESULT CVelotraxOleCtrl::Load(IPropertyBag* bag, IErrorLog*) {
    if (!bag)
        return E_POINTER;
    try {
        ExchangeBag(bag, true);
        if (m_player)
            m_player->SetLocked(m_locked);
        m_modified = false;
        update();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CVelotraxOleCtrl::Save(IPropertyBag* bag, bool clearDirty, bool) {
    if (!bag)
        return E_POINTER;
    try {
        ExchangeBag(bag, false);
        if (clearDirty)
            m_modified = false;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CVelotraxOleCtrl::IsDirty() {
    return m_modified ? S_OK : S_FALSE;
}

// The stream holds the format version, the four booleans as 32-bit values
// and the file name as a 32-bit byte count with its UTF-8 bytes.
HRESULT CVelotraxOleCtrl::Save(IStream* stream, bool clearDirty) {
    if (!stream)
        return E_POINTER;
    std::vector<uint8_t> data;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data.push_back(uint8_t(v >> (8 * i)));
    };
    put32(kPersistVersion);
    for (bool b : {m_locked, m_showExternal, m_preferLocalApp, m_autoSize})
        put32(b ? 1 : 0);
    put32(uint32_t(m_fileName.size()));
    data.insert(data.end(), m_fileName.begin(), m_fileName.end());
    ULONG written = 0;
    HRESULT hr = stream->Write(data.data(), ULONG(data.size()), &written);
    if (FAILED(hr))
        return hr;
    if (written != data.size())
        return STG_E_MEDIUMFULL;
    if (clearDirty)
        m_modified = false;
    return S_OK;
}

HRESULT CVelotraxOleCtrl::Load(IStream* stream) {
    if (!stream)
        return E_POINTER;
    auto get32 = [&](uint32_t& v) {
        uint8_t b[4];
        ULONG read = 0;
        if (FAILED(stream->Read(b, 4, &read)) || read != 4)
            return false;
        v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    };
    uint32_t version = 0, flags[4] = {}, length = 0;
    if (!get32(version))
        return STG_E_READFAULT;
    if ((version >> 16) != (kPersistVersion >> 16))
        return HRESULT_INVALID_DATA;
    for (uint32_t& f : flags)
        if (!get32(f))
            return STG_E_READFAULT;
    if (!get32(length))
        return STG_E_READFAULT;
    if (length > 4 * kMaxTextLength)
        return HRESULT_INVALID_DATA;
    std::string name(length, '\0');
    ULONG read = 0;
    if (length && (FAILED(stream->Read(name.data(), length, &read)) || read != length))
        return STG_E_READFAULT;
    m_locked = flags[0] != 0;
    m_showExternal = flags[1] != 0;
    m_preferLocalApp = flags[2] != 0;
    m_autoSize = flags[3] != 0;
    m_fileName = TruncateChars(name, kMaxTextLength);
    if (m_player)
        m_player->SetLocked(m_locked);
    m_modified = false;
    return S_OK;
}

HRESULT CVelotraxOleCtrl::GetSizeMax(uint64_t* size) {
    if (!size)
        return E_POINTER;
    *size = 24 + m_fileName.size();
    return S_OK;
}
