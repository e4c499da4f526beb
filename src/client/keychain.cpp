#include "client/keychain.h"

#include "client/logging.h"

#include <QCoro/QCoroSignal>
#include <memory>
#include <qt6keychain/keychain.h>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QLibrary>
#endif

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

template <typename JobType>
std::unique_ptr<JobType, DeleteLater> makeJob(const char *key = Keychain::key) {
    std::unique_ptr<JobType, DeleteLater> job(new JobType(QString::fromLatin1(Keychain::service)));
    // We own the job until it has finished; it must not vanish while it runs.
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->setKey(QString::fromLatin1(key));
    return job;
}

} // namespace

QString keychainErrorText(KeychainError::Kind kind) {
    using Kind = KeychainError::Kind;
    switch (kind) {
    case Kind::LibraryMissing:
        return QStringLiteral("Die Anmeldung kann nicht im Schlüsselbund gespeichert werden, weil "
                              "die Bibliothek libsecret fehlt. Bitte sie installieren (Paket "
                              "„libsecret-1-0“) und die App neu starten.");
    case Kind::NoSessionBus:
        return QStringLiteral("Kein Schlüsselbund erreichbar: Es besteht keine Verbindung zum "
                              "Sitzungsbus (D-Bus). Bitte die App in einer Desktop-Sitzung starten "
                              "und erneut versuchen. Die Anmeldung wird nie im Klartext "
                              "gespeichert.");
    case Kind::NoService:
        return QStringLiteral("Kein Schlüsselbund-Dienst gefunden. Bitte einen Schlüsselbund wie "
                              "GNOME Schlüsselbund (gnome-keyring) oder KWallet installieren und "
                              "starten, dann erneut versuchen. Die Anmeldung wird nie im Klartext "
                              "gespeichert.");
    case Kind::NoDefaultCollection:
        return QStringLiteral("Der Schlüsselbund-Dienst hat keinen Standard-Schlüsselbund, in dem "
                              "die Anmeldung gespeichert werden kann. Bitte in der "
                              "Schlüsselbundverwaltung (etwa „Passwörter und Verschlüsselung“) "
                              "einen Schlüsselbund anlegen und als Standard festlegen, dann erneut "
                              "versuchen.");
    case Kind::Locked:
        return QStringLiteral("Schlüsselbund gesperrt – bitte entsperren");
    case Kind::AccessDenied:
        return QStringLiteral("Der Schlüsselbund hat den Zugriff verweigert. Bitte ihn entsperren "
                              "(bei der Abfrage oder in der Schlüsselbundverwaltung) und erneut "
                              "versuchen.");
    case Kind::Other:
        break;
    }
    return QStringLiteral("Der Schlüsselbund hat einen unerwarteten Fehler gemeldet. Bitte erneut "
                          "versuchen; hilft das nicht, ab- und wieder bei der Desktop-Sitzung "
                          "anmelden.");
}

