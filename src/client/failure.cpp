#include "client/failure.h"

#include <utility>

Failure::Failure(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8()) {}

ServiceError::ServiceError(qint64 code, QString description)
    : Failure(std::move(description))
    , m_code(code) {}

TransportError::TransportError(QNetworkReply::NetworkError error, QString description)
    : Failure(std::move(description))
    , m_error(error) {}

KeychainError::KeychainError(Kind kind, QString description)
    : Failure(std::move(description))
    , m_kind(kind) {}

QString failureText(const std::exception &e) {
    if (const auto *failure = dynamic_cast<const Failure *>(&e))
        return failure->description();
    return QStringLiteral("Unerwarteter Fehler: %1").arg(QString::fromUtf8(e.what()));
}
