// Starting and stopping the timer on the server.

#include "model/model.h"

QCoro::Task<> Model::start() {
    if (!canStart()) {
        co_return;
    }
    setBusy(true);
    const QString sentNote = m_note;
    const RecentPair pair{m_selectedClient, m_selectedReason};
    const QJsonObject body{{QStringLiteral("clientId"), pair.clientId},
                           {QStringLiteral("reasonId"), pair.reasonId},
                           {QStringLiteral("note"), sentNote}};
    try {
        co_await call(Api::start, body);
    } catch (const std::exception &e) {
        setMessage(failureText(e)); // the note stays for another try
        setBusy(false);
        co_return;
    }
    discardPendingRefreshes();
    rememberPair(pair);
    // What the user typed while the request was under way is not thrown away.
    if (m_note == sentNote) {
        setNote(QString());
    }
    setBusy(false);
    co_await refresh();
    setBusy(false);
}

QCoro::Task<bool> Model::stop() {
    if (m_busy || !m_state || !m_state->running) {
        co_return false;
    }
    setBusy(true);
    const QJsonObject body{{QStringLiteral("entryId"), m_state->running->id}};
    SyncResponse sync;
    try {
        sync = co_await call(Api::stop, body);
    } catch (const std::exception &e) {
        setMessage(failureText(e));
        setBusy(false);
        co_return false;
    }
    discardPendingRefreshes();
    setBusy(false);
    co_await refresh();
    if (!sync.ninjaSynced) {
        setMessage(QStringLiteral("Zeit gespeichert. Ninja-Abgleich folgt automatisch."));
    }
    setBusy(false);
    co_return true;
}
