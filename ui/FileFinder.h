#pragma once
// CFileFinder collects the paths of the files in a folder (and, on request,
// its subfolders) that match a list of patterns, in the order found. A
// recursive search with a progress dialog runs on a worker thread while the
// dialog shows the folder being searched and the count, and lets the user
// cancel; every other search runs directly on the calling thread.
//
// Patterns match without regard to letter case, "*.*" matches every name,
// folders are visited in name order, symbolic links to folders are not
// followed and folders that cannot be read contribute nothing.
#include <QEvent>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "platform/sync/Sync.h"
#include "ui/DialogExt.h"

class QLabel;

// Messages from the worker to the progress dialog.
constexpr int WM_FINDER_COUNT = 1124;   // the count changed (in the parameter)
constexpr int WM_FINDER_FOLDER = 1125;  // the folder changed
// The progress dialog and its controls.
constexpr unsigned IDD_FIND_PROGRESS = 147;
constexpr unsigned IDC_FIND_COUNT = 1025;
constexpr unsigned IDC_FIND_FOLDER = 1026;

class CFileFinder {
public:
    CFileFinder();
    ~CFileFinder();
    CFileFinder(const CFileFinder&) = delete;
    CFileFinder& operator=(const CFileFinder&) = delete;

    // The progress dialog's template and its count and folder controls; a
    // template of 0 searches without a dialog.
    void SetDialog(unsigned templateId, unsigned countCtrl, unsigned folderCtrl);

    // Searches 'folder' for the patterns (separated by ";"; empty items are
    // skipped; none left means "*.*"). Returns the number of results. The
    // dialog's owner is 'parent'.
    int Find(const std::string& folder, const std::string& patterns, bool recursive,
             QWidget* parent = nullptr);

    const std::vector<std::string>& Results() const { return m_results; }
    int GetSize() const { return static_cast<int>(m_results.size()); }
    const std::string& operator[](int i) const { return m_results[i]; }

    // Stop when this many results exist; 0 = no limit.
    int m_nResultLimit = 0;
    // Called with each folder as the search enters it (on the searching
    // thread), for progress displays other than the dialog.
    std::function<void(const std::string&)> m_folderObserver;

    // Whether a name matches a pattern ('*' and '?', letter case ignored;
    // "*.*" matches everything).
    static bool MatchPattern(const std::string& name, const std::string& pattern);
    // The patterns of a ";"-separated list.
    static std::vector<std::string> SplitPatterns(const std::string& patterns);

    // The progress dialog (exists only during a search with a dialog).
    class CCancelDlg : public CDialogExt {
    public:
        explicit CCancelDlg(CFileFinder* finder, QWidget* parent);
        ~CCancelDlg() override;
        // The worker stores the folder under the lock, then posts the message.
        void SetFolder(const std::string& folder);
        QString FolderText() const;
        QString CountText() const;

    protected:
        void CreateControls() override;
        bool event(QEvent* event) override;
        void done(int result) override;
        void resizeEvent(QResizeEvent* event) override;

    private:
        void ShowFolder();

        CFileFinder* m_pFinder;
        CCriticalSection m_lock;
        std::string m_strFolder;
        QString m_shownFolder;
        QLabel* m_pCount = nullptr;
        QLabel* m_pFolder = nullptr;
    };

    // The dialog of the running search (tests close it), or null.
    CCancelDlg* GetDialog() const { return m_pDialog; }
    CEvent& CancelEvent() { return m_cancelEvent; }
    CEvent& DoneEvent() { return m_doneEvent; }

private:
    struct CEntry {
        std::string name;
        bool directory;
    };

    // false when the search was stopped (cancelled or limit reached).
    bool Search(const std::string& folder, const std::vector<std::string>& patterns, bool recursive,
                CCancelDlg* dialog);
    bool IsCancelled(CCancelDlg* dialog);
    void RunWorker(std::string folder, std::vector<std::string> patterns);

    std::vector<std::string> m_results;
    unsigned m_nTemplate = 0;
    unsigned m_nCountCtrl = 0;
    unsigned m_nFolderCtrl = 0;
    CEvent m_cancelEvent{false, false};
    CEvent m_doneEvent{false, false};
    QPointer<CCancelDlg> m_pDialog;
};
