#pragma once
// The main window of eft-host: the control in the middle, a menu bar (File: Sign in…, Quit;
// View: Reload, Messages; Help: About), and a status bar telling the control's last event and,
// during a transfer, what loads and how far it is.
//
// The window hands the control the server and the operator. Signing in asks the server before
// it is said; a 401 from the server later brings the sign-in dialog back once, with "Login
// refused". After a commit the sweep of the batch's country is reloaded when a sweep was
// loaded, since failed centers' charges return to it.
#include <QDateTime>
#include <QLabel>
#include <QMainWindow>
#include <functional>

#include <eftmemb/control.h>

#include "login_dialog.h"

class QDialog;
class QProgressBar;

namespace eft::qt {
class EftMembWidget;
}

namespace eft::host {

// A status line never cuts a word unseen: a text wider than the line ends in "…", and the
// whole text is its tooltip.
class StatusLine : public QLabel {
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();
    QString full_;
};

// One line of View ▸ Messages.
struct HostMessage {
    QDateTime time;
    QString text;
};

class HostWindow : public QMainWindow {
    Q_OBJECT

public:
    HostWindow(int personId, int personType, QWidget* parent = nullptr);

    eft::qt::EftMembWidget* control() const { return control_; }
    QProgressBar* progress() const { return progress_; }
    // The whole text of the status line; statusLine() shows it, elided when it is too wide.
    QString statusText() const;
    StatusLine* statusLine() const { return status_; }
    // Every event the status line told in this session, oldest first (View ▸ Messages).
    const QList<HostMessage>& messages() const { return history_; }
    // View ▸ Messages, as a dialog; the caller shows it.
    QDialog* messagesDialog();

    // The size the window was left at, or the control's own size the first time.
    void restoreSize();

    // Hands the control the server's address with the login. The one place credentials reach
    // the control.
    void connectTo(const Login& login);
    const Login& login() const { return login_; }
    // A run with nobody at the screen (a screenshot) must not wait on the sign-in dialog: it
    // never opens then. File ▸ Sign in… is there at every start, the demo server's included.
    void setAttended(bool attended) { attended_ = attended; }
    // Shows the host's own failure boxes in place of the modal box (tests, scripted runs).
    void setFailureBoxHandler(std::function<void(const MessageBoxRequest&)> handler) {
        failureBoxHandler_ = std::move(handler);
    }
    // The server's version for About, asked when About opens; empty when not known.
    void setServerVersionSource(std::function<QString()> source) { serverVersion_ = std::move(source); }

    // File ▸ Sign in…: asks for the login and, once the server took it, connects with it.
    // `refused` says the last one was refused. True when the operator signed in.
    bool signIn(bool refused = false);
    // View ▸ Reload: the current country's sweep again.
    void reload();
    // The language of the control and the window: "en", "fr", or empty for the system's.
    // View ▸ Language sets it and keeps it in the settings.
    void setLanguage(const QString& language);
    // Help ▸ About, as text.
    QString aboutText() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenus();
    void retranslate();
    void tell(const QString& event);
    void transferStarted(const QString& what);
    void showProgress(qint64 received, qint64 total);
    void errorOccurred(const QString& message);
    void setStatus(const QString& text);
    // Empty when the server took the login; else what the dialog shows, after a failure box
    // for anything but a refused login.
    QString checkSignIn(const Login& login);
    void showFailure(const QString& plainLine, const QString& details);

    eft::qt::EftMembWidget* control_;
    QProgressBar* progress_;
    StatusLine* status_;
    QList<HostMessage> history_;
    std::function<void(const MessageBoxRequest&)> failureBoxHandler_;
    // The commit's words, kept on the status line through the reload that follows it.
    QString commitSaid_;
    QAction* signInAction_ = nullptr;
    int personId_;
    int personType_;
    Login login_;
    std::function<QString()> serverVersion_;
    QString lastEvent_;
    QString shownLanguage_;
    QString doing_;
    bool busy_ = false;
    bool sweepLoaded_ = false;
    bool loginRetried_ = false;
    bool attended_ = true;
};

// "84 MB": byte counts as the status bar shows them.
QString byteCount(qint64 bytes);

// The version a server names in the Server header of its health page ("eft-server/2.0.7"),
// asked with at most a few seconds' wait; empty when it does not say.
QString serverVersionOf(const QString& baseAddress, const QString& caFile);

}  // namespace eft::host
