#pragma once
// The command line's requests to the running instance, answered from the
// model it holds: --status, --stop, --start, --toggle and --recent. Starts
// and stops go through the model's own actions, with the guards and texts of
// the panel's buttons.

#include "app/timerstatus.h"

#include <QCoro/QCoroTask>
#include <QJsonObject>
#include <functional>

class Model;

class RemoteControl {
public:
    using Clock = std::function<QDateTime()>;
    explicit RemoteControl(Model *model, Clock clock = &QDateTime::currentDateTimeUtc);

    // "status", "status-json", "stop", "toggle", "recent", "recent-json", or
    // "start" with a JSON object of "client", "reason" and "note" after a
    // space (each may be left out); anything else is refused.
    QCoro::Task<CommandAnswer> answer(QByteArray command);

private:
    // Until no action and no asked reload is under way.
    QCoro::Task<> settle();
    QCoro::Task<CommandAnswer> stop();
    QCoro::Task<CommandAnswer> start(QJsonObject request);
    CommandAnswer recent(bool json) const;

    Model *m_model;
    Clock m_clock;
};
