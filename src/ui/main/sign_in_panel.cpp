#include "ui/main/sign_in_panel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/twips.h"

namespace ondrel {

namespace {
constexpr int kIdLimit = 32;
constexpr int kPasswordLimit = 256;
}  // namespace

SignInPanel::SignInPanel(QWidget* parent) : QWidget(parent) {
    NameControl(this, QStringLiteral("picSignIn"));
    setAutoFillBackground(true);

    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("picSignInBox"));
    auto* title = new QLabel(QStringLiteral("サインイン"), box);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    title->setFont(big);

    txtStaffId = new QLineEdit(box);
    NameControl(txtStaffId, QStringLiteral("txtStaffId"));
    txtStaffId->setMaxLength(kIdLimit);
    txtStaffId->setAccessibleName(QStringLiteral("職員ID"));
    txtPassword = new QLineEdit(box);
    NameControl(txtPassword, QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setMaxLength(kPasswordLimit);
    txtPassword->setAccessibleName(QStringLiteral("パスワード"));

    lblMessage = new QLabel(box);
    NameControl(lblMessage, QStringLiteral("lblSignInMessage"));
    lblMessage->setWordWrap(true);
    QPalette red = lblMessage->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    lblMessage->setPalette(red);

    cmdSignIn = new QPushButton(QStringLiteral("サインイン"), box);
    NameControl(cmdSignIn, QStringLiteral("cmdSignIn"));
    cmdSignIn->setDefault(true);
    cmdQuit = new QPushButton(QStringLiteral("終了"), box);
    NameControl(cmdQuit, QStringLiteral("cmdQuit"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("職員ID"), txtStaffId);
    form->addRow(QStringLiteral("パスワード"), txtPassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSignIn);
    buttons->addWidget(cmdQuit);
    auto* inner = new QVBoxLayout(box);
    inner->addWidget(title);
    inner->addSpacing(12);
    inner->addLayout(form);
    inner->addWidget(lblMessage);
    inner->addLayout(buttons);
    box->setFixedWidth(420);

    auto* outer = new QVBoxLayout(this);
    outer->addStretch();
    outer->addWidget(box, 0, Qt::AlignHCenter);
    outer->addStretch(2);

    connect(cmdSignIn, &QPushButton::clicked, this, &SignInPanel::signInClicked);
    connect(cmdQuit, &QPushButton::clicked, this, &SignInPanel::quitClicked);
    // Enter in either box signs in, as the default button would in a dialog.
    connect(txtStaffId, &QLineEdit::returnPressed, txtPassword,
            [this] { txtPassword->setFocus(); });
    connect(txtPassword, &QLineEdit::returnPressed, this, &SignInPanel::signInClicked);
}

void SignInPanel::Open(bool atStart, const QString& message) {
    cmdQuit->setVisible(atStart);
    txtPassword->clear();
    lblMessage->setText(message);
    show();
    raise();
    (txtStaffId->text().isEmpty() ? txtStaffId : txtPassword)->setFocus();
}

void SignInPanel::Tell(const QString& message) {
    lblMessage->setText(message);
    txtPassword->clear();
    txtPassword->setFocus();
}

QString SignInPanel::Login() const { return txtStaffId->text().trimmed(); }
QByteArray SignInPanel::Password() const { return txtPassword->text().toUtf8(); }

}  // namespace ondrel
