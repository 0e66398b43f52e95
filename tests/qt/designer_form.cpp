// designer_form PLUGIN OUT.ui: writes the form a host designer gets by dropping the plugin's
// widget on an empty form and setting two properties. Everything about the widget comes from
// the plugin itself: the widget element of its domXml(), and the custom widget entry with its
// class, base class and includeFile(), as Designer saves them.
#include <QCoreApplication>
#include <QFile>
#include <QPluginLoader>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <cstdio>

namespace {

struct Described {
    QString widgetClass, widgetName, customClass, extends, headerLocation;
};

Described describe(const QString& domXml) {
    Described d;
    QXmlStreamReader xml(domXml);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("widget") && d.widgetClass.isEmpty()) {
            d.widgetClass = xml.attributes().value(QLatin1String("class")).toString();
            d.widgetName = xml.attributes().value(QLatin1String("name")).toString();
        } else if (xml.name() == QLatin1String("class")) {
            d.customClass = xml.readElementText();
        } else if (xml.name() == QLatin1String("extends")) {
            d.extends = xml.readElementText();
        } else if (xml.name() == QLatin1String("header")) {
            d.headerLocation = xml.attributes().value(QLatin1String("location")).toString();
        }
    }
    return d;
}

void property(QXmlStreamWriter& w, const char* name, const char* type, const QString& value) {
    w.writeStartElement(QStringLiteral("property"));
    w.writeAttribute(QStringLiteral("name"), QString::fromLatin1(name));
    w.writeTextElement(QString::fromLatin1(type), value);
    w.writeEndElement();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: designer_form PLUGIN OUT.ui\n");
        return 2;
    }
    QPluginLoader loader(QString::fromLocal8Bit(argv[1]));
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    if (!collection || collection->customWidgets().size() != 1) {
        std::fprintf(stderr, "designer_form: no widget collection in %s: %s\n", argv[1],
                     qPrintable(loader.errorString()));
        return 1;
    }
    QDesignerCustomWidgetInterface* plugin = collection->customWidgets().front();
    const Described d = describe(plugin->domXml());

    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly)) return 1;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("ui"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("4.0"));
    w.writeTextElement(QStringLiteral("class"), QStringLiteral("HostForm"));
    w.writeStartElement(QStringLiteral("widget"));
    w.writeAttribute(QStringLiteral("class"), QStringLiteral("QWidget"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("HostForm"));
    w.writeStartElement(QStringLiteral("layout"));
    w.writeAttribute(QStringLiteral("class"), QStringLiteral("QVBoxLayout"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("layout"));
    w.writeStartElement(QStringLiteral("item"));
    w.writeStartElement(QStringLiteral("widget"));
    w.writeAttribute(QStringLiteral("class"), d.widgetClass);
    w.writeAttribute(QStringLiteral("name"), d.widgetName);
    property(w, "serverAddress", "string", QStringLiteral("http://127.0.0.1:1/designed/"));
    property(w, "personId", "number", QStringLiteral("4"));
    w.writeEndElement();  // widget
    w.writeEndElement();  // item
    w.writeEndElement();  // layout
    w.writeEndElement();  // widget
    w.writeStartElement(QStringLiteral("customwidgets"));
    w.writeStartElement(QStringLiteral("customwidget"));
    w.writeTextElement(QStringLiteral("class"), d.customClass.isEmpty() ? plugin->name() : d.customClass);
    w.writeTextElement(QStringLiteral("extends"), d.extends);
    w.writeStartElement(QStringLiteral("header"));
    if (!d.headerLocation.isEmpty()) w.writeAttribute(QStringLiteral("location"), d.headerLocation);
    w.writeCharacters(plugin->includeFile());
    w.writeEndElement();  // header
    w.writeEndElement();  // customwidget
    w.writeEndElement();  // customwidgets
    w.writeEndElement();  // ui
    w.writeEndDocument();
    return out.error() == QFileDevice::NoError ? 0 : 1;
}
