// The model's state: initial values, refresh, the derived lists and the
// selection rules, against the devserver over loopback.

#include "client/decoder.h"
#include "modelfixture.h"

#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

// A state with every kind of client and reason the lists must sort out.
QByteArray listState(const QString &userId) {
    return QStringLiteral(R"({
  "user": {"id": "%1", "name": "Clara", "role": "admin"},
  "clients": [
    {"id": "c1", "name": "Müller GmbH", "enabled": 1, "archived": 0},
    {"id": "c2", "name": "MÜLLER", "enabled": 1, "archived": 0},
    {"id": "c3", "name": "Muller", "enabled": 1, "archived": 0},
    {"id": "c4", "name": "Aus", "enabled": 0, "archived": 0},
    {"id": "c5", "name": "Zwei", "enabled": 2, "archived": 0},
    {"id": "c6", "name": "Archiv", "enabled": 1, "archived": 1},
    {"id": "c7", "name": "Ohne Satz", "enabled": 1, "archived": 0}
  ],
  "reasons": [
    {"id": 1, "name": "Beratung", "active": 1},
    {"id": 2, "name": "Entwicklung", "active": 1},
    {"id": 3, "name": "Alt", "active": 0},
    {"id": 4, "name": "Leer", "active": 1}
  ],
  "rates": [
    {"client_id": "c1", "reason_id": 1, "cents": 9550},
    {"client_id": "c1", "reason_id": 2, "cents": 12000},
    {"client_id": "c1", "reason_id": 2, "cents": 1},
    {"client_id": "c1", "reason_id": 3, "cents": 5000},
    {"client_id": "c2", "reason_id": 2, "cents": 11000},
    {"client_id": "c3", "reason_id": 1, "cents": 8000},
    {"client_id": "", "reason_id": 4, "cents": 100}
  ],
  "running": null
})")
        .arg(userId)
        .toUtf8();
}

QStringList ids(const QList<Customer> &clients) {
    QStringList result;
    for (const Customer &c : clients) {
        result << c.id;
    }
    return result;
}

QList<qint64> ids(const QList<Reason> &reasons) {
    QList<qint64> result;
    for (const Reason &r : reasons) {
        result << r.id;
    }
    return result;
}

} // namespace

class ModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void freshProfile();
    void storedTokenAndAddress();
    void keyringFailureAtStart();
    void refreshLoadsStateAndSelection();
    void refreshGuards();
    void viewRulesFollowTheFields();
    void badAnswerKeepsStateAndSelection();
    void unauthorizedRefreshSignsOut();
    void clientSearch_data();
    void clientSearch();
    void choiceRules();
    void staleAnswerIsDropped();
    void answerAfterSignOutIsDropped();
    void unchangedReloadIsSilent();
    void slowServerGetsOneAutomaticReload();
};

void ModelTest::freshProfile() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto tokens = std::make_shared<MemoryTokenStore>();
    Model model(tokens, Preferences(fixture.preferencesPath()));
    QCOMPARE(model.serverURL(), QStringLiteral("https://zeit.velmora.de"));
    QVERIFY(!model.signedIn());
    QVERIFY(model.email().isEmpty() && model.password().isEmpty() && model.setupInput().isEmpty());
    QVERIFY(model.setupLink().isEmpty() && model.setupImage().isNull());
    QVERIFY(model.selectedClient().isEmpty() && model.clientSearch().isEmpty());
    QVERIFY(model.note().isEmpty() && model.message().isEmpty());
    QCOMPARE(model.selectedReason(), 0);
    QVERIFY(!model.state() && !model.busy());

    model.setServerURL(fixture.server().baseUrl());
    QVERIFY(finishes(model.refresh()));
    QVERIFY(fixture.server().requests().isEmpty());
}

