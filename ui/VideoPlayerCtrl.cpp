#include "ui/VideoPlayerCtrl.h"

#include <QEvent>
#include <QKeyEvent>
#include <algorithm>

#include "options/OptionCatalogue.h"
#include "support/Exception.h"
#include "ui/AccelTable.h"
#include "ui/DialogExt.h"
#include "ui/PlayerIds.h"
#include "ui/StaticVideo.h"
#include "ui/VideoCtrlPanel.h"
#include "ui/VideoPanel.h"

namespace {

CPlayOpt PlayOptFor(int id) {
    const COptionInfo* info = FindOptionInfoById(id);
    if (!info)
        return CPlayOpt{};
    return CPlayOpt{info->section, info->name, info->Default()};
}

}  // namespace

CVideoPlayerCtrl::CVideoPlayerCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

CVideoPlayerCtrl::~CVideoPlayerCtrl() {
    for (int i = kMaxVideos - 1; i >= 0; --i)
        DestroyPanels(i);
}

bool CVideoPlayerCtrl::Create(QWidget* parent, unsigned id, const QRect& rect) {
    if (parent && parentWidget() != parent)
        setParent(parent);
    SetDlgCtrlID(this, id);
    if (rect.isEmpty() && parent)
        setGeometry(parent->rect());
    else if (!rect.isEmpty())
        setGeometry(rect);
    CreatePanels(0);
    Layout();
    show();
    return true;
}

void CVideoPlayerCtrl::BindOptions(int index) {
    CVideoPanel* video = m_videoPanels[index];
    CVideoCtrlPanel* ctrl = m_ctrlPanels[index];
    std::vector<int> videoIds;
    for (int id = optIdVideoScale; id <= optIdDeIntSharpen; ++id)
        videoIds.push_back(id);
    videoIds.insert(videoIds.end(), {optIdPlayCont, optIdSyncVideoPos});
    for (int id = optIdSnapAutoFile; id <= optIdFileExtVideo; ++id)
        videoIds.push_back(id);
    videoIds.push_back(optIdSnapDir);
    for (int id : videoIds)
        video->SetPlayOpt(id, PlayOptFor(id));
    if (!m_locked) {
        CPlayOpt last = PlayOptFor(optIdLastFile);
        last.key = LastFileOptionName(index);
        video->SetPlayOpt(optIdLastFile, last);
        ctrl->SetPlayOpt(optIdLastFile, last);
        if (index == 0)
            ctrl->SetPlayOpt(optIdFiles, CPlayOpt{kSectionFiles, std::string(), CAppOpt()});
        ctrl->SetPlayOpt(optIdMaxMRU, PlayOptFor(optIdMaxMRU));
    }
    for (int id : {optIdMRUReplace, optIdSyncVideo, optIdSyncVideoPos, optIdFlatLook, optIdHelpCmd})
        ctrl->SetPlayOpt(id, PlayOptFor(id));
}

void CVideoPlayerCtrl::CreatePanels(int index) {
    if (index < 0 || index >= kMaxVideos || m_videoPanels[index])
        return;
    auto* video = new CVideoPanel(this);
    auto* ctrl = new CVideoCtrlPanel(this);
    m_videoPanels[index] = video;
    m_ctrlPanels[index] = ctrl;
    if (index == 0)
        ctrl->SetSyncPartner(nullptr);
    BindOptions(index);
    video->Create(IDD_VIDEO_PANEL, this);
    ctrl->Create(IDD_CONTROL_PANEL, this);
    ctrl->AttachVideo(video);
    video->SetKeyboardFallback(ctrl);
    ctrl->SetAccelerators(IDR_PLAYER_ACCEL);
    if (m_locked)
        ctrl->SetFixedFile(true);
    ctrl->SetContainer(this);
    ctrl->LinkVideo(video);
}

void CVideoPlayerCtrl::DestroyPanels(int index) {
    if (index < 0 || index >= kMaxVideos)
        return;
    for (CVideoCtrlPanel* ctrl : m_ctrlPanels)
        if (ctrl)
            ctrl->SetSyncPartner(nullptr);
    if (CVideoCtrlPanel* ctrl = m_ctrlPanels[index]) {
        m_ctrlPanels[index] = nullptr;
        ctrl->SaveOptionsOnce();
        ctrl->AttachVideo(nullptr);
        delete ctrl;
    }
    if (CVideoPanel* video = m_videoPanels[index]) {
        m_videoPanels[index] = nullptr;
        delete video;
    }
}

void CVideoPlayerCtrl::SetVideoCount(int count, bool apply) {
    // Two videos side by side are not offered in this player.
    if (count == 2)
        count = 1;
    bool changed = false;
    if (count == 1) {
        if (m_videoPanels[1]) {
            if (m_ctrlPanels[0])
                m_ctrlPanels[0]->UnlinkVideo(m_videoPanels[1]);
            DestroyPanels(1);
            changed = true;
        }
        if (!m_videoPanels[0]) {
            CreatePanels(0);
            changed = true;
        }
        for (CVideoCtrlPanel* ctrl : m_ctrlPanels)
            if (ctrl)
                ctrl->SetPanelMode(0);
        for (CVideoPanel* video : m_videoPanels)
            if (video)
                video->SetPanelMode(0);
    }
    if (changed && m_container)
        m_container->OnPlayerChanged(this, 1);
    if (!apply)
        return;
    Layout();
    for (int i = 0; i < kMaxVideos; ++i) {
        if (m_videoPanels[i])
            m_videoPanels[i]->show();
        if (m_ctrlPanels[i])
            m_ctrlPanels[i]->show();
    }
    if (m_ctrlPanels[0])
        m_ctrlPanels[0]->UpdateControls();
    update();
}

