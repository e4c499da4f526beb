#pragma once
// Sends one HTTP request through its own network manager and waits for the
// whole answer without blocking the event loop. Knows nothing of the time
// server's endpoints; that is Model::request.

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <chrono>
#include <optional>

struct HttpAnswer {
    int status = 0;
    QByteArray body;
    // The body's length was announced and met. Otherwise (chunked or
    // compressed) a connection closed early can pass for the end, and the
    // caller must check the body's own end.
    bool lengthKnown = false;
};

struct TransportLimits {
    // A request that makes no progress for this long fails.
    std::chrono::milliseconds idleTimeout{30'000};
    // A request that is not done after this long fails.
    std::chrono::milliseconds deadline{60'000};
    // A larger answer is cut off with a failure instead of being held.
    qint64 maxBodyBytes = 64LL * 1024 * 1024;
};

class Transport : public QObject {
    Q_OBJECT
public:
    explicit Transport(QObject *parent = nullptr);
    // Aborts every pending request: each send() then ends with a
    // TransportError. An owner keeps its Transport as a child, so this runs
    // once the owner's QPointers are already null.
    ~Transport() override;

    // The answer with its status, whatever the status. Throws TransportError
    // when no complete HTTP answer came (connection, TLS, time-outs, size cap,
    // a body shorter than announced or not decompressible, any error of Qt's
    // that the status does not explain, a redirect to another origin, which
    // is never followed).
    QCoro::Task<HttpAnswer> send(QNetworkRequest request, QByteArray method,
                                 std::optional<QByteArray> body);

    TransportLimits limits;
    QNetworkAccessManager *manager() { return &m_manager; }

private:
    QNetworkAccessManager m_manager;
    bool m_closing = false;
};