void ModelTest::storedTokenAndAddress() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    {
        QSettings settings(fixture.preferencesPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("VelmoraTimeURL"), QStringLiteral(" http://x/ "));
    }
    auto tokens = std::make_shared<MemoryTokenStore>(QString());
    Model model(tokens, Preferences(fixture.preferencesPath()));
    QCOMPARE(model.serverURL(), QStringLiteral(" http://x/ ")); // never trimmed
    QVERIFY(model.signedIn());                                  // an empty token is still a token
    QVERIFY(!model.state());
}

void ModelTest::keyringFailureAtStart() {
    ModelFixture fixture;
    auto tokens = std::make_shared<MemoryTokenStore>(QStringLiteral("t"));
    tokens->setFailure(
        KeychainError(KeychainError::Kind::AccessDenied, QStringLiteral("gesperrt")));
    Model model(tokens, Preferences(fixture.preferencesPath()));
    QVERIFY(!model.signedIn());
    QCOMPARE(model.message(), QStringLiteral("gesperrt"));
}

void ModelTest::refreshLoadsStateAndSelection() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().memberId());
    QVERIFY(model);
    QVERIFY(model->message().isEmpty());
    const QList<Customer> clients = model->clients();
    QVERIFY(!clients.isEmpty());
    QCOMPARE(model->selectedClient(), clients.first().id);
    QCOMPARE(model->selectedReason(), model->reasons().value(0).id);
    QCOMPARE(model->state()->user.id, fixture.server().memberId());
    QVERIFY(model->state()->running); // the member's demo timer

    // A successful reload empties an earlier failure text.
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.status = 500, .times = 1});
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(model->message(), QStringLiteral("Serverfehler 500"));
    QVERIFY(finishes(model->refresh()));
    QVERIFY(model->message().isEmpty());
}

void ModelTest::refreshGuards() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    fixture.server().clearRequests();

    // While an action is in flight a reload sends nothing.
    fixture.server().setFault(QStringLiteral("/api/time/start"), Fault{.delayMs = 600, .times = 1});
    model->runStart();
    QVERIFY(model->busy());
    QVERIFY(finishes(model->refresh()));
    QVERIFY(fixture.server().requestsTo(QStringLiteral("/api/state")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
}

void ModelTest::badAnswerKeepsStateAndSelection() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    const State before = *model->state();
    model->setClientSearch(QString());
    const QString client = model->selectedClient();
    const qint64 reason = model->selectedReason();

    const QList<QByteArray> badBodies{
        "<html>oops</html>",
        R"({"user":{"id":"u","name":"n","role":"admin"},"clients":[],"reasons":[]})",
        R"({"user":{"id":"u","name":"n","role":"admin"},"clients":[{"id":1,"name":"x","enabled":1,"archived":0}],"reasons":[],"rates":[]})",
    };
    for (const QByteArray &body : badBodies) {
        fixture.server().setFault(QStringLiteral("/api/state"),
                                  Fault{.body = body, .rawBody = true, .times = 1});
        QVERIFY(finishes(model->refresh()));
        QVERIFY2(!model->message().isEmpty(), body.constData());
        QCOMPARE(*model->state(), before);
        QCOMPARE(model->selectedClient(), client);
        QCOMPARE(model->selectedReason(), reason);
    }
}

// The panel's variant, the start button and the admin section come from the
// model alone, and each announces a change exactly when its value changes.
void ModelTest::viewRulesFollowTheFields() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    QCOMPARE(model->variant(), Model::Variant::StartForm);
    const qint64 reason = model->selectedReason();
    QVERIFY(model->isAdmin());
    QVERIFY(model->canStart());

    QSignalSpy variant(model.get(), &Model::variantChanged);
    QSignalSpy canStart(model.get(), &Model::canStartChanged);
    QSignalSpy isAdmin(model.get(), &Model::isAdminChanged);
    model->setSelectedReason(0);
    QVERIFY(!model->canStart());
    model->setSelectedReason(-1); // still no start: the same value, no second signal
    QCOMPARE(canStart.size(), 1);
    model->setSelectedReason(reason);
    QVERIFY(model->canStart());
    QCOMPARE(canStart.size(), 2);

    model->runStart(); // busy: no second start
    QVERIFY(!model->canStart());
    QTRY_COMPARE_WITH_TIMEOUT(model->variant(), Model::Variant::RunningEntry, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
    QCOMPARE(variant.size(), 1);
    QVERIFY(finishes(model->logout()));
    QCOMPARE(model->variant(), Model::Variant::SignedOut);
    QVERIFY(!model->isAdmin());
    QCOMPARE(variant.size(), 2);
    QCOMPARE(isAdmin.size(), 1);
}

