// The one way to the time server: builds the request, attaches the token,
// and turns the answer into a body or a failure.

#include "client/decoder.h"
#include "client/endpoint.h"
#include "client/failure.h"
#include "client/logging.h"
#include "model/model.h"
#include "model/ownergone.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkRequest>

namespace {

QByteArray devicePlatform() {
#if defined(Q_OS_MACOS)
    return QByteArrayLiteral("macos");
#elif defined(Q_OS_WIN)
    return QByteArrayLiteral("windows");
#else
    return QByteArrayLiteral("linux");
#endif
}

QString errorText(int status, const QByteArray &body) {
    try {
        return decodeApiError(body).error;
    } catch (const DecodingError &) {
        return QStringLiteral("Serverfehler ") + QString::number(status);
    }
}

// Whether a JSON text stops inside a string, object or array, as one cut off
// in transit does (a bare string too). Malformed texts are left to the decoder.
bool endsInsideJson(const QByteArray &body) {
    const QByteArray text = body.trimmed();
    qsizetype depth = 0;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return inString || depth > 0;
}

} // namespace

QCoro::Task<QByteArray> Model::request(const Route &route, std::optional<QJsonObject> body) {
    // Everything after a wait checks this first; see ownergone.h.
    const QPointer<const QObject> self(this);
    const std::shared_ptr<TokenStore> tokens = m_tokenStore;
    const std::optional<QUrl> base = endpoint();
    if (!base)
        throw ServiceError(1, QStringLiteral("Bitte gültige HTTPS-Adresse eingeben."));

    QNetworkRequest request(appendPath(*base, QLatin1String(route.path)));
    request.setRawHeader("Accept", "application/json");
    if (route.sendsDevice)
        request.setRawHeader("X-Velmora-Device", devicePlatform());
    if (route.authenticated) {
        // A keyring that cannot be read stops the request here: sent without
        // the token, its 401 would remove a token that is still valid.
        const std::optional<QString> token = co_await unlessGone(self, tokens->get());
        if (token)
            request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    }
    std::optional<QByteArray> payload;
    if (body) {
        request.setRawHeader("Content-Type", "application/json");
        payload = QJsonDocument(*body).toJson(QJsonDocument::Compact);
    }

    // Method, path, status, time and size; never headers or bodies.
    QElapsedTimer took;
    took.start();
    HttpAnswer answer;
    try {
        answer = co_await unlessGone(self, m_transport->send(request, route.method, payload));
    } catch (const Failure &failure) {
        qCInfo(lcNet).nospace() << route.method << " " << route.path << " failed after "
                                << took.elapsed() << " ms: " << failure.description();
        throw;
    }
    qCInfo(lcNet).nospace() << route.method << " " << route.path << " " << answer.status << " in "
                            << took.elapsed() << " ms, " << answer.body.size() << " bytes";
    if (answer.status >= 200 && answer.status <= 299) {
        // Every answer but 204 carries a JSON text, and its own end is the
        // proof that it came whole: a server may announce the length of a
        // text it cut itself.
        const bool empty = answer.body.trimmed().isEmpty();
        if (empty ? !answer.lengthKnown && answer.status != 204 : endsInsideJson(answer.body))
            throw TransportError(QNetworkReply::RemoteHostClosedError,
                                 QStringLiteral("Die Antwort des Servers kam nicht vollständig an "
                                                "(sie bricht vor ihrem Ende ab)."));
        co_return answer.body;
    }

    if (answer.status == 401) {
        qCInfo(lcModel) << "401: the stored token is dropped";
        setSignedIn(false);
        try {
            co_await unlessGone(self, tokens->remove());
        } catch (const KeychainError &) {
            // Signed out all the same; the server's answer is what to show.
        }
    }
    throw ServiceError(answer.status, errorText(answer.status, answer.body));
}
