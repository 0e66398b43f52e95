#include "qt/eftmemb_widget.h"

#include "control/context.h"
#include "control/eftmemb.h"
#include "control/version.h"
#include "qt/layout_metrics_p.h"
#include "qt/qt_host_services.h"
#include "qt/screen_view_p.h"

namespace eft::qt {

// Destroyed in reverse: the view lets go of the screen, then the core goes, and the services
// go last, taking a wait cursor still shown with them.
struct EftMembWidget::Private {
    explicit Private(EftMembWidget* q) : services(q), core(std::make_unique<eft::EFTMemb>(services)) {
        view = std::make_unique<ScreenView>(*core, q);
        services.setElementResolver([this](const std::string& element) { return view->widget(element); });
    }

    QtHostServices services;
    std::unique_ptr<eft::EFTMemb> core;
    std::unique_ptr<ScreenView> view;
};

EftMembWidget::EftMembWidget(QWidget* parent) : QWidget(parent), d_(std::make_unique<Private>(this)) {
    setFixedSize(sizeHint());
}

EftMembWidget::~EftMembWidget() = default;

void EftMembWidget::setVariables(const QString& server, int personId, int personType) {
    const std::int32_t id = personId;
    const auto type = static_cast<std::int16_t>(personType);
    d_->core->SetVariables(server.toStdString(), id, type);
}

QString EftMembWidget::serverAddress() const { return QString::fromStdString(d_->core->state().ptServerName); }
void EftMembWidget::setServerAddress(const QString& server) { setVariables(server, personId(), personType()); }
int EftMembWidget::personId() const { return d_->core->state().PersonID; }
void EftMembWidget::setPersonId(int id) { setVariables(serverAddress(), id, personType()); }
int EftMembWidget::personType() const { return d_->core->state().PersonType; }
void EftMembWidget::setPersonType(int type) { setVariables(serverAddress(), personId(), type); }

QString EftMembWidget::version() const {
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

eft::EFTMemb& EftMembWidget::control() { return *d_->core; }

QWidget* EftMembWidget::elementWidget(const QString& name, int index) const {
    return d_->view->widget(name.toStdString(), index);
}

void EftMembWidget::setControlOptions(const eft::ControlOptions& options) { d_->core->setOptions(options); }

void EftMembWidget::setMessageBoxHandler(MessageBoxHandler handler) {
    d_->services.setMessageBoxHandler(std::move(handler));
}

QSize EftMembWidget::sizeHint() const {
    const TwipScale scale(logicalDpiX());
    return {scale.px(ui::kControlWidth), scale.px(ui::kControlHeight)};
}

QSize EftMembWidget::minimumSizeHint() const { return sizeHint(); }

}  // namespace eft::qt
