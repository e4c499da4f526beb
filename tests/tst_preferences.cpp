// The stored server address: kept exactly as typed; a failed write is reported.

#include "client/failure.h"
#include "client/preferences.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class PreferencesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void userStoreKeepsTextUnchanged() {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        testsupport::isolateUserDirs(home.path());
        QCOMPARE(Preferences().serverURL(), std::nullopt);
        for (const QString &address :
             {QStringLiteral(" https://zeit.müller.example/zeit "), QStringLiteral("")}) {
            Preferences().setServerURL(address);
            QCOMPARE(Preferences().serverURL(), std::optional(address)); // as a restart reads it
        }
        QVERIFY(QFile::exists(home.filePath(QStringLiteral(".config/velmora/VelmoraTime.conf"))));
    }

    void writeFailureIsReported() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("blocker"))); // where the folder would be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        try {
            Preferences(dir.filePath(QStringLiteral("blocker/prefs.ini")))
                .setServerURL(QStringLiteral("https://zeit.example.org"));
            QFAIL("the failed write was not reported");
        } catch (const Failure &e) {
            QCOMPARE(e.description(),
                     QStringLiteral("Die Server-Adresse konnte nicht gespeichert werden."));
        }
    }
};

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
