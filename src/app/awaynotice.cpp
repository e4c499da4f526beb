#include "app/awaynotice.h"

#include "desktop/notifier.h"
#include "model/model.h"

#include <QLocale>
#include <QTimeZone>
#include <cmath>

namespace {

QString durationText(qint64 minutes) {
    if (minutes < 60)
        return QStringLiteral("%1 Min.").arg(minutes);
    const qint64 hours = minutes / 60;
    return minutes % 60 ? QStringLiteral("%1 Std. %2 Min.").arg(hours).arg(minutes % 60)
                        : QStringLiteral("%1 Std.").arg(hours);
}

// "14:05", or "7.12. 14:05" when the absence began on another day.
QString sinceText(const QDateTime &since, const QDateTime &back) {
    const QDateTime local = since.toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    return local.date() == back.toLocalTime().date()
               ? time
               : local.toString(QStringLiteral("d.M. ")) + time;
}

} // namespace

QString awayText(int minutes, const QDateTime &since, const QDateTime &back,
                 const std::optional<Entry> &running) {
    if (minutes <= 0 || !running || !since.isValid() || !back.isValid())
        return {};
    const qint64 awayMinutes = since.secsTo(back) / 60;
    // Started while away (on the phone, say): it did not run on unnoticed.
    const bool ranThrough = std::isfinite(running->startedAt) &&
                            qint64(running->startedAt) <= since.toMSecsSinceEpoch();
    if (awayMinutes < minutes || !ranThrough)
        return {};
    return QStringLiteral("Sie waren %1 weg (seit %2). Der Timer für %3 · %4 lief weiter.")
        .arg(durationText(awayMinutes), sinceText(since, back), running->clientName,
             running->reasonName);
}

AwayNotice::AwayNotice(Model *model, Notifier *notifier, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_notifier(notifier) {
    connect(model, &Model::stateChanged, this, &AwayNotice::sync);
    connect(model, &Model::signedInChanged, this, &AwayNotice::sync);
    connect(notifier, &Notifier::stopRequested, this, &AwayNotice::stopNotified);
    connect(notifier, &Notifier::webAppRequested, this, [this] {
        answered();
        Q_EMIT webAppRequested();
    });
}

void AwayNotice::setMinutes(int minutes) {
    if (minutes == m_minutes)
        return;
    m_minutes = minutes;
    Q_EMIT minutesChanged(minutes);
}

void AwayNotice::cameBack(const QDateTime &since, const QDateTime &now) {
    const auto &state = m_model->state();
    const std::optional<Entry> running =
        m_model->signedIn() && state ? state->running : std::nullopt;
    const QString text = awayText(m_minutes, since, now, running);
    if (text.isEmpty())
        return;
    m_entryId = running->id;
    m_model->setNotice(text);
    m_notifier->show(QStringLiteral("Timer lief weiter"), text, true, true);
}

bool AwayNotice::entryRuns() const {
    const auto &state = m_model->state();
    return m_model->signedIn() && state && state->running && state->running->id == m_entryId;
}

void AwayNotice::sync() {
    // The entry ended (here, on the phone, by the reminder): nothing to ask.
    if (!m_entryId.isEmpty() && !entryRuns())
        answered();
}

void AwayNotice::answered() {
    if (m_entryId.isEmpty())
        return;
    m_entryId.clear();
    m_notifier->close();
    m_model->setNotice(QString());
}

void AwayNotice::stopNotified() {
    const bool runs = entryRuns();
    answered();
    if (runs)
        m_model->runStop();
}