namespace {

KeychainError failure(KeychainError::Kind kind) {
    return KeychainError(kind, keychainErrorText(kind));
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
// QtKeychain reaches the Secret Service through libsecret, which it loads at
// run time, and reports most trouble there as OtherError with GLib's or the
// service's text, in whatever language those use. So ask the parts
// ourselves, in the order they are needed.

// Loaded the way QtKeychain loads it. QtKeychain decides once per process,
// so once is enough here too.
bool libsecretLoadable() {
    static const bool loadable = [] {
        QLibrary library(QStringLiteral("secret-1"), 0);
        return library.load() && library.resolve("secret_password_store") != nullptr;
    }();
    return loadable;
}

QCoro::Task<QDBusMessage> callSecretService(QString path, QString interface, QString method,
                                            QVariantList arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1("org.freedesktop.secrets"), path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
    if (!watcher.isFinished())
        co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    co_return watcher.reply();
}

// The default collection's path, or the error the Secret Service gave.
QCoro::Task<QDBusMessage> defaultCollection() {
    // Braced lists stay out of co_await expressions; GCC 12 rejects them there.
    const QVariantList aliasName{QString::fromLatin1("default")};
    co_return co_await callSecretService(QString::fromLatin1("/org/freedesktop/secrets"),
                                         QString::fromLatin1("org.freedesktop.Secret.Service"),
                                         QString::fromLatin1("ReadAlias"), aliasName);
}

QString collectionPath(const QDBusMessage &alias) {
    if (alias.type() != QDBusMessage::ReplyMessage)
        return {};
    const QString path = qdbus_cast<QDBusObjectPath>(alias.arguments().value(0)).path();
    return path == QLatin1String("/") ? QString() : path;
}

QCoro::Task<bool> isLocked(QString collection) {
    const QVariantList property{QString::fromLatin1("org.freedesktop.Secret.Collection"),
                                QString::fromLatin1("Locked")};
    const QDBusMessage locked = co_await callSecretService(
        collection, QString::fromLatin1("org.freedesktop.DBus.Properties"),
        QString::fromLatin1("Get"), property);
    if (locked.type() != QDBusMessage::ReplyMessage)
        co_return false;
    co_return qdbus_cast<QDBusVariant>(locked.arguments().value(0)).variant().toBool();
}

// Whether the default keyring is there and locked: then "not found" may
// only mean "not readable now".
QCoro::Task<bool> defaultCollectionLocked() {
    if (!libsecretLoadable() || !QDBusConnection::sessionBus().isConnected())
        co_return false;
    const QString collection = collectionPath(co_await defaultCollection());
    // Not `a && co_await b`: GCC 12 awaits b even when a is false.
    if (collection.isEmpty())
        co_return false;
    co_return co_await isLocked(collection);
}

QCoro::Task<KeychainError::Kind> diagnose() {
    using Kind = KeychainError::Kind;
    if (!libsecretLoadable())
        co_return Kind::LibraryMissing;
    if (!QDBusConnection::sessionBus().isConnected())
        co_return Kind::NoSessionBus;
    const QDBusMessage alias = co_await defaultCollection();
    if (alias.type() == QDBusMessage::ErrorMessage) {
        qCDebug(lcKeyring) << "Secret Service:" << alias.errorName() << alias.errorMessage();
        const QString name = alias.errorName();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
            name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn.")))
            co_return Kind::NoService;
        co_return Kind::Other;
    }
    const QString collection = collectionPath(alias);
    if (collection.isEmpty())
        co_return Kind::NoDefaultCollection;
    // A dismissed unlock prompt may end in a plain error; the collection
    // still says it is locked.
    if (co_await isLocked(collection))
        co_return Kind::Locked;
    co_return Kind::Other;
}

// Hears the Secret Service's prompt end, whether unlocked or dismissed.
class PromptDone : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void finished();
public Q_SLOTS:
    void completed() { Q_EMIT finished(); }
};

// Asks the Secret Service to unlock the default keyring; it shows its own
// prompt for the password and answers once the user is done with it.
QCoro::Task<> unlockDefaultCollection() {
    const QString collection = collectionPath(co_await defaultCollection());
    if (collection.isEmpty())
        co_return;
    const QVariantList objects{
        QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(collection)})};
    const QDBusMessage unlock =
        co_await callSecretService(QString::fromLatin1("/org/freedesktop/secrets"),
                                   QString::fromLatin1("org.freedesktop.Secret.Service"),
                                   QString::fromLatin1("Unlock"), objects);
    const QString prompt = qdbus_cast<QDBusObjectPath>(unlock.arguments().value(1)).path();
    if (unlock.type() != QDBusMessage::ReplyMessage || prompt.isEmpty() ||
        prompt == QLatin1String("/"))
        co_return;
    PromptDone done;
    QDBusConnection::sessionBus().connect(QString::fromLatin1("org.freedesktop.secrets"), prompt,
                                          QString::fromLatin1("org.freedesktop.Secret.Prompt"),
                                          QString::fromLatin1("Completed"), &done,
                                          SLOT(completed()));
    auto completed = qCoro(&done, &PromptDone::finished);
    const QVariantList windowId{QString()};
    const QDBusMessage shown =
        co_await callSecretService(prompt, QString::fromLatin1("org.freedesktop.Secret.Prompt"),
                                   QString::fromLatin1("Prompt"), windowId);
    if (shown.type() == QDBusMessage::ReplyMessage)
        co_await completed;
}
#else
QCoro::Task<bool> defaultCollectionLocked() {
    co_return false;
}
QCoro::Task<KeychainError::Kind> diagnose() {
    co_return KeychainError::Kind::Other;
}
QCoro::Task<> unlockDefaultCollection() {
    co_return;
}
#endif

