// Qt Designer loads the plugin and gets a VelotraxWidget whose properties
// are the control's automation members.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

TEST(DesignerPlugin, CreatesTheWidgetWithItsProperties) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QPluginLoader loader(DESIGNER_PLUGIN);
    auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
    ASSERT_NE(plugin, nullptr) << loader.errorString().toStdString();
    EXPECT_EQ(plugin->name().toStdString(), "VelotraxWidget");
    EXPECT_NE(plugin->domXml().indexOf("class=\"VelotraxWidget\""), -1);
    QWidget* widget = plugin->createWidget(nullptr);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->property("version").toString().toStdString(), "1.0.0.0");
    EXPECT_DOUBLE_EQ(widget->property("rate").toDouble(), 1.0);
    EXPECT_TRUE(widget->setProperty("repeat", true));
    EXPECT_TRUE(widget->property("repeat").toBool());
    EXPECT_EQ(widget->property("currentPos").toInt(), 0);
    delete widget;
}
