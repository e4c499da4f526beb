#include "client/transport.h"

#include "client/failure.h"
#include "client/networkerrortext.h"

#include <QCoro/QCoroNetworkReply>
#include <QLocale>
#include <QNetworkReply>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// "30", "1,5", "0,25": German digits, no trailing zeros.
QString germanNumber(double value) {
    return QLocale(QLocale::German, QLocale::Germany).toString(value, 'g', 4);
}

QString secondsText(std::chrono::milliseconds duration) {
    const double seconds = static_cast<double>(duration.count()) / 1000.0;
    return germanNumber(seconds) +
           (seconds == 1.0 ? QStringLiteral(" Sekunde") : QStringLiteral(" Sekunden"));
}

QString sizeText(qint64 bytes) {
    constexpr double mib = 1024.0 * 1024.0;
    if (bytes >= 1024 * 1024)
        return germanNumber(static_cast<double>(bytes) / mib) + QStringLiteral(" MiB");
    if (bytes >= 1024)
        return germanNumber(static_cast<double>(bytes) / 1024.0) + QStringLiteral(" KiB");
    return QString::number(bytes) + QStringLiteral(" Bytes");
}

bool sameOrigin(const QUrl &a, const QUrl &b) {
    const auto defaultPort = [](const QUrl &url) {
        return url.scheme() == QLatin1String("https") ? 443 : 80;
    };
    return a.scheme() == b.scheme() && a.host() == b.host() &&
           a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// The error Qt derives from an HTTP status of 400 or more. Such an answer
// came whole and goes back with its status; any other error means it did not.
QNetworkReply::NetworkError errorForStatus(int status) {
    switch (status) {
    case 400:
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        if (status > 500)
            return QNetworkReply::UnknownServerError;
        if (status >= 400)
            return QNetworkReply::UnknownContentError;
        return QNetworkReply::NoError;
    }
}

bool isCompressed(const QNetworkReply &reply) {
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    return !encoding.isEmpty() && encoding != "identity";
}

constexpr qint64 readBufferBytes = 256 * 1024;

// Moves what the reply holds into `into` without a temporary copy, growing
// `into` geometrically but never beyond `max`: reading up to the cap costs
// about the cap.
void appendAvailable(QByteArray &into, QNetworkReply &reply, qint64 max) {
    const qint64 available = reply.bytesAvailable();
    if (available <= 0)
        return;
    const qsizetype old = into.size();
    const qsizetype needed = old + qsizetype(available);
    if (needed > into.capacity())
        into.reserve(std::max(needed, std::min<qsizetype>(2 * into.capacity(), qsizetype(max))));
    into.resize(needed);
    const qint64 got = reply.read(into.data() + old, available);
    into.resize(old + qsizetype(std::max<qint64>(got, 0)));
}

QString incompleteText(QString why) {
    if (why.endsWith(u'.'))
        why.chop(1);
    return QStringLiteral("Die Antwort des Servers kam nicht vollständig an (%1).").arg(why);
}

// Throws unless the answer arrived whole: no error but the one its status
// explains, and a body as long as announced.
void checkComplete(const QNetworkReply &reply, int status, const QByteArray &body,
                   const QUrl &origin) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error != QNetworkReply::NoError && error != errorForStatus(status)) {
        if (error == QNetworkReply::UnknownContentError && isCompressed(reply))
            throw TransportError(error, incompleteText(QStringLiteral("nicht lesbar komprimiert")));
        const QString text = networkErrorText(error, reply.errorString(), origin);
        // A connection that failed mid-answer; other errors (too many
        // redirects, say) speak for themselves.
        throw TransportError(error, int(error) < 100 ? incompleteText(text) : text);
    }
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    const bool bodyExpected =
        status != 204 && status != 304 && reply.operation() != QNetworkAccessManager::HeadOperation;
    if (bodyExpected && !isCompressed(reply) && length.isValid() &&
        body.size() < length.toLongLong())
        throw TransportError(
            QNetworkReply::RemoteHostClosedError,
            incompleteText(
                QStringLiteral("%1 von %2 Bytes").arg(body.size()).arg(length.toLongLong())));
}

} // namespace

Transport::Transport(QObject *parent)
    : QObject(parent) {
    // The manager's defaults are what we want: no disk cache, cookies in
    // memory only. Redirects are decided per request below.
}

Transport::~Transport() {
    m_closing = true;
    // Aborting finishes each reply at once; its send() resumes and ends here.
    // A finished one must not finish again: its waiter is gone.
    const auto replies = m_manager.findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly);
    for (QNetworkReply *reply : replies)
        if (reply->isRunning())
            reply->abort();
}