void ModelTest::unauthorizedRefreshSignsOut() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto tokens = std::make_shared<MemoryTokenStore>();
    auto model = fixture.signedInModel(fixture.server().memberId(), tokens);
    QVERIFY(model);
    fixture.server().setFault(
        QStringLiteral("/api/state"),
        Fault{.status = 401, .body = R"({"error":"Bitte erneut anmelden."})"});
    QVERIFY(finishes(model->refresh()));
    QVERIFY(!model->signedIn());
    QVERIFY(!tokens->token());
    QVERIFY(model->state()); // kept until the next sign-out or load
    QCOMPARE(model->message(), QStringLiteral("Bitte erneut anmelden."));
}

void ModelTest::clientSearch_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty lists enabled, unarchived")
        << QString() << QStringList{"c1", "c2", "c3", "c7"};
    QTest::newRow("case ignored, accents kept") << QStringLiteral("mül") << QStringList{"c1", "c2"};
    QTest::newRow("without accent") << QStringLiteral("mul") << QStringList{"c3"};
    QTest::newRow("one blank finds names with a blank")
        << QStringLiteral(" ") << QStringList{"c1", "c7"};
    QTest::newRow("hidden clients stay hidden") << QStringLiteral("Archiv") << QStringList{};
    QTest::newRow("nothing") << QStringLiteral("xyz") << QStringList{};
}

void ModelTest::clientSearch() {
    QFETCH(QString, search);
    QFETCH(QStringList, expected);
    ModelFixture fixture;
    QVERIFY(fixture.started());
    fixture.server().setStateOverride(listState(fixture.server().adminId()));
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    model->setClientSearch(search);
    QCOMPARE(ids(model->clients()), expected);
}

void ModelTest::choiceRules() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    fixture.server().setStateOverride(listState(fixture.server().adminId()));
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    QCOMPARE(model->selectedClient(), QStringLiteral("c1"));
    // Inactive reason 3 and unrated reason 4 are not offered.
    QCOMPARE(ids(model->reasons()), (QList<qint64>{1, 2}));
    QCOMPARE(model->selectedReason(), 1);
    QCOMPARE(model->rateCents(QStringLiteral("c1"), 2), 12000); // the first rate counts
    QCOMPARE(model->rateCents(QStringLiteral("c2"), 1), std::nullopt);

    // A reason still offered for the new client stays chosen.
    model->setSelectedReason(2);
    model->setSelectedClient(QStringLiteral("c2"));
    model->chooseReason();
    QCOMPARE(model->selectedReason(), 2);
    // Otherwise the first one offered is taken.
    model->setSelectedClient(QStringLiteral("c3"));
    model->chooseReason();
    QCOMPARE(model->selectedReason(), 1);
    // No rated reason: none.
    model->setSelectedClient(QStringLiteral("c7"));
    model->chooseReason();
    QCOMPARE(model->selectedReason(), 0);
    QVERIFY(model->reasons().isEmpty());

    // A search that hides the selection moves it only when chooseClient runs.
    model->setSelectedClient(QStringLiteral("c1"));
    model->setClientSearch(QStringLiteral("mul"));
    QCOMPARE(model->selectedClient(), QStringLiteral("c1"));
    model->chooseClient();
    QCOMPARE(model->selectedClient(), QStringLiteral("c3"));
    QCOMPARE(model->selectedReason(), 1);
    // A search that hides everything leaves the empty client, whose only
    // rated reason is 4.
    model->setClientSearch(QStringLiteral("xyz"));
    model->chooseClient();
    QCOMPARE(model->selectedClient(), QString());
    QCOMPARE(ids(model->reasons()), (QList<qint64>{4}));
    QCOMPARE(model->selectedReason(), 4);

    // A reload keeps a valid selection.
    model->setClientSearch(QString());
    model->setSelectedClient(QStringLiteral("c2"));
    model->chooseReason();
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(model->selectedClient(), QStringLiteral("c2"));
    QCOMPARE(model->selectedReason(), 2);
}

