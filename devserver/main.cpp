// velmora-devserver: the local time server for the demo and for scripts.
// The first line of output is machine-readable; the rest is for people.

#include "devserver.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<bool> quit{false};

void onSignal(int) {
    quit = true;
}

void line(const QString &text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage() {
    std::fputs("Aufruf: velmora-devserver [--port N] [--https ZERTIFIKAT SCHLÜSSEL] "
               "[--camel-case]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    DevServerOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            bool ok = false;
            options.port = QByteArray(argv[++i]).toInt(&ok);
            if (!ok || options.port < 0 || options.port > 65535)
                return usage();
        } else if (arg == "--https" && i + 2 < argc) {
            options.https = true;
            options.certFile = QString::fromLocal8Bit(argv[++i]);
            options.keyFile = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--camel-case") {
            options.snakeCaseState = false;
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            return usage();
        }
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    DevServer server(options);
    if (!server.start()) {
        const QString why =
            options.https ? QStringLiteral("Zertifikat oder Schlüssel unbrauchbar, oder Port %1 "
                                           "belegt.")
                                .arg(options.port)
                          : QStringLiteral("Port %1 ist belegt.").arg(options.port);
        std::fprintf(stderr, "velmora-devserver: Start fehlgeschlagen: %s\n",
                     why.toUtf8().constData());
        return 1;
    }

    line(QStringLiteral("VELMORA_DEVSERVER_URL=") + server.baseUrl());
    line(QStringLiteral("Adresse: ") + server.baseUrl());
    line(QStringLiteral("Administratorin: %1 / %2")
             .arg(QLatin1String(DevServer::adminEmail), QLatin1String(DevServer::adminPassword)));
    line(QStringLiteral("Mitarbeiter: %1 / %2")
             .arg(QLatin1String(DevServer::memberEmail), QLatin1String(DevServer::memberPassword)));
    line(QStringLiteral("Einrichtungslink Mitarbeiter: ") +
         server.setupLink(server.createSetupCode(server.memberId())));
    line(QStringLiteral("Einrichtungslink Administratorin: ") +
         server.setupLink(server.createSetupCode(server.adminId())));
    line(QStringLiteral("Einrichtungslinks gelten 15 Minuten und nur einmal. Beenden mit Strg+C."));

    while (!quit)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    line(QStringLiteral("Beendet."));
    return 0;
}