QCoro::Task<HttpAnswer> Transport::send(QNetworkRequest request, QByteArray method,
                                        std::optional<QByteArray> body) {
    const TransportLimits limits = this->limits;
    const QUrl origin = request.url();
    request.setTransferTimeout(static_cast<int>(limits.idleTimeout.count()));
    // Qt would otherwise follow a redirect to any host with every header,
    // the bearer token included.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);

    std::unique_ptr<QNetworkReply, DeleteLater> reply(
        body ? m_manager.sendCustomRequest(request, method, *body)
             : m_manager.sendCustomRequest(request, method));

    enum class Abort { None, Deadline, TooLarge, Redirect };
    Abort aborted = Abort::None;
    QUrl refusedRedirect;
    QByteArray received;

    // Connections and the timer live in this frame and end with it.
    QObject guard;
    QTimer deadline;
    deadline.setSingleShot(true);
    QNetworkReply *r = reply.get();
    // Qt buffers at most this much beyond what we have taken.
    r->setReadBufferSize(readBufferBytes);
    // Aborting finishes the reply at once, which resumes this coroutine and
    // ends the frame; so abort from the event loop, never inside a signal of
    // an object that lives here.
    const auto abortSoon = [r](Abort &flag, Abort why) {
        flag = why;
        // Only while it runs: aborting a finished reply finishes it again,
        // which would resume a waiter that is gone.
        QMetaObject::invokeMethod(
            r,
            [r] {
                if (r->isRunning())
                    r->abort();
            },
            Qt::QueuedConnection);
    };
    QObject::connect(&deadline, &QTimer::timeout, &guard, [&aborted, abortSoon] {
        if (aborted == Abort::None)
            abortSoon(aborted, Abort::Deadline);
    });
    deadline.start(limits.deadline);

    const auto readChunk = [&aborted, &received, r, abortSoon, max = limits.maxBodyBytes] {
        if (aborted != Abort::None || !r->isOpen())
            return;
        // Refuse before reading, so never more than the cap is held.
        if (received.size() + r->bytesAvailable() > max) {
            abortSoon(aborted, Abort::TooLarge);
            return;
        }
        appendAvailable(received, *r, max);
    };
    QObject::connect(r, &QNetworkReply::readyRead, &guard, readChunk);
    QObject::connect(r, &QNetworkReply::metaDataChanged, &guard,
                     [&aborted, &received, r, abortSoon, max = limits.maxBodyBytes] {
                         const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
                         if (aborted == Abort::None && length.isValid() &&
                             length.toLongLong() > max)
                             abortSoon(aborted, Abort::TooLarge);
                         else if (length.isValid() && !isCompressed(*r))
                             received.reserve(length.toLongLong()); // one buffer, no regrowth
                     });
    QObject::connect(r, &QNetworkReply::redirected, &guard,
                     [&aborted, &refusedRedirect, r, abortSoon, origin](const QUrl &target) {
                         if (aborted != Abort::None)
                             return;
                         if (sameOrigin(origin, target)) {
                             Q_EMIT r->redirectAllowed();
                             return;
                         }
                         refusedRedirect = target;
                         abortSoon(aborted, Abort::Redirect);
                     });

    co_await r;
    deadline.stop();
    if (m_closing)
        throw TransportError(QNetworkReply::OperationCanceledError,
                             QStringLiteral("Die Anfrage wurde abgebrochen."));
    readChunk();

    switch (aborted) {
    case Abort::Deadline:
        throw TransportError(QNetworkReply::TimeoutError,
                             QStringLiteral("Der Server hat nicht innerhalb von %1 geantwortet.")
                                 .arg(secondsText(limits.deadline)));
    case Abort::TooLarge:
        throw TransportError(
            QNetworkReply::UnknownContentError,
            QStringLiteral("Die Antwort des Servers ist größer als %1 und wurde abgebrochen.")
                .arg(sizeText(limits.maxBodyBytes)));
    case Abort::Redirect:
        throw TransportError(
            QNetworkReply::InsecureRedirectError,
            QStringLiteral("Der Server leitet auf eine andere Adresse weiter (%1). Aus "
                           "Sicherheitsgründen wird dem nicht gefolgt.")
                .arg(refusedRedirect.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemovePath |
                                                     QUrl::RemoveQuery | QUrl::RemoveFragment)));
    case Abort::None:
        break;
    }

    const QNetworkReply::NetworkError error = r->error();
    // Only the transfer timeout cancels a reply that we did not abort
    // ourselves; newer Qt versions report it as a time-out.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
        throw TransportError(QNetworkReply::TimeoutError,
                             QStringLiteral("Der Server hat %1 lang nicht geantwortet.")
                                 .arg(secondsText(limits.idleTimeout)));

    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // HTTP has three-digit statuses from 100 to 599; Qt takes "01" for 1.
    if (!status.isValid() || status.toInt() < 100 || status.toInt() > 599) {
        if (error != QNetworkReply::NoError)
            throw TransportError(error, networkErrorText(error, r->errorString(), origin));
        throw TransportError(QNetworkReply::ProtocolFailure,
                             QStringLiteral("Der Server hat keine gültige Antwort gesendet."));
    }
    checkComplete(*r, status.toInt(), received, origin);
    // Qt takes a connection that closes between two chunks for the end of a
    // chunked answer; only a body of announced length is proven whole.
    const bool lengthKnown =
        !isCompressed(*r) && r->header(QNetworkRequest::ContentLengthHeader).isValid();
    co_return HttpAnswer{status.toInt(), std::move(received), lengthKnown};
}