QCoro::Task<KeychainError> failureOf(QKeychain::Error error, QString errorString) {
    // The service's own text is English or in another language, and never
    // says what to do; it is kept for the log only.
    qCDebug(lcKeyring) << "keyring job failed:" << error << errorString;
    switch (error) {
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        // A prompt to unlock that could not show, or was dismissed.
        co_return failure(co_await defaultCollectionLocked() ? KeychainError::Kind::Locked
                                                             : KeychainError::Kind::AccessDenied);
    default:
        break;
    }
    KeychainError::Kind kind = co_await diagnose();
    if (kind == KeychainError::Kind::Other &&
        (error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented))
        kind = KeychainError::Kind::NoService;
    co_return failure(kind);
}

// Throws what went wrong with the finished job, in the user's words.
// (Never `throw co_await`: GCC 12 frees the exception it builds there.)
QCoro::Task<> fail(const QKeychain::Job &job) {
    const KeychainError error = co_await failureOf(job.error(), job.errorString());
    throw error;
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
    // Only `known` is touched after the wait: this store may be gone by then.
    const std::shared_ptr<Known> known = m_known;
    if (known->token)
        co_return std::optional<QString>(known->token);
    const quint64 generation = known->generation;
    auto job = makeJob<QKeychain::ReadPasswordJob>();
    co_await run(job.get());
    // "Not found" is not kept, and from a locked keyring it is not believed:
    // the token may be in there.
    if (job->error() == QKeychain::EntryNotFound) {
        if (co_await defaultCollectionLocked())
            throw failure(KeychainError::Kind::Locked);
        co_return std::nullopt;
    }
    if (job->error() != QKeychain::NoError)
        co_await fail(*job);
    if (known->generation == generation)
        known->token = job->textData();
    co_return job->textData();
}

QCoro::Task<> Keychain::unlock() {
    co_await unlockDefaultCollection();
}

QCoro::Task<> Keychain::set(QString token) {
    const std::shared_ptr<Known> known = m_known;
    known->token.reset();
    const quint64 generation = ++known->generation;
    auto job = makeJob<QKeychain::WritePasswordJob>();
    job->setTextData(token);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        co_await fail(*job);
    if (known->generation == generation)
        known->token = token;
}

QCoro::Task<> Keychain::remove() {
    m_known->token.reset();
    ++m_known->generation;
    auto job = makeJob<QKeychain::DeletePasswordJob>();
    co_await run(job.get());
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        co_await fail(*job);
}

QCoro::Task<> Keychain::checkWritable() {
    // Only a write proves it: a locked or missing collection still answers
    // a read with "not found".
    auto probe = makeJob<QKeychain::WritePasswordJob>(probeKey);
    probe->setTextData(QString());
    co_await run(probe.get());
    if (probe->error() != QKeychain::NoError)
        co_await fail(*probe);
    auto cleanup = makeJob<QKeychain::DeletePasswordJob>(probeKey);
    co_await run(cleanup.get());
    // An empty item left behind holds nothing secret; the keyring works.
    if (cleanup->error() != QKeychain::NoError)
        qCDebug(lcKeyring) << "probe item not removed:" << cleanup->errorString();
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

QCoro::Task<> MemoryTokenStore::checkWritable() {
    if (m_failure)
        throw *m_failure;
    co_return;
}

QCoro::Task<> MemoryTokenStore::unlock() {
    ++m_unlocks;
    // As if the user typed the password: a locked store opens.
    if (m_failure && m_failure->kind() == KeychainError::Kind::Locked)
        m_failure.reset();
    co_return;
}

QCoro::Task<> MemoryTokenStore::remove() {
    if (m_failure)
        throw *m_failure;
    m_token.reset();
    co_return;
}

#include "keychain.moc"
