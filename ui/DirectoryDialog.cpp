#include "ui/DirectoryDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QWidget>

#include "resources/StringTable.h"
#include "ui/DialogAnswer.h"
#include "ui/UiStrings.h"

CDirectoryDialog::CDirectoryDialog(QWidget* owner, std::string startFolder, unsigned titleId) {
    Create(owner, std::move(startFolder), titleId);
}

void CDirectoryDialog::Create(QWidget* owner, std::string startFolder, unsigned titleId) {
    m_pOwner = owner;
    m_strFolder = std::move(startFolder);
    m_nTitleId = titleId;
}

int CDirectoryDialog::DoModal() {
    if (HasDialogAnswerer()) {
        std::optional<std::string> answer = AnswerDialog(EDialogKind::Folder);
        if (!answer)
            return kCancel;
        if (answer->empty() || !QDir(QString::fromStdString(*answer)).exists())
            return kFailed;
        m_strFolder = QDir::toNativeSeparators(QDir(QString::fromStdString(*answer)).absolutePath())
                          .toStdString();
        return kOk;
    }
    std::string title = LoadResString(m_nTitleId ? m_nTitleId : IDS_SELECT_FOLDER);
    QFileDialog dialog(m_pOwner, QString::fromStdString(title));
    dialog.setFileMode(QFileDialog::Directory);
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    if (m_bNoNewFolder)
        options |= QFileDialog::ReadOnly;
    dialog.setOptions(options);
    if (!m_strFolder.empty())
        dialog.setDirectory(QString::fromStdString(m_strFolder));
    if (dialog.exec() != QDialog::Accepted)
        return kCancel;
    const QStringList chosen = dialog.selectedFiles();
    // Only a folder of the file system is an answer.
    if (chosen.isEmpty() || chosen.first().isEmpty() || !QDir(chosen.first()).exists())
        return kFailed;
    m_strFolder = QDir::toNativeSeparators(chosen.first()).toStdString();
    return kOk;
}
