#include "eftmemb/eftmemb_widget.h"

#include <QCoreApplication>
#include <QPalette>
#include <QPointer>
#include <QResizeEvent>
#include <QThread>
#include <limits>
#include <map>

#include "control/context.h"
#include "control/eftmemb.h"
#include "control/failure_box.h"
#include "net/address.h"
#include "net/http.h"
#include "net/pages.h"
#include "ui/layout.h"
#include "ui/phrases.h"
#include "ui/screen.h"
#include "qt/layout_metrics_p.h"
#include "qt/qt_host_services.h"
#include "qt/screen_view_p.h"
#include "qt/translation_p.h"

namespace eft::qt {
namespace {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The core and its tables are not guarded by locks: a call from another thread would race the
// operator's events, so it is refused where the caller can see it in the log.
bool onGuiThread(const QObject* widget, const char* call) {
    if (QThread::currentThread() == widget->thread()) return true;
    qWarning("EftMembWidget::%s was called from another thread and did nothing: the widget is GUI-thread only",
             call);
    return false;
}

// The Qt services with the core's notices turned into the widget's signals.
class WidgetServices final : public QtHostServices {
public:
    explicit WidgetServices(EftMembWidget* widget) : QtHostServices(widget), widget_(widget) {}

    MsgAnswer messageBox(const MessageBoxRequest& request) override {
        messages.push_back({QDateTime::currentDateTime(), translated(request.title), translated(request.text)});
        // A failure's whole text follows its box as errorShown; until then the box's excerpt stands.
        failurePending = request.buttons == MsgButtons::Ok &&
                         (request.icon == MsgIcon::Exclamation || request.icon == MsgIcon::None ||
                          request.icon == MsgIcon::Critical);
        return QtHostServices::messageBox(request);
    }
    void busyChanged(bool busy) override {
        busy_ = busy;
        Q_EMIT widget_->busyChanged(busy);
    }
    void transferStarted(const std::string& what) override {
        if (onTransferStarted) onTransferStarted();
        Q_EMIT widget_->transferStarted(translated(what));
    }
    void transferProgress(long long received, long long total) override {
        Q_EMIT widget_->transferProgress(received, total);
    }
    void errorShown(const std::string& message) override {
        const QString whole = translated(message);
        if (failurePending && !messages.isEmpty()) messages.last().text = whole;
        else messages.push_back({QDateTime::currentDateTime(), translated(kFailureTitle), whole});
        failurePending = false;
        Q_EMIT widget_->errorOccurred(whole);
    }
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

    bool busy() const { return busy_; }

    std::function<void()> onVariablesSet;
    std::function<void()> onTransferStarted;
    QList<EftMembWidget::Message> messages;
    bool failurePending = false;

private:
    bool busy_ = false;
    EftMembWidget* widget_;
};

}  // namespace

// Destroyed in reverse: the view lets go of the screen, then the core goes, and the services
// go last, taking a wait cursor still shown with them.
struct EftMembWidget::Private {
    explicit Private(EftMembWidget* q) : services(q), core(std::make_unique<eft::EFTMemb>(services)) {
        // A host that never names a language gets the system's.
        if (!languageChosen()) installLanguage({});
        shownLanguage = currentLanguage();
        applyLanguage();
        view = std::make_unique<ScreenView>(*core, q);
        services.setElementResolver([this](const std::string& element) { return view->widget(element); });
        services.onVariablesSet = [this, q] { notifyVariables(q); };
        services.onTransferStarted = [this] { noteBatchCountries(); };
    }

    // A commit's batch leaves the batch table when the list is read again after it: every
    // transfer, the commit's included, starts with the countries of the batches listed noted.
    // The batch box's entries name their country in their tip, as the country option does.
    void noteBatchCountries() {
        for (const ui::ComboBox::Entry& entry : core->screen().cmbBatches.entries()) {
            if (entry.tip.empty()) continue;
            for (int country : {1, 2}) {
                const ui::ElementLayout* option = ui::findLayout("optCountry", country);
                if (option && entry.tip == option->caption) batchCountries[entry.data] = country;
            }
        }
    }

