// The stored server address: where it lives and what happens when it cannot
// be written.

#include "client/failure.h"
#include "client/preferences.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class PreferencesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void userStoreKeepsTextUnchanged_data();
    void userStoreKeepsTextUnchanged();
    void writeFailureIsReported();

private:
    QTemporaryDir m_home;
};

void PreferencesTest::initTestCase() {
    QVERIFY(m_home.isValid());
    isolateUserDirs(m_home.path());
    QCOMPARE(Preferences().serverURL(), std::nullopt);
}

void PreferencesTest::userStoreKeepsTextUnchanged_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << QStringLiteral("https://zeit.example.org/zeit");
    QTest::newRow("blanks and umlauts") << QStringLiteral(" https://zeit.müller.example ");
    QTest::newRow("empty") << QString(QLatin1String(""));
}

void PreferencesTest::userStoreKeepsTextUnchanged() {
    QFETCH(QString, address);
    Preferences().setServerURL(address);
    // A fresh object reads what the next start of the program would read.
    QCOMPARE(Preferences().serverURL(), std::optional(address));
    QVERIFY(QFile::exists(m_home.filePath(QStringLiteral(".config/velmora/VelmoraTime.conf"))));
}

void PreferencesTest::writeFailureIsReported() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file where the folder of the settings file would have to be.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Preferences preferences(dir.filePath(QStringLiteral("blocker/prefs.ini")));

    try {
        preferences.setServerURL(QStringLiteral("https://zeit.example.org"));
        QFAIL("the failed write was not reported");
    } catch (const Failure &e) {
        QCOMPARE(e.description(),
                 QStringLiteral("Die Server-Adresse konnte nicht gespeichert werden."));
    }
}

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
