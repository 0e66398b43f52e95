#include "qt/qt_host_services.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDate>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSpacerItem>

#include "control/failure_box.h"
#include "qt/translation_p.h"

namespace eft::qt {
namespace {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon iconOf(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton buttonOf(MsgAnswer answer) {
    switch (answer) {
    case MsgAnswer::Yes: return QMessageBox::Yes;
    case MsgAnswer::No: return QMessageBox::No;
    case MsgAnswer::Ok: break;
    }
    return QMessageBox::Ok;
}

}  // namespace

SpokenBox spokenBox(const QString& text) {
    const QString fixed = translated(kFixedErrorText).trimmed();
    QStringList rest;
    QStringList said;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        (line == fixed ? said : rest) << line;
    }
    rest << said;
    if (rest.isEmpty()) return {};
    const QString name = rest.takeFirst();
    return {name, rest.join(QLatin1Char(' '))};
}

int titleBarWidth(const QString& title, const QFont& font) {
    QFont bar = font;
    bar.setBold(true);
    if (font.pointSizeF() > 0) bar.setPointSizeF(font.pointSizeF() * 1.25);
    else bar.setPixelSize(font.pixelSize() * 5 / 4);
    const int barHeight = 2 * QFontMetrics(font).height();
    return QFontMetrics(bar).horizontalAdvance(title) + 4 * barHeight;
}

QtHostServices::QtHostServices(QWidget* owner) : owner_(owner) {}

QtHostServices::~QtHostServices() {
    if (cursorPushed_) QGuiApplication::restoreOverrideCursor();
}

MsgAnswer QtHostServices::showMessageBox(QWidget* parent, const MessageBoxRequest& request) {
    // On the heap and watched: a host that closes its window while the box is up takes the box
    // with it, and the answer is then the box's refusal.
    const QPointer<QMessageBox> box = new QMessageBox(parent);
    // Server replies are shown verbatim: text that looks like markup must not be rendered.
    box->setTextFormat(Qt::PlainText);
    box->setText(translated(toQString(request.text)));
    // A screen reader says the box's name first: the plain line, not the fixed " Error !  ".
    const SpokenBox spoken = spokenBox(box->text());
    box->setAccessibleName(spoken.name);
    box->setAccessibleDescription(spoken.description);
    const QString title =
        request.title.empty() ? QGuiApplication::applicationDisplayName() : translated(toQString(request.title));
    box->setWindowTitle(title);
    box->setIcon(iconOf(request.icon));
    if (!request.details.empty()) box->setDetailedText(translated(toQString(request.details)));
    // A box is as wide as its text, which may be narrower than its title: the window system
    // would cut the title short. Title bars set their text larger and bold, and keep room for
    // the frame's icon and three buttons, each about as wide as the bar is high.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const int width = titleBarWidth(title, box->font());
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    const bool yesNo = request.buttons == MsgButtons::YesNo;
    box->setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    MsgAnswer preferred = request.defaultAnswer;
    if (yesNo && preferred == MsgAnswer::Ok) preferred = MsgAnswer::Yes;
    if (!yesNo) preferred = MsgAnswer::Ok;
    box->setDefaultButton(buttonOf(preferred));
    box->exec();
    if (!box) return yesNo ? MsgAnswer::No : MsgAnswer::Ok;
    const QMessageBox::StandardButton clicked = box->standardButton(box->clickedButton());
    delete box.data();
    switch (clicked) {
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: return yesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
}

MsgAnswer QtHostServices::messageBox(const MessageBoxRequest& request) {
    if (messageBoxHandler_) return messageBoxHandler_(request);
    return showMessageBox(owner_, request);
}

void QtHostServices::setMousePointer(ui::MousePointer pointer) {
    const bool hourglass = pointer == ui::MousePointer::Hourglass;
    if (hourglass == cursorPushed_) return;
    if (hourglass) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else QGuiApplication::restoreOverrideCursor();
    cursorPushed_ = hourglass;
}

void QtHostServices::processEvents() { QCoreApplication::processEvents(); }

bool QtHostServices::setFocus(const std::string& element) {
    QWidget* w = nullptr;
    if (resolver_) w = resolver_(element);
    else if (owner_) w = owner_->findChild<QWidget*>(toQString(element));
    // As with any control that is not on screen yet, the focus cannot be given.
    if (!w || !w->isVisible() || !w->isEnabled()) return false;
    w->setFocus(Qt::OtherFocusReason);
    return true;
}

Date QtHostServices::today() {
    const QDate d = QDate::currentDate();
    return Date{d.year(), d.month(), d.day()};
}

}  // namespace eft::qt
