#include "client/transport.h"

#include "client/failure.h"
#include "client/networkerrortext.h"

#include <QCoro/QCoroNetworkReply>
#include <QLocale>
#include <QNetworkReply>
#include <QTimer>
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

// Errors that mean no complete answer came, as opposed to the ones Qt derives
// from an HTTP status (which we hand back with the status instead).
bool isTransportFailure(QNetworkReply::NetworkError error) {
    const int code = error;
    return (code >= 1 && code <= 99) || error == QNetworkReply::ProtocolUnknownError ||
           error == QNetworkReply::ProtocolFailure;
}

} // namespace

Transport::Transport(QObject *parent)
    : QObject(parent) {
    // The manager's defaults are what we want: no disk cache, cookies in
    // memory only. Redirects are decided per request below.
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
    // Aborting finishes the reply at once, which resumes this coroutine and
    // ends the frame; so abort from the event loop, never inside a signal of
    // an object that lives here.
    const auto abortSoon = [r](Abort &flag, Abort why) {
        flag = why;
        QMetaObject::invokeMethod(r, &QNetworkReply::abort, Qt::QueuedConnection);
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
        received += r->readAll();
    };
    QObject::connect(r, &QNetworkReply::readyRead, &guard, readChunk);
    QObject::connect(r, &QNetworkReply::metaDataChanged, &guard,
                     [&aborted, r, abortSoon, max = limits.maxBodyBytes] {
                         const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
                         if (aborted == Abort::None && length.isValid() &&
                             length.toLongLong() > max)
                             abortSoon(aborted, Abort::TooLarge);
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
    if (isTransportFailure(error))
        throw TransportError(error, networkErrorText(error, r->errorString(), origin));

    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (error != QNetworkReply::NoError)
            throw TransportError(error, networkErrorText(error, r->errorString(), origin));
        throw TransportError(QNetworkReply::ProtocolFailure,
                             QStringLiteral("Der Server hat keine gültige Antwort gesendet."));
    }
    co_return HttpAnswer{status.toInt(), std::move(received)};
}
