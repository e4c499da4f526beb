#include "client/keychain.h"

#include <QCoro/QCoroSignal>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

template <typename JobType> std::unique_ptr<JobType, DeleteLater> makeJob() {
    std::unique_ptr<JobType, DeleteLater> job(new JobType(QString::fromLatin1(Keychain::service)));
    // We own the job until it has finished; it must not vanish while it runs.
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(QString::fromLatin1(Keychain::key));
    return job;
}

// Without a reachable Secret Service, libsecret ends the job in OtherError
// with GLib's D-Bus message rather than NoBackendAvailable.
bool secretServiceUnreachable(const QString &message) {
    static const QLatin1String signs[] = {
        QLatin1String("connect"), QLatin1String("D-Bus"), QLatin1String("DBus"),
        QLatin1String("org.freedesktop.secrets"), QLatin1String("autolaunch")};
    for (const QLatin1String &sign : signs)
        if (message.contains(sign, Qt::CaseInsensitive))
            return true;
    return false;
}

KeychainError failureOf(const QKeychain::Job &job) {
    switch (job.error()) {
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        break;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return KeychainError(KeychainError::Kind::AccessDenied,
                             QStringLiteral("Der Schlüsselbund ist gesperrt oder hat den Zugriff "
                                            "verweigert. Bitte entsperren und erneut versuchen."));
    case QKeychain::OtherError:
        if (secretServiceUnreachable(job.errorString()))
            break;
        [[fallthrough]];
    default:
        return KeychainError(KeychainError::Kind::Other,
                             QStringLiteral("Fehler im Schlüsselbund: %1").arg(job.errorString()));
    }
    return KeychainError(KeychainError::Kind::Unavailable,
                         QStringLiteral("Kein Schlüsselbund erreichbar (Secret Service, etwa GNOME "
                                        "Schlüsselbund oder KWallet). Die Anmeldung wird nie im "
                                        "Klartext gespeichert."));
}

// Starts the job and resumes once it has finished, also when it finishes
// inside start().
QCoro::Task<> run(QKeychain::Job *job) {
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, job, [&finished] { finished = true; });
    auto finishedSignal = qCoro(job, &QKeychain::Job::finished);
    job->start();
    if (!finished)
        co_await finishedSignal;
}

} // namespace

QCoro::Task<std::optional<QString>> Keychain::get() {
    auto job = makeJob<QKeychain::ReadPasswordJob>();
    co_await run(job.get());
    if (job->error() == QKeychain::EntryNotFound)
        co_return std::nullopt;
    if (job->error() != QKeychain::NoError)
        throw failureOf(*job);
    co_return job->textData();
}

QCoro::Task<> Keychain::set(QString token) {
    auto job = makeJob<QKeychain::WritePasswordJob>();
    job->setTextData(token);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        throw failureOf(*job);
}

QCoro::Task<> Keychain::remove() {
    auto job = makeJob<QKeychain::DeletePasswordJob>();
    co_await run(job.get());
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        throw failureOf(*job);
}

MemoryTokenStore::MemoryTokenStore(std::optional<QString> token)
    : m_token(std::move(token)) {}

QCoro::Task<std::optional<QString>> MemoryTokenStore::get() {
    if (m_failure)
        throw *m_failure;
    // A copy: QCoro 0.8 moves from a non-const lvalue given to co_return.
    co_return std::optional<QString>(m_token);
}

QCoro::Task<> MemoryTokenStore::set(QString token) {
    if (m_failure)
        throw *m_failure;
    m_token = std::move(token);
    co_return;
}

QCoro::Task<> MemoryTokenStore::remove() {
    if (m_failure)
        throw *m_failure;
    m_token.reset();
    co_return;
}
