#pragma once
// The save dialog of snapshots: a file dialog in save mode (asking before
// it overwrites a file) whose filters are the picture types. When the user
// picks another type, the name in the dialog gets that type's extension,
// loses its counter and is counted on until no file of the folder has it.
// After OK it reports the chosen path and picture type.
#include <QFileDialog>
#include <string>
#include <vector>

class QLineEdit;

class CVaSnapshotFileDlg : public QFileDialog {
public:
    // initialPath: full path or bare file name; initialType: the picture
    // type (1 bmp, 2 jpg) whose filter is selected first.
    CVaSnapshotFileDlg(const std::string& initialPath, int initialType,
                       const std::string& initialFolder, QWidget* parent = nullptr);
    ~CVaSnapshotFileDlg() override;

    void SetNumberingFlags(int flags) { m_numberingFlags = flags; }
    int GetNumberingFlags() const { return m_numberingFlags; }
    // Builds the filters (bitmap, JPEG when the encoder works, all files)
    // from the string tables and selects the initial type's filter.
    void BuildFilters();

    // The type of the selected filter; 0 for a filter without a type.
    int GetSelectedType() const;
    // After OK: the chosen path and its type (the selected filter's, else
    // the extension's, else bitmap).
    std::string GetPathName() const;
    int GetFileType() const;

    // The text in the name field.
    std::string GetNameFieldText() const;
    void SetNameFieldText(const std::string& name);

protected:
    virtual void OnTypeChange() {}

    int m_initialType;
    int m_numberingFlags = 0;
    std::vector<int> m_filterTypes;
    QStringList m_filters;
    int m_selectedFilter = -1;

private:
    void OnFilterSelected(const QString& filter);
    QLineEdit* NameField() const;
};

class CVaSnapshotExtFileDlg : public CVaSnapshotFileDlg {
public:
    using CVaSnapshotFileDlg::CVaSnapshotFileDlg;
    ~CVaSnapshotExtFileDlg() override;

protected:
    // New extension, counter stripped, made unique in the dialog's folder.
    void OnTypeChange() override;
};