    // The properties' NOTIFY signals, for changes made here and through control() alike.
    void notifyVariables(EftMembWidget* q) {
        const ControlState& st = core->state();
        const QString address = toQString(redactedAddress(st.ptServerName));
        if (address != shownAddress) Q_EMIT q->serverAddressChanged(shownAddress = address);
        if (st.PersonID != shownId) Q_EMIT q->personIdChanged(shownId = st.PersonID);
        if (st.PersonType != shownType) Q_EMIT q->personTypeChanged(shownType = st.PersonType);
    }

    // The requests name the operator's language, so the server's reasons come in it.
    void applyLanguage() {
        options.limits.acceptLanguage = shownLanguage.toStdString();
        core->setOptions(options);
    }

    WidgetServices services;
    std::unique_ptr<eft::EFTMemb> core;
    std::unique_ptr<ScreenView> view;
    ControlOptions options;
    std::map<std::int32_t, std::int32_t> batchCountries;
    QString shownAddress;
    QString shownLanguage;
    int shownId = 0;
    int shownType = 0;
};

EftMembWidget::EftMembWidget(QWidget* parent) : QWidget(parent), d_(std::make_unique<Private>(this)) {
    setPalette(readablePalette(palette()));
    setMinimumSize(sizeHint());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

EftMembWidget::~EftMembWidget() = default;

bool EftMembWidget::setVariables(const QString& server, int personId, int personType) {
    if (!onGuiThread(this, "setVariables")) return false;
    if (personType < std::numeric_limits<std::int16_t>::min() || personType > std::numeric_limits<std::int16_t>::max()) {
        qWarning("EftMembWidget: person type %d is not a 16-bit value; nothing was changed", personType);
        return false;
    }
    // Which login goes with the address is the core's rule.
    d_->core->SetVariables(server.toStdString(), personId, static_cast<std::int16_t>(personType));
    return true;
}

void EftMembWidget::setServerCredentials(const QString& user, const QString& password) {
    if (!onGuiThread(this, "setServerCredentials")) return;
    d_->core->setServerCredentials(user.toStdString(), password.toStdString());
    const ControlState& st = d_->core->state();
    d_->core->SetVariables(st.ptServerName, st.PersonID, st.PersonType);
}

QString EftMembWidget::serverAddress() const {
    if (!onGuiThread(this, "serverAddress")) return {};
    return toQString(redactedAddress(d_->core->state().ptServerName));
}
void EftMembWidget::setServerAddress(const QString& server) {
    if (!onGuiThread(this, "setServerAddress")) return;
    setVariables(server, personId(), personType());
}
int EftMembWidget::personId() const {
    if (!onGuiThread(this, "personId")) return 0;
    return d_->core->state().PersonID;
}
void EftMembWidget::setPersonId(int id) {
    if (!onGuiThread(this, "setPersonId")) return;
    setVariables(serverAddress(), id, personType());
}
int EftMembWidget::personType() const {
    if (!onGuiThread(this, "personType")) return 0;
    return d_->core->state().PersonType;
}
void EftMembWidget::setPersonType(int type) {
    if (!onGuiThread(this, "setPersonType")) return;
    setVariables(serverAddress(), personId(), type);
}

QString EftMembWidget::version() const { return toQString(eft::libraryVersion()); }

QString EftMembWidget::language() const { return d_->shownLanguage; }

void EftMembWidget::setLanguage(const QString& language) {
    if (!onGuiThread(this, "setLanguage")) return;
    installLanguage(language);
    // The application hands the change to every widget later; this one follows at once.
    QEvent change(QEvent::LanguageChange);
    changeEvent(&change);
}

QStringList EftMembWidget::languages() { return availableLanguages(); }

void EftMembWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange && d_) {
        // The new palette, with the control's text kept readable on it.
        setPalette(QPalette());
        setPalette(readablePalette(palette()));
        return;
    }
    if (event->type() == QEvent::FontChange && d_) {
        // A larger application font (the desktop's, or the host's) grows the whole layout.
        d_->view->rescale(textScale(font()), size());
        setMinimumSize(sizeHint());
        updateGeometry();
        return;
    }
    if (event->type() != QEvent::LanguageChange || !d_) return;
    // Each installed translator sends one; the texts are rendered again once a language.
    if (d_->shownLanguage == currentLanguage()) return;
    d_->view->retranslate();
    d_->shownLanguage = currentLanguage();
    d_->applyLanguage();
    Q_EMIT languageChanged(d_->shownLanguage);
}

