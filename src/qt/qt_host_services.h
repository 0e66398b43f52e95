#pragma once
// QtHostServices: what the control asks of its host, done with Qt. Message boxes are modal
// QMessageBoxes over the owner widget, the hourglass is an application override cursor,
// pending events run through QCoreApplication, focus goes to the widget that shows an element,
// and today is the local calendar date.
//
// Ownership: the owner widget is watched, not owned. The services keep the override cursor
// balanced: at most one is pushed, and it is popped again at the latest when they are destroyed.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

#include "control/host_services.h"

namespace eft::qt {

// A box as a screen reader reads it: its plain line as the name, the rest after it. The fixed
// text a failure box begins with says nothing, so it comes last.
struct SpokenBox {
    QString name;
    QString description;
};
SpokenBox spokenBox(const QString& text);

// The width a window needs for the window system to show `title` whole in its title bar,
// for a window whose own text is set in `font`.
int titleBarWidth(const QString& title, const QFont& font);

class QtHostServices : public HostServices {
public:
    using MessageBoxHandler = std::function<MsgAnswer(const MessageBoxRequest&)>;
    using ElementResolver = std::function<QWidget*(const std::string& element)>;

    explicit QtHostServices(QWidget* owner = nullptr);
    ~QtHostServices() override;
    QtHostServices(const QtHostServices&) = delete;
    QtHostServices& operator=(const QtHostServices&) = delete;

    // Answers message boxes without showing them (scripted hosts, tests); empty restores the
    // modal boxes.
    void setMessageBoxHandler(MessageBoxHandler handler) { messageBoxHandler_ = std::move(handler); }
    // Maps an element name to its widget; by default the owner's child of that object name.
    void setElementResolver(ElementResolver resolver) { resolver_ = std::move(resolver); }

    bool hourglassShown() const { return cursorPushed_; }

    MsgAnswer messageBox(const MessageBoxRequest& request) override;
    void setMousePointer(ui::MousePointer pointer) override;
    void processEvents() override;
    bool setFocus(const std::string& element) override;
    Date today() override;

    // The modal box itself, for hosts that drive the core without a widget of their own.
    static MsgAnswer showMessageBox(QWidget* parent, const MessageBoxRequest& request);

private:
    QPointer<QWidget> owner_;
    MessageBoxHandler messageBoxHandler_;
    ElementResolver resolver_;
    bool cursorPushed_ = false;
};

}  // namespace eft::qt
