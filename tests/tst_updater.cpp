// The update checker against the devserver's feed over real HTTP, and the
// version rules it decides by.

#include "app/updater.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

static QByteArray feed(const QByteArray &items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak."
           "org/xml-namespaces/sparkle\"><channel><title>velmora Zeit</title>" +
           items + "</channel></rss>";
}

static QByteArray item(const QByteArray &version) {
    return "<item><sparkle:version>" + version + "</sparkle:version></item>";
}

struct Versions {
    const char *name;
    QString a, b;
    std::optional<int> order; // empty: not comparable
};

// The server's own feed offers `offered`, or sends `body`; `feedUrl` replaces
// the server's address.
struct Check {
    const char *name;
    QString offered;
    QByteArray body;
    int status;
    QString text; // what the window says
    QString feedUrl = {};
};

class TestUpdater : public QObject {
    Q_OBJECT

    DevServer m_server;
    QList<QUrl> m_opened;
    QUrl feedUrl() const { return QUrl(m_server.baseUrl() + u"/appcast.xml"_s); }

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_opened.append(url); } // stands in for the browser

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init() {
        m_server.clearFaults();
        m_server.setAppcastVersion(u"1.0.0"_s);
        m_server.clearRequests();
        QCOMPARE(m_server.surprises(), QStringList());
    }

    void compareVersions_data() {
        testsupport::rows<Versions>({
            {"missing parts are zero", u"1.0"_s, u"1.0.0"_s, 0},
            {"numeric, not text", u"1.10.0"_s, u"1.9.2"_s, 1},
            {"extra part", u"1.0.0.1"_s, u"1.0"_s, 1},
            {"empty", QString(), u"1.0"_s, {}},
            {"suffix", u"1.2.0-beta"_s, u"1.0"_s, {}},
            {"double dot", u"1..2"_s, u"1.0"_s, {}},
            {"too long for a number", u"1.1234567890"_s, u"1.0"_s, {}},
        });
    }

    void compareVersions() {
        FETCH_ROW(Versions);
        QCOMPARE(::compareVersions(row.a, row.b), row.order);
        QCOMPARE(::compareVersions(row.b, row.a),
                 row.order ? std::optional(-*row.order) : row.order);
    }

    void check_data() {
        const QString upToDate = u"VelmoraTime ist auf dem neuesten Stand (Version 1.0.0)."_s;
        const QString broken = u"Die Suche nach Updates ist fehlgeschlagen. "_s;
        const QString feedIs = broken + u"Die Update-Informationen "_s;
        const QString remote = u"http://updates.velmora.invalid/appcast.xml"_s;
        testsupport::rows<Check>({
            {"newer", u"1.2.0"_s, QByteArray(), 0, u"Version 1.2.0 ist verfügbar."_s},
            {"same", u"1.0"_s, QByteArray(), 0, upToDate},
            {"older", u"0.9.9"_s, QByteArray(), 0, upToDate},
            {"newest item, not the first", QString(),
             feed(item("1.1.0") + item("1.3.0") + item("1.2.0") + item("1.5-rc1")), 0,
             u"Version 1.3.0 ist verfügbar."_s},
            {"another system's file is no offer", QString(),
             feed(item("1.1.0") + "<item><sparkle:version>1.4.0</sparkle:version><enclosure "
                                  "url=\"https://h/a.dmg\" sparkle:os=\"macos\"/></item>"),
             0, u"Version 1.1.0 ist verfügbar."_s},
            {"HTTP 503", u"2.0"_s, QByteArray(), 503, broken + u"Serverfehler 503."_s},
            {"garbage", QString(), "\x01 kein XML", 0,
             feedIs + u"sind kein gültiges XML (Zeile 1, Spalte 1)."_s},
            {"cut off", QString(), feed(item("2.0")).left(120), 0,
             feedIs + u"sind kein gültiges XML (Zeile 1, Spalte 120)."_s},
            {"HTML page", QString(), "<html><body>Wartung</body></html>", 0,
             feedIs + u"sind kein RSS-Feed."_s},
            {"no usable version", QString(), feed(item("neu")), 0,
             feedIs + u"enthalten keine gültige Versionsnummer."_s},
            // Plain http only to this machine: elsewhere anyone on the way
            // could offer a download.
            {"http to another host", QString(), QByteArray(), 0,
             broken + u"Die Update-Adresse „%1“ ist nicht erlaubt: nur https, http nur zu "
                      u"diesem Rechner."_s.arg(remote),
             remote},
        });
    }

    void check() {
        FETCH_ROW(Check);
        if (row.offered.isEmpty())
            m_server.setAppcastBody(row.body);
        else
            m_server.setAppcastVersion(row.offered);
        if (row.status)
            m_server.setFault(u"/appcast.xml"_s, Fault{.status = row.status});
        const bool newer = row.text.endsWith(u"verfügbar."_s);
        const bool download = newer && !row.offered.isEmpty(); // only the server's feed names one

        // Asked for, it always answers; a second press meanwhile asks nothing more.
        Updater updater(row.feedUrl.isEmpty() ? feedUrl() : QUrl(row.feedUrl), u"1.0.0"_s);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.checkForUpdates();
        updater.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        QCOMPARE(m_server.requestsTo(u"/appcast.xml"_s).size(), row.feedUrl.isEmpty() ? 1 : 0);
        QMessageBox *box = updater.outcomeWindow();
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->text(), row.text);
        QStringList labels;
        for (QAbstractButton *button : box->buttons())
            labels.append(button->text().remove(u'&'));
        QCOMPARE(labels,
                 download ? QStringList({u"Herunterladen"_s, u"Später"_s}) : QStringList(u"OK"_s));
        if (download) {
            QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
            box->buttons().constFirst()->click();
            QDesktopServices::unsetUrlHandler(u"https"_s);
            QCOMPARE(m_opened.value(0).path(), u"/download"_s);
        }

        // By itself it shows only a newer version; the second press above
        // wanted that one outcome, not every later one.
        box->close();
        finished.clear();
        updater.start();
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        QCOMPARE(updater.outcomeWindow() && updater.outcomeWindow()->isVisible(), newer);
    }

    void goneBeforeTheAnswer() {
        m_server.setFault(u"/appcast.xml"_s, Fault{.delayMs = 1000});
        auto updater = std::make_unique<Updater>(feedUrl(), u"1.0.0"_s);
        updater->checkForUpdates(); // would show its outcome
        QCoro::Task<UpdateResult> check = updater->check();
        QTRY_COMPARE(m_server.requestsTo(u"/appcast.xml"_s).size(), 2);
        updater.reset();
        // Both checks end at once as failed; the answers arrive for nobody and
        // nothing touches the gone updater.
        const auto outcome = testsupport::awaitTask(std::move(check), std::chrono::milliseconds(1));
        QVERIFY(outcome.ok());
        QCOMPARE(outcome.value->outcome, UpdateResult::Outcome::Failed);
        QTest::qWait(1500);
        for (QWidget *window : QApplication::topLevelWidgets())
            QVERIFY(!window->isVisible());
    }
};

QTEST_MAIN(TestUpdater)
#include "tst_updater.moc"
