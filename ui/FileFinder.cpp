#include "ui/FileFinder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>
#include <cctype>
#include <thread>

#include "resources/StringTable.h"
#include "support/Exception.h"
#include "ui/UiStrings.h"

namespace {

// A message from the worker with its parameter.
class CFinderEvent : public QEvent {
public:
    CFinderEvent(int type, long param) : QEvent(static_cast<QEvent::Type>(type)), m_param(param) {}
    long m_param;
};

// The Cancel command the worker posts when the search is over.
const QEvent::Type kCancelCommand = static_cast<QEvent::Type>(QEvent::registerEventType());

char Fold(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// '*' any run, '?' one character; letter case is ignored.
bool Match(const char* name, const char* pattern) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = ++pattern;
            resume = name;
        } else if (*pattern == '?' || (*pattern && Fold(*pattern) == Fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

CFileFinder::CFileFinder() = default;

CFileFinder::~CFileFinder() = default;

void CFileFinder::SetDialog(unsigned templateId, unsigned countCtrl, unsigned folderCtrl) {
    m_nTemplate = templateId;
    m_nCountCtrl = countCtrl;
    m_nFolderCtrl = folderCtrl;
}

bool CFileFinder::MatchPattern(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*")
        return true;
    return Match(name.c_str(), pattern.c_str());
}

std::vector<std::string> CFileFinder::SplitPatterns(const std::string& patterns) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos)
            end = patterns.size();
        if (end > start)
            result.push_back(patterns.substr(start, end - start));
        start = end + 1;
    }
    if (result.empty())
        result.push_back("*.*");
    return result;
}

int CFileFinder::Find(const std::string& folderIn, const std::string& patternText, bool recursive,
                      QWidget* parent) {
    m_results.clear();
    const std::vector<std::string> patterns = SplitPatterns(patternText);
    // The folder ends with a separator; "\" ends a folder as "/" does.
    std::string folder = folderIn.empty() ? QDir::currentPath().toStdString() : folderIn;
    while (folder.size() > 1 && IsSeparator(folder.back()))
        folder.pop_back();
    if (!IsSeparator(folder.back()))
        folder += '/';
    else
        folder.back() = '/';

    // The dialog needs a widget application (a console program has none).
    if (!recursive || m_nTemplate == 0 ||
        !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        Search(folder, patterns, recursive, nullptr);
        return GetSize();
    }

    m_cancelEvent.Reset();
    m_doneEvent.Reset();
    {
        CCancelDlg dialog(this, parent);
        m_pDialog = &dialog;
        std::thread worker(&CFileFinder::RunWorker, this, folder, patterns);
        dialog.DoModal();
        // The worker notices the cancel event and ends.
        m_doneEvent.Wait(INFINITE);
        worker.join();
        m_pDialog = nullptr;
    }
    m_cancelEvent.Reset();
    m_doneEvent.Reset();
    return GetSize();
}

void CFileFinder::RunWorker(std::string folder, std::vector<std::string> patterns) {
    CCancelDlg* dialog = m_pDialog.data();
    bool close = true;
    try {
        Search(folder, patterns, true, dialog);
    } catch (const CException&) {
        // The search ends with what it found; the dialog waits for the user.
        close = false;
    } catch (...) {
        close = false;
    }
    // Closes the dialog even when its window has not appeared yet.
    if (close)
        QCoreApplication::postEvent(dialog, new QEvent(kCancelCommand));
    m_doneEvent.Set();
}

bool CFileFinder::IsCancelled(CCancelDlg* dialog) {
    // Auto-reset: the first check that sees it consumes it; every level of
    // the search then returns at once.
    return dialog && m_cancelEvent.Wait(0);
}

