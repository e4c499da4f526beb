#include "ui/footerrow.h"

#include "model/model.h"
#include "ui/style.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QToolButton>

FooterRow::FooterRow(Model *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model) {
    setFont(ui::captionFont(font()));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    m_webApp = new LinkButton(QStringLiteral("Web-App öffnen"), this);
    m_webApp->setObjectName(QStringLiteral("webAppLink"));
    connect(m_webApp, &LinkButton::clicked, model, [model] {
        if (const auto url = model->endpoint())
            QDesktopServices::openUrl(*url);
    });
    row->addWidget(m_webApp);
    row->addStretch(1);

    m_logout = ui::plainButton(QStringLiteral("logoutButton"), QStringLiteral("Abmelden"), this);
    connect(m_logout, &QToolButton::clicked, model, &Model::runLogout);
    row->addWidget(m_logout);
    auto *quit = ui::plainButton(QStringLiteral("quitButton"), QStringLiteral("Beenden"), this);
    connect(quit, &QToolButton::clicked, this, &FooterRow::quitRequested);
    row->addWidget(quit);

    // The link follows the "Server" field as the user types.
    connect(model, &Model::serverURLChanged, this, &FooterRow::sync);
    connect(model, &Model::signedInChanged, this, &FooterRow::sync);
    sync();
}

void FooterRow::sync() {
    m_webApp->setUrl(m_model->endpoint());
    m_logout->setVisible(m_model->signedIn());
}
