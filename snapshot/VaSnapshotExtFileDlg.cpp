#include "snapshot/VaSnapshotExtFileDlg.h"

#include <QLineEdit>

#include "platform/imaging/ImageFile.h"
#include "resources/StringTable.h"
#include "snapshot/VaSnapshot.h"

namespace {

constexpr unsigned IDS_FILTER_ALL_FILES = 53;
constexpr unsigned IDS_FILTER_BITMAP = 60;
constexpr unsigned IDS_FILTER_JPEG = 61;

// A "text|pattern|" filter string in the form the dialog shows: the text,
// with the patterns in parentheses when the text does not end with them.
// "*.*" matches every file here, also those without a dot.
QString DialogFilter(const std::string& entry) {
    QStringList parts = QString::fromStdString(entry).split('|');
    QString text = parts.value(0).trimmed();
    QString patterns = parts.value(1).trimmed();
    patterns.replace(';', ' ');
    QString shown = patterns;
    shown.replace("*.*", "*");
    const QString suffix = "(" + patterns + ")";
    if (text.endsWith(suffix))
        text.chop(suffix.size());
    return text.trimmed() + " (" + shown + ")";
}

std::pair<std::string, std::string> SplitExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return {name, std::string()};
    return {name.substr(0, dot), name.substr(dot)};
}

}  // namespace

CVaSnapshotFileDlg::CVaSnapshotFileDlg(const std::string& initialPath, int initialType,
                                       const std::string& initialFolder, QWidget* parent)
    : QFileDialog(parent), m_initialType(initialType) {
    // The dialog is our own widget everywhere, so the name field and the
    // filter follow the rules below on every desktop.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontConfirmOverwrite, false);
    setDefaultSuffix(QString::fromStdString(CVaSnapshot::ExtensionFromFileType(initialType)));
    if (!initialFolder.empty())
        setDirectory(QString::fromStdString(initialFolder));
    if (!initialPath.empty())
        selectFile(QString::fromStdString(initialPath));
    connect(this, &QFileDialog::filterSelected, this,
            [this](const QString& filter) { OnFilterSelected(filter); });
}

CVaSnapshotFileDlg::~CVaSnapshotFileDlg() = default;

void CVaSnapshotFileDlg::BuildFilters() {
    m_filters.clear();
    m_filterTypes.clear();
    auto add = [&](unsigned id, int type) {
        m_filters.push_back(DialogFilter(LoadResString(id)));
        m_filterTypes.push_back(type);
    };
    add(IDS_FILTER_BITMAP, CVaSnapshot::typeBmp);
    if (imaging::IsJpegEncoderAvailable())
        add(IDS_FILTER_JPEG, CVaSnapshot::typeJpg);
    add(IDS_FILTER_ALL_FILES, CVaSnapshot::typeNone);
    setNameFilters(m_filters);
    m_selectedFilter = 0;
    for (size_t i = 0; i < m_filterTypes.size(); ++i) {
        if (m_filterTypes[i] == m_initialType) {
            m_selectedFilter = int(i);
            break;
        }
    }
    selectNameFilter(m_filters.value(m_selectedFilter));
}

int CVaSnapshotFileDlg::GetSelectedType() const {
    if (m_selectedFilter < 0 || size_t(m_selectedFilter) >= m_filterTypes.size())
        return CVaSnapshot::typeNone;
    return m_filterTypes[size_t(m_selectedFilter)];
}

std::string CVaSnapshotFileDlg::GetPathName() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? std::string() : files.first().toStdString();
}

int CVaSnapshotFileDlg::GetFileType() const {
    int type = GetSelectedType();
    if (type == CVaSnapshot::typeNone)
        type = CVaSnapshot::FileTypeFromExtension(SplitExtension(GetPathName()).second);
    return type == CVaSnapshot::typeNone ? CVaSnapshot::typeBmp : type;
}

QLineEdit* CVaSnapshotFileDlg::NameField() const {
    return findChild<QLineEdit*>("fileNameEdit");
}

std::string CVaSnapshotFileDlg::GetNameFieldText() const {
    QLineEdit* field = NameField();
    return field ? field->text().toStdString() : std::string();
}

void CVaSnapshotFileDlg::SetNameFieldText(const std::string& name) {
    if (QLineEdit* field = NameField())
        field->setText(QString::fromStdString(name));
}

void CVaSnapshotFileDlg::OnFilterSelected(const QString& filter) {
    const int index = int(m_filters.indexOf(filter));
    if (index < 0)
        return;
    m_selectedFilter = index;
    OnTypeChange();
}

// ---- CVaSnapshotExtFileDlg

CVaSnapshotExtFileDlg::~CVaSnapshotExtFileDlg() = default;

void CVaSnapshotExtFileDlg::OnTypeChange() {
    std::string name = GetNameFieldText();
    if (name.empty())
        return;
    auto [title, extension] = SplitExtension(name);
    const std::string typeExtension = CVaSnapshot::ExtensionFromFileType(GetSelectedType());
    if (!typeExtension.empty()) {
        extension = "." + typeExtension;
        setDefaultSuffix(QString::fromStdString(typeExtension));
    }
    title = CVaSnapshot::StripNumberedName(title, m_numberingFlags);
    // A name without a folder is made unique in the folder the dialog shows.
    const bool absolute = title.starts_with('/');
    const std::string folder =
        absolute ? std::string() : directory().absolutePath().toStdString() + "/";
    const std::string unique =
        CVaSnapshot::MakeUniqueFileName(folder + title + extension, m_numberingFlags);
    SetNameFieldText(unique.substr(folder.size()));
}
