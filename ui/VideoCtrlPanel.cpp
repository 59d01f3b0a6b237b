#include "ui/VideoCtrlPanel.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimerEvent>
#include <QUrl>
#include <algorithm>
#include <map>

#include "options/AppOptions.h"
#include "options/OptionCatalogue.h"
#include "resources/StringTable.h"
#include "snapshot/VaSnapshot.h"
#include "support/Exception.h"
#include "support/Strings.h"
#include "ui/AutoSizeCombo.h"
#include "ui/DialogAnswer.h"
#include "ui/DirectoryDialog.h"
#include "ui/FileFinder.h"
#include "ui/Icons.h"
#include "ui/MenuResource.h"
#include "ui/MsTimeCtrl.h"
#include "ui/NiftyButton.h"
#include "ui/PanelMath.h"
#include "ui/PlayerIds.h"
#include "ui/TimelineCombo.h"
#include "ui/VideoPanel.h"

namespace {

// Template 154: two rows. The transport buttons and the time field on
// top; below, the file box and the file buttons at the right edge.
constexpr int kPanelWidth = 560;
constexpr int kPanelHeight = 60;
constexpr int kButton = 24;
constexpr int kGap = 2;
constexpr int kRow1 = 4;
constexpr int kRow2 = 32;
constexpr int kMargin = 4;
constexpr int kPlayWidth = 52;
constexpr int kHelpWidth = 23;

enum class EPlace { row1, right, hidden };

struct CButtonSlot {
    unsigned id;
    unsigned icon;
    EPlace place;
};

// Slot order is the template's; the ids of the right edge run from the
// combo outwards.
constexpr CButtonSlot kSlots[CVideoCtrlPanel::kUsedButtons] = {
    {ID_OPEN_FILE, 135, EPlace::right},     {ID_RELOAD_FILE, 32520, EPlace::right},
    {ID_DEINTERLACE, 142, EPlace::row1},    {ID_PLAY, 32521, EPlace::row1},
    {ID_PAUSE, 133, EPlace::row1},          {ID_STOP, 134, EPlace::row1},
    {ID_BEGIN, 137, EPlace::row1},          {ID_BACK, 129, EPlace::row1},
    {ID_STEP_BACK, 132, EPlace::row1},      {ID_STEP_FORWARD, 131, EPlace::row1},
    {ID_FORWARD, 130, EPlace::row1},        {ID_END, 136, EPlace::row1},
    {ID_FIND, 146, EPlace::right},          {ID_TWO_VIDEOS, 156, EPlace::hidden},
    {ID_SYNC_VIDEOS, 157, EPlace::hidden},  {ID_CONTINUOUS_PLAY, 162, EPlace::row1},
    {ID_MARK_BEGIN, 163, EPlace::row1},     {ID_MARK_END, 32522, EPlace::row1},
    {ID_SAVE_SNAPSHOT, 167, EPlace::right}, {IDC_ABOUT, 118, EPlace::right},
};

// Left to right in the first row.
constexpr unsigned kRow1Order[] = {ID_DEINTERLACE, ID_PLAY, ID_PAUSE,           ID_STOP,
                                   ID_BEGIN,       ID_BACK, ID_STEP_BACK,       ID_STEP_FORWARD,
                                   ID_FORWARD,     ID_END,  ID_CONTINUOUS_PLAY, ID_MARK_BEGIN,
                                   ID_MARK_END};
// Left to right at the right edge of the second row.
constexpr unsigned kRightOrder[] = {ID_OPEN_FILE, ID_RELOAD_FILE, ID_FIND, ID_SAVE_SNAPSHOT,
                                    IDC_ABOUT};

// Transport commands the panel forwards to its video group.
constexpr unsigned kForwarded[] = {ID_PLAY,       ID_PAUSE,      ID_STOP,        ID_PLAY_PAUSE,
                                   ID_BEGIN,      ID_BACK,       ID_STEP_BACK,   ID_STEP_FORWARD,
                                   ID_FORWARD,    ID_END,        ID_DEINTERLACE, ID_CONTINUOUS_PLAY,
                                   ID_RATE_100,   ID_RATE_3,     ID_RATE_10,     ID_RATE_25,
                                   ID_RATE_33,    ID_RATE_50,    ID_RATE_66,     ID_RATE_75,
                                   ID_RATE_90,    ID_RATE_120,   ID_RATE_150,    ID_RATE_200,
                                   ID_REVERSE_25, ID_REVERSE_50, ID_REVERSE_100};

template <class F>
void Guard(F&& f) {
    ReportExceptions(std::forward<F>(f));
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

bool IsUrl(const std::string& name) {
    return name.find("://") != std::string::npos;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return QString::compare(Q(a), Q(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

CVideoCtrlPanel::CVideoCtrlPanel(QWidget* parent) : CPlayPanel(parent) {
    RegisterCommands();
}

CVideoCtrlPanel::~CVideoCtrlPanel() {
    SaveOptionsOnce();
    if (m_timerId)
        killTimer(m_timerId);
}

// ---------------------------------------------------------------- creation

void CVideoCtrlPanel::CreateControls() {
    resize(kPanelWidth, kPanelHeight);
    int x = kMargin;
    std::map<unsigned, QRect> places;
    for (unsigned id : kRow1Order) {
        int width = id == ID_PLAY ? kPlayWidth : kButton;
        places[id] = QRect(x, kRow1, width, kButton);
        x += width + kGap;
        if (id == ID_END)
            x += 4;
    }
    const int timeLeft = x + 6;
    int right = kPanelWidth - kMargin;
    for (auto it = std::rbegin(kRightOrder); it != std::rend(kRightOrder); ++it) {
        places[*it] = QRect(right - kButton, kRow2, kButton, kButton);
        right -= kButton + kGap;
    }
    places[ID_TWO_VIDEOS] =
        QRect(kPanelWidth - kMargin - 2 * kButton - kGap, kRow1, kButton, kButton);
    places[ID_SYNC_VIDEOS] = QRect(kPanelWidth - kMargin - kButton, kRow1, kButton, kButton);

    for (int slot = 0; slot < kUsedButtons; ++slot) {
        const CButtonSlot& s = kSlots[slot];
        auto* button = AddControl(new CNiftyButton(this), s.id);
        button->setText(QString());
        button->SetIcon(s.icon);
        button->setGeometry(places[s.id]);
        button->setFocusPolicy(Qt::TabFocus);
        if (s.place == EPlace::hidden)
            button->hide();
        m_buttons[slot] = button;
    }
    m_time = AddControl(new CMsTimeCtrl(this), IDC_TIME);
    m_time->setGeometry(timeLeft, kRow1, std::max(120, m_time->sizeHint().width()), kButton);
    m_fileCombo = AddControl(new CAutoSizeCombo(this), IDC_FILE_COMBO);
    m_fileCombo->setEditable(true);
    m_fileCombo->setInsertPolicy(QComboBox::NoInsert);
    m_fileCombo->setMaxVisibleItems(20);
    m_fileCombo->setGeometry(kMargin, kRow2, 200, kButton);
    m_clipCombo = AddControl(new CTimelineCombo(this), IDC_CLIP_COMBO);
    m_clipCombo->setGeometry(kMargin, kRow2, 200, kButton);
    m_clipCombo->hide();
}

bool CVideoCtrlPanel::OnInitDialog() {
    CPlayPanel::OnInitDialog();
    if (!m_fixedFile)
        m_clipCombo->SetShowFilesEntry(true);
    m_buttons[kRateSlot]->SetDropDownMenu(IDR_RATE_MENU, 0);
    connect(m_buttons[kRateSlot], &CNiftyButton::menuCommand, this,
            [this](unsigned id) { Guard([&] { RouteCommand(id); }); });
    WidenRateButton();
    // The "?" button is narrowed, keeping its right edge.
    QRect help = m_buttons[kHelpSlot]->geometry();
    Flex().MoveControl(m_buttons[kHelpSlot], help.right() + 1 - kHelpWidth, help.top(), kHelpWidth,
                       help.height());
    ApplyFlatLook();
    UpdatePanelMode();
    GetDlgItem(ID_DEINTERLACE)->show();
    SizeCombos();
    connect(m_time, &CMsTimeCtrl::timeChanged, this,
            [this] { Guard([&] { OnCmdMsg(IDC_TIME, DTN_DATETIMECHANGE, nullptr); }); });
    connect(m_fileCombo, &QComboBox::activated, this,
            [this](int) { Guard([&] { OnCmdMsg(IDC_FILE_COMBO, CBN_SELCHANGE, nullptr); }); });
    connect(m_clipCombo, &QComboBox::activated, this,
            [this](int) { Guard([&] { OnCmdMsg(IDC_CLIP_COMBO, CBN_SELCHANGE, nullptr); }); });
    m_fileCombo->installEventFilter(this);
    if (m_fileCombo->lineEdit())
        m_fileCombo->lineEdit()->installEventFilter(this);
    m_timerId = startTimer(kTimerPeriod);
    return true;
}

void CVideoCtrlPanel::SetupLayout() {
    for (unsigned id : kRightOrder)
        Flex().AddConstraint(id, 1, 1, 0, 0);
    for (unsigned id : {ID_DEINTERLACE, ID_TWO_VIDEOS, ID_SYNC_VIDEOS})
        Flex().AddConstraint(id, 0, 0, 0, 0);
}

void CVideoCtrlPanel::AddTooltips() {
    for (int slot = 0; slot < kUsedButtons; ++slot)
        if (kSlots[slot].id != IDC_ABOUT)
            AddTool(kSlots[slot].id, kSlots[slot].id);
}

CNiftyButton* CVideoCtrlPanel::GetButton(int slot) const {
    return slot >= 0 && slot < kButtonSlots ? m_buttons[slot] : nullptr;
}

QSize CVideoCtrlPanel::GetPreferredSize() {
    return CPlayPanel::GetPreferredSize();
}

void CVideoCtrlPanel::resizeEvent(QResizeEvent* event) {
    CPlayPanel::resizeEvent(event);
    SizeCombos();
}

void CVideoCtrlPanel::SizeCombos() {
    if (!m_fileCombo || !m_clipCombo)
        return;
    QWidget* open = GetDlgItem(ID_OPEN_FILE);
    QWidget* reload = GetDlgItem(ID_RELOAD_FILE);
    if (!open || !reload)
        return;
    // Flex moves the buttons on resize; read where they are now.
    int right = m_fixedFile ? reload->geometry().right() + 1 : open->geometry().left() - 8;
    for (QWidget* combo :
         {static_cast<QWidget*>(m_fileCombo), static_cast<QWidget*>(m_clipCombo)}) {
        QRect r = combo->geometry();
        r.setRight(std::max(r.left() + 40, right - 1));
        combo->setGeometry(r);
    }
}

void CVideoCtrlPanel::UpdatePanelMode() {
    for (unsigned id : {ID_TWO_VIDEOS, ID_SYNC_VIDEOS})
        if (QWidget* w = GetDlgItem(id))
            w->hide();
    if (QWidget* help = GetDlgItem(IDC_ABOUT))
        help->show();
}

void CVideoCtrlPanel::ApplyFlatLook() {
    bool flat = GetOpt(optIdFlatLook).GetBool();
    for (CNiftyButton* button : m_buttons)
        if (button)
            button->SetFlat(flat);
}

// ---------------------------------------------------------------- video

void CVideoCtrlPanel::AttachVideo(CVideoPanel* video) {
    if (m_video) {
        m_video->SetCtrlPanel(nullptr);
        m_video->SetTimeCtrl(nullptr);
        m_video->SetClipList(nullptr);
    }
    m_video = video;
    if (!video)
        return;
    video->SetCtrlPanel(this);
    if (m_time)
        video->SetTimeCtrl(m_time);
    if (m_clipCombo && !m_clipCombo->isHidden())
        video->SetClipList(m_clipCombo);
}

void CVideoCtrlPanel::LinkVideo(CVideoPanel* video) {
    if (video && std::find(m_group.begin(), m_group.end(), video) == m_group.end())
        m_group.push_back(video);
}

void CVideoCtrlPanel::UnlinkVideo(CVideoPanel* video) {
    m_group.erase(std::remove(m_group.begin(), m_group.end(), video), m_group.end());
}

bool CVideoCtrlPanel::IsFullScreen() {
    return m_video && m_video->IsFullScreen();
}

void CVideoCtrlPanel::OnPanelActivate() {
    if (m_video)
        m_video->MakeActive();
}

void CVideoCtrlPanel::OnVideoActivated(CVideoPanel*) {
    if (m_container)
        m_container->OnVideoActivated(this);
}

bool CVideoCtrlPanel::IsSyncActive() {
    return GetOpt(optIdSyncVideoPos).GetBool() && m_group.size() > 1;
}

void CVideoCtrlPanel::WidenRateButton() {
    // The widest caption ("200%", "-100%" in reverse) with the icon and the
    // menu zone must fit in the font at hand; the controls right of it in
    // the row move along.
    CNiftyButton* rate = m_buttons[kRateSlot];
    const QString shown = rate->text();
    int wanted = 0;
    for (double widest : {2.0, -1.0}) {
        rate->setText(Q(panel::RateCaption(widest)));
        wanted = std::max(wanted, rate->sizeHint().width());
    }
    rate->setText(shown);
    const QRect place = rate->geometry();
    const int grow = wanted - place.width();
    if (grow <= 0)
        return;
    Flex().MoveControl(rate, place.x(), place.y(), wanted, place.height());
    std::vector<QWidget*> right{m_time};
    for (const unsigned id : kRow1Order)
        if (QWidget* w = GetDlgItem(id); w && w != rate && w->x() > place.x())
            right.push_back(w);
    for (QWidget* w : right)
        Flex().MoveControl(w, w->x() + grow, w->y(), w->width(), w->height());
}

void CVideoCtrlPanel::ShowRate(double rate) {
    CNiftyButton* button = m_buttons[kRateSlot];
    if (!button)
        return;
    QString text = Q(panel::RateCaption(rate));
    if (button->text() != text) {
        button->setText(text);
        button->update();
    }
}

QString CVideoCtrlPanel::GetRateText() const {
    return m_buttons[kRateSlot] ? m_buttons[kRateSlot]->text() : QString();
}

void CVideoCtrlPanel::OnFileEvent(int kind, const std::string& name, const std::string&) {
    switch (kind) {
        case fileEventOpened: {
            if (!name.empty())
                AddRecentFileEntry(name);
            bool clips = false;
            if (m_video) {
                m_video->SetClipList(m_clipCombo);
                clips = m_video->FillClipList();
            }
            ShowClipCombo(clips);
            MoveFocus();
            break;
        }
        case fileEventFailed:
            if (!name.empty())
                RemoveRecentFileEntry(name);
            break;
        case fileEventClosed:
            MoveFocus();
            break;
        default:
            break;
    }
    if (m_container)
        m_container->OnFileEvent(this, kind, name);
}

void CVideoCtrlPanel::ShowClipCombo(bool show) {
    m_clipCombo->setVisible(show);
    m_fileCombo->setVisible(!show);
    if (m_video)
        m_video->SetClipList(show ? m_clipCombo : nullptr);
}

void CVideoCtrlPanel::MoveFocus() {
    if (!m_video) {
        if (QWidget* reload = GetDlgItem(ID_RELOAD_FILE))
            reload->setFocus();
        return;
    }
    UpdateControls();
    if (QWidget* video = reinterpret_cast<QWidget*>(m_video->GetVideoWindow()))
        video->setFocus();
    if (m_video->IsFileLoaded() && m_buttons[kRateSlot])
        m_buttons[kRateSlot]->setFocus(Qt::TabFocusReason);
}

// ---------------------------------------------------------------- fixed file

void CVideoCtrlPanel::SetFixedFile(bool on) {
    if (on == m_fixedFile && on) {
        if (m_fileCombo->lineEdit())
            m_fileCombo->lineEdit()->selectAll();
        return;
    }
    m_fixedFile = on;
    for (unsigned id : {ID_OPEN_FILE, ID_FIND, ID_RELOAD_FILE})
        if (QWidget* w = GetDlgItem(id))
            w->setVisible(!on);
    SizeCombos();
    m_clipCombo->SetShowFilesEntry(!on);
    if (on) {
        if (m_fileCombo->lineEdit())
            m_fileCombo->lineEdit()->selectAll();
        if (m_fileCombo->hasFocus() ||
            (m_fileCombo->lineEdit() && m_fileCombo->lineEdit()->hasFocus()))
            focusNextChild();
        m_fileCombo->setEnabled(false);
    } else {
        m_fileCombo->setEnabled(true);
    }
    UpdateControls();
}

// ---------------------------------------------------------------- recent files

int CVideoCtrlPanel::FindRecentFile(const std::string& name) const {
    for (int i = 0; i < m_fileCombo->count(); ++i)
        if (EqualNoCase(m_fileCombo->itemText(i).toStdString(), name))
            return i;
    return -1;
}

void CVideoCtrlPanel::AddRecentFileEntry(const std::string& name) {
    if (name.empty())
        return;
    int found = FindRecentFile(name);
    if (found > 0)
        m_fileCombo->removeItem(found);
    if (found != 0)
        m_fileCombo->insertItem(0, Q(name));
    m_fileCombo->setCurrentIndex(0);
    if (found < 0)
        while (m_fileCombo->count() > m_maxMRU)
            m_fileCombo->removeItem(m_fileCombo->count() - 1);
}

void CVideoCtrlPanel::RemoveRecentFileEntry(const std::string& name) {
    int found = FindRecentFile(name);
    if (found < 0)
        return;
    bool selected = m_fileCombo->currentIndex() == found;
    m_fileCombo->removeItem(found);
    if (selected) {
        int index = std::min(found, m_fileCombo->count() - 1);
        m_fileCombo->setCurrentIndex(index);
        if (index < 0 && m_fileCombo->lineEdit())
            m_fileCombo->lineEdit()->clear();
    }
}

std::vector<std::string> CVideoCtrlPanel::GetRecentFiles() const {
    std::vector<std::string> files;
    for (int i = 0; i < m_fileCombo->count(); ++i)
        files.push_back(m_fileCombo->itemText(i).toStdString());
    return files;
}

std::string CVideoCtrlPanel::GetComboFile() const {
    int index = m_fileCombo->currentIndex();
    QString text = index >= 0 && m_fileCombo->currentText() == m_fileCombo->itemText(index)
                       ? m_fileCombo->itemText(index)
                       : m_fileCombo->currentText().trimmed();
    return text.toStdString();
}

void CVideoCtrlPanel::LoadPanelOptions() {
    for (int id : {optIdFlatLook, optIdHelpCmd, optIdMaxMRU})
        AdviseOpt(id);
    m_maxMRU = EffectiveMaxMRU(GetOpt(optIdMaxMRU).GetInt());
    m_fileCombo->clear();
    if (const CPlayOpt* files = FindPlayOpt(optIdFiles)) {
        CAppOptions& options = GetAppOptions();
        std::vector<std::string> names;
        options.EnumOptions(files->section, names);
        std::vector<std::string> entries(static_cast<size_t>(m_maxMRU));
        for (const std::string& value : names) {
            int n = ParseRecentFileOptionName(value, m_maxMRU);
            if (n > 0)
                entries[size_t(n - 1)] = options.GetOption(files->section, value).GetString();
        }
        for (const std::string& file : entries)
            if (!file.empty())
                m_fileCombo->addItem(Q(file));
    }
    if (m_fileCombo->count() > 0)
        m_fileCombo->setCurrentIndex(0);
    std::string last = GetOpt(optIdLastFile).GetString();
    if (!last.empty()) {
        int found = -1;
        for (int i = 0; i < m_fileCombo->count() && found < 0; ++i)
            if (m_fileCombo->itemText(i).startsWith(Q(last), Qt::CaseInsensitive))
                found = i;
        if (found < 0) {
            m_fileCombo->insertItem(0, Q(last));
            found = 0;
        }
        m_fileCombo->setCurrentIndex(found);
    }
}

void CVideoCtrlPanel::SavePanelOptions() {
    const CPlayOpt* files = FindPlayOpt(optIdFiles);
    if (!files || !m_fileCombo)
        return;
    CAppOptions& options = GetAppOptions();
    std::vector<std::string> names;
    options.EnumOptions(files->section, names);
    for (const std::string& name : names)
        if (ParseRecentFileOptionName(name, INT32_MAX) > 0)
            options.DeleteOption(files->section, name);
    for (int i = 0; i < m_fileCombo->count(); ++i)
        options.SetOption(files->section, RecentFileOptionName(i + 1),
                          m_fileCombo->itemText(i).toStdString());
}

void CVideoCtrlPanel::OnOptionChanged(const CAppOpt& value, const std::string&, const std::string&,
                                      uint32_t cookie) {
    if (cookie == optIdMaxMRU)
        m_maxMRU = EffectiveMaxMRU(value.GetInt());
    else if (cookie == optIdFlatLook)
        ApplyFlatLook();
}

// ---------------------------------------------------------------- keyboard

bool CVideoCtrlPanel::IsFocusInEditFields() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return false;
    for (QWidget* w = focus; w && w != this; w = w->parentWidget())
        if (w == m_fileCombo || w == m_time)
            return true;
    return false;
}

bool CVideoCtrlPanel::OnEnterKey(bool alt) {
    Guard([&] {
        if (alt) {
            if (m_video && m_video->IsFileLoaded())
                m_video->GetPlayCtx().SetFullScreen(!m_video->IsFullScreen());
        } else if (!m_fixedFile) {
            OnReloadFile();
        }
    });
    return true;
}

bool CVideoCtrlPanel::PreTranslateMessage(QKeyEvent* event) {
    const bool down = event->type() == QEvent::KeyPress;
    const int key = event->key();
    if (down && key == Qt::Key_Escape) {
        OnEscapeKey();
        return true;
    }
    if (down && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        OnEnterKey(event->modifiers() & Qt::AltModifier);
        return true;
    }
    if (IsFocusInEditFields()) {
        // Editing keys stay with the field; Ctrl+Delete drops a recent file.
        if (down && key == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier &&
            QApplication::focusWidget() != m_time && m_fileCombo->currentIndex() >= 0) {
            int index = m_fileCombo->currentIndex();
            m_fileCombo->removeItem(index);
            m_fileCombo->setCurrentIndex(std::min(index, m_fileCombo->count() - 1));
            return true;
        }
        return false;
    }
    return CPlayPanel::PreTranslateMessage(event);
}

bool CVideoCtrlPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut &&
        (watched == m_fileCombo || (m_fileCombo && watched == m_fileCombo->lineEdit())))
        Guard([&] { OnFileComboKillFocus(); });
    return CPlayPanel::eventFilter(watched, event);
}

// ---------------------------------------------------------------- commands

bool CVideoCtrlPanel::IsForwarded(unsigned id) const {
    return std::find(std::begin(kForwarded), std::end(kForwarded), id) != std::end(kForwarded);
}

bool CVideoCtrlPanel::RouteForwarded(unsigned id, int code, CCmdUI* cmdUI) {
    if (code == CN_UPDATE_COMMAND_UI) {
        if (!m_group.empty() && m_group.front()->OnCmdMsg(id, code, cmdUI))
            return true;
        cmdUI->Enable(false);
        cmdUI->SetCheck(0);
        return true;
    }
    if (code != CN_COMMAND)
        return false;
    if (id == ID_DEINTERLACE || id == ID_CONTINUOUS_PLAY) {
        // A toggle: the first member decides the new value for all.
        if (!m_group.empty())
            m_group.front()->OnCmdMsg(id, code, cmdUI);
    } else {
        for (CVideoPanel* member : m_group)
            if (member->IsFileLoaded())
                member->OnCmdMsg(id, code, cmdUI);
    }
    PostActivity();
    return true;
}

bool CVideoCtrlPanel::OnCmdMsg(unsigned id, int code, CCmdUI* cmdUI) {
    if (DispatchOwn(id, code, cmdUI)) {
        if (code != CN_UPDATE_COMMAND_UI)
            PostActivity();
        return true;
    }
    if (IsForwarded(id) && RouteForwarded(id, code, cmdUI))
        return true;
    if (m_video && m_video->OnCmdMsg(id, code, cmdUI))
        return true;
    if (!m_container)
        return false;
    if (code == CN_UPDATE_COMMAND_UI)
        return cmdUI && m_container->UpdateCommand(cmdUI);
    if (code == CN_COMMAND)
        return m_container->ExecuteCommand(id);
    return false;
}

void CVideoCtrlPanel::RegisterCommands() {
    auto notFixed = [this](CCmdUI* ui) { ui->Enable(!m_fixedFile); };
    OnCommand(ID_OPEN_FILE, [this] { Guard([&] { OnOpenFile(); }); });
    OnUpdateCommand(ID_OPEN_FILE, notFixed);
    OnCommand(ID_RELOAD_FILE, [this] { Guard([&] { OnReloadFile(); }); });
    OnUpdateCommand(ID_RELOAD_FILE, [this](CCmdUI* ui) {
        ui->Enable(m_video && !m_fixedFile && !GetComboFile().empty());
    });
    OnCommand(ID_FIND, [this] { Guard([&] { OnFind(); }); });
    OnUpdateCommand(ID_FIND, notFixed);
    OnNotify(IDC_FILE_COMBO, CBN_SELCHANGE, [this] { Guard([&] { OnFileComboSelChange(); }); });
    OnUpdateCommand(IDC_FILE_COMBO, notFixed);
    OnNotify(IDC_CLIP_COMBO, CBN_SELCHANGE, [this] { Guard([&] { OnClipComboSelChange(); }); });
    OnUpdateCommand(IDC_CLIP_COMBO, [](CCmdUI* ui) { ui->Enable(true); });
    OnNotify(IDC_TIME, DTN_DATETIMECHANGE, [this] {
        Guard([&] {
            if (m_video)
                m_video->OnTimeChanged();
        });
    });
    OnUpdateCommand(IDC_TIME, [](CCmdUI* ui) { ui->Enable(true); });
    OnCommand(ID_SAVE_SNAPSHOT, [this] { Guard([&] { OnSaveSnapshot(); }); });
    OnUpdateCommand(ID_SAVE_SNAPSHOT,
                    [this](CCmdUI* ui) { ui->Enable(m_video && m_video->CanSaveSnapshot()); });
    OnCommand(IDC_ABOUT, [this] {
        Guard([&] {
            if (m_container)
                m_container->ExecuteCommand(ID_APP_ABOUT_CONTAINER);
        });
    });
    OnUpdateCommand(IDC_ABOUT, [](CCmdUI* ui) { ui->Enable(true); });
    for (unsigned id : {ID_TWO_VIDEOS, ID_SYNC_VIDEOS}) {
        OnCommand(id, [] {});
        OnUpdateCommand(id, [](CCmdUI* ui) { ui->Enable(false); });
    }
}

void CVideoCtrlPanel::OnReloadFile() {
    std::string file = GetComboFile();
    if (m_video && !file.empty())
        m_video->OpenFile(file);
}

void CVideoCtrlPanel::OnFileComboSelChange() {
    int index = m_fileCombo->currentIndex();
    if (!m_video || index < 0)
        return;
    std::string chosen = m_fileCombo->itemText(index).toStdString();
    if (!EqualNoCase(chosen, m_video->GetPlayCtx().GetMediaName()))
        m_video->OpenFile(chosen);
}

void CVideoCtrlPanel::OnFileComboKillFocus() {
    if (!m_video || !m_fileCombo->currentText().trimmed().isEmpty())
        return;
    std::string current = m_video->GetPlayCtx().GetMediaName();
    if (current.empty())
        current = m_video->GetLastFile();
    int index = FindRecentFile(current);
    if (index >= 0)
        m_fileCombo->setCurrentIndex(index);
    else
        m_fileCombo->setEditText(Q(current));
}

void CVideoCtrlPanel::OnClipComboSelChange() {
    if (m_clipCombo->IsShowFilesSelected()) {
        ShowClipCombo(false);
        m_fileCombo->setFocus();
        return;
    }
    int64_t start = 0, stop = 0;
    if (!m_video || !m_clipCombo->GetSelectedRange(start, stop))
        return;
    CPlayCtx& ctx = m_video->GetPlayCtx();
    if (ctx.HasSelection()) {
        ctx.SetSelection(start, stop);
        m_video->ShowSelection();
    }
    m_video->SeekTo(RefTimeToMs(start), false);
}

// ---------------------------------------------------------------- snapshot, find

void CVideoCtrlPanel::OnSaveSnapshot() {
    if (!m_video || !m_video->CanSaveSnapshot())
        return;
    std::string name = m_video->GetLastFile();
    if (name.empty())
        name = window()->windowTitle().toStdString();
    else if (IsUrl(name))
        name = CVaSnapshot::SourceNameForMedia(name);
    m_video->SaveSnapshot(name);
}

void CVideoCtrlPanel::OnFind() {
    // The folder is remembered for the life of the process.
    static std::string folder;
    if (folder.empty())
        folder = QDir::currentPath().toStdString();
    CDirectoryDialog dialog(window(), folder, IDS_FIND_FOLDER);
    dialog.SetNoNewFolderButton(true);
    if (dialog.DoModal() != CDirectoryDialog::kOk)
        return;
    folder = dialog.GetFolder();
    CFileFinder finder;
    finder.SetDialog(147, 1025, 1026);
    finder.m_nResultLimit = m_maxMRU;
    int found = finder.Find(folder, SearchPatterns(), true, window());
    if (found <= 0)
        return;
    m_fileCombo->setUpdatesEnabled(false);
    try {
        if (GetOpt(optIdMRUReplace).GetBool())
            m_fileCombo->clear();
        // The first found ends at the top.
        for (int i = found - 1; i >= 0; --i)
            AddRecentFileEntry(finder[i]);
    } catch (...) {
        m_fileCombo->setUpdatesEnabled(true);
        throw;
    }
    m_fileCombo->setUpdatesEnabled(true);
    m_fileCombo->setFocus();
    if (m_video && m_fileCombo->count() > 0)
        m_video->OpenFile(m_fileCombo->itemText(0).toStdString());
}

// ---------------------------------------------------------------- open

std::vector<std::pair<std::string, std::string>> CVideoCtrlPanel::ParseFilter(
    const std::string& filter) {
    // "Text|patterns|Text|patterns|..."
    std::vector<std::pair<std::string, std::string>> entries;
    QStringList parts = Q(filter).split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            break;
        entries.emplace_back(parts[i].toStdString(), parts[i + 1].toStdString());
    }
    return entries;
}

std::string CVideoCtrlPanel::OpenFileFilter() {
    return LoadResString(IDS_FILTER_VIDEO) + LoadResString(IDS_FILTER_PLAYLIST) +
           LoadResString(IDS_FILTER_BITMAP) + LoadResString(IDS_FILTER_JPEG) +
           LoadResString(IDS_FILTER_TIMELINE) + LoadResString(IDS_FILTER_ALL) + "|";
}

std::string CVideoCtrlPanel::SearchPatterns() {
    std::string patterns;
    for (const auto& [text, pattern] :
         ParseFilter(LoadResString(IDS_FILTER_VIDEO) + LoadResString(IDS_FILTER_PLAYLIST))) {
        if (pattern.empty())
            continue;
        if (!patterns.empty())
            patterns += ';';
        patterns += pattern;
    }
    return patterns.empty() ? "*.*" : patterns;
}

void CVideoCtrlPanel::OnOpenFile() {
    std::string initial = GetComboFile();
    if (IsUrl(initial))
        initial.clear();
    std::string path;
    if (HasDialogAnswerer()) {
        std::optional<std::string> answer = AnswerDialog(EDialogKind::OpenFile);
        if (!answer || answer->empty())
            return;
        path = *answer;
    } else {
        path = AskOpenFile(initial);
        if (path.empty())
            return;
    }
    m_fileCombo->setFocus();
    if (m_video)
        m_video->OpenFile(path);
}

std::string CVideoCtrlPanel::AskOpenFile(const std::string& initial) {
    auto entries = ParseFilter(OpenFileFilter());
    QStringList filters;
    for (const auto& [text, pattern] : entries) {
        // "Bitmap Files (*.bmp)" names its pattern already.
        const std::string named = "(" + pattern + ")";
        const bool hasPattern = text.size() >= named.size() &&
                                text.compare(text.size() - named.size(), named.size(), named) == 0;
        filters << Q(hasPattern ? text : text + " " + named).replace(';', ' ');
    }
    QString selected;
    std::string extension = QFileInfo(Q(initial)).suffix().toStdString();
    if (!extension.empty()) {
        for (size_t i = 0; i < entries.size() && selected.isEmpty(); ++i)
            for (const QString& p : Q(entries[i].second).split(';'))
                if (p.compare("*." + Q(extension), Qt::CaseInsensitive) == 0)
                    selected = filters[int(i)];
    }
    QFileDialog dialog(window(), QString(), Q(initial));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix("avi");
    dialog.setNameFilters(filters);
    if (!selected.isEmpty())
        dialog.selectNameFilter(selected);
    if (!initial.empty())
        dialog.selectFile(Q(initial));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::string();
    return dialog.selectedFiles().front().toStdString();
}

// ---------------------------------------------------------------- timer

void CVideoCtrlPanel::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId)
        return CPlayPanel::timerEvent(event);
    // Synchronising two videos is all this timer would do; one video here.
}
