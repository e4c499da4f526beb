// Signing in with a password or a setup link, and signing out.

#include "client/failure.h"
#include "model/model.h"
#include "model/ownergone.h"
#include "model/setupcode.h"

namespace {
const QString invalidSetupLink = QStringLiteral("Bitte einen gültigen Einrichtungslink einfügen.");
}

// What both sign-ins share: send the request and keep the token. The token
// must be in the keyring before the sign-in counts; it is never kept
// elsewhere. The keyring is asked first, so a one-time code or a password is
// not spent on a sign-in that could not be kept. The server address is
// stored with the token so both stay together across restarts. On failure
// the text is shown and `busy` ends.
QCoro::Task<bool> Model::signIn(const Endpoint<LoginResponse> &endpoint, QJsonObject body) {
    const std::shared_ptr<TokenStore> tokens = m_tokenStore; // outlives a gone model's wait
    try {
        co_await unlessGone(this, tokens->checkWritable());
        const LoginResponse answer = co_await call(endpoint, body);
        co_await unlessGone(this, tokens->set(answer.token));
    } catch (const std::exception &e) {
        setMessage(failureText(e));
        setBusy(false);
        co_return false;
    }
    discardPendingRefreshes();
    try {
        m_preferences.setServerURL(m_serverURL);
    } catch (const Failure &f) {
        m_preferencesProblem = f.description();
    }
    setSignedIn(true);
    co_return true;
}

QCoro::Task<> Model::login() {
    if (m_busy) {
        co_return;
    }
    setBusy(true);
    const QJsonObject body{{QStringLiteral("email"), m_email},
                           {QStringLiteral("password"), m_password},
                           {QStringLiteral("device"), true}};
    if (co_await signIn(Api::login, body)) {
        setPassword(QString());
        co_await finishSignIn();
    }
}

QCoro::Task<> Model::connectWithSetupLink() {
    if (m_busy) {
        co_return;
    }
    setBusy(true);
    const std::optional<QString> code = setupCodeFrom(m_setupInput);
    if (!code) {
        setMessage(invalidSetupLink);
        setBusy(false);
        co_return;
    }
    // The code goes to the server the user chose, never to the host named in
    // the pasted link.
    const QJsonObject body{{QStringLiteral("code"), *code}, {QStringLiteral("device"), true}};
    if (co_await signIn(Api::setup, body)) {
        setSetupInput(QString());
        co_await finishSignIn();
    }
}

QCoro::Task<> Model::finishSignIn() {
    setBusy(false);
    co_await refresh();
    if (!m_preferencesProblem.isEmpty()) {
        setMessage(std::exchange(m_preferencesProblem, QString()));
    }
    setBusy(false);
}

QCoro::Task<> Model::logout() {
    try {
        co_await call(Api::logout);
    } catch (const std::exception &) {
        // Signing out always completes locally, whatever the server said.
    }
    QString problem;
    const std::shared_ptr<TokenStore> tokens = m_tokenStore;
    try {
        co_await unlessGone(this, tokens->remove());
    } catch (const std::exception &e) {
        problem = failureText(e);
    }
    discardPendingRefreshes();
    setSignedIn(false);
    setState(std::nullopt);
    // Left in the keyring, the token would sign the user in again at the
    // next start; they must know.
    setMessage(problem);
}
