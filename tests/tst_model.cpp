// The model's state: what a start finds stored, refresh, the derived lists
// and the selection rules, against the devserver over loopback.

#include "client/decoder.h"
#include "client/failure.h"
#include "model/ownergone.h"
#include "modelfixture.h"

#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

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
    {"id": 1, "name": "Beratung", "active": 1}, {"id": 2, "name": "Entwicklung", "active": 1},
    {"id": 3, "name": "Alt", "active": 0}, {"id": 4, "name": "Leer", "active": 1}
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

template <typename T> auto ids(const QList<T> &items) {
    QList<decltype(T::id)> result;
    for (const T &item : items)
        result << item.id;
    return result;
}

struct Search {
    const char *name;
    QString search;
    QStringList expected;
};

// An action, waiting at the server or (with no token yet) at the keyring.
struct Gone {
    const char *name;
    QString action;
    bool atKeyring = false;
};

// A switch whose `failing` path answers 403, or (none) that is clicked twice.
struct Switch {
    const char *name;
    QString failing;
    int starts;   // start requests sent
    bool running; // a timer runs afterwards
    QString message;
};

} // namespace

class ModelTest : public QObject {
    Q_OBJECT

    std::optional<ModelFixture> m_fixture; // a fresh devserver for every test
    DevServer &server() { return m_fixture->server(); }

private Q_SLOTS:
    void init() {
        m_fixture.emplace();
        QVERIFY(m_fixture->started());
    }

    void startsFromWhatIsStored() {
        const QString path = m_fixture->preferencesPath();
        Model fresh(std::make_shared<MemoryTokenStore>(), Preferences(path));
        QCOMPARE(fresh.serverURL(), u"https://zeit.velmora.de"_s);
        QVERIFY(!fresh.signedIn() && !fresh.state() && !fresh.busy() && fresh.message().isEmpty());
        fresh.setServerURL(server().baseUrl());
        QVERIFY(finishes(fresh.refresh())); // no token: nothing is sent
        QVERIFY(server().requests().isEmpty());

        Preferences(path).setServerURL(u" http://x/ "_s);
        Model restarted(std::make_shared<MemoryTokenStore>(QString()), Preferences(path));
        QCOMPARE(restarted.serverURL(), u" http://x/ "_s);   // never trimmed
        QVERIFY(restarted.signedIn() && !restarted.state()); // an empty token is still a token

        auto locked = std::make_shared<MemoryTokenStore>(u"t"_s);
        locked->setFailure(KeychainError(KeychainError::Kind::AccessDenied, u"gesperrt"_s));
        Model lockedOut(locked, Preferences(path));
        QVERIFY(!lockedOut.signedIn());
        QCOMPARE(lockedOut.message(), u"gesperrt"_s);

        // A locked keyring may hold a token: no sign-in form, and a second token
        // is never made. Only a reload the user asks for brings up its prompt.
        auto sealed = std::make_shared<MemoryTokenStore>(server().issueToken(server().memberId()));
        const auto lock = [&] {
            sealed->setFailure(KeychainError(KeychainError::Kind::Locked,
                                             keychainErrorText(KeychainError::Kind::Locked)));
        };
        lock();
        Model waiting(sealed, Preferences(path));
        waiting.setServerURL(server().baseUrl());
        QVERIFY(waiting.signedIn() && waiting.keyringLocked());
        QCOMPARE(waiting.variant(), Model::Variant::KeyringLocked); // nothing loads meanwhile
        QCOMPARE(waiting.message(), u"Schlüsselbund gesperrt – bitte entsperren"_s);
        // Neither the clock nor another collection's unlock brings up a prompt.
        waiting.runAutomaticRefresh();
        QTest::qWait(100);
        waiting.keyringUnlocked();
        QTest::qWait(100);
        QVERIFY(sealed->unlocks() == 0 && waiting.keyringLocked() && waiting.signedIn());
        QVERIFY(server().requests().isEmpty()); // never sent without its token
        QVERIFY(finishes(waiting.refresh()));
        QCOMPARE(sealed->unlocks(), 1);
        QVERIFY(!waiting.keyringLocked() && waiting.state() && waiting.message().isEmpty());

        // Unlocked with the session: loaded at once, without a prompt.
        lock();
        Model comingBack(sealed, Preferences(path));
        comingBack.setServerURL(server().baseUrl());
        sealed->setFailure(std::nullopt);
        comingBack.keyringUnlocked();
        QTRY_VERIFY(comingBack.state() && !comingBack.keyringLocked());
        QCOMPARE(sealed->unlocks(), 1);
    }

