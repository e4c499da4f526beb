#include "app/remotecontrol.h"

#include "model/model.h"

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
    const CommandAnswer status =
        timerStatus(m_model->signedIn(), m_model->state(), m_clock(), false);
    if (status.exitCode != TimerRuns)
        co_return status;
    if (m_model->busy()) {
        co_return CommandAnswer{ServerRefused, QStringLiteral("Gerade läuft schon eine Aktion; "
                                                              "bitte gleich noch einmal "
                                                              "versuchen.\n")
                                                   .toUtf8()};
    }
    if (co_await m_model->stop()) {
        // The model's note on the stop, such as a sync still to come.
        const QString note = m_model->message();
        co_return CommandAnswer{TimerRuns, (QStringLiteral("Timer gestoppt.\n") +
                                            (note.isEmpty() ? QString() : note + u'\n'))
                                               .toUtf8()};
    }
    co_return CommandAnswer{ServerRefused, (m_model->message() + u'\n').toUtf8()};
}
