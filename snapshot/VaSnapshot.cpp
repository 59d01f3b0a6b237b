#include "snapshot/VaSnapshot.h"

#include <QApplication>
#include <QGuiApplication>

#include "options/AppOptions.h"
#include "platform/imaging/ImageFile.h"
#include "playback/PlayCtx.h"
#include "snapshot/VaSnapshotExtFileDlg.h"
#include "support/Exception.h"
#include "ui/DialogAnswer.h"

namespace {

// "Could not retrieve the current video frame."
constexpr unsigned IDS_NO_CURRENT_FRAME = 1001;

// The application's wait cursor for the life of the object, where there
// is a screen to show it on.
class CWaitCursor {
public:
    CWaitCursor()
        : m_shown(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (m_shown)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~CWaitCursor() {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
    }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    bool m_shown;
};

// Everything before the last separator; empty without one.
std::string FolderPart(const std::string& name) {
    const size_t slash = name.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

std::string FileNamePart(const std::string& name) {
    const size_t slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The path with its file name's extension replaced by 'extension'.
std::string ReplaceExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + "." + extension;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

}  // namespace

CVaSnapshot::CVaSnapshot(CAppOptions* options) : m_options(options) {}

CVaSnapshot::~CVaSnapshot() = default;

CAppOptions& CVaSnapshot::Options() const {
    return m_options ? *m_options : GetAppOptions();
}

void CVaSnapshot::SetOptionName(EOption kind, const std::string& section, const std::string& key) {
    m_optionNames[kind] = CVaSnapshotOptions::COptionName{section, key};
}

std::string CVaSnapshot::ReadString(EOption kind) const {
    auto it = m_optionNames.find(kind);
    if (it == m_optionNames.end())
        return std::string();
    return Options().GetOption(it->second.section, it->second.key).GetString();
}

bool CVaSnapshot::ReadBool(EOption kind) const {
    auto it = m_optionNames.find(kind);
    if (it == m_optionNames.end())
        return false;
    return Options().GetOption(it->second.section, it->second.key).GetBool();
}

int CVaSnapshot::ReadInt(EOption kind, int def) const {
    auto it = m_optionNames.find(kind);
    if (it == m_optionNames.end())
        return def;
    return Options().GetOption(it->second.section, it->second.key, CAppOpt(int32_t(def))).GetInt();
}

void CVaSnapshot::WriteString(EOption kind, const std::string& value) {
    auto it = m_optionNames.find(kind);
    if (it != m_optionNames.end())
        Options().SetOption(it->second.section, it->second.key, CAppOpt(value));
}

bool CVaSnapshot::IsShiftDown() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
}

bool CVaSnapshot::ShowFileDialog(const std::string& initialPath, int initialType,
                                 const std::string& initialFolder, CChoice& choice) {
    // A scripted run answers the dialog itself; the answer's type is that of
    // its extension, else the type the dialog would have started with.
    if (HasDialogAnswerer()) {
        std::optional<std::string> answer = AnswerDialog(EDialogKind::SaveFile);
        if (!answer || answer->empty())
            return false;
        const size_t dot = answer->rfind('.');
        const size_t slash = answer->rfind('/');
        const int type = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                             ? typeNone
                             : FileTypeFromExtension(answer->substr(dot));
        choice.path = *answer;
        choice.type = type == typeNone ? initialType : type;
        return true;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw CNotSupportedException();
    CVaSnapshotExtFileDlg dialog(initialPath, initialType, initialFolder,
                                 QApplication::activeWindow());
    dialog.SetNumberingFlags(kNumberingFlags);
    dialog.BuildFilters();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    choice.path = dialog.GetPathName();
    choice.type = dialog.GetFileType();
    return !choice.path.empty();
}

std::optional<CVaSnapshot::CChoice> CVaSnapshot::ChooseFile(const std::string& sourceName) {
    const std::string folder = HasOption(optDir) ? ReadString(optDir) : FolderPart(sourceName);
    std::string base = WithoutExtension(FileNamePart(sourceName));
    MakeValidFileName(base);
    int type = FileTypeFromExtension(ReadString(optFileExt));
    if (type == typeNone)
        type = m_lastType;
    const bool fresh = !folder.empty() && !base.empty();
    const bool canForm = fresh || !m_lastImagePath.empty();
    const bool automatic =
        canForm && !IsShiftDown() && HasOption(optAutoFile) && ReadBool(optAutoFile);

    std::string candidate;
    bool fromFolder = false;
    if (automatic && !m_lastImagePath.empty()) {
        candidate = m_lastImagePath;
    } else if (!automatic && !m_lastPath.empty()) {
        candidate = m_lastPath;
    } else if (fresh) {
        candidate = JoinPath(folder, base);
        fromFolder = true;
    }
    const std::string extension = ExtensionFromFileType(type);
    if (!candidate.empty() && !extension.empty()) {
        // A base name made from the media name has already lost its
        // extension; dots left in it belong to the name.
        candidate =
            fromFolder ? candidate + "." + extension : ReplaceExtension(candidate, extension);
    }
    candidate = MakeUniqueFileName(candidate, kNumberingFlags);

    if (automatic) {
        m_lastImagePath = candidate;
        return CChoice{candidate, type};
    }
    CChoice choice;
    if (!ShowFileDialog(candidate, type, folder, choice))
        return std::nullopt;
    m_lastPath = choice.path;
    m_lastType = choice.type;
    if (choice.type == typeBmp || choice.type == typeJpg) {
        m_lastImagePath = choice.path;
        m_lastImageType = choice.type;
    }
    // The chosen folder without its trailing separator, "/" for the root.
    const size_t slash = choice.path.find_last_of("\\/");
    WriteString(optDir, slash == std::string::npos ? std::string()
                                                   : choice.path.substr(0, slash == 0 ? 1 : slash));
    const std::string lastExtension = ExtensionFromFileType(m_lastType);
    if (!lastExtension.empty())
        WriteString(optFileExt, lastExtension);
    const std::string imageExtension = ExtensionFromFileType(m_lastImageType);
    if (!imageExtension.empty())
        WriteString(optFileExtImg, imageExtension);
    return choice;
}

int CVaSnapshot::SaveSnapshot(CPlayCtx* ctx, const std::string& sourceName) {
    std::optional<CChoice> choice = ChooseFile(sourceName);
    if (!choice)
        return typeNone;
    CWaitCursor wait;
    TakeSnapshot(ctx, choice->path, choice->type);
    return choice->type;
}

void CVaSnapshot::TakeSnapshot(CPlayCtx* ctx, const std::string& path, int type) {
    QImage image = GetCurrentImageBitmap(ctx);
    if (image.isNull())
        ThrowMessage(IDS_NO_CURRENT_FRAME);
    if (type == typeJpg) {
        const int quality = ReadInt(optImgQuality, kDefaultQuality);
        if (!imaging::IsJpegEncoderAvailable())
            throw CNotSupportedException();
        imaging::WriteJpegFile(image, path, quality);
    } else {
        imaging::WriteBmpFile(image, path);
    }
}

// ---- CVaSnapshotExt

CVaSnapshotExt::~CVaSnapshotExt() = default;

QImage CVaSnapshotExt::GetCurrentImageBitmap(CPlayCtx* ctx) {
    return ctx ? ctx->GetCurrentImageBitmap() : QImage();
}
