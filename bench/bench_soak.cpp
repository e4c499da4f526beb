// A long run of the model against the local time server (in a process of its
// own) at a fast reload rate, with starts and stops and injected failures mixed in, resident
// memory sampled as it goes. Memory should be flat after warm-up and no file
// descriptor should be left open. Run through bench/run-soak.
//
// Usage: bench_soak [RELOADS [--memory-tokens]]   (default 10000, the system keyring)

#include "devserver.h"
#include "model/model.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

namespace {

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int openFds() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

// The time server runs in a process of its own, as it does for the app:
// only the model's memory is measured. It takes faults on stdin.
class ServerProcess {
public:
    bool start() {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationDirPath() +
                            QStringLiteral("/velmora-bench-server"),
                        {QStringLiteral("--quiet")});
        const QByteArray first = nextLine();
        if (!first.startsWith("VELMORA_DEVSERVER_URL="))
            return false;
        m_url = QString::fromUtf8(first.mid(first.indexOf('=') + 1));
        nextLine(); // the token, not needed: the soak signs in with the password
        return true;
    }
    QString baseUrl() const { return m_url; }
    // The n-th kind of failure for the next state answers; back once it is set.
    bool inject(int n) {
        m_process.write(QByteArray("FAULT ") + QByteArray::number(n) + '\n');
        return nextLine() == "OK";
    }
    ~ServerProcess() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

private:
    QByteArray nextLine() {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        return m_process.readLine().trimmed();
    }
    QProcess m_process;
    QString m_url;
};

QCoro::Task<int> soak(int reloads, bool memoryTokens) {
    ServerProcess server;
    if (!server.start()) {
        std::fprintf(stderr, "velmora-bench-server did not start\n");
        co_return 1;
    }
    QTemporaryDir dir;
    std::shared_ptr<TokenStore> tokens;
    if (memoryTokens)
        tokens = std::make_shared<MemoryTokenStore>();
    else
        tokens = std::make_shared<Keychain>();
    Model model(tokens, Preferences(dir.filePath(QStringLiteral("prefs.ini"))));
    model.setServerURL(server.baseUrl());
    model.setEmail(QString::fromLatin1(DevServer::adminEmail)); // the demo data's
    model.setPassword(QString::fromLatin1(DevServer::adminPassword));
    co_await model.login();
    if (!model.signedIn()) {
        std::fprintf(stderr, "sign-in failed: %s\n", qPrintable(model.message()));
        co_return 1;
    }
    constexpr int sampleEvery = 100, startStopEvery = 50, faultEvery = 97;
    const int fdsAtStart = openFds();
    QList<double> samples;
    int failures = 0, startsAndStops = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= reloads; ++i) {
        if (i % faultEvery == 0 && !server.inject(i / faultEvery)) {
            std::fprintf(stderr, "velmora-bench-server took no fault\n");
            co_return 1;
        }
        co_await model.refresh();
        if (!model.message().isEmpty())
            ++failures;
        if (i % startStopEvery == 0) {
            if (model.state() && model.state()->running)
                co_await model.stop();
            else
                co_await model.start();
            ++startsAndStops;
        }
        if (i % sampleEvery == 0)
            samples.append(residentMiB());
    }
    const int fdsAtEnd = openFds();
    const auto tenth = [&](bool last) {
        const qsizetype n = std::max<qsizetype>(1, samples.size() / 10);
        double sum = 0;
        for (qsizetype k = 0; k < n; ++k)
            sum += samples.at(last ? samples.size() - n + k : k);
        return sum / double(n);
    };
    std::printf("reloads %d in %.1f s, starts/stops %d, failed reloads %d\n", reloads,
                clock.elapsed() / 1000.0, startsAndStops, failures);
    std::printf("rss_mib");
    for (double s : std::as_const(samples))
        std::printf(" %.1f", s);
    std::printf("\nrss first tenth %.2f MiB, last tenth %.2f MiB, last/first %.3f\n", tenth(false),
                tenth(true), tenth(true) / tenth(false));
    std::printf("open fds at start %d, at end %d\n", fdsAtStart, fdsAtEnd);
    co_return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int reloads = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    const bool memoryTokens = argc > 2 && QByteArray(argv[2]) == "--memory-tokens";
    return QCoro::waitFor(soak(reloads > 0 ? reloads : 10000, memoryTokens));
}
