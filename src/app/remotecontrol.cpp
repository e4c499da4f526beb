#include "app/remotecontrol.h"

#include "model/model.h"

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <variant>

namespace {

CommandAnswer answerWith(int exitCode, const QString &text) {
    return CommandAnswer{exitCode, (text.endsWith(u'\n') ? text : text + u'\n').toUtf8()};
}

// "  Name" lines, for the candidates of a name that did not fit.
QString listed(const QStringList &names) {
    QString lines;
    for (const QString &name : names)
        lines += QStringLiteral("  ") + name + u'\n';
    return lines;
}

// Which of `names` the typed name means, or the German reason why none.
// `what`: "Kunde" or "Grund".
std::variant<qsizetype, QString> pick(const QStringList &names, const QString &typed,
                                      const QString &what) {
    const QList<qsizetype> found = matchName(names, typed);
    if (found.size() == 1)
        return found.first();
    if (found.isEmpty())
        return QStringLiteral("Kein %1 passt zu „%2“. Zur Auswahl:\n").arg(what, typed) +
               listed(names);
    QStringList candidates;
    for (const qsizetype i : found)
        candidates << names[i];
    return QStringLiteral("„%1“ ist nicht eindeutig. Gemeint ist einer von:\n").arg(typed) +
           listed(candidates);
}

} // namespace

RemoteControl::RemoteControl(Model *model, Clock clock)
    : m_model(model)
    , m_clock(std::move(clock)) {}

QCoro::Task<CommandAnswer> RemoteControl::answer(QByteArray command) {
    const qsizetype space = command.indexOf(' ');
    const QByteArray verb = space < 0 ? command : command.left(space);
    if (verb == "status")
        co_return timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (verb == "status-json")
        co_return timerStatus(m_model->signedIn(), m_model->state(), m_clock(), true);
    if (verb == "recent" || verb == "recent-json")
        co_return recent(verb == "recent-json");
    if (verb == "stop")
        co_return co_await stop();
    if (verb == "start" || verb == "toggle") {
        const QJsonObject request =
            space < 0 ? QJsonObject() : QJsonDocument::fromJson(command.mid(space + 1)).object();
        if (verb == "toggle") {
            co_await settle();
            if (m_model->state() && m_model->state()->running)
                co_return co_await stop();
        }
        co_return co_await start(request);
    }
    co_return CommandAnswer{2, QByteArrayLiteral("Unbekannter Befehl.\n")};
}

QCoro::Task<> RemoteControl::settle() {
    // An action under way (the panel's, or an earlier command's) ends first;
    // this one then answers from what it left. Every request has a
    // deadline, so the wait ends.
    while (m_model->busy() || m_model->reloading()) {
        if (m_model->busy()) {
            co_await qCoro(m_model, &Model::busyChanged);
            // A start or stop reloads right after; let it begin.
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        } else {
            co_await qCoro(m_model, &Model::reloadingChanged);
        }
    }
}

QCoro::Task<CommandAnswer> RemoteControl::stop() {
    co_await settle();
    const CommandAnswer status =
        timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (status.exitCode != TimerRuns)
        co_return status;
    if (co_await m_model->stop()) {
        // The model's note on the stop, such as a sync still to come.
        const QString note = m_model->message();
        co_return answerWith(TimerRuns, QStringLiteral("Timer gestoppt.\n") +
                                            (note.isEmpty() ? QString() : note + u'\n'));
    }
    co_return answerWith(ServerRefused, m_model->message());
}

