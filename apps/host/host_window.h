#pragma once
// The main window of eft-host: the control in the middle, a menu bar (File: Sign in…, Quit;
// View: Reload; Help: About), and a status bar telling the control's last event and, during a
// transfer, what loads and how far it is.
//
// The window hands the control the server and the operator. A 401 from the server brings the
// sign-in dialog back once, with "Login refused"; after a commit the sweep is reloaded when it
// was loaded, since failed centers' charges return to it.
#include <QMainWindow>
#include <functional>

#include <eftmemb/control.h>

#include "login_dialog.h"

class QLabel;
class QProgressBar;

namespace eft::qt {
class EftMembWidget;
}

namespace eft::host {

class HostWindow : public QMainWindow {
    Q_OBJECT

public:
    HostWindow(int personId, int personType, QWidget* parent = nullptr);

    eft::qt::EftMembWidget* control() const { return control_; }
    QProgressBar* progress() const { return progress_; }
    QString statusText() const;

    // The size the window was left at, or the control's own size the first time.
    void restoreSize();

    // Hands the control the server's address with the login. The one place credentials reach
    // the control.
    void connectTo(const Login& login);
    const Login& login() const { return login_; }
    // Signing in makes sense only for a server of the operator's choice, not the demo one.
    void setSignInAllowed(bool allowed);
    // The server's version for About, asked when About opens; empty when not known.
    void setServerVersionSource(std::function<QString()> source) { serverVersion_ = std::move(source); }

    // File ▸ Sign in…: asks for the login and, when given, connects with it. `refused` says
    // the last one was refused. True when the operator signed in.
    bool signIn(bool refused = false);
    // View ▸ Reload: the current country's sweep again.
    void reload();
    // Help ▸ About, as text.
    QString aboutText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void tell(const QString& event);
    void transferStarted(const QString& what);
    void showProgress(qint64 received, qint64 total);
    void errorOccurred(const QString& message);

    eft::qt::EftMembWidget* control_;
    QProgressBar* progress_;
    QAction* signInAction_ = nullptr;
    int personId_;
    int personType_;
    Login login_;
    std::function<QString()> serverVersion_;
    QString lastEvent_;
    QString doing_;
    bool busy_ = false;
    bool sweepLoaded_ = false;
    bool loginRetried_ = false;
};

// "84 MB": byte counts as the status bar shows them.
QString byteCount(qint64 bytes);

// The version a server names in the Server header of its health page ("eft-server/2.0.7"),
// asked with at most a few seconds' wait; empty when it does not say.
QString serverVersionOf(const QString& baseAddress, const QString& caFile);

}  // namespace eft::host
