// The Designer plugin as Designer loads it: one collection offering the control, whose class
// name, header and form description agree with the class the plugin creates and the header
// a host finds installed.
#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QWidget>
#include <QXmlStreamReader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <memory>

#ifndef EFT_DESIGNER_PLUGIN_PATH
#error "EFT_DESIGNER_PLUGIN_PATH names the built plugin"
#endif

namespace {

// What a saved form takes from domXml(): the widget's class, and the custom widget entry.
struct FormParts {
    QString widgetClass, customClass, extends, header;
};

FormParts partsOf(const QString& domXml) {
    FormParts parts;
    QXmlStreamReader xml(domXml);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto name = xml.name();
        if (name == QLatin1String("widget") && parts.widgetClass.isEmpty())
            parts.widgetClass = xml.attributes().value(QLatin1String("class")).toString();
        else if (name == QLatin1String("class")) parts.customClass = xml.readElementText();
        else if (name == QLatin1String("extends")) parts.extends = xml.readElementText();
        else if (name == QLatin1String("header")) parts.header = xml.readElementText();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return parts;
}

TEST(DesignerPluginTest, NameHeaderAndFormDescriptionAgreeWithTheRealClass) {
    QPluginLoader loader(QStringLiteral(EFT_DESIGNER_PLUGIN_PATH));
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
    ASSERT_NE(collection, nullptr);
    const auto widgets = collection->customWidgets();
    ASSERT_EQ(widgets.size(), 1);
    QDesignerCustomWidgetInterface* w = widgets.front();
    EXPECT_EQ(w->group(), QStringLiteral("EFTMemb"));
    EXPECT_FALSE(w->isContainer());

    std::unique_ptr<QWidget> created(w->createWidget(nullptr));
    ASSERT_NE(created, nullptr);
    // Designer's check: the class it was promised is the class it got.
    EXPECT_EQ(w->name(), QString::fromLatin1(created->metaObject()->className()));
    EXPECT_EQ(w->name(), QStringLiteral("eft::qt::EftMembWidget"));
    EXPECT_EQ(w->includeFile(), QStringLiteral("eftmemb/eftmemb_widget.h"));
    EXPECT_EQ(created->property("version").toString(), QStringLiteral("2.0.7"));
    EXPECT_TRUE(created->findChild<QWidget*>(QStringLiteral("cmdLoadData")));

    const FormParts parts = partsOf(w->domXml());
    EXPECT_EQ(parts.widgetClass, w->name());
    EXPECT_EQ(parts.customClass, w->name());
    EXPECT_EQ(parts.extends, QStringLiteral("QWidget"));
    EXPECT_EQ(parts.header, w->includeFile());
}

}  // namespace
