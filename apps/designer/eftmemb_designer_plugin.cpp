#include "eftmemb_designer_plugin.h"

#include <QIcon>

#include "qt/eftmemb_widget.h"

namespace eft::designer {

EftMembWidgetPlugin::EftMembWidgetPlugin(QObject* parent) : QObject(parent) {}

// Forms and uic name the control EFTMemb; the widget header makes that name the widget class.
QString EftMembWidgetPlugin::name() const { return QStringLiteral("EFTMemb"); }
QString EftMembWidgetPlugin::group() const { return QStringLiteral("EFTMemb"); }
QString EftMembWidgetPlugin::toolTip() const { return QStringLiteral("EFT membership sweep"); }
QString EftMembWidgetPlugin::whatsThis() const {
    return QStringLiteral("The EFT membership sweep control. Set serverAddress, personId and personType, "
                          "or call setVariables() at run time.");
}
QString EftMembWidgetPlugin::includeFile() const { return QStringLiteral("qt/eftmemb_widget.h"); }
QIcon EftMembWidgetPlugin::icon() const { return {}; }
bool EftMembWidgetPlugin::isContainer() const { return false; }

QWidget* EftMembWidgetPlugin::createWidget(QWidget* parent) { return new eft::qt::EftMembWidget(parent); }

bool EftMembWidgetPlugin::isInitialized() const { return initialized_; }
void EftMembWidgetPlugin::initialize(QDesignerFormEditorInterface*) { initialized_ = true; }

QString EftMembWidgetPlugin::domXml() const {
    return QStringLiteral(R"(<ui language="c++" displayname="EFTMemb">
  <widget class="EFTMemb" name="eftMemb"/>
  <customwidgets>
    <customwidget>
      <class>EFTMemb</class>
      <extends>QWidget</extends>
      <header>qt/eftmemb_widget.h</header>
    </customwidget>
  </customwidgets>
</ui>
)");
}

EftMembPluginCollection::EftMembPluginCollection(QObject* parent) : QObject(parent) {
    widgets_.append(new EftMembWidgetPlugin(this));
}

QList<QDesignerCustomWidgetInterface*> EftMembPluginCollection::customWidgets() const { return widgets_; }

}  // namespace eft::designer
