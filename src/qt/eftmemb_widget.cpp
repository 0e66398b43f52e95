#include "eftmemb/eftmemb_widget.h"

#include <QResizeEvent>

#include "control/context.h"
#include "control/eftmemb.h"
#include "qt/layout_metrics_p.h"
#include "qt/qt_host_services.h"
#include "qt/screen_view_p.h"

namespace eft::qt {
namespace {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The Qt services with the core's notices turned into the widget's signals.
class WidgetServices final : public QtHostServices {
public:
    explicit WidgetServices(EftMembWidget* widget) : QtHostServices(widget), widget_(widget) {}

    void busyChanged(bool busy) override { emit widget_->busyChanged(busy); }
    void transferStarted(const std::string& what) override { emit widget_->transferStarted(toQString(what)); }
    void transferProgress(long long received, long long total) override {
        emit widget_->transferProgress(received, total);
    }
    void errorShown(const std::string& message) override { emit widget_->errorOccurred(toQString(message)); }
    void sweepLoaded(int country, int rows) override { emit widget_->sweepLoaded(country, rows); }
    void saved(int rows) override { emit widget_->saved(rows); }
    void exported(const std::string& report) override { emit widget_->exported(toQString(report)); }
    void batchCommitted(int batch, int cleared, int failed) override {
        emit widget_->batchCommitted(batch, cleared, failed);
    }
    void tabChanged(int index) override { emit widget_->tabChanged(index); }

private:
    EftMembWidget* widget_;
};

}  // namespace

// Destroyed in reverse: the view lets go of the screen, then the core goes, and the services
// go last, taking a wait cursor still shown with them.
struct EftMembWidget::Private {
    explicit Private(EftMembWidget* q) : services(q), core(std::make_unique<eft::EFTMemb>(services)) {
        view = std::make_unique<ScreenView>(*core, q);
        services.setElementResolver([this](const std::string& element) { return view->widget(element); });
    }

    WidgetServices services;
    std::unique_ptr<eft::EFTMemb> core;
    std::unique_ptr<ScreenView> view;
};

EftMembWidget::EftMembWidget(QWidget* parent) : QWidget(parent), d_(std::make_unique<Private>(this)) {
    setMinimumSize(sizeHint());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

EftMembWidget::~EftMembWidget() = default;

void EftMembWidget::setVariables(const QString& server, int personId, int personType) {
    const QString oldServer = serverAddress();
    const int oldId = this->personId();
    const int oldType = this->personType();
    const std::int32_t id = personId;
    const auto type = static_cast<std::int16_t>(personType);
    d_->core->SetVariables(server.toStdString(), id, type);
    if (serverAddress() != oldServer) emit serverAddressChanged(serverAddress());
    if (this->personId() != oldId) emit personIdChanged(this->personId());
    if (this->personType() != oldType) emit personTypeChanged(this->personType());
}

QString EftMembWidget::serverAddress() const { return toQString(d_->core->state().ptServerName); }
void EftMembWidget::setServerAddress(const QString& server) { setVariables(server, personId(), personType()); }
int EftMembWidget::personId() const { return d_->core->state().PersonID; }
void EftMembWidget::setPersonId(int id) { setVariables(serverAddress(), id, personType()); }
int EftMembWidget::personType() const { return d_->core->state().PersonType; }
void EftMembWidget::setPersonType(int type) { setVariables(serverAddress(), personId(), type); }

QString EftMembWidget::version() const { return toQString(eft::libraryVersion()); }

eft::EFTMemb& EftMembWidget::control() { return *d_->core; }

bool EftMembWidget::reload() { return d_->core->reload(); }

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

void EftMembWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    d_->view->fitTo(event->size());
}

bool EftMembWidget::focusNextPrevChild(bool next) {
    // Alone in its window the control keeps the focus going round; inside a host's screen
    // the host's own chain takes over past the last element.
    if (d_->view->moveFocus(next, isWindow())) return true;
    return QWidget::focusNextPrevChild(next);
}

}  // namespace eft::qt
