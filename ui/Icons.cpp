#include "ui/Icons.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

struct CIconDef {
    unsigned id;
    const char* themeName;  // null: no theme icon fits
    const char* bundled;    // file in the :/velotrax/icons resource
};

constexpr CIconDef kIcons[] = {
    {IDI_HELP, "help-about", "help"},
    {IDI_BACK, "media-seek-backward", "back"},
    {IDI_FORWARD, "media-seek-forward", "forward"},
    {IDI_STEP_FORWARD, nullptr, "step-forward"},
    {IDI_STEP_BACK, nullptr, "step-back"},
    {IDI_PAUSE, "media-playback-pause", "pause"},
    {IDI_STOP, "media-playback-stop", "stop"},
    {IDI_OPEN, "document-open", "open"},
    {IDI_END, "media-skip-forward", "end"},
    {IDI_BEGIN, "media-skip-backward", "begin"},
    {IDI_DEINTERLACE, nullptr, "deinterlace"},
    {IDI_FIND, "edit-find", "find"},
    {IDI_TWO_VIDEOS, nullptr, "two-videos"},
    {IDI_SYNC, nullptr, "sync"},
    {IDI_CONTINUOUS, "media-playlist-repeat", "repeat"},
    {IDI_MARK_BEGIN, nullptr, "mark-begin"},
    {IDI_SNAPSHOT, "camera-photo", "snapshot"},
    {IDI_RELOAD, "view-refresh", "reload"},
    {IDI_PLAY, "media-playback-start", "play"},
    {IDI_MARK_END, nullptr, "mark-end"},
};

const CIconDef* FindIcon(unsigned id) {
    for (const CIconDef& def : kIcons) {
        if (def.id == id)
            return &def;
    }
    return nullptr;
}

}  // namespace

// The bundled drawings live in a static library; their resource is
// registered on first use.
static void EnsureResources() {
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(velotrax_ui_icons);
        done = true;
    }
}

QIcon LoadBundledIcon(unsigned id) {
    const CIconDef* def = FindIcon(id);
    if (!def)
        return QIcon();
    EnsureResources();
    QSvgRenderer renderer(QStringLiteral(":/velotrax/icons/%1.svg").arg(def->bundled));
    if (!renderer.isValid())
        return QIcon();
    // Drawn at 16 and 32 pixels so the icon is sharp at device pixel ratio 2.
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon LoadIconResource(unsigned id, bool useTheme) {
    const CIconDef* def = FindIcon(id);
    if (!def)
        return QIcon();
    if (useTheme && def->themeName) {
        QIcon themed = QIcon::fromTheme(QString::fromLatin1(def->themeName));
        // A theme entry without any image of the size is as good as none.
        if (!themed.isNull() && !themed.pixmap(16, 16).isNull())
            return themed;
    }
    return LoadBundledIcon(id);
}