int CVideoPlayerCtrl::GetVideoCount() const {
    return int(std::count_if(std::begin(m_videoPanels), std::end(m_videoPanels),
                             [](CVideoPanel* p) { return p != nullptr; }));
}

CVideoPanel* CVideoPlayerCtrl::GetVideoPanel(int index) const {
    return index >= 0 && index < kMaxVideos ? m_videoPanels[index] : nullptr;
}

CVideoCtrlPanel* CVideoPlayerCtrl::GetControlPanel(int index) const {
    return index >= 0 && index < kMaxVideos ? m_ctrlPanels[index] : nullptr;
}

bool CVideoPlayerCtrl::OpenFile(int index, const std::string& name) {
    CVideoPanel* video = GetVideoPanel(index);
    return video && video->OpenFile(name);
}

void CVideoPlayerCtrl::CloseAll() {
    for (CVideoPanel* video : m_videoPanels)
        if (video)
            video->CloseFile();
}

void CVideoPlayerCtrl::SetSearchDirectory(const std::string& directory) {
    for (CVideoPanel* video : m_videoPanels)
        if (video)
            video->SetSearchDirectory(directory);
}

bool CVideoPlayerCtrl::SetLocked(bool locked) {
    if (locked == m_locked)
        return false;
    m_locked = locked;
    for (CVideoCtrlPanel* ctrl : m_ctrlPanels)
        if (ctrl)
            ctrl->SetFixedFile(locked);
    return true;
}

QSize CVideoPlayerCtrl::GetPreferredSize(bool useVideoWidth) {
    int width = 0, height = 0;
    for (int i = 0; i < kMaxVideos; ++i) {
        if (!m_videoPanels[i] || !m_ctrlPanels[i])
            continue;
        QSize video = m_videoPanels[i]->GetPreferredSize();
        QSize ctrl = m_ctrlPanels[i]->GetPreferredSize();
        int columnWidth = ctrl.width();
        if (useVideoWidth)
            columnWidth = std::max(columnWidth, video.width());
        width += columnWidth;
        height = std::max(height, video.height() + ctrl.height());
    }
    return QSize(width, height);
}

void CVideoPlayerCtrl::RefreshCommandUI() {
    CDialogExt::SendIdleUpdateCmdUI(this);
}

void CVideoPlayerCtrl::RelinkPanels() {
    for (CVideoPanel* video : m_videoPanels)
        if (video)
            video->RelinkVideo();
}

void CVideoPlayerCtrl::Layout() {
    const int n = GetVideoCount();
    if (n == 0 || !m_ctrlPanels[0])
        return;
    const QRect client = rect();
    const int ctrlHeight = m_ctrlPanels[0]->GetPreferredSize().height();
    const int columnWidth = client.width() / n;
    int x = 0;
    for (int i = 0; i < kMaxVideos; ++i) {
        if (!m_videoPanels[i])
            continue;
        bool last = i == kMaxVideos - 1 || !m_videoPanels[i + 1];
        int width = last ? client.width() - x : columnWidth;
        m_videoPanels[i]->setGeometry(x, 0, width, std::max(0, client.height() - ctrlHeight));
        if (m_ctrlPanels[i])
            m_ctrlPanels[i]->setGeometry(x, std::max(0, client.height() - ctrlHeight), width,
                                         ctrlHeight);
        x += width;
    }
    update();
    if (m_locked)
        for (CVideoCtrlPanel* ctrl : m_ctrlPanels)
            if (ctrl)
                ctrl->SetFixedFile(true);
}

void CVideoPlayerCtrl::ToggleVideoCount() {
    SetVideoCount(GetVideoPanel(1) ? 1 : 2);
}

// ---------------------------------------------------------------- routing

void CVideoPlayerCtrl::OnFileEvent(CVideoCtrlPanel*, int kind, const std::string&) {
    if (kind == fileEventOpened && m_container)
        m_container->OnPlayerChanged(this, 0);
}

bool CVideoPlayerCtrl::ExecuteCommand(unsigned id) {
    if (DispatchOwn(id, CN_COMMAND, nullptr))
        return true;
    return m_container && m_container->OnPlayerCommand(id);
}

bool CVideoPlayerCtrl::UpdateCommand(CCmdUI* cmdUI) {
    if (DispatchOwn(cmdUI->m_nID, CN_UPDATE_COMMAND_UI, cmdUI))
        return true;
    return m_container && m_container->OnPlayerUpdateCommand(cmdUI);
}

bool CVideoPlayerCtrl::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    // The control panel of the active video first: the second one when it
    // exists and reports itself active.
    CVideoCtrlPanel* ctrl = nullptr;
    if (m_videoPanels[1] && m_ctrlPanels[1] && m_videoPanels[1]->GetVideoWindow() &&
        m_videoPanels[1]->GetVideoWindow()->IsActive())
        ctrl = m_ctrlPanels[1];
    else if (m_videoPanels[0])
        ctrl = m_ctrlPanels[0];
    if (ctrl && ctrl->OnCmdMsg(id, code, cmdUI))
        return true;
    return DispatchOwn(id, code, cmdUI);
}

// ---------------------------------------------------------------- events

void CVideoPlayerCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!isMinimized())
        Layout();
}

bool CVideoPlayerCtrl::event(QEvent* event) {
    if (int(event->type()) == WM_PANEL_ACTIVITY) {
        ReportExceptions([&] { RefreshCommandUI(); });
        return true;
    }
    return QWidget::event(event);
}

void CVideoPlayerCtrl::customEvent(QEvent* event) {
    QWidget::customEvent(event);
}

void CVideoPlayerCtrl::keyPressEvent(QKeyEvent* event) {
    // Escape inside the player closes and cancels nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
