// How fast the panel's lists answer with a large organisation: 5000 clients,
// 60 reasons and 60000 rates. Each "keystroke" sets the search text and reads
// clients() once and reasons() twice, as the start form does. The baseline is
// the straightforward way of building the reason list (a scan of all rates
// per reason), measured in the same run; the result is a ratio.

#include "devserver.h"
#include "model/model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

QByteArray bigState(const QString &userId, int clients, int reasons, int ratesPerClient) {
    QJsonArray clientList, reasonList, rateList;
    for (int c = 0; c < clients; ++c) {
        clientList.append(QJsonObject{{"id", QStringLiteral("c%1").arg(c)},
                                      {"name", QStringLiteral("Kunde Müller %1 GmbH").arg(c)},
                                      {"enabled", c % 17 == 0 ? 0 : 1},
                                      {"archived", c % 23 == 0 ? 1 : 0}});
        for (int r = 0; r < ratesPerClient; ++r) {
            rateList.append(QJsonObject{{"client_id", QStringLiteral("c%1").arg(c)},
                                        {"reason_id", (c + r * 7) % reasons + 1},
                                        {"cents", 5000 + r}});
        }
    }
    for (int r = 1; r <= reasons; ++r) {
        reasonList.append(
            QJsonObject{{"id", r}, {"name", QStringLiteral("Grund %1").arg(r)}, {"active", 1}});
    }
    return QJsonDocument(
               QJsonObject{{"user", QJsonObject{{"id", userId}, {"name", "B"}, {"role", "admin"}}},
                           {"clients", clientList},
                           {"reasons", reasonList},
                           {"rates", rateList},
                           {"running", QJsonValue::Null}})
        .toJson(QJsonDocument::Compact);
}

// The reason list built by scanning every rate for every reason.
QList<Reason> scannedReasons(const State &state, const QString &client) {
    QList<Reason> result;
    for (const Reason &reason : state.reasons) {
        if (reason.active != 1) {
            continue;
        }
        for (const Rate &rate : state.rates) {
            if (rate.clientId == client && rate.reasonId == reason.id) {
                result.append(reason);
                break;
            }
        }
    }
    return result;
}

const QStringList searches{"", "m", "mü", "mül", "müll", "5", "51", "512", "x", ""};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    DevServer server;
    if (!server.start()) {
        std::fprintf(stderr, "devserver did not start\n");
        return 1;
    }
    server.setStateOverride(bigState(server.adminId(), 5000, 60, 12));
    QTemporaryDir dir;
    Model model(std::make_shared<MemoryTokenStore>(server.issueToken(server.adminId())),
                Preferences(dir.filePath("prefs.ini")));
    model.setServerURL(server.baseUrl());
    bool loaded = false;
    [](Model *m, bool *done) -> QCoro::Task<> {
        co_await m->refresh();
        *done = true;
    }(&model, &loaded);
    if (!QTest::qWaitFor([&] { return loaded; }, 60000) || !model.state()) {
        std::fprintf(stderr, "state did not load: %s\n", qPrintable(model.message()));
        return 1;
    }

    const int rounds = 20;
    qint64 sink = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        for (const QString &search : searches) {
            model.setClientSearch(search);
            model.chooseClient();
            sink += model.clients().size() + model.reasons().size() + model.reasons().size();
        }
    }
    const double ours = timer.nsecsElapsed() / 1e6 / (rounds * searches.size());

    timer.restart();
    for (int round = 0; round < rounds; ++round) {
        for (const QString &search : searches) {
            model.setClientSearch(search);
            model.chooseClient();
            sink += model.clients().size();
            sink += scannedReasons(*model.state(), model.selectedClient()).size();
            sink += scannedReasons(*model.state(), model.selectedClient()).size();
        }
    }
    const double baseline = timer.nsecsElapsed() / 1e6 / (rounds * searches.size());

    std::printf("keystroke with 5000 clients, 60000 rates: %.3f ms (model), %.3f ms "
                "(scan per reason), ratio %.2f (checksum %lld)\n",
                ours, baseline, baseline / ours, static_cast<long long>(sink));
    return 0;
}
