#pragma once
// The sign-in dialog of eft-host: the server address, the user and the password, and whether
// to remember the user. The password lives only in the dialog and the control's address: it is
// never written to the settings and never taken from the command line.
#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace eft::host {

struct Login {
    QString address;  // the base address, without credentials
    QString user;     // empty: no login
    QString password;
    bool rememberUser = false;
};

class LoginDialog : public QDialog {
    Q_OBJECT

public:
    // Checks a login before the dialog lets it go: empty when the server took it, else what to
    // show above the fields, the dialog staying open.
    using Checker = std::function<QString(const Login&)>;

    // `refused` shows "Login refused" above the fields, after a 401.
    LoginDialog(const Login& start, bool refused, QWidget* parent = nullptr);

    void setChecker(Checker checker) { checker_ = std::move(checker); }
    // Sign in: closes only once the checker took the login.
    void accept() override;

    Login login() const;

    QLineEdit* addressField() const { return address_; }
    QLineEdit* userField() const { return user_; }
    QLineEdit* passwordField() const { return password_; }
    QCheckBox* rememberBox() const { return remember_; }
    QLabel* refusedLabel() const { return refused_; }

private:
    QLabel* refused_;
    QLineEdit* address_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* remember_;
    Checker checker_;
};

}  // namespace eft::host
