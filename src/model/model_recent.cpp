// The recent pairs of client and reason, and starting or switching to one.

#include "client/endpoint.h"
#include "client/failure.h"
#include "client/logging.h"
#include "model/model.h"

#include <algorithm>

namespace {

QString syncPendingText() {
    return QStringLiteral("Zeit gespeichert. Ninja-Abgleich folgt automatisch.");
}

QString switchFailedText(const QString &why) {
    return QStringLiteral("Der bisherige Timer wurde gestoppt, der neue ist nicht gestartet: %1")
        .arg(why);
}

QJsonObject stopRequest(const QString &entryId) {
    return QJsonObject{{QStringLiteral("entryId"), entryId}};
}

QJsonObject startRequest(const RecentPair &pair, const QString &note) {
    return QJsonObject{{QStringLiteral("clientId"), pair.clientId},
                       {QStringLiteral("reasonId"), pair.reasonId},
                       {QStringLiteral("note"), note}};
}

} // namespace

const QList<RecentPair> &Model::recentPairs() {
    // Kept per server: another server's ids mean other clients.
    const std::optional<QUrl> base = endpoint();
    const QString server = base ? base->toString() : QString();
    if (m_recentServer != server) {
        m_recentServer = server;
        m_recentPairs = server.isEmpty() ? QList<RecentPair>() : m_preferences.recentPairs(server);
    }
    return m_recentPairs;
}

void Model::rememberPair(const RecentPair &pair) {
    const QList<RecentPair> &known = recentPairs();
    if (m_recentServer->isEmpty() || (!known.isEmpty() && known.first() == pair))
        return;
    m_recentPairs = withRecent(known, pair);
    try {
        m_preferences.setRecentPairs(*m_recentServer, m_recentPairs);
    } catch (const Failure &failure) {
        // Still offered for this run; the user loses nothing they typed.
        qCWarning(lcModel).noquote() << failure.description();
    }
    syncOfferedPairs();
}

void Model::syncOfferedPairs() {
    // Worked out once per state: the menu and the panel ask on every change
    // of `busy`.
    m_runningPair = m_state && m_state->running
                        ? pairNamed(m_state->running->clientName, m_state->running->reasonName)
                        : std::nullopt;
    QList<OfferedPair> offered;
    if (m_signedIn && m_state) {
        for (const RecentPair &pair : recentPairs()) {
            if (std::optional<OfferedPair> listed = listedPair(pair))
                offered.append(std::move(*listed));
        }
    }
    if (offered == m_offeredPairs)
        return;
    m_offeredPairs = std::move(offered);
    Q_EMIT offeredPairsChanged();
}

std::optional<OfferedPair> Model::listedPair(const RecentPair &pair) const {
    // Read from the state directly: `ratesOf` indexes the selected client's
    // rates, which the panel keeps asking for.
    if (!m_state)
        return std::nullopt;
    const auto client = std::find_if(
        m_state->clients.cbegin(), m_state->clients.cend(), [&pair](const Customer &c) {
            return c.id == pair.clientId && c.enabled == 1 && c.archived == 0;
        });
    const auto reason =
        std::find_if(m_state->reasons.cbegin(), m_state->reasons.cend(),
                     [&pair](const Reason &r) { return r.id == pair.reasonId && r.active == 1; });
    const bool rated =
        std::any_of(m_state->rates.cbegin(), m_state->rates.cend(), [&pair](const Rate &r) {
            return r.clientId == pair.clientId && r.reasonId == pair.reasonId;
        });
    if (client == m_state->clients.cend() || reason == m_state->reasons.cend() || !rated)
        return std::nullopt;
    return OfferedPair{pair, client->name, reason->name};
}

std::optional<OfferedPair> Model::pairNamed(const QString &client, const QString &reason) const {
    // Exactly one listed client of that name, and for it exactly one listed
    // reason of that name.
    const QList<Customer> clients = listedClients();
    const auto named = [&client](const Customer &c) { return c.name == client; };
    if (std::count_if(clients.cbegin(), clients.cend(), named) != 1)
        return std::nullopt;
    const Customer &customer = *std::find_if(clients.cbegin(), clients.cend(), named);
    std::optional<OfferedPair> found;
    for (const Reason &candidate : m_state->reasons) {
        if (candidate.name != reason)
            continue;
        if (std::optional<OfferedPair> listed = listedPair({customer.id, candidate.id})) {
            if (found)
                return std::nullopt;
            found = std::move(listed);
        }
    }
    return found;
}

QCoro::Task<Model::StartOutcome> Model::startPair(RecentPair pair, std::optional<QString> note) {
    if (m_busy)
        co_return StartOutcome::Busy;
    if (!listedPair(pair))
        co_return StartOutcome::NotListed;
    if (const std::optional<OfferedPair> running = runningPair(); running && running->pair == pair)
        co_return StartOutcome::AlreadyRunning;
    setBusy(true);
    const QString sentNote = note.value_or(m_note);
    const std::optional<QJsonObject> stopBody =
        m_state && m_state->running ? std::optional(stopRequest(m_state->running->id))
                                    : std::nullopt;
    SyncResponse sync{true};
    if (stopBody) {
        try {
            sync = co_await call(Api::stop, *stopBody);
        } catch (const std::exception &e) {
            setMessage(failureText(e)); // nothing was started
            setBusy(false);
            co_return StartOutcome::StopFailed;
        }
        discardPendingRefreshes();
    }
    std::optional<QString> failure;
    try {
        co_await call(Api::start, startRequest(pair, sentNote));
    } catch (const std::exception &e) {
        failure = stopBody ? switchFailedText(failureText(e)) : failureText(e);
    }
    if (failure) {
        setBusy(false);
        if (stopBody)
            co_await refresh(); // shows that nothing runs now
        setMessage(*failure);
        co_return StartOutcome::StartFailed;
    }
    discardPendingRefreshes();
    rememberPair(pair);
    if (!note && m_note == sentNote)
        setNote(QString());
    setBusy(false);
    co_await refresh();
    if (!sync.ninjaSynced)
        setMessage(syncPendingText());
    setBusy(false);
    co_return StartOutcome::Started;
}
