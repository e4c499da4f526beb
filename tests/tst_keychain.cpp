// The token store over the real keyring. Runs only inside the private
// keyring of scripts/with-keyring, so the user's own token is never touched.

#include "client/keychain.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace testsupport;

class KeychainTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void roundTrip_data();
    void roundTrip();
    void storedInTheSecretService();
    void setReplaces();
    void removeTwiceIsHarmless();
    void getOnEmptyStoreGivesNothing();

private:
    Keychain m_keychain;
};

void KeychainTest::initTestCase() {
    if (qgetenv("VELMORA_IN_PRIVATE_KEYRING") != "1")
        QSKIP("needs the private keyring: run under scripts/with-keyring");
}

void KeychainTest::init() {
    const auto removed = awaitTask(m_keychain.remove());
    VERIFY_OK(removed);
}

void KeychainTest::cleanupTestCase() {
    if (qgetenv("VELMORA_IN_PRIVATE_KEYRING") == "1")
        awaitTask(m_keychain.remove());
}

void KeychainTest::roundTrip_data() {
    QTest::addColumn<QString>("token");
    QTest::newRow("plain") << QStringLiteral("d3v1c3-t0k3n_abc.XYZ");
    QTest::newRow("umlauts and more") << QStringLiteral("Grüße-ÄÖÜß-€-日本-🙂");
    QTest::newRow("empty") << QString(QLatin1String(""));
    QTest::newRow("blanks and newline") << QStringLiteral("  a b\nc  ");
    QTest::newRow("long") << QString(8192, QLatin1Char('x'));
}

void KeychainTest::roundTrip() {
    QFETCH(QString, token);
    const auto stored = awaitTask(m_keychain.set(token));
    VERIFY_OK(stored);
    const auto read = awaitTask(m_keychain.get());
    VERIFY_OK(read);
    // An empty token is still a stored token.
    QVERIFY(read.value->has_value());
    QCOMPARE(**read.value, token);
}

void KeychainTest::storedInTheSecretService() {
    const QString secretTool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
    if (secretTool.isEmpty())
        QSKIP("secret-tool (libsecret-tools) is not installed");
    const QString token = QStringLiteral("im-schlüsselbund-42");
    const auto stored = awaitTask(m_keychain.set(token));
    VERIFY_OK(stored);

    // Looked up by another program, the item is where the keyring keeps it.
    QProcess lookup;
    lookup.start(secretTool, {QStringLiteral("lookup"), QStringLiteral("server"),
                              QString::fromLatin1(Keychain::service), QStringLiteral("user"),
                              QString::fromLatin1(Keychain::key)});
    QVERIFY(lookup.waitForFinished(20000));
    QCOMPARE(lookup.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(lookup.readAllStandardOutput()), token);
}

void KeychainTest::setReplaces() {
    const auto first = awaitTask(m_keychain.set(QStringLiteral("erstes")));
    VERIFY_OK(first);
    const auto second = awaitTask(m_keychain.set(QStringLiteral("zweites")));
    VERIFY_OK(second);
    const auto read = awaitTask(m_keychain.get());
    VERIFY_OK(read);
    QCOMPARE(*read.value, std::optional(QStringLiteral("zweites")));
}

void KeychainTest::removeTwiceIsHarmless() {
    const auto stored = awaitTask(m_keychain.set(QStringLiteral("weg")));
    VERIFY_OK(stored);
    const auto once = awaitTask(m_keychain.remove());
    VERIFY_OK(once);
    const auto twice = awaitTask(m_keychain.remove());
    VERIFY_OK(twice);
    const auto read = awaitTask(m_keychain.get());
    VERIFY_OK(read);
    QCOMPARE(*read.value, std::nullopt);
}

void KeychainTest::getOnEmptyStoreGivesNothing() {
    const auto read = awaitTask(m_keychain.get());
    VERIFY_OK(read);
    QCOMPARE(*read.value, std::nullopt);
}

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
