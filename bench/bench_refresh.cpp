// What one reload of the state costs on the main thread, at three sizes of an
// organisation (N clients, 50 reasons, 10·N rates, snake_case keys, shaped like
// the devserver's answer). The baseline is Qt's bare QJsonDocument::fromJson on
// the same bytes, measured in the same run; every figure is the median of 7, in
// CPU time of the main thread (other programs on a busy machine do not count).
//
//   bench_refresh          the table
//   bench_refresh --rss N  (run by the above) peak memory of one reload, N clients

#include "client/decoder.h"
#include "devserver.h"
#include "model/model.h"
#include "ui/menu.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr int reasonCount = 50;
constexpr int rounds = 7;

// The answer as the devserver writes it (compact, keys sorted), built by hand so
// that making it costs little time and memory. `variant` changes one rate.
QByteArray stateBody(int clients, int variant) {
    QByteArray out;
    out.reserve(qsizetype(clients) * 560 + 4096);
    out += "{\"clients\":[";
    for (int c = 0; c < clients; ++c) {
        out += c ? ",{" : "{";
        out += "\"archived\":" + QByteArray::number(c % 23 == 0 ? 1 : 0);
        out += ",\"enabled\":" + QByteArray::number(c % 17 == 0 ? 0 : 1);
        out += ",\"id\":\"c" + QByteArray::number(c) + "\"";
        out += ",\"name\":\"Kunde Müller " + QByteArray::number(c) + " GmbH\"}";
    }
    out += "],\"rates\":[";
    for (int c = 0; c < clients; ++c) {
        for (int r = 0; r < 10; ++r) {
            const int cents = 5000 + (c * 13 + r) % 10000 + (c == 0 && r == 0 ? variant : 0);
            out += c || r ? ",{" : "{";
            out += "\"cents\":" + QByteArray::number(cents);
            out += ",\"client_id\":\"c" + QByteArray::number(c) + "\"";
            out += ",\"reason_id\":" + QByteArray::number((c + r * 7) % reasonCount + 1) + "}";
        }
    }
    out += "],\"reasons\":[";
    for (int r = 1; r <= reasonCount; ++r) {
        out += r > 1 ? ",{" : "{";
        out += "\"active\":" + QByteArray::number(r % 10 == 0 ? 0 : 1);
        out += ",\"id\":" + QByteArray::number(r);
        out += ",\"name\":\"Grund " + QByteArray::number(r) + "\"}";
    }
    out += "],\"running\":null,\"user\":{\"id\":\"u1\",\"name\":\"Clara Chefin\","
           "\"role\":\"admin\"}}";
    return out;
}

double threadMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double medianMs(const std::function<void()> &run) {
    QList<double> times;
    for (int i = 0; i < rounds; ++i) {
        const double start = threadMs();
        run();
        times.append(threadMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[rounds / 2];
}

// A signed-in model showing `first`, with the panel open (offscreen).
struct Session {
    DevServer server;
    QTemporaryDir dir;
    std::unique_ptr<Model> model;
    std::unique_ptr<Menu> menu;

    explicit Session(const QByteArray &first) {
        if (!server.start())
            qFatal("devserver did not start");
        server.setStateOverride(first);
        model = std::make_unique<Model>(
            std::make_shared<MemoryTokenStore>(server.issueToken(server.adminId())),
            Preferences(dir.filePath(QStringLiteral("prefs.ini"))));
        model->setServerURL(server.baseUrl());
        menu = std::make_unique<Menu>(model.get());
        menu->show(); // loads `first` over HTTP
        if (!QTest::qWaitFor([this] { return model->state().has_value(); }, 120000))
            qFatal("state did not load: %s", qPrintable(model->message()));
        QCoreApplication::processEvents();
    }

    // Decode, derive, and let the panel catch up: one reload on the main thread.
    void reload(const QByteArray &body) {
        model->applyState(decodeState(body));
        QCoreApplication::processEvents();
    }
};

qint64 statusKiB(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Peak memory of reloads at this size, the panel open, starting from a tiny state:
// the first large state (which leaves the state and the parser's buffers behind),
// then one more. Prints "body_bytes" and, per reload, "before_kib peak_kib after_kib".
int measureMemory(int clients) {
    const QByteArray bodies[] = {stateBody(clients, 0), stateBody(clients, 1)};
    Session session(stateBody(1, 0));
    std::printf("%lld", static_cast<long long>(bodies[0].size()));
    for (const QByteArray &body : bodies) {
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        if (!reset.open(QIODevice::WriteOnly) || reset.write("5") != 1) // peak := now
            return 1;
        reset.close();
        const qint64 before = statusKiB("VmRSS:");
        session.reload(body);
        std::printf(" %lld %lld %lld", static_cast<long long>(before),
                    static_cast<long long>(statusKiB("VmHWM:")),
                    static_cast<long long>(statusKiB("VmRSS:")));
    }
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--rss") == 0)
        return measureMemory(atoi(argv[2]));

    std::printf("| clients / rates | bytes | fromJson alone | decodeState + derive | ratio | "
                "unchanged reload | whole reload, panel open |\n|---|---|---|---|---|---|---|\n");
    double previous = 0;
    QStringList growth, padding;
    for (const int clients : {200, 2000, 20000}) {
        const QByteArray a = stateBody(clients, 0);
        const QByteArray b = stateBody(clients, 1);
        const double qt = medianMs([&] {
            const QJsonDocument document = QJsonDocument::fromJson(a);
            if (!document.isObject())
                qFatal("not an object");
        });
        // The model alone: decode, index the rates, choose, list what the panel lists.
        QTemporaryDir dir;
        Model model(std::make_shared<MemoryTokenStore>(),
                    Preferences(dir.filePath(QStringLiteral("prefs.ini"))));
        bool flip = false;
        qsizetype listed = 0;
        const double ours = medianMs([&] {
            flip = !flip;
            model.applyState(decodeState(flip ? b : a));
            listed += model.clients().size() + model.reasons().size();
        });
        Session session(a);
        const double same = medianMs([&] { session.reload(a); });
        flip = false;
        const double whole = medianMs([&] {
            flip = !flip;
            session.reload(flip ? b : a);
        });
        std::printf("| %d / %d | %.1f KB | %.2f ms | %.2f ms | %.2f× | %.2f ms | %.2f ms |\n",
                    clients, clients * 10, a.size() / 1000.0, qt, ours, ours / qt, same, whole);
        // A body with no spare capacity is copied for simdjson's padding first.
        QByteArray tight = a;
        tight.squeeze();
        padding.append(QStringLiteral("%1 ms").arg(
            medianMs([&] { decodeState(tight); }) - medianMs([&] { decodeState(a); }), 0, 'f', 2));
        if (previous > 0)
            growth.append(QStringLiteral("%1×").arg(ours / previous, 0, 'f', 1));
        previous = ours;
        if (listed == 0)
            qFatal("nothing listed");
    }
    std::printf("\ngrowth of decodeState + derive per 10× data: %s\n",
                qPrintable(growth.join(", ")));
    std::printf("decodeState's extra time for a body without spare capacity (copied for "
                "padding): %s\n",
                qPrintable(padding.join(", ")));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--rss"), "20000"});
    if (!child.waitForFinished(300000) || child.exitCode() != 0) {
        std::printf("peak memory: not measured (%s)\n", child.readAllStandardError().constData());
        return 0;
    }
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    const auto mb = [&](int i) { return figures.value(i).toDouble() * 1024 / 1e6; };
    const double body = figures.value(0).toDouble() / 1e6;
    std::printf("peak memory at 20000 / 200000 (body %.1f MB), panel open:\n"
                "  first reload after a tiny state: +%.1f MB at the peak (%.2f× the body), "
                "+%.1f MB afterwards (the state shown and the parser's kept buffers)\n"
                "  next reload: +%.1f MB at the peak (%.2f× the body)\n",
                body, mb(2) - mb(1), (mb(2) - mb(1)) / body, mb(3) - mb(1), mb(5) - mb(4),
                (mb(5) - mb(4)) / body);
    return 0;
}