eft::EFTMemb& EftMembWidget::control() {
    // The core is handed out, not used here: what the caller does with it is checked there.
    onGuiThread(this, "control");
    return *d_->core;
}

bool EftMembWidget::reload() {
    if (!onGuiThread(this, "reload")) return false;
    return d_->core->reload();
}

bool EftMembWidget::reload(int country) {
    if (!onGuiThread(this, "reload")) return false;
    if (country != 1 && country != 2) return false;
    ui::Screen& s = d_->core->screen();
    if (d_->services.busy() || s.tabEFT.selected() == kTabMembers) return false;
    return s.optCountry.operatorChoose(static_cast<std::int16_t>(country));
}

int EftMembWidget::batchCountry(int batch) const {
    if (!onGuiThread(this, "batchCountry")) return 0;
    d_->noteBatchCountries();
    const auto found = d_->batchCountries.find(batch);
    return found == d_->batchCountries.end() ? 0 : found->second;
}

EftMembWidget::LoginCheck EftMembWidget::checkLogin(const QString& server, const QString& user,
                                                    const QString& password) {
    LoginCheck check;
    if (!onGuiThread(this, "checkLogin")) {
        check.reason = translated(EFT_TR_NOOP("EFTMemb", "The login was not checked: it was asked from another thread."));
        return check;
    }
    std::string base = server.trimmed().toStdString();
    if (!base.empty() && base.back() != '/') base += '/';
    const std::string address =
        pages::batchListAddress(withCredentials(base, {user.toStdString(), password.toStdString()}));
    const QPointer<EftMembWidget> self(this);
    TransferWait wait;
    wait.turn = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    wait.cancelled = [self] { return self.isNull(); };
    FetchResult result;
    try {
        // Only whether the server takes the login counts: the list itself is dropped as it comes.
        result = httpGet(address, d_->options.limits, [](std::string_view) { return true; }, wait);
    } catch (const std::exception& e) {
        result = FetchResult{false, 0, e.what()};
    }
    check.ok = result.ok;
    check.status = static_cast<int>(result.status);
    if (!check.ok) {
        check.reason = translated(result.cause.empty() ? result.error : result.cause);
        QStringList details{translated(EFT_TR_NOOP("EFTMemb", "Address: %1")).arg(toQString(redactedAddress(address)))};
        if (result.status != 0) details << translated(EFT_TR_NOOP("EFTMemb", "HTTP status: %1")).arg(result.status);
        if (!result.error.empty()) details << translated(redactedText(result.error));
        check.details = details.join(QLatin1Char('\n'));
    }
    return check;
}

QList<EftMembWidget::Message> EftMembWidget::messages() const {
    if (!onGuiThread(this, "messages")) return {};
    return d_->services.messages;
}

QWidget* EftMembWidget::elementWidget(const QString& name, int index) const {
    if (!onGuiThread(this, "elementWidget")) return nullptr;
    return d_->view->widget(name.toStdString(), index);
}

void EftMembWidget::setControlOptions(const eft::ControlOptions& options) {
    if (!onGuiThread(this, "setControlOptions")) return;
    d_->options = options;
    d_->applyLanguage();
}

void EftMembWidget::setMessageBoxHandler(MessageBoxHandler handler) {
    if (!onGuiThread(this, "setMessageBoxHandler")) return;
    d_->services.setMessageBoxHandler(std::move(handler));
}

QSize EftMembWidget::sizeHint() const {
    const TwipScale scale(logicalDpiX(), textScale(font()));
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
