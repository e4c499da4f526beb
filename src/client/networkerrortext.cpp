#include "client/networkerrortext.h"

#include "client/logging.h"

namespace {

QString ownText(QNetworkReply::NetworkError error, const QString &host) {
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::ConnectionRefusedError:
        return QStringLiteral("Der Server %1 hat die Verbindung abgelehnt. Bitte die Adresse "
                              "prüfen oder später erneut versuchen.")
            .arg(host);
    case E::RemoteHostClosedError:
        return QStringLiteral("Der Server %1 hat die Verbindung unerwartet beendet. Bitte erneut "
                              "versuchen.")
            .arg(host);
    case E::HostNotFoundError:
        return QStringLiteral("Der Server %1 wurde nicht gefunden. Bitte die Adresse und die "
                              "Internetverbindung prüfen.")
            .arg(host);
    case E::TimeoutError:
    case E::OperationCanceledError:
        return QStringLiteral("Der Server %1 hat nicht rechtzeitig geantwortet. Bitte später "
                              "erneut versuchen.")
            .arg(host);
    case E::SslHandshakeFailedError:
        return QStringLiteral("Keine sichere Verbindung zu %1 möglich: Das Zertifikat des Servers "
                              "wurde nicht angenommen oder die Verschlüsselung passt nicht. Bitte "
                              "die Adresse prüfen.")
            .arg(host);
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::BackgroundRequestNotAllowedError:
        return QStringLiteral("Keine Netzwerkverbindung. Bitte die Internetverbindung prüfen und "
                              "erneut versuchen.");
    case E::TooManyRedirectsError:
    case E::InsecureRedirectError:
        return QStringLiteral("Der Server %1 leitet nicht verwertbar weiter. Bitte die Adresse "
                              "prüfen.")
            .arg(host);
    case E::ProxyConnectionRefusedError:
    case E::ProxyNotFoundError:
        return QStringLiteral("Der Proxy-Server ist nicht erreichbar. Bitte die "
                              "Proxy-Einstellungen prüfen.");
    case E::ProxyConnectionClosedError:
    case E::ProxyTimeoutError:
    case E::UnknownProxyError:
        return QStringLiteral("Der Proxy-Server hat die Verbindung nicht vermittelt. Bitte die "
                              "Proxy-Einstellungen prüfen oder später erneut versuchen.");
    case E::ProxyAuthenticationRequiredError:
        return QStringLiteral("Der Proxy-Server verlangt eine Anmeldung. Bitte die "
                              "Proxy-Einstellungen prüfen.");
    case E::ProtocolUnknownError:
    case E::ProtocolInvalidOperationError:
        return QStringLiteral(
                   "Die Adresse %1 kann nicht abgerufen werden. Bitte eine HTTPS-Adresse "
                   "eingeben.")
            .arg(host);
    case E::UnknownServerError: // a status beyond HTTP's, such as 600
        return QStringLiteral("Der Server %1 hat keine gültige Antwort gesendet. Bitte später "
                              "erneut versuchen.")
            .arg(host);
    case E::ProtocolFailure:
    case E::UnknownContentError:
        return QStringLiteral("Der Server %1 hat keine vollständige, lesbare Antwort gesendet. "
                              "Bitte erneut versuchen.")
            .arg(host);
    default:
        break;
    }
    // UnknownNetworkError among them, which is also what a refusing SOCKS
    // proxy gives.
    return QStringLiteral("Keine Verbindung zum Server %1. Bitte die Internetverbindung und die "
                          "Proxy-Einstellungen prüfen und erneut versuchen.")
        .arg(host);
}

} // namespace

QString networkErrorText(QNetworkReply::NetworkError error, const QString &qtText,
                         const QUrl &url) {
    // Qt's text, translated or not, may be doubled, carry the library's
    // English or the full address; it goes to the log only.
    qCInfo(lcNet).noquote() << "network error" << error << qtText;
    const QString host = url.host().isEmpty() ? QStringLiteral("(ohne Adresse)") : url.host();
    return ownText(error, host);
}
