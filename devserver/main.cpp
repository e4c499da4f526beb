// velmora-devserver: the local time server for the demo and for scripts.
// Its greeting is for people; scripts ask for --env-file, a file of
// KEY=value lines that a shell can source.

#include "devserver.h"

#include <QSaveFile>

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

// Written under another name and renamed, so a reader never sees half of it.
// Values are single-quoted for the shell; none of ours holds a quote.
bool writeEnvFile(const QString &path, const QList<std::pair<const char *, QString>> &values) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const auto &[key, value] : values)
        file.write(QByteArray(key) + "='" + value.toUtf8() + "'\n");
    return file.commit();
}

int usage() {
    std::fputs("Aufruf: velmora-devserver [--port N] [--https ZERTIFIKAT SCHLÜSSEL] "
               "[--camel-case] [--env-file DATEI]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    DevServerOptions options;
    QString envFile;
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
        } else if (arg == "--env-file" && i + 1 < argc) {
            envFile = QString::fromLocal8Bit(argv[++i]);
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

    const QString memberLink = server.setupLink(server.createSetupCode(server.memberId()));
    const QString adminLink = server.setupLink(server.createSetupCode(server.adminId()));
    line(QStringLiteral("Adresse: ") + server.baseUrl());
    line(QStringLiteral("Administratorin: %1 / %2")
             .arg(QLatin1String(DevServer::adminEmail), QLatin1String(DevServer::adminPassword)));
    line(QStringLiteral("Mitarbeiter: %1 / %2")
             .arg(QLatin1String(DevServer::memberEmail), QLatin1String(DevServer::memberPassword)));
    line(QStringLiteral("Einrichtungslink Mitarbeiter: ") + memberLink);
    line(QStringLiteral("Einrichtungslink Administratorin: ") + adminLink);
    line(QStringLiteral("Einrichtungslinks gelten 15 Minuten und nur einmal. Beenden mit Strg+C."));

    // Last, so that a script that sees the file finds the greeting complete.
    if (!envFile.isEmpty() &&
        !writeEnvFile(envFile,
                      {{"VELMORA_DEVSERVER_URL", server.baseUrl()},
                       {"VELMORA_ADMIN_EMAIL", QLatin1String(DevServer::adminEmail)},
                       {"VELMORA_ADMIN_PASSWORD", QLatin1String(DevServer::adminPassword)},
                       {"VELMORA_MEMBER_EMAIL", QLatin1String(DevServer::memberEmail)},
                       {"VELMORA_MEMBER_PASSWORD", QLatin1String(DevServer::memberPassword)},
                       {"VELMORA_SETUP_LINK_MEMBER", memberLink},
                       {"VELMORA_SETUP_LINK_ADMIN", adminLink}})) {
        std::fprintf(stderr, "velmora-devserver: %s ist nicht schreibbar.\n",
                     envFile.toLocal8Bit().constData());
        server.stop();
        return 1;
    }

    while (!quit)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    line(QStringLiteral("Beendet."));
    return 0;
}
