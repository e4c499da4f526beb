// The token store with no Secret Service reachable (CTest points the D-Bus
// session nowhere): every call fails with a clear text, never quietly, and
// the token never ends up in a file.

#include "client/keychain.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {
const QString secret = QStringLiteral("nie-im-klartext-7f3a9c");
}

class KeychainNoBusTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void failsAsUnavailable_data();
    void failsAsUnavailable();
    void nothingWrittenToDisk();

private:
    QTemporaryDir m_home;
    Keychain m_keychain;
};

void KeychainNoBusTest::initTestCase() {
    QVERIFY(m_home.isValid());
    // Before anything could write, so whatever is written lands here.
    isolateUserDirs(m_home.path());
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QVERIFY2(bus.contains("nonexistent"), "run through CTest, which points D-Bus nowhere");
}

void KeychainNoBusTest::failsAsUnavailable_data() {
    QTest::addColumn<QString>("operation");
    QTest::newRow("set") << QStringLiteral("set");
    QTest::newRow("get") << QStringLiteral("get");
    QTest::newRow("remove") << QStringLiteral("remove");
}

void KeychainNoBusTest::failsAsUnavailable() {
    QFETCH(QString, operation);
    std::optional<KeychainError> failure;
    QString text;
    if (operation == QLatin1String("get")) {
        // Nothing here would wrongly mean "no token stored".
        const auto outcome = awaitTask(m_keychain.get());
        VERIFY_FAILED(outcome);
        failure = outcome.failure<KeychainError>();
        text = outcome.errorText();
    } else {
        const auto outcome = awaitTask(operation == QLatin1String("set") ? m_keychain.set(secret)
                                                                         : m_keychain.remove());
        VERIFY_FAILED(outcome);
        failure = outcome.failure<KeychainError>();
        text = outcome.errorText();
    }
    QVERIFY2(failure, qPrintable(text));
    QCOMPARE(failure->kind(), KeychainError::Kind::Unavailable);
    QVERIFY2(text.contains(QStringLiteral("Schlüsselbund")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Klartext")), qPrintable(text));
}

void KeychainNoBusTest::nothingWrittenToDisk() {
    const auto outcome = awaitTask(m_keychain.set(secret));
    VERIFY_FAILED(outcome);
    QCOMPARE(filesContaining(m_home.path(), secret.toUtf8()), QStringList());
    QCOMPARE(filesContaining(m_home.path(), secret.toUtf8().toBase64()), QStringList());
}

QTEST_GUILESS_MAIN(KeychainNoBusTest)
#include "tst_keychain_nobus.moc"