    // The user's own store keeps the address exactly; a failed write is reported.
    void preferencesFile() {
        QTemporaryDir home;
        testsupport::isolateUserDirs(home.path());
        QCOMPARE(Preferences().serverURL(), std::nullopt);
        for (const QString &address : {u" https://zeit.müller.example/zeit "_s, QString()}) {
            Preferences().setServerURL(address);
            QCOMPARE(Preferences().serverURL(), std::optional(address)); // as a restart reads it
        }
        QVERIFY(QFile::exists(home.filePath(u".config/velmora/VelmoraTime.conf"_s)));
        for (const int hours : {0, 4, 8, 10}) { // "Nie" too is a choice a restart keeps
            Preferences().setReminderHours(hours);
            QCOMPARE(Preferences().reminderHours(), hours);
        }

        QFile blocker(home.filePath(u"blocker"_s)); // where the folder would be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        try {
            Preferences(home.filePath(u"blocker/prefs.ini"_s)).setServerURL(u"https://h"_s);
            QFAIL("the failed write was not reported");
        } catch (const Failure &e) {
            QCOMPARE(e.description(), u"Die Server-Adresse konnte nicht gespeichert werden."_s);
        }
    }

    void badAnswerKeepsStateAndSelection() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        const State before = *model->state();
        const QString client = model->selectedClient();
        const qint64 reason = model->selectedReason();

        // A failed request, and an answer that does not decode.
        for (const Fault &fault :
             {Fault{.status = 500, .times = 1},
              Fault{.body = "<html>oops</html>", .rawBody = true, .times = 1}}) {
            server().setFault(u"/api/state"_s, fault);
            QVERIFY(finishes(model->refresh()));
            QVERIFY2(!model->message().isEmpty(), fault.body.constData());
            QCOMPARE(*model->state(), before);
            QCOMPARE(model->selectedClient(), client);
            QCOMPARE(model->selectedReason(), reason);
        }
        // A successful reload empties the earlier failure text.
        QVERIFY(finishes(model->refresh()));
        QVERIFY(model->message().isEmpty());
    }

    // The panel's variant, the start button and the admin section come from the
    // model alone, and each announces a change exactly when its value changes.
    void viewRulesFollowTheFields() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        const qint64 reason = model->selectedReason();
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

        // Busy: no second start, and a reload sends nothing.
        server().setFault(u"/api/time/start"_s, Fault{.delayMs = 600, .times = 1});
        server().clearRequests();
        model->runStart();
        QVERIFY(model->busy() && !model->canStart());
        QVERIFY(finishes(model->refresh()));
        QVERIFY(server().requestsTo(u"/api/state"_s).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(model->variant(), Model::Variant::RunningEntry, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
        QVERIFY(finishes(model->logout()));
        QCOMPARE(model->variant(), Model::Variant::SignedOut);
        QVERIFY(!model->isAdmin());
        QCOMPARE(variant.size(), 2);
        QCOMPARE(isAdmin.size(), 1);
    }

    void clientSearch_data() {
        testsupport::rows<Search>({
            {"empty lists enabled, unarchived", QString(), {"c1", "c2", "c3", "c7"}},
            {"case ignored, accents kept", u"mül"_s, {"c1", "c2"}},
            {"without accent", u"mul"_s, {"c3"}},
            {"one blank finds names with a blank", u" "_s, {"c1", "c7"}},
            {"hidden clients stay hidden", u"Archiv"_s, {}},
        });
    }

    void clientSearch() {
        FETCH_ROW(Search);
        server().setStateOverride(listState(server().adminId()));
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        model->setClientSearch(row.search);
        QCOMPARE(ids(model->clients()), row.expected);
    }

    void choiceRules() {
        server().setStateOverride(listState(server().adminId()));
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        QCOMPARE(model->selectedClient(), u"c1"_s);
        // Inactive reason 3 and unrated reason 4 are not offered.
        QCOMPARE(ids(model->reasons()), (QList<qint64>{1, 2}));
        QCOMPARE(model->selectedReason(), 1);
        QCOMPARE(model->rateCents(u"c1"_s, 2), 12000); // the first rate counts
        QCOMPARE(model->rateCents(u"c2"_s, 1), std::nullopt);

        // A reason still offered for the new client stays chosen; otherwise the
        // first one offered is taken; with no rated reason, none.
        model->setSelectedReason(2);
        for (const auto &[client, reason] :
             {std::pair{u"c2"_s, 2}, std::pair{u"c3"_s, 1}, std::pair{u"c7"_s, 0}}) {
            model->setSelectedClient(client);
            model->chooseReason();
            QCOMPARE(model->selectedReason(), reason);
        }
        QVERIFY(model->reasons().isEmpty());

        // A search that hides the selection moves it only when chooseClient runs.
        model->setSelectedClient(u"c1"_s);
        model->setClientSearch(u"mul"_s);
        QCOMPARE(model->selectedClient(), u"c1"_s);
        model->chooseClient();
        QCOMPARE(model->selectedClient(), u"c3"_s);
        QCOMPARE(model->selectedReason(), 1);
        // A search that hides everything leaves the empty client, whose only
        // rated reason is 4.
        model->setClientSearch(u"xyz"_s);
        model->chooseClient();
        QCOMPARE(model->selectedClient(), QString());
        QCOMPARE(ids(model->reasons()), (QList<qint64>{4}));
        QCOMPARE(model->selectedReason(), 4);

        // A reload keeps a valid selection.
        model->setClientSearch(QString());
        model->setSelectedClient(u"c2"_s);
        model->chooseReason();
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(model->selectedClient(), u"c2"_s);
        QCOMPARE(model->selectedReason(), 2);
        // A reload that changes the selected client's rate shows the new one.
        QCOMPARE(model->rateCents(u"c2"_s, 2), 11000);
        server().setStateOverride(listState(server().adminId()).replace("11000", "11500"));
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(model->rateCents(u"c2"_s, 2), 11500);
    }

    // A reload answered after a newer one, or after signing out, changes nothing.
    void lateAnswersAreDropped() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        QVERIFY(!model->state()->running);
        server().setFault(u"/api/state"_s, Fault{.delayMs = 800, .times = 1});
        auto slow = model->refresh();
        QTest::qWait(100);
        server().startEntryFor(server().adminId(), u"c1"_s, 1, u"neu"_s,
                               QDateTime::currentMSecsSinceEpoch() - 1000.0);
        QVERIFY(finishes(model->refresh()));
        QVERIFY(model->state()->running);
        // The slow answer was made before the timer started; it must not bring
        // back the old state.
        server().stopEntryFor(server().adminId());
        QVERIFY(finishes(std::move(slow)));
        QVERIFY(model->state()->running);

        // Signed out while a reload waits, and the server never heard of it (so
        // the token still counts there): its answer comes back whole and must
        // not bring the state back.
        server().setFault(u"/api/state"_s, Fault{.delayMs = 500, .times = 1});
        server().setFault(u"/api/logout"_s, Fault{.status = 503, .times = 1});
        auto afterSignOut = model->refresh();
        QVERIFY(finishes(model->logout()));
        QVERIFY(finishes(std::move(afterSignOut)));
        QVERIFY(!model->signedIn() && !model->state());
    }

    void unchangedReloadIsSilent() {
        auto model = m_fixture->signedInModel(server().adminId());
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
    }

    void slowServerGetsOneAutomaticReload() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        server().clearRequests();
        const auto stateRequests = [&] { return server().requestsTo(u"/api/state"_s).size(); };
        server().setFault(u"/api/state"_s, Fault{.delayMs = 1500, .times = 2});

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

    void goneWhileWaiting_data() {
        testsupport::rows<Gone>({
            {"reload, at the server", "refresh"},
            {"start, at the server", "start"},
            {"sign-in, at the server", "setup"},
            {"start, at the keyring", "start", true},
            {"sign-out, at the keyring", "logout", true},
        });
    }

    // A model destroyed while an action waits: the action ends at once (or when
    // the keyring answers) without touching the model, and leaves no timer behind.
    void goneWhileWaiting() {
        FETCH_ROW(Gone);
        auto model = row.atKeyring ? m_fixture->newModel(std::make_shared<Keychain>())
                                   : m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        model->setSelectedClient(QStringLiteral("c1"));
        model->setSelectedReason(1);
        model->transport().limits.deadline = 300ms;
        for (const char *path : {"/api/state", "/api/time/start", "/api/setup", "/api/logout"})
            server().setFault(QLatin1String(path), Fault{.delayMs = 2000});
        model->setSetupInput(server().setupLink(server().createSetupCode(server().memberId())));

        QCoro::Task<> task = row.action == "refresh" ? model->refresh()
                             : row.action == "start" ? model->start()
                             : row.action == "setup" ? model->connectWithSetupLink()
                                                     : model->logout();
        model.reset();
        QVERIFY(testsupport::awaitTask(std::move(task)).failure<OwnerGone>());
        QTest::qWait(500); // past the deadline of the request that was cut short
    }

    // Pairs are remembered by id, newest first, at most five, per server; they
    // are offered only while the pickers would list them; a start of the app
    // begins on the newest; a timer started elsewhere counts.
    void recentPairs() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        QVERIFY(model->offeredPairs().isEmpty());
        const auto offered = [&model] {
            QStringList labels;
            for (const OfferedPair &pair : model->offeredPairs())
                labels << pair.label();
            return labels;
        };
        const auto startPair = [&model](const QString &client, qint64 reason) {
            auto outcome = testsupport::awaitTask(model->startPair({client, reason}));
            return outcome.value.value_or(Model::StartOutcome::Busy);
        };

        QCOMPARE(startPair(u"c4"_s, 3), Model::StartOutcome::Started);
        QCOMPARE(offered(), QStringList{u"Bäckerei Schäfer · Support"_s});
        // Switching stops the running timer first, then starts the pair.
        server().clearRequests();
        QCOMPARE(startPair(u"c1"_s, 1), Model::StartOutcome::Started);
        QStringList paths;
        for (const RecordedRequest &request : server().requests())
            paths << request.path;
        QCOMPARE(paths, (QStringList{u"/api/time/stop"_s, u"/api/time/start"_s, u"/api/state"_s}));
        QCOMPARE(model->runningPair()->label(), u"Müller GmbH · Beratung"_s);
        server().clearRequests();
        QCOMPARE(startPair(u"c1"_s, 1), Model::StartOutcome::AlreadyRunning);
        QCOMPARE(startPair(u"c9"_s, 1), Model::StartOutcome::NotListed); // disabled client
        QVERIFY(server().requests().isEmpty());

        for (const auto &[client, reason] :
             {std::pair{u"c6"_s, 1}, std::pair{u"c6"_s, 2}, std::pair{u"c4"_s, 3}})
            QCOMPARE(startPair(client, reason), Model::StartOutcome::Started);
        // Remembered though the reload after the start fails.
        server().setFault(u"/api/state"_s, Fault{.status = 503, .times = 1});
        QCOMPARE(startPair(u"c12"_s, 1), Model::StartOutcome::Started);
        QCOMPARE(offered(),
                 (QStringList{u"Ingenieurbüro Nüßlein · Beratung"_s,
                              u"Bäckerei Schäfer · Support"_s, u"Praxis Dr. Weiß · Entwicklung"_s,
                              u"Praxis Dr. Weiß · Beratung"_s, u"Müller GmbH · Beratung"_s}));
        // The preferences hold ids only, under this server's address.
        QFile stored(m_fixture->preferencesPath());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray text = stored.readAll();
        QVERIFY(text.contains("c12") && !text.contains("Beratung") && !text.contains("Nüßlein"));
        QCOMPARE(Preferences(m_fixture->preferencesPath()).recentPairs(u"https://other.example"_s),
                 QList<RecentPair>());

        // Started elsewhere: found by its names.
        server().startEntryFor(server().adminId(), u"c5"_s, 3, {},
                               double(QDateTime::currentMSecsSinceEpoch()));
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(offered().first(), u"Öko-Hof Jürgens · Support"_s);
        QCOMPARE(offered().size(), 5);

        // A new start of the app begins on the newest pair; one no longer listed
        // (an archived client, an inactive reason) is hidden.
        auto later = m_fixture->signedInModel(server().adminId());
        QVERIFY(later);
        QCOMPARE(later->selectedClient(), u"c5"_s);
        QCOMPARE(later->selectedReason(), 3);
        server().setStateOverride(QStringLiteral(R"({"user":{"id":"%1","name":"C","role":"admin"},
            "clients":[{"id":"c4","name":"Bäckerei Schäfer","enabled":1,"archived":1},
                       {"id":"c6","name":"Praxis Dr. Weiß","enabled":1,"archived":0}],
            "reasons":[{"id":1,"name":"Beratung","active":1},{"id":2,"name":"Entwicklung","active":0},
                       {"id":3,"name":"Support","active":1}],
            "rates":[{"client_id":"c4","reason_id":3,"cents":1},
                     {"client_id":"c6","reason_id":1,"cents":1},
                     {"client_id":"c6","reason_id":2,"cents":1}],"running":null})")
                                      .arg(server().adminId())
                                      .toUtf8());
        QSignalSpy changes(later.get(), &Model::offeredPairsChanged);
        QVERIFY(finishes(later->refresh()));
        QCOMPARE(changes.size(), 1);
        QCOMPARE(later->offeredPairs().size(), 1);
        QCOMPARE(later->offeredPairs().first().label(), u"Praxis Dr. Weiß · Beratung"_s);
        QVERIFY(finishes(later->refresh()));
        QCOMPARE(changes.size(), 1); // told only on a change
    }

    // A switch whose stop fails starts nothing; one whose start fails says the
    // old timer was stopped; a second click while it runs sends nothing.
    void switchFailures_data() {
        testsupport::rows<Switch>({
            {"stop fails", u"/api/time/stop"_s, 0, true, u"Kein Zugriff."_s},
            {"start fails", u"/api/time/start"_s, 1, false,
             u"Der bisherige Timer wurde gestoppt, der neue ist nicht gestartet: Kein Zugriff."_s},
            {"clicked twice", QString(), 1, true, QString()},
        });
    }

    void switchFailures() {
        FETCH_ROW(Switch);
        auto model =
            m_fixture->signedInModel(server().memberId()); // Müller GmbH · Entwicklung runs
        QVERIFY(model);
        if (!row.failing.isEmpty())
            server().setFault(row.failing,
                              Fault{.status = 403, .body = R"({"error":"Kein Zugriff."})"});
        server().clearRequests();
        auto first = model->startPair({u"c4"_s, 3});
        if (row.failing.isEmpty())
            QCOMPARE(testsupport::awaitTask(model->startPair({u"c4"_s, 3})).value,
                     std::optional(Model::StartOutcome::Busy));
        QVERIFY(finishes(std::move(first)));
        QCOMPARE(server().requestsTo(u"/api/time/stop"_s).size(), 1);
        QCOMPARE(server().requestsTo(u"/api/time/start"_s).size(), row.starts);
        QCOMPARE(model->state()->running.has_value(), row.running);
        QCOMPARE(model->message(), row.message);
        QCOMPARE(model->busy(), false);
    }
};

QTEST_GUILESS_MAIN(ModelTest)
#include "tst_model.moc"
