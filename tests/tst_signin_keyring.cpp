// The token in the real system keyring (run inside a private D-Bus session
// with its own unlocked keyring): stored, replaced and removed, kept across a
// restart; and every kind of keyring trouble: each is set up for a child run
// of this program, which tries both sign-ins against the devserver of the
// parent and reports what it saw.

#include "desktop/keyringwatch.h"
#include "mockbus.h"
#include "modelfixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using testsupport::awaitTask;

namespace {

constexpr const char *attemptServer = "VELMORA_ATTEMPT_SERVER";
constexpr const char *attemptLink = "VELMORA_ATTEMPT_LINK";
constexpr const char *attemptFakeService = "VELMORA_ATTEMPT_FAKE_SERVICE";
const QByteArray secret = "nie-im-klartext-7f3a9c";
const QString loginKeyring = u"/org/freedesktop/secrets/collection/login"_s;

// The child's part: a password sign-in, a setup-link sign-in and a direct
// write, each through the real keyring; printed as one JSON object.
int attempt() {
    if (qEnvironmentVariableIsSet(attemptFakeService)) {
        // Owns the Secret Service's name but serves none of its objects.
        if (!QDBusConnection::sessionBus().registerService(u"org.freedesktop.secrets"_s))
            return 3;
    }
    const QString home = qEnvironmentVariable("HOME");
    Model model(std::make_shared<Keychain>(), Preferences(QDir(home).filePath(u"prefs.ini"_s)));
    QJsonObject seen{{u"atStart"_s, model.message()}};
    model.setServerURL(qEnvironmentVariable(attemptServer));
    model.setEmail(QString::fromLatin1(DevServer::memberEmail));
    model.setPassword(QString::fromLatin1(DevServer::memberPassword));
    if (!finishes(model.login()))
        return 4;
    seen[u"login"_s] = model.message();
    seen[u"passwordKept"_s] = model.password() == QLatin1String(DevServer::memberPassword);
    model.setSetupInput(qEnvironmentVariable(attemptLink));
    if (!finishes(model.connectWithSetupLink()))
        return 4;
    seen[u"setup"_s] = model.message();
    seen[u"signedIn"_s] = model.signedIn();
    seen[u"busy"_s] = model.busy();
    // Asked by the user, a locked keyring's prompt is requested; none can
    // show here, and nothing hangs.
    if (!finishes(model.refresh()))
        return 4;
    seen[u"locked"_s] = model.keyringLocked();

    const auto stored = awaitTask(Keychain().set(QString::fromLatin1(secret)));
    if (const auto failure = stored.failure<KeychainError>()) {
        seen[u"kind"_s] = static_cast<int>(failure->kind());
        seen[u"write"_s] = failure->description();
    }
    seen[u"plaintext"_s] = QJsonValue::fromVariant(testsupport::filesContaining(home, secret));
    QTextStream(stdout) << QJsonDocument(seen).toJson(QJsonDocument::Compact);
    return 0;
}

// A session bus that knows no services at all.
const char *busWithoutServices = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// gnome-keyring with an unlocked login keyring, then locked again, as after
// a screen lock; no prompter can come up without a display.
const char *lockedKeyring =
    "echo -n velmora | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "
    "gnome-keyring-daemon --start --components=secrets >/dev/null && "
    "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
    "org.freedesktop.Secret.Service.Lock "
    "array:objpath:/org/freedesktop/secrets/collection/login >/dev/null && exec \"$0\"";

// A Secret Service (python3-dbusmock) whose default keyring says it is
// locked and which fails everything else, as some other services do then.
const char *lockedFailingService =
    "/usr/bin/python3 -m dbusmock org.freedesktop.secrets /org/freedesktop/secrets "
    "org.freedesktop.Secret.Service >/dev/null 2>&1 & "
    "while ! gdbus call --session -d org.freedesktop.secrets -o /org/freedesktop/secrets "
    "-m org.freedesktop.DBus.Mock.AddMethod org.freedesktop.Secret.Service ReadAlias s o "
    "'ret = \"/org/freedesktop/secrets/collection/login\"' >/dev/null 2>&1; do sleep 0.1; done && "
    "gdbus call --session -d org.freedesktop.secrets -o /org/freedesktop/secrets "
    "-m org.freedesktop.DBus.Mock.AddObject /org/freedesktop/secrets/collection/login "
    "org.freedesktop.Secret.Collection \"{'Locked': <true>}\" '[]' >/dev/null && exec \"$0\"";

// What secret-tool finds for these attributes; nothing when it finds no item.
std::optional<QString> lookUp(const QStringList &attributes) {
    QProcess lookup;
    lookup.start(u"secret-tool"_s, QStringList{u"lookup"_s} + attributes);
    if (!lookup.waitForFinished(20000) || lookup.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(lookup.readAllStandardOutput());
}

enum class Setup {
    LibraryMissing,
    NoBus,
    BusWithoutService,
    FreshAccount,
    Locked,
    LockedFailing,
    BrokenService
};

struct Trouble {
    const char *name;
    Setup setup;
    KeychainError::Kind kind;
    const char *hint; // what the text tells the user to do
};

} // namespace

class SignInKeyringTest : public QObject {
    Q_OBJECT

