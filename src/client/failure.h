#pragma once
// Every failure the client reports carries the German text the user reads.

#include <QNetworkReply>
#include <QString>
#include <exception>

class Failure : public std::exception {
public:
    explicit Failure(QString description);
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// Raised by the client itself: code 1 for an unusable server address, the HTTP
// status for a failing answer, 2 for a QR code that cannot be made.
class ServiceError : public Failure {
public:
    ServiceError(qint64 code, QString description);
    qint64 code() const noexcept { return m_code; }
    const QString &localizedDescription() const noexcept { return description(); }

private:
    qint64 m_code;
};

// An answer that is not the record it should be; the text names the key path.
class DecodingError : public Failure {
public:
    using Failure::Failure;
};

// No answer came: connection, TLS, time-outs, size cap, refused redirects.
class TransportError : public Failure {
public:
    TransportError(QNetworkReply::NetworkError error, QString description);
    QNetworkReply::NetworkError error() const noexcept { return m_error; }

private:
    QNetworkReply::NetworkError m_error;
};

// The keyring could not be used. Never the same as "no token stored".
class KeychainError : public Failure {
public:
    enum class Kind {
        LibraryMissing,      // libsecret could not be loaded
        NoSessionBus,        // no D-Bus session to reach a keyring through
        NoService,           // a session, but no Secret Service on it
        NoDefaultCollection, // a Secret Service without a keyring to store in
        Locked,              // locked: what it holds cannot be read until unlocked
        AccessDenied,        // the user or the service refused access
        Other
    };
    KeychainError(Kind kind, QString description);
    Kind kind() const noexcept { return m_kind; }

private:
    Kind m_kind;
};

// The text the user reads for any failure caught: ours carry it, anything
// else is named unexpected.
QString failureText(const std::exception &e);
