#include "control/designer/VelotraxDesignerPlugin.h"

#include <QIcon>

#include "control/VelotraxWidget.h"

QString CVelotraxDesignerPlugin::whatsThis() const {
    return QStringLiteral(
        "An embeddable video player: set fileName (or playList), then call play(). "
        "Its properties are the control's automation members.");
}

QIcon CVelotraxDesignerPlugin::icon() const {
    return QIcon::fromTheme(QStringLiteral("video-x-generic"));
}

QWidget* CVelotraxDesignerPlugin::createWidget(QWidget* parent) {
    return new VelotraxWidget(parent);
}

QString CVelotraxDesignerPlugin::domXml() const {
    return QStringLiteral(
        "<ui language=\"c++\">\n"
        " <widget class=\"VelotraxWidget\" name=\"velotraxWidget\">\n"
        "  <property name=\"geometry\">\n"
        "   <rect><x>0</x><y>0</y><width>640</width><height>520</height></rect>\n"
        "  </property>\n"
        " </widget>\n"
        "</ui>\n");
}
