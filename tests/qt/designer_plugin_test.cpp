// The Designer plugin as Designer loads it: a plugin file whose collection offers EFTMemb.
#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <memory>

#ifndef EFT_DESIGNER_PLUGIN_PATH
#error "EFT_DESIGNER_PLUGIN_PATH names the built plugin"
#endif

namespace {

TEST(DesignerPluginTest, TheCollectionOffersTheControlAsEFTMemb) {
    QPluginLoader loader(QStringLiteral(EFT_DESIGNER_PLUGIN_PATH));
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
    ASSERT_NE(collection, nullptr);
    const auto widgets = collection->customWidgets();
    ASSERT_EQ(widgets.size(), 1);
    QDesignerCustomWidgetInterface* w = widgets.front();
    EXPECT_EQ(w->name(), QStringLiteral("EFTMemb"));
    EXPECT_EQ(w->group(), QStringLiteral("EFTMemb"));
    EXPECT_EQ(w->includeFile(), QStringLiteral("eftmemb/eftmemb_widget.h"));
    EXPECT_FALSE(w->isContainer());
    EXPECT_TRUE(w->domXml().contains(QStringLiteral("<widget class=\"EFTMemb\"")));

    std::unique_ptr<QWidget> created(w->createWidget(nullptr));
    ASSERT_NE(created, nullptr);
    // The plugin carries its own copy of the widget library, so the class is checked by name.
    EXPECT_TRUE(created->inherits("eft::qt::EftMembWidget"));
    EXPECT_EQ(created->property("version").toString(), QStringLiteral("2.0.7"));
    EXPECT_TRUE(created->findChild<QWidget*>(QStringLiteral("cmdLoadData")));
}

}  // namespace
