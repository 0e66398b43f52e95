#include "eftmemb_designer_plugin.h"

#include <QIcon>

#include "eftmemb/eftmemb_widget.h"

namespace eft::designer {

EftMembWidgetPlugin::EftMembWidgetPlugin(QObject* parent) : QObject(parent) {}

// Designer checks the created widget's class against name(), and uic declares the form's
// member with it and includes includeFile(): all three name the real class and the header
// a host finds in the installed prefix.
QString EftMembWidgetPlugin::name() const { return QString::fromLatin1(qt::EftMembWidget::staticMetaObject.className()); }
QString EftMembWidgetPlugin::group() const { return QStringLiteral("EFTMemb"); }
QString EftMembWidgetPlugin::toolTip() const { return QStringLiteral("EFT membership sweep"); }
QString EftMembWidgetPlugin::whatsThis() const {
    return QStringLiteral("The EFT membership sweep control. Set serverAddress, personId and personType, "
                          "or call setVariables() at run time.");
}
QString EftMembWidgetPlugin::includeFile() const { return QStringLiteral("eftmemb/eftmemb_widget.h"); }
QIcon EftMembWidgetPlugin::icon() const { return {}; }
bool EftMembWidgetPlugin::isContainer() const { return false; }

QWidget* EftMembWidgetPlugin::createWidget(QWidget* parent) { return new eft::qt::EftMembWidget(parent); }

bool EftMembWidgetPlugin::isInitialized() const { return initialized_; }
void EftMembWidgetPlugin::initialize(QDesignerFormEditorInterface*) { initialized_ = true; }

QString EftMembWidgetPlugin::domXml() const {
    return QStringLiteral(R"(<ui language="c++" displayname="EFTMemb">
  <widget class="%1" name="eftMemb"/>
  <customwidgets>
    <customwidget>
      <class>%1</class>
      <extends>QWidget</extends>
      <header location="global">%2</header>
    </customwidget>
  </customwidgets>
</ui>
)")
        .arg(name(), includeFile());
}

EftMembPluginCollection::EftMembPluginCollection(QObject* parent) : QObject(parent) {
    widgets_.append(new EftMembWidgetPlugin(this));
}

QList<QDesignerCustomWidgetInterface*> EftMembPluginCollection::customWidgets() const { return widgets_; }

}  // namespace eft::designer
