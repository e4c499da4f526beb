#include "model/model.h"

#include "client/endpoint.h"
#include "client/failure.h"
#include "client/logging.h"

#include <QCoro/QCoroTask>
#include <QLocale>
#include <utility>

#ifndef VELMORA_DEFAULT_SERVER
#define VELMORA_DEFAULT_SERVER "https://zeit.velmora.de"
#endif

namespace {

struct Probe {
    bool hasToken = false;
    bool locked = false; // a token may be there, unreadable until unlocked
    QString problem;     // the keyring's failure text
};

// What the keyring says about the token. Never throws, so it can be waited
// for synchronously before the event loop runs.
QCoro::Task<Probe> probeToken(TokenStore *store) {
    try {
        const std::optional<QString> token = co_await store->get();
        co_return Probe{token.has_value(), false, QString()};
    } catch (const KeychainError &e) {
        co_return Probe{false, e.kind() == KeychainError::Kind::Locked, e.description()};
    } catch (const std::exception &e) {
        co_return Probe{false, false, failureText(e)};
    }
}

} // namespace

QString offlineText() {
    return QStringLiteral("Keine Verbindung – neuer Versuch, sobald das Netz zurück ist");
}

Model::Model(QObject *parent)
    : Model(std::make_shared<Keychain>(), Preferences(), parent) {}

Model::Model(std::shared_ptr<TokenStore> tokenStore, Preferences preferences, QObject *parent)
    : QObject(parent)
    , m_tokenStore(std::move(tokenStore))
    , m_preferences(std::move(preferences))
    , m_transport(new Transport(this)) {
    m_serverURL = m_preferences.serverURL().value_or(QStringLiteral(VELMORA_DEFAULT_SERVER));
    // The panel must know whether to show the sign-in form before it is
    // first drawn, so this one read waits.
    const Probe probe = QCoro::waitFor(probeToken(m_tokenStore.get()));
    // Never the sign-in form while a token may be stored: signing in again
    // would make a second device token and orphan the first.
    m_signedIn = probe.hasToken || probe.locked;
    m_keyringLocked = probe.locked;
    m_message = probe.problem;
    m_shownVariant = variant();

    for (const auto changed : {&Model::signedInChanged, &Model::stateChanged, &Model::busyChanged,
                               &Model::selectedClientChanged, &Model::selectedReasonChanged,
                               &Model::keyringLockedChanged})
        connect(this, changed, this, &Model::syncViewRules);
    connect(this, &Model::signedInChanged, this, &Model::syncOfferedPairs);
}

Model::~Model() = default;

// Each setter announces a change only when the value really changes.
template <typename T, typename Signal>
static void assign(Model *model, T &field, const T &value, Signal changed) {
    if (field == value) {
        return;
    }
    field = value;
    Q_EMIT(model->*changed)();
}

void Model::setServerURL(const QString &v) {
    assign(this, m_serverURL, v, &Model::serverURLChanged);
}
void Model::setEmail(const QString &v) {
    assign(this, m_email, v, &Model::emailChanged);
}
void Model::setPassword(const QString &v) {
    assign(this, m_password, v, &Model::passwordChanged);
}
void Model::setSetupInput(const QString &v) {
    assign(this, m_setupInput, v, &Model::setupInputChanged);
}
void Model::setSelectedClient(const QString &v) {
    assign(this, m_selectedClient, v, &Model::selectedClientChanged);
}
void Model::setClientSearch(const QString &v) {
    assign(this, m_clientSearch, v, &Model::clientSearchChanged);
}
void Model::setSelectedReason(qint64 v) {
    assign(this, m_selectedReason, v, &Model::selectedReasonChanged);
}
void Model::setNote(const QString &v) {
    if (v.size() <= maxNoteLength) {
        assign(this, m_note, v, &Model::noteChanged);
        return;
    }
    // Never half of a character made of two UTF-16 units.
    const qsizetype kept =
        v.at(maxNoteLength - 1).isHighSurrogate() ? maxNoteLength - 1 : maxNoteLength;
    m_note = v.left(kept);
    Q_EMIT noteChanged(); // also when unchanged: the field holds the longer text
    setMessage(QStringLiteral("Eine Notiz darf höchstens %1 Zeichen lang sein; der eingefügte "
                              "Text wurde darauf gekürzt.")
                   .arg(QLocale(QLocale::German).toString(maxNoteLength)));
}
void Model::setSetupLink(const QString &v) {
    assign(this, m_setupLink, v, &Model::setupLinkChanged);
}
void Model::setSignedIn(bool v) {
    if (v != m_signedIn)
        qCInfo(lcModel) << (v ? "signed in" : "signed out");
    assign(this, m_signedIn, v, &Model::signedInChanged);
}
void Model::setOffline(bool v) {
    if (v == m_offline)
        return;
    m_offline = v;
    qCInfo(lcModel) << (v ? "network gone" : "network back");
    Q_EMIT offlineChanged();
    if (v) {
        setMessage(offlineText());
    } else {
        if (m_message == offlineText())
            setMessage(QString());
        runAutomaticRefresh();
    }
}

void Model::setKeyringLocked(bool v) {
    assign(this, m_keyringLocked, v, &Model::keyringLockedChanged);
}

void Model::setNotice(const QString &v) {
    assign(this, m_notice, v, &Model::noticeChanged);
}

void Model::setMessage(const QString &v) {
    if (!v.isEmpty() && v != m_message)
        qCInfo(lcModel).noquote() << "message:" << v;
    assign(this, m_message, v, &Model::messageChanged);
}
void Model::setBusy(bool v) {
    assign(this, m_busy, v, &Model::busyChanged);
}
void Model::setReloading(bool v) {
    assign(this, m_reloading, v, &Model::reloadingChanged);
}

void Model::setSetupImage(const QImage &v) {
    // Every new link brings a new image, even if it happens to look the same.
    m_setupImage = v;
    Q_EMIT setupImageChanged();
}

std::optional<QUrl> Model::endpoint() const {
    return resolveEndpoint(m_serverURL);
}

std::optional<QUrl> Model::inboxURL() const {
    const std::optional<QUrl> base = endpoint();
    return base ? inboxURLFor(*base) : std::nullopt;
}

// The actions catch every failure themselves, so a task nobody awaits loses
// nothing.
void Model::runRefresh() {
    refresh();
}
void Model::keyringUnlocked() {
    if (m_keyringLocked)
        runAutomaticRefresh();
}

void Model::runAutomaticRefresh() {
    // Also while the system says there is no network: a machine whose
    // connection NetworkManager does not manage looks offline for good, and
    // a reload that fails costs nothing. Its failure says the one cause.
    if (m_reloadsInFlight == 0)
        reload(false);
}
void Model::runLogin() {
    login();
}
void Model::runConnectWithSetupLink() {
    connectWithSetupLink();
}
void Model::runLogout() {
    logout();
}
void Model::runStart() {
    start();
}
void Model::runStop() {
    stop();
}
void Model::runMakeSetupLink() {
    makeSetupLink();
}
void Model::runStartPair(const RecentPair &pair) {
    startPair(pair);
}
