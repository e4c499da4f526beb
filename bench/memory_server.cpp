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

#include "devserver.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

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

    qsizetype requestsSeen = 0;
    qsizetype surprisesSeen = 0;
    QTimer poll;
    poll.setInterval(200);
    QObject::connect(&poll, &QTimer::timeout, &application, [&] {
        const QList<RecordedRequest> requests = server.requests();
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
