#include "login_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace eft::host {

LoginDialog::LoginDialog(const Login& start, bool refused, QWidget* parent)
    : QDialog(parent),
      refused_(new QLabel(tr("Login refused: check the user name and the password."), this)),
      address_(new QLineEdit(start.address, this)),
      user_(new QLineEdit(start.user, this)),
      password_(new QLineEdit(this)),
      remember_(new QCheckBox(tr("&Remember user"), this)) {
    setWindowTitle(tr("Sign in to the EFT server"));
    refused_->setObjectName(QStringLiteral("refused"));
    refused_->setVisible(refused);
    refused_->setWordWrap(true);
    // The refusal is said in words; its colour only marks it: dark red on a light window, light
    // red on a dark one, each at 4.5:1 or more against it.
    QPalette marked = refused_->palette();
    const bool darkWindow = marked.color(QPalette::Window).lightnessF() < 0.5;
    marked.setColor(QPalette::WindowText, darkWindow ? QColor(0xff, 0x8a, 0x80) : QColor(0xb0, 0x00, 0x20));
    refused_->setPalette(marked);
    QFont bold = refused_->font();
    bold.setBold(true);
    refused_->setFont(bold);
    address_->setObjectName(QStringLiteral("address"));
    user_->setObjectName(QStringLiteral("user"));
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    remember_->setObjectName(QStringLiteral("remember"));
    remember_->setChecked(start.rememberUser);

    auto* form = new QFormLayout;
    form->addRow(tr("&Server:"), address_);
    form->addRow(tr("&User:"), user_);
    form->addRow(tr("&Password:"), password_);
    form->addRow(QString(), remember_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Sign &in"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(refused_);
    layout->addLayout(form);
    layout->addWidget(buttons);
    // The operator types the missing piece first: the password when the user is known.
    (start.user.isEmpty() ? user_ : password_)->setFocus();
    setMinimumWidth(fontMetrics().averageCharWidth() * 56);
}

void LoginDialog::accept() {
    if (checker_) {
        // The operator must not change the fields, nor press Sign in again, while the server is
        // asked; a failure box the checker opens over the dialog stays usable.
        const auto parts = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* part : parts) part->setEnabled(false);
        const QString refusal = checker_(login());
        for (QWidget* part : parts) part->setEnabled(true);
        if (!refusal.isEmpty()) {
            refused_->setText(refusal);
            refused_->setVisible(true);
            password_->selectAll();
            password_->setFocus();
            return;
        }
    }
    QDialog::accept();
}

Login LoginDialog::login() const {
    return Login{address_->text().trimmed(), user_->text().trimmed(), password_->text(), remember_->isChecked()};
}

}  // namespace eft::host
