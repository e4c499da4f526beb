#pragma once
// A devserver on loopback and models that talk to it, for tests of the model
// and the panel.

#include "devserver.h"
#include "model/model.h"
#include "testsupport.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Runs the task on the event loop until it finishes; false after the timeout.
template <typename T> bool finishes(QCoro::Task<T> task) {
    return testsupport::awaitTask(std::move(task)).finished;
}

class ModelFixture {
public:
    explicit ModelFixture(DevServerOptions options = {});

    bool started() const { return m_started; }
    DevServer &server() { return m_server; }
    // A model with its own memory token store and a fresh preferences file,
    // pointed at the devserver.
    std::unique_ptr<Model> newModel(std::shared_ptr<TokenStore> tokens = {});
    // The preferences file every model of this fixture shares.
    QString preferencesPath() const;
    // A model signed in through a setup link for the user, with its state loaded.
    std::unique_ptr<Model> signedInModel(const QString &userId,
                                         std::shared_ptr<TokenStore> tokens = {});

private:
    QTemporaryDir m_dir;
    DevServer m_server;
    bool m_started = false;
};
