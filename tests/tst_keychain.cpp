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
    void initTestCase() {
        if (qgetenv("VELMORA_IN_PRIVATE_KEYRING") != "1")
            QSKIP("needs the private keyring: run under scripts/with-keyring");
    }
    void cleanup() { awaitTask(m_keychain.remove()); }

    void roundTrip_data() {
        QTest::addColumn<QString>("token");
        QTest::newRow("plain") << QStringLiteral("d3v1c3-t0k3n_abc.XYZ");
        QTest::newRow("umlauts and more") << QStringLiteral("Grüße-ÄÖÜß-€-日本-🙂\n");
        QTest::newRow("empty") << QStringLiteral(""); // still a stored token
    }

    void roundTrip() {
        QFETCH(QString, token);
        const auto before = awaitTask(m_keychain.set(QStringLiteral("vorher")));
        VERIFY_OK(before);
        const auto stored = awaitTask(m_keychain.set(token)); // replaces
        VERIFY_OK(stored);
        const auto read = awaitTask(m_keychain.get());
        VERIFY_OK(read);
        QCOMPARE(*read.value, std::optional(token));

        // Another program finds the item where the keyring keeps it.
        const QString secretTool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
        if (!secretTool.isEmpty()) {
            QProcess lookup;
            lookup.start(secretTool, {QStringLiteral("lookup"), QStringLiteral("server"),
                                      QString::fromLatin1(Keychain::service),
                                      QStringLiteral("user"), QString::fromLatin1(Keychain::key)});
            QVERIFY(lookup.waitForFinished(20000));
            QCOMPARE(QString::fromUtf8(lookup.readAllStandardOutput()), token);
        }

        // Removing twice is harmless; afterwards nothing is stored.
        for (int i = 0; i < 2; ++i) {
            const auto removed = awaitTask(m_keychain.remove());
            VERIFY_OK(removed);
        }
        const auto gone = awaitTask(m_keychain.get());
        VERIFY_OK(gone);
        QCOMPARE(*gone.value, std::nullopt);
    }

private:
    Keychain m_keychain;
};

QTEST_GUILESS_MAIN(KeychainTest)
#include "tst_keychain.moc"
