#include "modelfixture.h"

ModelFixture::ModelFixture(DevServerOptions options)
    : m_server(std::move(options)) {
    m_started = m_server.start();
}

QString ModelFixture::preferencesPath() const {
    return m_dir.filePath(QStringLiteral("prefs.ini"));
}

std::unique_ptr<Model> ModelFixture::newModel(std::shared_ptr<TokenStore> tokens) {
    if (!tokens) {
        tokens = std::make_shared<MemoryTokenStore>();
    }
    auto model = std::make_unique<Model>(std::move(tokens), Preferences(preferencesPath()));
    model->setServerURL(m_server.baseUrl());
    return model;
}

std::unique_ptr<Model> ModelFixture::signedInModel(const QString &userId,
                                                   std::shared_ptr<TokenStore> tokens) {
    auto model = newModel(std::move(tokens));
    model->setSetupInput(m_server.setupLink(m_server.createSetupCode(userId)));
    if (!finishes(model->connectWithSetupLink()) || !model->signedIn() || !model->state()) {
        qWarning() << "sign-in failed:" << model->message();
        return nullptr;
    }
    return model;
}
