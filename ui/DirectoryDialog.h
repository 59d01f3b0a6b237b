#pragma once
// CDirectoryDialog: asks the user for a folder (folders only).
#include <QPointer>
#include <string>

class QWidget;

class CDirectoryDialog {
public:
    enum Result { kOk = 1, kCancel = 2, kFailed = 3 };

    CDirectoryDialog() = default;
    CDirectoryDialog(QWidget* owner, std::string startFolder, unsigned titleId);
    // Owner, start folder (also receives the chosen one) and title string id.
    void Create(QWidget* owner, std::string startFolder, unsigned titleId);
    // Extra options: no button to make a new folder.
    void SetNoNewFolderButton(bool on) { m_bNoNewFolder = on; }

    // 1: a folder was chosen (GetFolder has it), 2: cancelled, 3: failed.
    int DoModal();
    const std::string& GetFolder() const { return m_strFolder; }

private:
    QPointer<QWidget> m_pOwner;
    std::string m_strFolder;
    unsigned m_nTitleId = 0;
    bool m_bNoNewFolder = false;
};