bool CFileFinder::Search(const std::string& folder, const std::vector<std::string>& patterns,
                         bool recursive, CCancelDlg* dialog) {
    if (dialog) {
        std::string shown = folder;
        while (shown.size() > 1 && IsSeparator(shown.back()))
            shown.pop_back();
        if (shown.empty())
            shown = QDir::currentPath().toStdString();
        dialog->SetFolder(shown);
    }
    if (m_folderObserver)
        m_folderObserver(folder);

    // The folder's entries, in name order so results do not depend on the
    // file system's order.
    std::vector<CEntry> entries;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            bool directory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
                // A link to a folder is neither a result nor followed.
                struct stat info;
                const std::string path = folder + name;
                if (stat(path.c_str(), &info) != 0)
                    continue;
                if (S_ISDIR(info.st_mode)) {
                    struct stat own;
                    if (entry->d_type == DT_LNK ||
                        (lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode)))
                        continue;
                    directory = true;
                }
            }
            entries.push_back({name, directory});
        }
        closedir(dir);
    }
    std::sort(entries.begin(), entries.end(),
              [](const CEntry& a, const CEntry& b) { return a.name < b.name; });

    for (const std::string& pattern : patterns) {
        if (IsCancelled(dialog))
            return false;
        for (const CEntry& entry : entries) {
            if (entry.directory || !MatchPattern(entry.name, pattern))
                continue;
            if (IsCancelled(dialog))
                return false;
            m_results.push_back(folder + entry.name);
            if (dialog)
                QCoreApplication::postEvent(dialog, new CFinderEvent(WM_FINDER_COUNT, GetSize()));
            if (m_nResultLimit > 0 && GetSize() >= m_nResultLimit)
                return false;
        }
    }
    if (recursive) {
        for (const CEntry& entry : entries) {
            if (!entry.directory)
                continue;
            if (IsCancelled(dialog))
                return false;
            if (!Search(folder + entry.name + "/", patterns, recursive, dialog))
                return false;
        }
    }
    return true;
}

CFileFinder::CCancelDlg::CCancelDlg(CFileFinder* finder, QWidget* parent)
    : CDialogExt(parent), m_pFinder(finder) {
    setWindowTitle(QString::fromStdString(LoadResString(IDS_FIND_TITLE)));
    setModal(true);
}

CFileFinder::CCancelDlg::~CCancelDlg() = default;

void CFileFinder::CCancelDlg::CreateControls() {
    auto* layout = new QGridLayout(this);
    // A small dialog of one size; the folder text is shortened to fit it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(QString::fromStdString(LoadResString(IDS_FIND_FOLDER_LABEL))), 0,
                      0);
    m_pFolder = AddControl(new QLabel(this), m_pFinder->m_nFolderCtrl);
    m_pFolder->setFixedWidth(std::max(360, m_pFolder->fontMetrics().averageCharWidth() * 50));
    layout->addWidget(m_pFolder, 0, 1);
    layout->addWidget(new QLabel(QString::fromStdString(LoadResString(IDS_FIND_COUNT_LABEL))), 1,
                      0);
    m_pCount = AddControl(new QLabel(QStringLiteral("0"), this), m_pFinder->m_nCountCtrl);
    layout->addWidget(m_pCount, 1, 1);
    auto* cancel = new QPushButton(QString::fromStdString(LoadResString(IDS_FIND_CANCEL)), this);
    SetDlgCtrlID(cancel, 2);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(cancel, 2, 1, Qt::AlignRight);
}

void CFileFinder::CCancelDlg::SetFolder(const std::string& folder) {
    {
        CSingleLock<CCriticalSection> lock(m_lock, true);
        m_strFolder = folder;
    }
    QCoreApplication::postEvent(this, new CFinderEvent(WM_FINDER_FOLDER, 0));
}

QString CFileFinder::CCancelDlg::FolderText() const {
    return m_pFolder ? m_pFolder->text() : QString();
}

QString CFileFinder::CCancelDlg::CountText() const {
    return m_pCount ? m_pCount->text() : QString();
}

void CFileFinder::CCancelDlg::ShowFolder() {
    if (!m_pFolder)
        return;
    // Long paths are shortened in the middle.
    const QFontMetrics metrics(m_pFolder->font());
    m_pFolder->setText(metrics.elidedText(m_shownFolder, Qt::ElideMiddle, m_pFolder->width()));
    m_pFolder->setToolTip(m_shownFolder);
}

void CFileFinder::CCancelDlg::resizeEvent(QResizeEvent* event) {
    CDialogExt::resizeEvent(event);
    ShowFolder();
}

bool CFileFinder::CCancelDlg::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(WM_FINDER_COUNT)) {
        if (m_pCount)
            m_pCount->setText(QString::number(static_cast<CFinderEvent*>(event)->m_param));
        return true;
    }
    if (event->type() == static_cast<QEvent::Type>(WM_FINDER_FOLDER)) {
        CSingleLock<CCriticalSection> lock(m_lock, true);
        m_shownFolder = QString::fromStdString(m_strFolder);
        lock.Unlock();
        ShowFolder();
        return true;
    }
    if (event->type() == kCancelCommand) {
        reject();
        return true;
    }
    return CDialogExt::event(event);
}

void CFileFinder::CCancelDlg::done(int result) {
    CDialogExt::done(result);
    // The dialog going away is what cancels the search.
    m_pFinder->m_cancelEvent.Set();
}
