#pragma once
// The Qt Designer plugin: VelotraxWidget in Designer's widget box (group
// "Velotrax"), created live in forms.
#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

class CVelotraxDesignerPlugin : public QObject, public QDesignerCustomWidgetInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    explicit CVelotraxDesignerPlugin(QObject* parent = nullptr) : QObject(parent) {}

    QString name() const override { return QStringLiteral("VelotraxWidget"); }
    QString group() const override { return QStringLiteral("Velotrax"); }
    QString toolTip() const override { return QStringLiteral("Velotrax video player"); }
    QString whatsThis() const override;
    QString includeFile() const override { return QStringLiteral("VelotraxWidget.h"); }
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override;
    bool isInitialized() const override { return m_initialized; }
    void initialize(QDesignerFormEditorInterface*) override { m_initialized = true; }
    QString domXml() const override;

private:
    bool m_initialized = false;
};
