#include "apps/velotrax/PlayerWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

#include "options/AppOptions.h"
#include "options/OptionCatalogue.h"
#include "resources/StringTable.h"
#include "support/Exception.h"
#include "support/VersionInfo.h"
#include "ui/DialogAnswer.h"
#include "ui/PlayerIds.h"
#include "ui/VideoPanel.h"
#include "ui/VideoPlayerCtrl.h"

namespace {

constexpr int kDefaultVideoHeight = 576;

bool FileExists(const QString& path) {
    return QFileInfo(path).isFile();
}

}  // namespace

std::string FindDemoClip() {
    // Installed: <prefix>/bin/velotrax and <prefix>/share/velotrax/demo.webm.
    QString dir = QCoreApplication::applicationDirPath();
    for (QString candidate :
         {dir + "/../share/velotrax/demo.webm", dir + "/../../share/velotrax/demo.webm"}) {
        if (FileExists(candidate))
            return QDir::cleanPath(candidate).toStdString();
    }
#ifdef VELOTRAX_BUILD_DEMO_CLIP
    if (FileExists(VELOTRAX_BUILD_DEMO_CLIP))
        return VELOTRAX_BUILD_DEMO_CLIP;
#endif
    return std::string();
}

bool IsHeadless() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (!display || !*display) && (!wayland || !*wayland);
}

CPlayerWindow::CPlayerWindow() {
    setWindowIcon(QIcon::fromTheme("velotrax"));
    m_player = new CVelotraxCtrl(this);
    setCentralWidget(m_player);
    m_player->SetContainer(this);
    m_player->Create(this, 1);
    m_player->SetVideoCount(1);
    setMinimumSize(m_player->GetPreferredSize(false));
    UpdateTitle();
}

CPlayerWindow::~CPlayerWindow() {
    SavePlacement();
}

void CPlayerWindow::ShowPlaced() {
    CFramePlacement placement =
        ParseFramePos(GetAppOptions().GetOption(kSectionSettings, "Pos").GetString());
    QRect available;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    if (!placement.useDefault) {
        const RECT& r = placement.rect;
        QRect rect(int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top));
        // A place on no screen (a screen that went away) is not restored.
        if (available.isEmpty() || available.intersects(rect)) {
            resize(rect.size().expandedTo(minimumSize()));
            move(rect.topLeft());
        }
    } else {
        // Room for a PAL frame over the control panel, within the screen.
        QSize wanted(std::max(minimumWidth(), 768), kDefaultVideoHeight + minimumHeight());
        if (!available.isEmpty())
            wanted = wanted.boundedTo(available.size() * 9 / 10);
        resize(wanted.expandedTo(minimumSize()));
    }
    if (placement.maximised)
        showMaximized();
    else
        show();
    activateWindow();
    m_placementSaved = false;
}

void CPlayerWindow::SavePlacement() {
    if (m_placementSaved || !isVisible())
        return;
    m_placementSaved = true;
    ReportExceptions([&] {
        QRect g = isMaximized() ? normalGeometry() : geometry();
        RECT rect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        GetAppOptions().SetOption(kSectionSettings, "Pos", FormatFramePos(rect, isMaximized()));
    });
}

void CPlayerWindow::closeEvent(QCloseEvent* event) {
    SavePlacement();
    QMainWindow::closeEvent(event);
}

void CPlayerWindow::UpdateTitle() {
    QString title = "Velotrax";
    if (CVideoPanel* video = m_player ? m_player->GetVideoPanel(0) : nullptr) {
        std::string name = video->GetPlayCtx().GetMediaName();
        if (!name.empty()) {
            QString file = QString::fromStdString(name);
            QString shown = file.contains("://") ? file : QFileInfo(file).fileName();
            title = shown + QString::fromUtf8(" \u2013 Velotrax");
        }
    }
    setWindowTitle(title);
}

void CPlayerWindow::OnPlayerChanged(CVideoPlayerCtrl*, int) {
    UpdateTitle();
}

namespace {
// The about box's line under the product name.
constexpr unsigned kIdsAboutText = 0x7340;
}  // namespace

bool CPlayerWindow::OnPlayerCommand(unsigned id) {
    if (id != ID_APP_ABOUT_CONTAINER)
        return false;
    std::string version = ModuleVersionInfo().FormatVersion(3);
    if (HasDialogAnswerer()) {
        // A scripted run is not held by the box: its text goes to stderr.
        AnswerDialog(EDialogKind::About);
        std::fprintf(stderr, "Velotrax %s\n", version.c_str());
        return true;
    }
    QMessageBox::about(
        this, "Velotrax",
        QString("<b>Velotrax</b> %1<p>%2</p>")
            .arg(QString::fromStdString(version),
                 QString::fromStdString(LoadResString(kIdsAboutText)).toHtmlEscaped()));
    return true;
}

bool CPlayerWindow::OnPlayerUpdateCommand(CCmdUI*) {
    return false;
}
