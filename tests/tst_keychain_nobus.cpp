// The token store with no Secret Service reachable (CTest points D-Bus nowhere):
// every call fails with a clear text, and the token never ends up in a file.

#include "client/keychain.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

static const QString secret = QStringLiteral("nie-im-klartext-7f3a9c");

static QCoro::Task<> run(QString operation) {
    Keychain keychain;
    if (operation == QLatin1String("set"))
        co_await keychain.set(secret);
    else if (operation == QLatin1String("get"))
        co_await keychain.get(); // must not pass for "no token stored"
    else
        co_await keychain.remove();
}

class KeychainNoBusTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        // Before anything could write, so whatever is written lands here.
        testsupport::isolateUserDirs(m_home.path());
        QVERIFY(qgetenv("DBUS_SESSION_BUS_ADDRESS").contains("nonexistent")); // through CTest
    }

    void failsAsUnavailable_data() {
        QTest::addColumn<QString>("operation");
        for (const char *operation : {"set", "get", "remove"})
            QTest::newRow(operation) << QString::fromLatin1(operation);
    }

    void failsAsUnavailable() {
        QFETCH(QString, operation);
        const auto outcome = testsupport::awaitTask(run(operation));
        const auto failure = outcome.failure<KeychainError>();
        QVERIFY2(failure, qPrintable(outcome.errorText()));
        QCOMPARE(failure->kind(), KeychainError::Kind::Unavailable);
        QVERIFY(failure->description().contains(QStringLiteral("Klartext")));
        for (const QByteArray &form : {secret.toUtf8(), secret.toUtf8().toBase64()})
            QCOMPARE(testsupport::filesContaining(m_home.path(), form), QStringList());
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(KeychainNoBusTest)
#include "tst_keychain_nobus.moc"
