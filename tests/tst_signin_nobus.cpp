// Signing in where no keyring can be reached (CTest runs this with a D-Bus
// address that leads nowhere): the sign-in must not count, and the token
// must not land anywhere on disk.

#include "modelfixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class SignInNoKeyringTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        testsupport::isolateUserDirs(m_home.path());
    }
    void signInStaysSignedOut();

private:
    QTemporaryDir m_home;
};

void SignInNoKeyringTest::signInStaysSignedOut() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    Model model(std::make_shared<Keychain>(),
                Preferences(m_home.filePath(QStringLiteral("prefs.ini"))));
    QVERIFY(!model.signedIn());
    model.setServerURL(fixture.server().baseUrl());
    model.setEmail(QString::fromLatin1(DevServer::memberEmail));
    model.setPassword(QString::fromLatin1(DevServer::memberPassword));
    // A token we can look for on disk afterwards.
    const QByteArray token = "velmora-token-7f3a9c";
    fixture.server().setFault(QStringLiteral("/api/login"),
                              Fault{.body = R"({"token":")" + token + R"("})", .rawBody = true});
    QVERIFY(finishes(model.login()));
    QVERIFY(!model.signedIn());
    QVERIFY(!model.busy());
    QVERIFY2(model.message().contains(QStringLiteral("Schlüsselbund")),
             qPrintable(model.message()));
    QCOMPARE(model.password(), QString::fromLatin1(DevServer::memberPassword));

    QCOMPARE(testsupport::filesContaining(m_home.path(), token), QStringList());
}

QTEST_GUILESS_MAIN(SignInNoKeyringTest)
#include "tst_signin_nobus.moc"
