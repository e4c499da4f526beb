// Loading the server state and the lists and selections derived from it.

#include "model/model.h"
#include "model/ownergone.h"

bool Model::setState(std::optional<State> value) {
    if (m_state == value) {
        return false;
    }
    m_state = std::move(value);
    m_ratesClient.reset();
    // Before the views hear of the state, so they read pairs that fit it.
    syncOfferedPairs();
    Q_EMIT stateChanged();
    return true;
}

void Model::applyState(State loaded) {
    if (!setState(std::move(loaded)))
        return;
    // A timer started elsewhere (web, phone) is a recent pair too.
    if (const std::optional<OfferedPair> running = runningPair())
        rememberPair(running->pair);
    // The first state after a start of the app: the pickers begin on the
    // pair worked on last. The reason first, so the client's change keeps it.
    if (m_selectedClient.isEmpty() && !m_offeredPairs.isEmpty()) {
        setSelectedReason(m_offeredPairs.first().pair.reasonId);
        setSelectedClient(m_offeredPairs.first().pair.clientId);
    }
    chooseClient();
}

void Model::discardPendingRefreshes() {
    m_oldestAcceptedRefresh = m_nextRefresh;
}

QCoro::Task<> Model::refresh() {
    return reload(true);
}

QCoro::Task<> Model::reload(bool asked) {
    if (!m_signedIn || m_busy) {
        co_return;
    }
    const quint64 id = m_nextRefresh++;
    ++m_reloadsInFlight;
    m_askedReloadsInFlight += asked ? 1 : 0;
    setReloading(m_askedReloadsInFlight > 0);
    const QPointer<const QObject> self(this); // see ownergone.h
    const std::shared_ptr<TokenStore> tokens = m_tokenStore;
    std::optional<QByteArray> body;
    QString failure;
    try {
        // Only when asked: the keyring's prompt comes up for the user, never
        // by the clock.
        if (asked && m_keyringLocked)
            co_await unlessGone(self, tokens->unlock());
        body = co_await request(Api::state, std::nullopt);
        setKeyringLocked(false);
    } catch (const KeychainError &e) {
        setKeyringLocked(e.kind() == KeychainError::Kind::Locked);
        failure = e.description();
    } catch (const std::exception &e) {
        failure = failureText(e);
    }
    --m_reloadsInFlight;
    m_askedReloadsInFlight -= asked ? 1 : 0;
    setReloading(m_askedReloadsInFlight > 0);
    // An answer to a request sent before the state now shown was loaded,
    // or before an action changed the server's data, is out of date.
    if (id < m_oldestAcceptedRefresh) {
        co_return;
    }
    if (!body) {
        // Without a network every failure has that one cause.
        setMessage(m_offline ? offlineText() : failure);
        co_return;
    }
    try {
        // Read only once known to be current: a stale answer is not decoded.
        State loaded = Api::state.decode(*body);
        m_oldestAcceptedRefresh = id + 1;
        applyState(std::move(loaded));
        setMessage(QString());
        // The server answered: whatever the system says, we are online.
        if (m_offline) {
            m_offline = false;
            Q_EMIT offlineChanged();
        }
    } catch (const std::exception &e) {
        setMessage(failureText(e));
    }
}

QList<Customer> Model::listedClients() const {
    QList<Customer> result;
    if (!m_state) {
        return result;
    }
    for (const Customer &customer : m_state->clients) {
        if (customer.enabled == 1 && customer.archived == 0) {
            result.append(customer);
        }
    }
    return result;
}

QList<Customer> Model::clients() const {
    QList<Customer> result = listedClients();
    // Simple case folding per character: "mül" finds "MÜLLER" but not
    // "Muller".
    if (!m_clientSearch.isEmpty()) {
        result.removeIf([this](const Customer &customer) {
            return !customer.name.contains(m_clientSearch, Qt::CaseInsensitive);
        });
    }
    return result;
}

QList<Reason> Model::reasons() const {
    return listedReasons(m_selectedClient);
}

QList<Reason> Model::listedReasons(const QString &clientId) const {
    QList<Reason> result;
    if (!m_state) {
        return result;
    }
    const QHash<qint64, qint64> &rated = ratesOf(clientId);
    if (rated.isEmpty()) {
        return result;
    }
    for (const Reason &reason : m_state->reasons) {
        if (reason.active == 1 && rated.contains(reason.id)) {
            result.append(reason);
        }
    }
    return result;
}

std::optional<qint64> Model::rateCents(const QString &clientId, qint64 reasonId) const {
    const QHash<qint64, qint64> &rated = ratesOf(clientId);
    const auto cents = rated.constFind(reasonId);
    return cents == rated.cend() ? std::nullopt : std::optional<qint64>(*cents);
}

const QHash<qint64, qint64> &Model::ratesOf(const QString &clientId) const {
    if (m_ratesClient != clientId) {
        m_rates.clear();
        if (m_state) {
            for (const Rate &rate : m_state->rates) {
                if (rate.clientId == clientId && !m_rates.contains(rate.reasonId)) {
                    m_rates.insert(rate.reasonId, rate.cents); // the first one counts
                }
            }
        }
        m_ratesClient = clientId;
    }
    return m_rates;
}

void Model::chooseClient() {
    const QList<Customer> listed = clients();
    const bool stillListed = std::any_of(listed.cbegin(), listed.cend(), [this](const Customer &c) {
        return c.id == m_selectedClient;
    });
    if (!stillListed) {
        setSelectedClient(listed.isEmpty() ? QString() : listed.first().id);
    }
    chooseReason();
}

void Model::chooseReason() {
    const QList<Reason> listed = reasons();
    const bool stillListed = std::any_of(listed.cbegin(), listed.cend(), [this](const Reason &r) {
        return r.id == m_selectedReason;
    });
    if (!stillListed) {
        setSelectedReason(listed.isEmpty() ? 0 : listed.first().id);
    }
}
