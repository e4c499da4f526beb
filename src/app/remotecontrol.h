#pragma once
// The command line's questions to the running instance (--status, --stop),
// answered from the model it holds. Only a stop reaches the server, through
// the model's own `stop`, with the guards and texts of the panel's button.

#include "app/timerstatus.h"

#include <QCoro/QCoroTask>
#include <functional>

class Model;

class RemoteControl {
public:
    using Clock = std::function<QDateTime()>;
    explicit RemoteControl(Model *model, Clock clock = &QDateTime::currentDateTimeUtc);

    // "status", "status-json" or "stop"; anything else is refused.
    QCoro::Task<CommandAnswer> answer(QByteArray command);

private:
    QCoro::Task<CommandAnswer> stop();

    Model *m_model;
    Clock m_clock;
};