    // The login keyring locked, as by a screen lock.
    static bool lockLogin() {
        QDBusMessage lock = QDBusMessage::createMethodCall(
            u"org.freedesktop.secrets"_s, u"/org/freedesktop/secrets"_s,
            u"org.freedesktop.Secret.Service"_s, u"Lock"_s);
        lock << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(loginKeyring)});
        return QDBusConnection::sessionBus().call(lock).type() == QDBusMessage::ReplyMessage;
    }
    // gnome-keyring's own way in, with the password, as its PAM module does
    // at login.
    static bool unlockWithPassword() {
        return QProcess::execute(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(R"(
import dbus, sys
secrets = dbus.SessionBus().get_object("org.freedesktop.secrets", "/org/freedesktop/secrets")
_, session = secrets.OpenSession("plain", dbus.String("", variant_level=1),
                                 dbus_interface="org.freedesktop.Secret.Service")
dbus.Interface(secrets, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface") \
    .UnlockWithMasterPassword(sys.argv[1], (session, b"", b"velmora", "text/plain"))
)"),
                                                         loginKeyring}) == 0;
    }
    // A system prompter for the keyring's prompts that shows each and never
    // answers: the user still looking at it. Gone, it counts as dismissed.
    static bool startPrompter(MockBus &bus) {
        const QString name = u"org.gnome.keyring.SystemPrompter"_s,
                      path = u"/org/gnome/keyring/Prompter"_s,
                      interface = u"org.gnome.keyring.internal.Prompter"_s;
        return bus.add({name, path, interface}, name) &&
               bus.mock(name, path, u"AddMethod"_s,
                        {interface, u"BeginPrompting"_s, u"o"_s, QString(), QString()})
                       .type() == QDBusMessage::ReplyMessage;
    }

