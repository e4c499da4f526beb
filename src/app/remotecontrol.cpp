#include "app/remotecontrol.h"

#include "model/model.h"

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>

RemoteControl::RemoteControl(Model *model, Clock clock)
    : m_model(model)
    , m_clock(std::move(clock)) {}

QCoro::Task<CommandAnswer> RemoteControl::answer(QByteArray command) {
    if (command == "status")
        co_return timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (command == "status-json")
        co_return timerStatus(m_model->signedIn(), m_model->state(), m_clock(), true);
    if (command == "stop")
        co_return co_await stop();
    co_return CommandAnswer{2, QByteArrayLiteral("Unbekannter Befehl.\n")};
}

QCoro::Task<CommandAnswer> RemoteControl::stop() {
    // An action under way (the panel's, or a first --stop) ends first; this
    // one then answers from what it left, "Kein Timer läuft" after a stop.
    // Every request has a deadline, so the wait ends.
    while (m_model->busy() || m_model->reloading()) {
        if (m_model->busy()) {
            co_await qCoro(m_model, &Model::busyChanged);
            // A start or stop reloads right after; let it begin.
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        } else {
            co_await qCoro(m_model, &Model::reloadingChanged);
        }
    }
    const CommandAnswer status =
        timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (status.exitCode != TimerRuns)
        co_return status;
    if (co_await m_model->stop()) {
        // The model's note on the stop, such as a sync still to come.
        const QString note = m_model->message();
        co_return CommandAnswer{TimerRuns, (QStringLiteral("Timer gestoppt.\n") +
                                            (note.isEmpty() ? QString() : note + u'\n'))
                                               .toUtf8()};
    }
    co_return CommandAnswer{ServerRefused, (m_model->message() + u'\n').toUtf8()};
}
