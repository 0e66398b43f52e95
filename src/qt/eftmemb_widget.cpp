#include "eftmemb/eftmemb_widget.h"

#include <QResizeEvent>
#include <limits>

#include "control/context.h"
#include "control/eftmemb.h"
#include "net/address.h"
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

    void busyChanged(bool busy) override { Q_EMIT widget_->busyChanged(busy); }
    void transferStarted(const std::string& what) override { Q_EMIT widget_->transferStarted(toQString(what)); }
    void transferProgress(long long received, long long total) override {
        Q_EMIT widget_->transferProgress(received, total);
    }
    void errorShown(const std::string& message) override { Q_EMIT widget_->errorOccurred(toQString(message)); }
    void sweepLoaded(int country, int rows) override { Q_EMIT widget_->sweepLoaded(country, rows); }
    void saved(int rows) override { Q_EMIT widget_->saved(rows); }
    void exported(const std::string& report) override { Q_EMIT widget_->exported(toQString(report)); }
    void batchCommitted(int batch, int cleared, int failed) override {
        Q_EMIT widget_->batchCommitted(batch, cleared, failed);
    }
    void tabChanged(int index) override { Q_EMIT widget_->tabChanged(index); }
    void variablesSet() override {
        if (onVariablesSet) onVariablesSet();
    }

    std::function<void()> onVariablesSet;

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
        services.onVariablesSet = [this, q] { notifyVariables(q); };
    }

    // The properties' NOTIFY signals, for changes made here and through control() alike.
    void notifyVariables(EftMembWidget* q) {
        const ControlState& st = core->state();
        const QString address = toQString(redactedAddress(st.ptServerName));
        if (address != shownAddress) Q_EMIT q->serverAddressChanged(shownAddress = address);
        if (st.PersonID != shownId) Q_EMIT q->personIdChanged(shownId = st.PersonID);
        if (st.PersonType != shownType) Q_EMIT q->personTypeChanged(shownType = st.PersonType);
    }

    WidgetServices services;
    std::unique_ptr<eft::EFTMemb> core;
    std::unique_ptr<ScreenView> view;
    QString shownAddress;
    int shownId = 0;
    int shownType = 0;
};

EftMembWidget::EftMembWidget(QWidget* parent) : QWidget(parent), d_(std::make_unique<Private>(this)) {
    setMinimumSize(sizeHint());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

EftMembWidget::~EftMembWidget() = default;

bool EftMembWidget::setVariables(const QString& server, int personId, int personType) {
    if (personType < std::numeric_limits<std::int16_t>::min() || personType > std::numeric_limits<std::int16_t>::max()) {
        qWarning("EftMembWidget: person type %d is not a 16-bit value; nothing was changed", personType);
        return false;
    }
    // Which login goes with the address is the core's rule.
    d_->core->SetVariables(server.toStdString(), personId, static_cast<std::int16_t>(personType));
    return true;
}

void EftMembWidget::setServerCredentials(const QString& user, const QString& password) {
    d_->core->setServerCredentials(user.toStdString(), password.toStdString());
    const ControlState& st = d_->core->state();
    d_->core->SetVariables(st.ptServerName, st.PersonID, st.PersonType);
}

QString EftMembWidget::serverAddress() const { return toQString(redactedAddress(d_->core->state().ptServerName)); }
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
