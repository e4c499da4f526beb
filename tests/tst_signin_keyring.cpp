// Signing in and out with the real system keyring (run inside a private
// D-Bus session with its own unlocked keyring).

#include "modelfixture.h"

#include <QTest>

class SignInKeyringTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(testsupport::awaitTask(Keychain().remove()).ok()); }
    void tokenSurvivesRestartAndSignOutRemovesIt();
};

void SignInKeyringTest::tokenSurvivesRestartAndSignOutRemovesIt() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().memberId(), std::make_shared<Keychain>());
    QVERIFY(model);

    // As after a restart of the program.
    model.reset();
    Model restarted(std::make_shared<Keychain>(), Preferences(fixture.preferencesPath()));
    QVERIFY(restarted.signedIn());
    QCOMPARE(restarted.serverURL(), fixture.server().baseUrl());
    QVERIFY(finishes(restarted.refresh()));
    QVERIFY2(restarted.state(), qPrintable(restarted.message()));
    QCOMPARE(restarted.state()->user.id, fixture.server().memberId());

    QVERIFY(finishes(restarted.logout()));
    QVERIFY(!restarted.signedIn());
    QVERIFY(restarted.message().isEmpty());
    const auto stored = testsupport::awaitTask(Keychain().get());
    VERIFY_OK(stored);
    QVERIFY(!stored.value->has_value());
    Model afterSignOut(std::make_shared<Keychain>(), Preferences(fixture.preferencesPath()));
    QVERIFY(!afterSignOut.signedIn());
}

QTEST_GUILESS_MAIN(SignInKeyringTest)
#include "tst_signin_keyring.moc"