void ModelTest::staleAnswerIsDropped() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    QVERIFY(!model->state()->running);

    // A slow reload is overtaken by a quick one that sees a newer state.
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.delayMs = 800, .times = 1});
    auto slow = model->refresh();
    QTest::qWait(100);
    fixture.server().startEntryFor(fixture.server().adminId(), QStringLiteral("c1"), 1,
                                   QStringLiteral("neu"),
                                   QDateTime::currentMSecsSinceEpoch() - 1000.0);
    QVERIFY(finishes(model->refresh()));
    QVERIFY(model->state()->running);
    // The slow answer was made before the timer started; it must not bring
    // back the old state.
    fixture.server().stopEntryFor(fixture.server().adminId());
    QVERIFY(finishes(std::move(slow)));
    QVERIFY(model->state()->running);
}

void ModelTest::answerAfterSignOutIsDropped() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().memberId());
    QVERIFY(model);
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.delayMs = 500, .times = 1});
    auto slow = model->refresh();
    QVERIFY(finishes(model->logout()));
    QVERIFY(finishes(std::move(slow)));
    QVERIFY(!model->signedIn());
    QVERIFY(!model->state());
}

void ModelTest::unchangedReloadIsSilent() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    // Every property's change signal but that of `reloading`, which shows the request.
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    const QMetaObject *meta = model->metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal() && qstrcmp(property.name(), "reloading") != 0)
            spies.push_back(std::make_unique<QSignalSpy>(model.get(), property.notifySignal()));
    }
    QSignalSpy reloading(model.get(), &Model::reloadingChanged);
    QVERIFY(finishes(model->refresh()));
    for (const auto &spy : spies)
        QVERIFY2(spy->isEmpty(), spy->signal().constData());
    QCOMPARE(reloading.count(), 2); // on while the answer was awaited, then off

    // A state that did change notifies once, as before.
    QSignalSpy stateChanged(model.get(), &Model::stateChanged);
    fixture.server().startEntryFor(fixture.server().adminId(), QStringLiteral("c1"), 1,
                                   QStringLiteral("neu"),
                                   QDateTime::currentMSecsSinceEpoch() - 1000.0);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(stateChanged.count(), 1);
    QVERIFY(model->state()->running);
}

void ModelTest::slowServerGetsOneAutomaticReload() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    fixture.server().clearRequests();
    const auto stateRequests = [&] {
        return fixture.server().requestsTo(QStringLiteral("/api/state")).size();
    };
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.delayMs = 1500, .times = 2});

    // Four ticks of the reload timer while the first answer is awaited.
    for (int tick = 0; tick < 4; ++tick) {
        model->runAutomaticRefresh();
        QTest::qWait(100);
    }
    QTRY_COMPARE(stateRequests(), 1);
    QVERIFY(!model->reloading()); // the timer's reloads are not shown
    // A reload the user asks for still goes out, and shows while it waits.
    auto asked = model->refresh();
    QVERIFY(model->reloading());
    QVERIFY(finishes(std::move(asked)));
    QVERIFY(!model->reloading());
    QCOMPARE(stateRequests(), 2);
    // Once the answers are in, the timer's reloads go out again.
    QTRY_VERIFY_WITH_TIMEOUT((model->runAutomaticRefresh(), stateRequests() >= 3), 10000);
}

QTEST_GUILESS_MAIN(ModelTest)
#include "tst_model.moc"
