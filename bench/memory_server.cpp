// The time server for the memory benchmark: the devserver's demo data, a
// device token for the demo administrator (so the app under measurement
// starts signed in, without a sign-in through its panel), and one line per
// request it answers, so the benchmark can tell that the app really loaded
// the state.
//
// Output, one item per line:
//   VELMORA_DEVSERVER_URL=http://127.0.0.1:PORT
//   VELMORA_TOKEN=TOKEN
//   REQUEST METHOD PATH auth|anon   (for every request, as it arrives)
//   SURPRISE TEXT                   (anything a strict server would reject)
// Ends on SIGTERM or SIGINT.
//
// With --quiet (for the soak, bench/run-soak) it keeps no request log and
// prints no REQUEST lines; instead it takes "FAULT N" on stdin, injects the
// N-th kind of failure into the next state answers and prints "OK".

#include "devserver.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> quitRequested{false};

void onSignal(int) {
    quitRequested = true;
}

void line(const QString &text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The failures the soak mixes in, in turn: server error, cut-off answer,
// dropped connection, wrong type, broken compression.
Fault injected(int n) {
    switch (n % 5) {
    case 0:
        return Fault{.status = 500, .body = "<html>kaputt</html>", .times = 1};
    case 1:
        return Fault{.body = "{\"user\":", .cutAfterBytes = 4, .times = 1};
    case 2:
        return Fault{.drop = true, .times = 2};
    case 3:
        return Fault{.body = "{\"user\":1}", .rawBody = true, .times = 1};
    default:
        return Fault{.body = "{}", .brokenGzip = true, .times = 1};
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication application(argc, argv);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    DevServer server;
    if (!server.start()) {
        std::fputs("velmora-bench-server: kein freier Port\n", stderr);
        return 1;
    }
    line(QStringLiteral("VELMORA_DEVSERVER_URL=") + server.baseUrl());
    line(QStringLiteral("VELMORA_TOKEN=") + server.issueToken(server.adminId()));

    const bool quiet = application.arguments().contains(QStringLiteral("--quiet"));
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    commands.setEnabled(quiet);
    QObject::connect(&commands, &QSocketNotifier::activated, &application, [&] {
        char buffer[64];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (n <= 0) {
            QCoreApplication::quit(); // the soak is gone
            return;
        }
        for (const QByteArray &command : QByteArray(buffer, n).split('\n')) {
            if (command.startsWith("FAULT ")) {
                server.setFault(QStringLiteral("/api/state"), injected(command.mid(6).toInt()));
                line(QStringLiteral("OK"));
            }
        }
    });

    qsizetype requestsSeen = 0;
    qsizetype surprisesSeen = 0;
    QTimer poll;
    poll.setInterval(200);
    QObject::connect(&poll, &QTimer::timeout, &application, [&] {
        if (quiet) {
            server.clearRequests();
            requestsSeen = 0;
        }
        const QList<RecordedRequest> requests =
            quiet ? QList<RecordedRequest>() : server.requests();
        for (; requestsSeen < requests.size(); ++requestsSeen) {
            const RecordedRequest &r = requests.at(requestsSeen);
            line(QStringLiteral("REQUEST %1 %2 %3")
                     .arg(r.method, r.path,
                          r.headers.contains(QStringLiteral("authorization"))
                              ? QStringLiteral("auth")
                              : QStringLiteral("anon")));
        }
        const QStringList surprises = server.surprises();
        for (; surprisesSeen < surprises.size(); ++surprisesSeen)
            line(QStringLiteral("SURPRISE ") + surprises.at(surprisesSeen));
        if (quitRequested)
            QCoreApplication::quit();
    });
    poll.start();
    const int status = QCoreApplication::exec();
    server.stop();
    return status;
}
