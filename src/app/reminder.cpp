#include "app/reminder.h"

#include "app/timerstatus.h"
#include "desktop/notifier.h"
#include "model/model.h"

#include <QTimeZone>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace {
constexpr qint64 repeatSeconds = 2 * 3600;
}

Reminder::Reminder(Model *model, Notifier *notifier, Clock clock, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_notifier(notifier)
    , m_clock(std::move(clock)) {
    m_timer.setSingleShot(true);
    // Being a few seconds late costs nothing; the system may batch wake-ups.
    m_timer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Reminder::reschedule);
    connect(model, &Model::stateChanged, this, &Reminder::reschedule);
    connect(model, &Model::signedInChanged, this, &Reminder::reschedule);
    connect(this, &Reminder::due, this, &Reminder::remind);
    connect(notifier, &Notifier::stopRequested, this, &Reminder::stopNotified);
    reschedule();
}

void Reminder::setLimitHours(int hours) {
    m_limitHours = hours;
    reschedule();
}

void Reminder::reschedule() {
    m_timer.stop();
    m_nextDue = {};
    const auto &state = m_model->state();
    // A start time beyond any date (or NaN) cannot be reminded of.
    const bool runs = m_model->signedIn() && state && state->running &&
                      std::abs(state->running->startedAt) <= 8.64e15;
    const QString runningId = runs ? state->running->id : QString();
    if (!m_notifiedId.isEmpty() && m_notifiedId != runningId) {
        m_notifier->close();
        m_notifiedId.clear();
    }
    if (!runs || m_limitHours <= 0) {
        m_entryId.clear();
        m_lastReminded = {};
        return;
    }
    const Entry &entry = *state->running;
    if (entry.id != m_entryId) {
        m_entryId = entry.id;
        m_lastReminded = {};
    }
    const QDateTime started =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(entry.startedAt), QTimeZone::utc());
    const QDateTime now = m_clock();
    QDateTime next = m_lastReminded.isValid() ? m_lastReminded.addSecs(repeatSeconds)
                                              : started.addSecs(qint64(m_limitHours) * 3600);
    if (now >= next) {
        m_lastReminded = now;
        next = now.addSecs(repeatSeconds);
        Q_EMIT due(entry, started.secsTo(now));
    }
    m_nextDue = next;
    m_timer.start(std::chrono::milliseconds(
        std::clamp<qint64>(now.msecsTo(next), 0, std::numeric_limits<int>::max())));
}

void Reminder::remind(const Entry &entry, qint64 elapsedSeconds) {
    const qint64 hours = elapsedSeconds / 3600;
    const QString summary = hours == 1
                                ? QStringLiteral("Der Timer läuft seit einer Stunde")
                                : QStringLiteral("Der Timer läuft seit %1 Stunden").arg(hours);
    m_notifiedId = entry.id;
    m_notifier->show(summary, runningSummary(entry), true);
}

void Reminder::stopNotified() {
    const auto &state = m_model->state();
    if (m_model->signedIn() && state && state->running && state->running->id == m_notifiedId)
        m_model->runStop();
    else
        Q_EMIT openRequested();
}
