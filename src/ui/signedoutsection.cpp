#include "ui/signedoutsection.h"

#include "model/model.h"
#include "ui/binding.h"
#include "ui/style.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

SignedOutSection::SignedOutSection(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(13);

    auto *server = ui::textField(QStringLiteral("serverField"), QStringLiteral("Server"), this);
    ui::bindText(server, model, &Model::serverURL, &Model::setServerURL, &Model::serverURLChanged);
    stack->addWidget(server);

    auto *setup = ui::textField(QStringLiteral("setupField"),
                                QStringLiteral("Einrichtungslink einfügen"), this);
    ui::bindText(setup, model, &Model::setupInput, &Model::setSetupInput,
                 &Model::setupInputChanged);
    stack->addWidget(setup);
    // The setup link is what most people paste; the panel starts there.
    m_firstControl = setup;

    m_connect = new ProminentButton(QStringLiteral("Gerät verbinden"), this);
    m_connect->setObjectName(QStringLiteral("connectButton"));
    connect(m_connect, &QPushButton::clicked, model, &Model::runConnectWithSetupLink);
    stack->addWidget(m_connect, 0, Qt::AlignLeft);

    // The disclosure: its expanded flag is the only state the panel keeps.
    auto *disclosure = new QVBoxLayout;
    disclosure->setContentsMargins(0, 0, 0, 0);
    disclosure->setSpacing(0);
    m_toggle = new DisclosureButton(QStringLiteral("Mit Passwort anmelden"), this);
    m_toggle->setObjectName(QStringLiteral("passwordToggle"));
    disclosure->addWidget(m_toggle, 0, Qt::AlignLeft);

    m_passwordArea = new QWidget(this);
    m_passwordArea->setObjectName(QStringLiteral("passwordArea"));
    auto *inner = new QVBoxLayout(m_passwordArea);
    inner->setContentsMargins(0, 8, 0, 0);
    inner->setSpacing(10);
    auto *email =
        ui::textField(QStringLiteral("emailField"), QStringLiteral("E-Mail"), m_passwordArea);
    ui::bindText(email, model, &Model::email, &Model::setEmail, &Model::emailChanged);
    inner->addWidget(email);
    auto *password =
        ui::textField(QStringLiteral("passwordField"), QStringLiteral("Passwort"), m_passwordArea);
    password->setEchoMode(QLineEdit::Password);
    ui::bindText(password, model, &Model::password, &Model::setPassword, &Model::passwordChanged);
    inner->addWidget(password);
    m_login = new ProminentButton(QStringLiteral("Anmelden"), m_passwordArea);
    m_login->setObjectName(QStringLiteral("loginButton"));
    connect(m_login, &QPushButton::clicked, model, &Model::runLogin);
    inner->addWidget(m_login, 0, Qt::AlignLeft);
    m_passwordArea->setVisible(false);
    disclosure->addWidget(m_passwordArea);
    stack->addLayout(disclosure);

    connect(m_toggle, &QToolButton::toggled, m_passwordArea, &QWidget::setVisible);
    connect(model, &Model::busyChanged, this, &SignedOutSection::sync);
    connect(model, &Model::setupInputChanged, this, &SignedOutSection::sync);
    sync();
}

void SignedOutSection::sync() {
    // A setup input of blanks still counts: the model tells the user what is wrong.
    m_connect->setEnabled(!m_model->busy() && !m_model->setupInput().isEmpty());
    m_login->setEnabled(!m_model->busy());
}