QCoro::Task<CommandAnswer> RemoteControl::start(QJsonObject request) {
    co_await settle();
    const CommandAnswer status =
        timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (status.exitCode == NotAvailable)
        co_return status;

    std::optional<OfferedPair> chosen;
    const QList<OfferedPair> &offered = m_model->offeredPairs();
    if (!request.contains(QLatin1String("client"))) {
        if (offered.isEmpty())
            co_return answerWith(NameUnmatched,
                                 QStringLiteral("Noch kein Kunde und Grund zuletzt genutzt: "
                                                "velmora-time --start KUNDE GRUND"));
        chosen = offered.first();
    } else {
        const QList<Customer> clients = m_model->listedClients();
        QStringList clientNames;
        for (const Customer &client : clients)
            clientNames << client.name;
        const auto client = pick(clientNames, request.value(QLatin1String("client")).toString(),
                                 QStringLiteral("Kunde"));
        if (const QString *why = std::get_if<QString>(&client))
            co_return answerWith(NameUnmatched, *why);
        const Customer &customer = clients[std::get<qsizetype>(client)];
        const QList<Reason> reasons = m_model->listedReasons(customer.id);
        QStringList reasonNames;
        for (const Reason &reason : reasons)
            reasonNames << reason.name;
        if (reasons.isEmpty())
            co_return answerWith(NameUnmatched,
                                 QStringLiteral("Für %1 gibt es noch keinen Grund mit "
                                                "Stundensatz.")
                                     .arg(customer.name));
        if (request.contains(QLatin1String("reason"))) {
            const auto reason = pick(reasonNames, request.value(QLatin1String("reason")).toString(),
                                     QStringLiteral("Grund"));
            if (const QString *why = std::get_if<QString>(&reason))
                co_return answerWith(NameUnmatched, *why);
            const Reason &picked = reasons[std::get<qsizetype>(reason)];
            chosen = OfferedPair{{customer.id, picked.id}, customer.name, picked.name};
        } else {
            // The reason last used with this client, else its only one.
            for (const OfferedPair &pair : offered) {
                if (pair.pair.clientId == customer.id) {
                    chosen = pair;
                    break;
                }
            }
            if (!chosen && reasons.size() == 1)
                chosen = OfferedPair{
                    {customer.id, reasons.first().id}, customer.name, reasons.first().name};
            if (!chosen)
                co_return answerWith(
                    NameUnmatched,
                    QStringLiteral("Welcher Grund für %1? Zur Auswahl:\n").arg(customer.name) +
                        listed(reasonNames));
        }
    }

    const std::optional<QString> note =
        request.contains(QLatin1String("note"))
            ? std::optional<QString>(request.value(QLatin1String("note")).toString())
            : std::nullopt;
    switch (co_await m_model->startPair(chosen->pair, note)) {
    case Model::StartOutcome::Started: {
        const QString notice = m_model->message();
        co_return answerWith(TimerRuns, QStringLiteral("Timer gestartet: ") + chosen->label() +
                                            (notice.isEmpty() ? QString() : u'\n' + notice));
    }
    case Model::StartOutcome::AlreadyRunning:
        co_return answerWith(TimerRuns, QStringLiteral("Läuft bereits: ") + chosen->label());
    case Model::StartOutcome::Busy:
    case Model::StartOutcome::NotListed:
        co_return answerWith(ServerRefused,
                             QStringLiteral("Gerade nicht möglich, bitte noch einmal versuchen."));
    case Model::StartOutcome::StopFailed:
    case Model::StartOutcome::StartFailed:
        break;
    }
    co_return answerWith(ServerRefused, m_model->message());
}

CommandAnswer RemoteControl::recent(bool json) const {
    const CommandAnswer status =
        timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (status.exitCode == NotAvailable)
        return status;
    const QList<OfferedPair> &offered = m_model->offeredPairs();
    if (json) {
        QJsonArray pairs;
        for (const OfferedPair &pair : offered)
            pairs.append(QJsonObject{{QStringLiteral("client"), pair.clientName},
                                     {QStringLiteral("reason"), pair.reasonName},
                                     {QStringLiteral("clientId"), pair.pair.clientId},
                                     {QStringLiteral("reasonId"), pair.pair.reasonId}});
        return CommandAnswer{0, QJsonDocument(pairs).toJson(QJsonDocument::Compact) + '\n'};
    }
    if (offered.isEmpty())
        return answerWith(0, QStringLiteral("Noch kein Kunde und Grund zuletzt genutzt."));
    QString lines;
    for (const OfferedPair &pair : offered)
        lines += pair.label() + u'\n';
    return answerWith(0, lines);
}