private Q_SLOTS:
    void initTestCase() {
        if (qgetenv("VELMORA_IN_PRIVATE_KEYRING") != "1")
            QSKIP("needs the private keyring: run under scripts/with-keyring");
        QVERIFY(m_fixture.started());
    }

    // The token a sign-in stores is where other programs look for it, survives a
    // restart, and is gone after signing out; any text, even none, is kept as it is.
    void tokenInTheKeyring() {
        const auto cleared = awaitTask(Keychain().remove());
        VERIFY_OK(cleared);
        auto model =
            m_fixture.signedInModel(m_fixture.server().memberId(), std::make_shared<Keychain>());
        QVERIFY(model);
        const auto token = awaitTask(Keychain().get());
        QVERIFY(token.ok() && token.value->has_value());
        QCOMPARE(lookUp({u"server"_s, QString::fromLatin1(Keychain::service), u"user"_s,
                         QString::fromLatin1(Keychain::key)}),
                 *token.value);

        // Read once, then kept: removed behind the store's back, it still knows
        // the token, and a store of a new run finds nothing.
        auto store = std::make_shared<Keychain>();
        QCOMPARE(*awaitTask(store->get()).value, *token.value);
        QCOMPARE(QProcess::execute(u"secret-tool"_s,
                                   {u"clear"_s, u"server"_s, QString::fromLatin1(Keychain::service),
                                    u"user"_s, QString::fromLatin1(Keychain::key)}),
                 0);
        QCOMPARE(*awaitTask(store->get()).value, *token.value);
        QCOMPARE(*awaitTask(Keychain().get()).value, std::nullopt);
        const auto putBack = awaitTask(store->set(**token.value));
        VERIFY_OK(putBack);

        // As after a restart of the program.
        model.reset();
        Model restarted(std::make_shared<Keychain>(), Preferences(m_fixture.preferencesPath()));
        QVERIFY(restarted.signedIn());
        QCOMPARE(restarted.serverURL(), m_fixture.server().baseUrl());
        QVERIFY(finishes(restarted.refresh()));
        QVERIFY2(restarted.state(), qPrintable(restarted.message()));
        QCOMPARE(restarted.state()->user.id, m_fixture.server().memberId());

        QVERIFY(finishes(restarted.logout()));
        QVERIFY(!restarted.signedIn() && restarted.message().isEmpty());
        Model afterSignOut(std::make_shared<Keychain>(), Preferences(m_fixture.preferencesPath()));
        QVERIFY(!afterSignOut.signedIn());
        // The check before signing in leaves nothing behind.
        QCOMPARE(lookUp({u"user"_s, QString::fromLatin1(Keychain::probeKey)}), std::nullopt);

        for (const QString &text : {u"Grüße-ÄÖÜß-€-日本-🙂\n"_s, QString()}) {
            const auto stored = awaitTask(Keychain().set(text)); // replaces
            VERIFY_OK(stored);
            const auto read = awaitTask(Keychain().get());
            VERIFY_OK(read);
            QCOMPARE(*read.value, std::optional(text));
        }
        // Removing twice is harmless; afterwards nothing is stored.
        for (int i = 0; i < 2; ++i) {
            const auto removed = awaitTask(Keychain().remove());
            VERIFY_OK(removed);
        }
        const auto gone = awaitTask(Keychain().get());
        VERIFY_OK(gone);
        QCOMPARE(*gone.value, std::nullopt);
    }

    // The login keyring locked (as by a screen lock) and unlocked with the
    // password (as with the session): only the unlock is heard. Asked to
    // unlock, the keyring shows its own prompt, and the app waits for the
    // user's answer before it reads again.
    void unlockIsHeardAndAwaited() {
        KeyringWatch watch;
        QSignalSpy unlocked(&watch, &KeyringWatch::unlocked);
        QVERIFY(lockLogin());
        auto prompter = std::make_unique<MockBus>();
        QVERIFY(startPrompter(*prompter));
        Keychain keychain;
        const auto unlock = testsupport::launch(keychain.unlock());
        QTest::qWait(1000);
        QVERIFY(!unlock->finished); // the prompt is up
        QCOMPARE(unlocked.size(), 0);
        QVERIFY(unlockWithPassword()); // as the prompt does with the password typed
        QTRY_COMPARE_WITH_TIMEOUT(unlocked.size(), 1, 1000);
        prompter.reset();
        QTRY_VERIFY_WITH_TIMEOUT(unlock->finished, 5000);
        VERIFY_OK(*unlock);
    }

    void keyringTroubleCostsNothing_data() {
        using Kind = KeychainError::Kind;
        // clang-format off
        testsupport::rows<Trouble>({
            {"libsecret missing", Setup::LibraryMissing, Kind::LibraryMissing, "„libsecret-1-0“"},
            {"no session bus", Setup::NoBus, Kind::NoSessionBus, "in einer Desktop-Sitzung starten"},
            {"session bus without Secret Service", Setup::BusWithoutService, Kind::NoService, "installieren und starten"},
            {"fresh account, keyring started on demand", Setup::FreshAccount, Kind::NoDefaultCollection,
             "als Standard festlegen"},
            {"locked, no unlock possible", Setup::Locked, Kind::Locked, "entsperren"},
            {"locked, the service failing otherwise", Setup::LockedFailing, Kind::Locked, "entsperren"},
            {"Secret Service that fails", Setup::BrokenService, Kind::Other, "erneut versuchen"},
        });
        // clang-format on
    }

    void keyringTroubleCostsNothing() {
        FETCH_ROW(Trouble);
        const auto &[name, setup, kind, hint] = row;
        // A locked keyring may hold a token: the app stays signed in and never
        // offers to sign in again.
        const bool locked = kind == KeychainError::Kind::Locked;
        DevServer &server = m_fixture.server();
        server.clearRequests();
        const QString link = server.setupLink(server.createSetupCode(server.memberId()));

        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Nothing may reach the keyring of this run or a display's prompter.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "VELMORA_IN_PRIVATE_KEYRING"})
            env.remove(QString::fromLatin1(name));
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.insert(QString::fromLatin1(name), home.path());
        const QString runtime = home.filePath(u"run"_s);
        QVERIFY(QDir().mkdir(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        env.insert(QString::fromLatin1(attemptServer), server.baseUrl());
        env.insert(QString::fromLatin1(attemptLink), link);

        const QString self = QCoreApplication::applicationFilePath();
        const QString busConfig = home.filePath(u"bus.conf"_s);
        QFile config(busConfig);
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(busWithoutServices) > 0);
        config.close();
        QString program = u"dbus-run-session"_s;
        QStringList arguments;
        switch (setup) {
        case Setup::LibraryMissing: {
            // Found first, and not a library: the loader refuses it. The
            // unlocked keyring of this run is there, so only the library lacks.
            const QString lib = home.filePath(u"lib"_s);
            QVERIFY(QDir().mkdir(lib));
            QFile fake(lib + u"/libsecret-1.so.0"_s);
            QVERIFY(fake.open(QIODevice::WriteOnly) && fake.write("not a library\n") > 0);
            env.insert(u"LD_LIBRARY_PATH"_s, lib);
            program = self;
            break;
        }
        case Setup::NoBus:
            env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/velmora-no-bus"_s);
            program = self;
            break;
        case Setup::BrokenService:
            env.insert(QString::fromLatin1(attemptFakeService), u"1"_s);
            [[fallthrough]];
        case Setup::BusWithoutService:
            arguments = {u"--config-file="_s + busConfig, u"--"_s, self};
            break;
        case Setup::FreshAccount:
            // The standard session bus starts gnome-keyring when first asked.
            arguments = {u"--"_s, self};
            break;
        case Setup::Locked:
            arguments = {u"--"_s, u"sh"_s, u"-c"_s, QString::fromLatin1(lockedKeyring), self};
            break;
        case Setup::LockedFailing:
            arguments = {u"--config-file="_s + busConfig,           u"--"_s, u"sh"_s, u"-c"_s,
                         QString::fromLatin1(lockedFailingService), self};
            break;
        }

        QProcess child;
        child.setProcessEnvironment(env);
        child.start(program, arguments);
        QVERIFY2(child.waitForFinished(120000), "the attempt hangs");
        const QByteArray output = child.readAllStandardOutput();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(u"exit %1: "_s.arg(child.exitCode()) +
                            QString::fromUtf8(child.readAllStandardError())));
        const QJsonObject seen =
            QJsonDocument::fromJson(output.trimmed().split('\n').last()).object();
        QVERIFY2(!seen.isEmpty(), output.constData());

        const QString text = seen.value(u"write"_s).toString();
        qInfo().noquote() << "keyring text:" << text;
        QCOMPARE(seen.value(u"kind"_s).toInt(-1), static_cast<int>(kind));
        QVERIFY2(text.contains(QString::fromUtf8(hint)), qPrintable(text));
        // Both sign-ins show that text, and nothing was sent or spent.
        QCOMPARE(seen.value(u"login"_s).toString(), text);
        QCOMPARE(seen.value(u"setup"_s).toString(), text);
        const QString atStart = seen.value(u"atStart"_s).toString();
        QVERIFY2(atStart.isEmpty() || atStart == text, qPrintable(atStart));
        QVERIFY(seen.value(u"passwordKept"_s).toBool());
        QCOMPARE(seen.value(u"signedIn"_s).toBool(), locked);
        QCOMPARE(seen.value(u"locked"_s).toBool(), locked);
        QVERIFY(!seen.value(u"busy"_s).toBool());
        QCOMPARE(seen.value(u"plaintext"_s).toArray().size(), 0);
        QCOMPARE(server.requestsTo(u"/api/login"_s).size(), 0);
        QCOMPARE(server.requestsTo(u"/api/setup"_s).size(), 0);

        // The code is still good for a sign-in that can be kept.
        auto model = m_fixture.newModel();
        model->setSetupInput(link);
        QVERIFY(finishes(model->connectWithSetupLink()));
        QVERIFY2(model->signedIn(), qPrintable(model->message()));
    }

private:
    ModelFixture m_fixture;
};

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(attemptServer))
        return attempt();
    SignInKeyringTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_signin_keyring.moc"
