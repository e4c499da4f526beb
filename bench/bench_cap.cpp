// Peak memory of reading an answer of exactly the size cap (64 MiB), with a
// Content-Length and chunked, against the same process fetching a small
// answer (the baseline). Each case runs in a process of its own, since the
// peak (VmHWM) only grows; bench/run-cap-bench runs them and compares.
//
// Usage: bench_cap small|length|chunked

#include "client/transport.h"
#include "devserver.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>
#include <cstdio>

namespace {

double peakMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

QCoro::Task<int> fetch(QByteArray kind) {
    DevServer server;
    if (!server.start())
        co_return 1;
    Transport transport;
    const qint64 cap = transport.limits.maxBodyBytes;
    const qint64 size = kind == "small" ? 2 : cap;
    server.setFault(QStringLiteral("/big"),
                    Fault{.hugeBodyBytes = size, .chunked = kind == "chunked"});
    try {
        const HttpAnswer answer = co_await transport.send(
            QNetworkRequest(QUrl(server.baseUrl() + QStringLiteral("/big"))), "GET", std::nullopt);
        if (answer.body.size() != size) {
            std::fprintf(stderr, "got %lld bytes\n", qlonglong(answer.body.size()));
            co_return 1;
        }
        std::printf("%s %.1f\n", kind.constData(), peakMiB());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        co_return 1;
    }
    co_return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    return QCoro::waitFor(fetch(argc > 1 ? QByteArray(argv[1]) : QByteArray("small")));
}
